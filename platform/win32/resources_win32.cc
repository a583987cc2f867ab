#include "platform/win32/win32.h"

#include "platform/resources.h"

namespace platform {

ResourceModule ModuleOfAddress(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module))
    return nullptr;
  return module;
}

bool LoadStringResource(ResourceModule module, uint32_t id, std::u16string* text) {
  if (module == nullptr) return false;
  wchar_t buffer[1025];
  int n = LoadStringW(static_cast<HMODULE>(const_cast<void*>(module)), id, buffer, 1025);
  if (n <= 0) return false;
  text->assign(reinterpret_cast<const char16_t*>(buffer), static_cast<size_t>(n));
  return true;
}

}  // namespace platform
