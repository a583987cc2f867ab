#include "modules/RegistryCleanerModule/dll/module_resources.h"

platform::ResourceModule OwnResourceModule() {
  return platform::ModuleOfAddress(reinterpret_cast<const void*>(&OwnResourceModule));
}
