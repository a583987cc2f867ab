#include <dlfcn.h>

#include <algorithm>

#include "platform/resources.h"

namespace platform {

ResourceModule ModuleOfAddress(const void*) { return nullptr; }

ResourceModule ResourceModuleOfLibrary(void* library) {
  if (library == nullptr) return nullptr;
  return dlsym(library, "StringTable");
}

bool LoadRawResource(ResourceModule, std::u16string_view, uint32_t, std::string*) { return false; }

bool LoadStringResource(ResourceModule module, uint32_t id, std::u16string* text) {
  if (module == nullptr) return false;
  const auto* table = static_cast<const StringTable*>(module);
  const StringTableEntry* end = table->entries + table->count;
  const StringTableEntry* found = std::lower_bound(
      table->entries, end, id, [](const StringTableEntry& e, uint32_t v) { return e.id < v; });
  if (found == end || found->id != id || found->text == nullptr) return false;
  text->assign(found->text);
  if (text->size() > 1024) text->resize(1024);
  return true;
}

}  // namespace platform
