// UTF-16 text helpers that every layer shares. Pure code: no system calls.
// The engine keeps text as char16_t; on POSIX, wchar_t is 32-bit and no libc
// wide-character function is used.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Length of a zero-terminated UTF-16 text; 0 for null.
size_t U16Length(const char16_t* text);

// The position of the first unit c in text at or after from; npos when there
// is none. Eight units at a time where the processor can: paths and
// registry paths are split at every backslash.
size_t FindUnit(std::u16string_view text, char16_t c, size_t from = 0);

// UTF-8 to UTF-16; malformed bytes become U+FFFD.
std::u16string Utf8ToU16(std::string_view text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string U16ToUtf8(std::u16string_view text);
// The same, appended to *out.
void AppendUtf8(std::string* out, std::u16string_view text);

// ASCII-only helpers for literals and simple case folding.
inline char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + 32 : c; }
inline char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? c - 32 : c; }
bool AsciiEqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform
