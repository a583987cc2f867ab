// Win32 backend of the system's text services: the user-interface library's
// character calls, the ANSI code page and IsTextUnicode.
#include <windows.h>
// <windows.h> maps these names to its W functions; ours are other functions.
#undef IsCharAlpha
#undef IsCharLower
#undef CharLower

#include "platform/system_text.h"

namespace platform {

bool IsCharAlpha(char16_t c) { return ::IsCharAlphaW(static_cast<WCHAR>(c)) != 0; }
bool IsCharLower(char16_t c) { return ::IsCharLowerW(static_cast<WCHAR>(c)) != 0; }

char16_t CharLower(char16_t c) {
  // With a pointer whose high word is zero, CharLowerW converts the single
  // character in its low word and returns it the same way.
  const ULONG_PTR result = reinterpret_cast<ULONG_PTR>(
      ::CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c))));
  return static_cast<char16_t>(result & 0xFFFF);
}

void CharLowerBuffer(char16_t* text, size_t length) {
  while (length > 0) {
    const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    ::CharLowerBuffW(reinterpret_cast<LPWSTR>(text), chunk);
    text += chunk;
    length -= chunk;
  }
}

std::string U16ToAnsi(std::u16string_view text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<const WCHAR*>(text.data());
  const int units = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, units, out.data(), n, nullptr, nullptr);
  return out;
}

void AppendAnsi(std::string* out, std::u16string_view text) { out->append(U16ToAnsi(text)); }

std::u16string AnsiToU16(std::string_view text) {
  if (text.empty()) return std::u16string();
  const int bytes = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string out(static_cast<size_t>(n), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, reinterpret_cast<WCHAR*>(out.data()), n);
  return out;
}

bool IsTextUnicode(const void* data, size_t size) {
  if (data == nullptr || size == 0 || size > 0x7FFFFFFF) return false;
  return ::IsTextUnicode(data, static_cast<int>(size), nullptr) != 0;
}

}  // namespace platform
