// Small reads and writes through the registry seam for the registry tests.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_paths.h"

namespace registry_test {

// Text with its NUL, as REG_SZ data.
inline std::vector<uint8_t> Sz(std::u16string_view text) {
  std::vector<uint8_t> bytes((text.size() + 1) * 2, 0);
  std::memcpy(bytes.data(), text.data(), text.size() * 2);
  return bytes;
}

// Sets a value of root\path, the key made as needed: the first error, or 0.
inline uint32_t SetValue(platform::Registry* reg, platform::HKey root, std::u16string_view path,
                         std::u16string_view name, uint32_t type,
                         const std::vector<uint8_t>& data) {
  platform::HKey key;
  uint32_t error = reg->RegCreateKeyExW(root, path, 0, platform::kKeyAllAccess, &key, nullptr);
  if (error != 0) return error;
  error = reg->RegSetValueExW(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
  reg->RegCloseKey(key);
  return error;
}

inline uint32_t SetString(platform::Registry* reg, platform::HKey root, std::u16string_view path,
                          std::u16string_view name, std::u16string_view text) {
  return SetValue(reg, root, path, name, platform::kRegSz, Sz(text));
}

// A string value of root\path opened with sam, or "<no key>" / "<no value>".
inline std::u16string GetString(platform::Registry* reg, platform::HKey root,
                                std::u16string_view path, std::u16string_view name,
                                uint32_t sam = platform::kKeyRead) {
  platform::HKey key;
  if (reg->RegOpenKeyExW(root, path, 0, sam, &key) != 0) return u"<no key>";
  platform::RegValue value;
  const uint32_t error = platform::QueryValue(reg, key, name, &value);
  reg->RegCloseKey(key);
  if (error != 0) return u"<no value>";
  return std::u16string(reinterpret_cast<const char16_t*>(value.data.data()), value.data.size() / 2)
      .c_str();
}

// The names of root\path's values (or of its subkeys), in the registry's order.
inline std::vector<std::u16string> Names(platform::Registry* reg, platform::HKey root,
                                         std::u16string_view path, bool subkeys = false) {
  std::vector<std::u16string> names;
  platform::HKey key;
  if (reg->RegOpenKeyExW(root, path, 0, platform::kKeyRead | platform::kKeyWow64_64Key, &key) != 0)
    return names;
  platform::RegValue value;
  std::u16string name;
  for (uint32_t i = 0; subkeys ? platform::EnumKey(reg, key, i, &name) == 0
                               : platform::EnumValue(reg, key, i, &value) == 0;
       ++i)
    names.push_back(subkeys ? name : value.name);
  reg->RegCloseKey(key);
  return names;
}

}  // namespace registry_test
