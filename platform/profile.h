// Settings files in the private-profile form ("[section]" lines and
// "key=value" lines), as GetPrivateProfileStringW and
// WritePrivateProfileStringW read and write them. Sections and keys compare
// without regard to case; a value in matching quotes loses them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The value of key in section of the file at path, or defaultValue when the
// file, the section or the key is missing.
std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::u16string_view path);

// The value as a decimal integer (leading digits; defaultValue when missing).
int32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key,
                             int32_t defaultValue, std::u16string_view path);

// Writes key=value into section, creating the file and the section when
// needed. Without a value the key is removed; without a key the section.
// With neither (and no section) only the system's cached copy of the file is
// flushed, and the result is always false, as on Windows. Otherwise false
// when the file cannot be written.
bool WritePrivateProfileString(std::optional<std::u16string_view> section,
                               std::optional<std::u16string_view> key,
                               std::optional<std::u16string_view> value,
                               std::u16string_view path);

}  // namespace platform
