// Registry paths as people write them ("HKEY_LOCAL_MACHINE\Software\X",
// "HKLM\Software\X") and the few operations over the registry seam that the
// .reg files and the command-line tools share: reading a value whole and
// deleting a key with everything below it. Pure code over platform::Registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform {

// The long name of a predefined root ("HKEY_LOCAL_MACHINE"); empty for any
// other key and for the roots without a name in path syntax.
std::u16string_view RootKeyName(HKey root);

// Splits "ROOT" or "ROOT\sub\path" into the root and the path below it. The
// root is a long or short name (HKEY_LOCAL_MACHINE/HKLM, HKEY_CURRENT_USER/
// HKCU, HKEY_CLASSES_ROOT/HKCR, HKEY_USERS/HKU, HKEY_CURRENT_CONFIG/HKCC)
// in any case, followed by the end or a backslash; one trailing backslash of
// the path is dropped. False when the text starts with no such root.
bool ParseKeyPath(std::u16string_view text, HKey* root, std::u16string* subKey);

// One value, read whole.
struct RegValue {
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// Value number index of key, its buffers grown until it fits. The error of
// RegEnumValueW otherwise (259 past the last value).
uint32_t EnumValue(Registry* registry, HKey key, uint32_t index, RegValue* value);
// The value named name ("" is the default value); 2 when it does not exist.
uint32_t QueryValue(Registry* registry, HKey key, std::u16string_view name, RegValue* value);
// Subkey number index; 259 past the last one.
uint32_t EnumKey(Registry* registry, HKey key, uint32_t index, std::u16string* name);

// True when subKey of key (in the view of sam) is a symbolic link: opened
// without following it, it holds a REG_LINK "SymbolicLinkValue".
bool IsLinkKey(Registry* registry, HKey key, std::u16string_view subKey, uint32_t sam);

// Deletes subKey of key and everything below it, in the view of sam's view
// bits; subkeys go from the last index down. A link below is removed itself,
// never followed. The first error met, 0 on success; 2 when subKey does not
// exist. An empty subKey is refused with 87: a root is never deleted.
uint32_t DeleteKeyTree(Registry* registry, HKey key, std::u16string_view subKey, uint32_t sam);

}  // namespace platform
