// The system's text services: character classes and lower-casing as the
// system's user-interface library answers them (IsCharAlphaW, IsCharLowerW,
// CharLowerW, CharLowerBuffW), the ANSI code page, and the test for UTF-16
// text. On Windows these are the system's own calls; on POSIX they follow the
// Unicode character database with its simple case mappings, as Wine's tables
// do, and the ANSI code page is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// True when the system classes the UTF-16 unit as a letter.
bool IsCharAlpha(char16_t c);
// True when the system classes the unit as a lower-case letter.
bool IsCharLower(char16_t c);
// The system's lower-case form of the unit (the unit itself when it has none).
char16_t CharLower(char16_t c);
// Lower-cases length units of text in place.
void CharLowerBuffer(char16_t* text, size_t length);

// UTF-16 to the ANSI code page. Characters the code page cannot hold become
// the code page's default character ("?" on Windows); UTF-8 holds them all.
std::string U16ToAnsi(std::u16string_view text);
// The same, appended to *out.
void AppendAnsi(std::string* out, std::u16string_view text);
// The ANSI code page to UTF-16.
std::u16string AnsiToU16(std::string_view text);

// The system's test whether size bytes of data are UTF-16 LE text (as
// IsTextUnicode with every test enabled).
bool IsTextUnicode(const void* data, size_t size);

}  // namespace platform
