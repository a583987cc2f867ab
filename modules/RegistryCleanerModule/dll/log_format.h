// printf-style formatting for the log and the other single-byte text files.
// The engine's wide text is UTF-16 (char16_t) on every platform, while the C
// library's "%ls" expects wchar_t, which is 32-bit on POSIX. So conversions
// are parsed here: "%ls" and "%S" take a const char16_t* and "%lc" a UTF-16
// unit, converted to the ANSI code page (UTF-8 on POSIX); "%s" takes a const
// char*; every other conversion is handed to the C library's snprintf one at
// a time with its own argument. Width and precision apply as in printf (for
// wide strings the precision counts UTF-16 units).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Appends the formatted text to *out, keeping *out at most limit bytes long.
// Returns false, leaving *out in an unspecified state, when the format is
// null or holds a conversion that cannot be served ("%n", an unknown letter,
// a lone "%" at the end).
bool FormatLogText(const char* format, va_list args, size_t limit, std::string* out);
