#include "platform/registry_paths.h"

#include "platform/unicode.h"

namespace platform {
namespace {

constexpr uint32_t kOptionOpenLink = 8;  // REG_OPTION_OPEN_LINK
constexpr uint32_t kMaxNameChars = 32768;

struct RootNames {
  HKey key;
  std::u16string_view shortName;
  std::u16string_view longName;
};

constexpr RootNames kRoots[] = {
    {kHkeyLocalMachine, u"HKLM", u"HKEY_LOCAL_MACHINE"},
    {kHkeyCurrentUser, u"HKCU", u"HKEY_CURRENT_USER"},
    {kHkeyClassesRoot, u"HKCR", u"HKEY_CLASSES_ROOT"},
    {kHkeyUsers, u"HKU", u"HKEY_USERS"},
    {kHkeyCurrentConfig, u"HKCC", u"HKEY_CURRENT_CONFIG"},
};

// name begins text and is followed by its end or a backslash.
bool StartsWithRoot(std::u16string_view text, std::u16string_view name) {
  return text.size() >= name.size() && AsciiEqualsIgnoreCase(text.substr(0, name.size()), name) &&
         (text.size() == name.size() || text[name.size()] == u'\\');
}

}  // namespace

std::u16string_view RootKeyName(HKey root) {
  for (const RootNames& names : kRoots) {
    if (names.key == root) return names.longName;
  }
  return {};
}

bool ParseKeyPath(std::u16string_view text, HKey* root, std::u16string* subKey) {
  for (const RootNames& names : kRoots) {
    for (std::u16string_view name : {names.shortName, names.longName}) {
      if (!StartsWithRoot(text, name)) continue;
      *root = names.key;
      std::u16string_view rest = text.substr(name.size());
      if (!rest.empty()) rest.remove_prefix(1);
      if (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
      subKey->assign(rest);
      return true;
    }
  }
  return false;
}

uint32_t EnumValue(Registry* registry, HKey key, uint32_t index, RegValue* value) {
  RegKeyInfo info;
  uint32_t nameCapacity = 256;
  uint32_t dataCapacity = 2048;
  if (registry->RegQueryInfoKeyW(key, &info) == kRegSuccess) {
    if (info.maxValueNameLen + 1 > nameCapacity) nameCapacity = info.maxValueNameLen + 1;
    if (info.maxValueLen > dataCapacity) dataCapacity = info.maxValueLen;
  }
  std::u16string name;
  for (;;) {
    name.resize(nameCapacity);
    value->data.resize(dataCapacity + 2);  // room for the NUL a string may get
    uint32_t nameChars = nameCapacity;
    uint32_t dataBytes = dataCapacity;
    const uint32_t error = registry->RegEnumValueW(key, index, name.data(), &nameChars,
                                                   &value->type, value->data.data(), &dataBytes);
    if (error == kRegSuccess) {
      value->name.assign(name.data(), nameChars);
      value->data.resize(dataBytes);
      return kRegSuccess;
    }
    if (error != kRegMoreData) return error;
    if (dataBytes > dataCapacity) {
      dataCapacity = dataBytes;
    } else if (nameCapacity < kMaxNameChars) {
      nameCapacity *= 2;
    } else {
      return error;
    }
  }
}

uint32_t QueryValue(Registry* registry, HKey key, std::u16string_view name, RegValue* value) {
  uint32_t size = 0;
  uint32_t error = registry->RegQueryValueExW(key, name, &value->type, nullptr, &size);
  for (int tries = 0; error == kRegSuccess || error == kRegMoreData; ++tries) {
    value->data.resize(size + 2);
    uint32_t got = size;
    error = registry->RegQueryValueExW(key, name, &value->type, value->data.data(), &got);
    if (error == kRegSuccess) {
      value->name.assign(name);
      value->data.resize(got);
      return kRegSuccess;
    }
    if (error != kRegMoreData || tries > 8) break;
    size = got;
  }
  return error;
}

uint32_t EnumKey(Registry* registry, HKey key, uint32_t index, std::u16string* name) {
  char16_t buffer[512];
  const uint32_t error = registry->RegEnumKeyW(key, index, buffer, 512);
  if (error == kRegSuccess) name->assign(buffer);
  return error;
}

bool IsLinkKey(Registry* registry, HKey key, std::u16string_view subKey, uint32_t sam) {
  HKey link;
  if (registry->RegOpenKeyExW(key, subKey, kOptionOpenLink, kKeyQueryValue | (sam & kKeyWow64Res),
                              &link) != kRegSuccess) {
    return false;
  }
  uint32_t type = 0;
  uint32_t size = 0;
  const uint32_t error =
      registry->RegQueryValueExW(link, u"SymbolicLinkValue", &type, nullptr, &size);
  registry->RegCloseKey(link);
  return error == kRegSuccess && type == kRegLink;
}

uint32_t DeleteKeyTree(Registry* registry, HKey key, std::u16string_view subKey, uint32_t sam) {
  if (subKey.empty()) return kRegInvalidParameter;
  const uint32_t view = sam & kKeyWow64Res;
  const bool link = IsLinkKey(registry, key, subKey, view);
  HKey opened;
  uint32_t error = registry->RegOpenKeyExW(key, subKey, link ? kOptionOpenLink : 0,
                                           kKeyAllAccess | view, &opened);
  if (error != kRegSuccess) return error;
  if (link) {
    error = registry->RegDeleteKeyW(opened, u"");
    registry->RegCloseKey(opened);
    return error;
  }
  RegKeyInfo info;
  error = registry->RegQueryInfoKeyW(opened, &info);
  for (uint32_t i = info.subKeys; error == kRegSuccess && i-- > 0;) {
    std::u16string name;
    error = EnumKey(registry, opened, i, &name);
    if (error == kRegSuccess) error = DeleteKeyTree(registry, opened, name, view);
  }
  registry->RegCloseKey(opened);
  if (error != kRegSuccess) return error;
  error = registry->RegDeleteKeyExW(key, subKey, view);
  if (error == kRegCallNotImplemented) error = registry->RegDeleteKeyW(key, subKey);
  return error;
}

}  // namespace platform
