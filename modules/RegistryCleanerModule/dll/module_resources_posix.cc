#include "modules/RegistryCleanerModule/dll/module_resources.h"

// Generated from language/en_US.strings at build time.
extern const platform::StringTable kEnglishStrings;

platform::ResourceModule OwnResourceModule() { return &kEnglishStrings; }
