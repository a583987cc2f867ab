// On POSIX the ANSI code page is UTF-8.
#include "platform/code_page.h"
#include "platform/unicode.h"

namespace platform {

std::u16string AnsiToU16(std::string_view text) { return Utf8ToU16(text); }

}  // namespace platform
