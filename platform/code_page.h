// Single-byte text in the system's ANSI code page: the code page Windows
// calls CP_ACP, and UTF-8 on POSIX.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// ANSI text to UTF-16; bytes the code page cannot map become U+FFFD.
std::u16string AnsiToU16(std::string_view text);

}  // namespace platform
