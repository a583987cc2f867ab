// Helpers of the POSIX system backend: Windows command lines and the
// languages of POSIX locales.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

// Splits a Windows command line as CommandLineToArgvW does: blanks separate
// arguments, double quotes group, 2n backslashes before a quote give n
// backslashes and a quote, a doubled quote inside quotes gives a quote.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// The Windows language identifier (LANGID) of a POSIX locale name such as
// "de_DE.UTF-8" or "fr_CH@euro"; 0x0409 (English, US) for "C", "POSIX",
// empty and unknown names.
uint16_t LangIdOfLocale(std::string_view locale);

}  // namespace platform::posix
