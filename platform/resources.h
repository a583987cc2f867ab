// String resources. On Windows a resource module is a loaded image (HMODULE)
// whose STRINGTABLE is read with LoadStringW. Elsewhere it is a StringTable
// compiled into the library: the module's own English table, or the table a
// language library exports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Loads string id (at most 1024 units) of module into *text. False when the
// module is null or holds no such string.
bool LoadStringResource(ResourceModule module, uint32_t id, std::u16string* text);

}  // namespace platform
