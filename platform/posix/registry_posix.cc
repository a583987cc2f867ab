// The POSIX registry: the Wine prefix's hives, saved at process exit.
#include <cstdlib>

#include "platform/posix/prefix_registry.h"
#include "platform/posix/wine_prefix.h"

namespace platform {
namespace {

posix::PrefixRegistry* g_registry = nullptr;

void SaveAtExit() { g_registry->Flush(); }

}  // namespace

Registry* Registry::Default() {
  static Registry* const registry = [] {
    g_registry = new posix::PrefixRegistry(posix::PrefixDirectory());
    std::atexit(SaveAtExit);
    return g_registry;
  }();
  return registry;
}

}  // namespace platform
