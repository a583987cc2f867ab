#include "platform/win32/win32.h"

#include <string>

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

ResourceModule ResourceModuleOfLibrary(void* library) { return library; }

bool LoadRawResource(ResourceModule module, std::u16string_view type, uint32_t id,
                     std::string* bytes) {
  if (module == nullptr) return false;
  HMODULE image = static_cast<HMODULE>(const_cast<void*>(module));
  const std::wstring typeName(type.begin(), type.end());
  HRSRC found = ::FindResourceW(image, MAKEINTRESOURCEW(id), typeName.c_str());
  if (found == nullptr) return false;
  HGLOBAL loaded = ::LoadResource(image, found);
  const DWORD size = ::SizeofResource(image, found);
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr) return false;
  bytes->assign(static_cast<const char*>(data), size);
  return true;
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
