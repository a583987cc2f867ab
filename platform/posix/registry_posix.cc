// The POSIX registry: the Wine prefix's hives, saved at process exit (or
// when the library that holds this code is unloaded).
#include "platform/wineprefix/prefix_registry.h"
#include "platform/wineprefix/wine_prefix.h"

namespace platform {
namespace {

// The registry that saves its changes when it is released. Not std::atexit:
// a handler registered that way from a library may outlive the library under
// some runtimes (ThreadSanitizer's keeps its own list and calls it after the
// library is gone), while a static object's destructor goes with it.
struct SavedRegistry {
  posix::PrefixRegistry registry{posix::PrefixDirectory()};
  ~SavedRegistry() { registry.Flush(); }
};

}  // namespace

Registry* Registry::Default() {
  // A function-local object, so that it is saved and released with the
  // library that holds it.
  static SavedRegistry saved;
  return &saved.registry;
}

}  // namespace platform
