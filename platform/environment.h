// The environment of the machine as its programs see it. On Windows the
// process's own environment; on POSIX the environment Wine builds for a
// 32-bit program in the prefix (SystemDrive, SystemRoot, the Session Manager
// environment key, HKCU\Environment, the Program Files variables ...).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The variable's value; false (and an empty value) when it is not set.
// Names compare without regard to case.
bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value);

// ExpandEnvironmentStringsW: every %NAME% of a set variable is replaced by
// its value; references to variables that are not set stay as they stand.
std::u16string ExpandEnvironmentStrings(std::u16string_view text);

// Sets a variable of this process's own environment, which the programs it
// starts inherit (on POSIX the Unix environment, such as WINEPREFIX, not the
// prefix's Windows environment). False when it cannot be set.
bool SetProcessEnvironmentVariable(std::u16string_view name, std::u16string_view value);

}  // namespace platform
