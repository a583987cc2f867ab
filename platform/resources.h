// String resources. On Windows a resource module is a loaded image (HMODULE)
// whose STRINGTABLE is read with LoadStringW. Elsewhere it is a StringTable
// compiled into the library: the module's own English table, or the table a
// language library exports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

struct StringTableEntry {
  uint32_t id;
  const char16_t* text;
};

struct StringTable {
  const StringTableEntry* entries;  // sorted by id
  size_t count;
};

// Opaque: an HMODULE on Windows, a const StringTable* elsewhere.
using ResourceModule = const void*;

// The Windows image that contains the given code address (null elsewhere).
ResourceModule ModuleOfAddress(const void* address);

// The resource module of a loaded library: the library itself on Windows;
// elsewhere the StringTable it exports as "StringTable" (null without one).
ResourceModule ResourceModuleOfLibrary(void* library);

// The bytes of the resource of the given type and id in module. False when
// there is none (elsewhere than Windows, libraries hold string tables only).
bool LoadRawResource(ResourceModule module, std::u16string_view type, uint32_t id,
                     std::string* bytes);

// Loads string id (at most 1024 units) of module into *text. False when the
// module is null or holds no such string.
bool LoadStringResource(ResourceModule module, uint32_t id, std::u16string* text);

}  // namespace platform
