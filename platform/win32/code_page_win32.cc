#include <windows.h>

#include "platform/code_page.h"

namespace platform {

std::u16string AnsiToU16(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace platform
