#include "platform/environment.h"

#include "platform/win32/win32.h"

namespace platform {

bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value) {
  const std::wstring wide(name.begin(), name.end());
  value->clear();
  DWORD size = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (size == 0) return false;
  std::wstring buffer(size, L'\0');
  const DWORD n = ::GetEnvironmentVariableW(wide.c_str(), buffer.data(), size);
  if (n == 0 || n >= size) return n == 0 && ::GetLastError() == ERROR_SUCCESS;
  value->assign(buffer.begin(), buffer.begin() + n);
  return true;
}

std::u16string ExpandEnvironmentStrings(std::u16string_view text) {
  const std::wstring wide(text.begin(), text.end());
  DWORD size = ::ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
  if (size == 0) return std::u16string(text);
  std::wstring buffer(size, L'\0');
  const DWORD n = ::ExpandEnvironmentStringsW(wide.c_str(), buffer.data(), size);
  if (n == 0 || n > size) return std::u16string(text);
  return std::u16string(buffer.begin(), buffer.begin() + (n - 1));
}

bool SetProcessEnvironmentVariable(std::u16string_view name, std::u16string_view value) {
  const std::wstring n(name.begin(), name.end()), v(value.begin(), value.end());
  return ::SetEnvironmentVariableW(n.c_str(), v.c_str()) != 0;
}

}  // namespace platform
