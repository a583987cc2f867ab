// The POSIX registry: the Wine prefix's hives, saved at process exit (or
// when the library that holds this code is unloaded).
#include <cstdlib>

#include "platform/posix/prefix_registry.h"
#include "platform/posix/wine_prefix.h"

namespace platform {
namespace {

posix::PrefixRegistry* g_registry = nullptr;

void SaveAtExit() {
  if (g_registry != nullptr) g_registry->Flush();
}

}  // namespace

Registry* Registry::Default() {
  // A function-local object, so that it is released with the library that
  // holds it; the save is registered after it is made, so it runs first.
  static posix::PrefixRegistry registry(posix::PrefixDirectory());
  static const bool saveRegistered = [] {
    g_registry = &registry;
    return std::atexit(SaveAtExit) == 0;
  }();
  (void)saveRegistered;
  return &registry;
}

}  // namespace platform
