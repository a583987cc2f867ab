#include "platform/profile.h"

#include <string>

#include "platform/win32/win32.h"

namespace platform {
namespace {

std::wstring W(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::u16string_view path) {
  const std::wstring s = W(section), k = W(key), d = W(defaultValue), p = W(path);
  // The buffer doubles while the text fills it.
  for (DWORD size = 256;; size *= 2) {
    std::wstring buffer(size, L'\0');
    const DWORD n = ::GetPrivateProfileStringW(s.c_str(), k.c_str(), d.c_str(), buffer.data(), size,
                                               p.c_str());
    if (n + 1 < size || size >= (1u << 24)) return std::u16string(buffer.begin(), buffer.begin() + n);
  }
}

int32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key,
                             int32_t defaultValue, std::u16string_view path) {
  const std::wstring s = W(section), k = W(key), p = W(path);
  return static_cast<int32_t>(::GetPrivateProfileIntW(s.c_str(), k.c_str(), defaultValue, p.c_str()));
}

bool WritePrivateProfileString(std::optional<std::u16string_view> section,
                               std::optional<std::u16string_view> key,
                               std::optional<std::u16string_view> value,
                               std::u16string_view path) {
  const std::wstring s = section ? W(*section) : L"", k = key ? W(*key) : L"",
                     v = value ? W(*value) : L"", p = W(path);
  return ::WritePrivateProfileStringW(section ? s.c_str() : nullptr, key ? k.c_str() : nullptr,
                                      value ? v.c_str() : nullptr, p.c_str()) != 0;
}

}  // namespace platform
