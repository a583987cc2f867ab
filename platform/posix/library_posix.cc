#include <dlfcn.h>

#include "platform/library.h"
#include "platform/wineprefix/wine_prefix.h"

namespace platform {
namespace {

bool EndsWithIgnoringCase(std::u16string_view text, std::u16string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char16_t a = text[text.size() - suffix.size() + i];
    char16_t b = suffix[i];
    if (a >= u'A' && a <= u'Z') a += 32;
    if (a != b) return false;
  }
  return true;
}

}  // namespace

LibraryHandle LoadLibrary(std::u16string_view path, std::string* error) {
  posix::UnixPath unix = posix::ToUnixPath(path);
  if (!unix.found && EndsWithIgnoringCase(path, u".dll")) {
    std::u16string so(path.substr(0, path.size() - 4));
    so += u".so";
    unix = posix::ToUnixPath(so);
  }
  if (!unix.found) {
    if (error != nullptr) *error = unix.path + ": no such file";
    return nullptr;
  }
  void* handle = dlopen(unix.path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error != nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "cannot load " + unix.path;
  }
  return handle;
}

std::u16string FindProgramFile(std::u16string_view path) {
  if (path.empty()) return {};
  if (posix::ToUnixPath(path).found) return std::u16string(path);
  if (EndsWithIgnoringCase(path, u".exe")) {
    std::u16string bare(path.substr(0, path.size() - 4));
    if (posix::ToUnixPath(bare).found) return bare;
  }
  return {};
}

void* GetProcAddress(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return dlsym(library, name);
}

void FreeLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
