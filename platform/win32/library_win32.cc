#include "platform/win32/win32.h"

#include "platform/library.h"

namespace platform {

LibraryHandle LoadLibrary(std::u16string_view path, std::string* error) {
  const std::wstring wide(path.begin(), path.end());
  HMODULE module = ::LoadLibraryW(wide.c_str());
  if (module == nullptr && error != nullptr)
    *error = "LoadLibrary failed with error " + std::to_string(::GetLastError());
  return module;
}

std::u16string FindProgramFile(std::u16string_view path) {
  if (path.empty()) return {};
  const std::wstring wide(path.begin(), path.end());
  if (::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  return std::u16string(path);
}

void* GetProcAddress(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibrary(LibraryHandle library) {
  if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
