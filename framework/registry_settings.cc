#include "framework/registry_settings.h"

#include "framework/install_config.h"

namespace {

std::u16string_view TrimBackslashes(std::u16string_view path) {
  while (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  return path;
}

}  // namespace

CRegistry::CRegistry(bool noFlush, platform::Registry* registry)
    : noFlush_(noFlush), registry_(registry) {}

bool CRegistry::SetRoot(platform::HKey root) {
  if (root != platform::kHkeyClassesRoot && root != platform::kHkeyCurrentUser &&
      root != platform::kHkeyLocalMachine && root != platform::kHkeyUsers)
    return false;
  root_ = root;
  return true;
}

void CRegistry::SetView(int view) {
  switch (view) {
    case 0: viewFlags_ = platform::kKeyWow64_32Key; break;
    case 1: viewFlags_ = platform::kKeyWow64_64Key; break;
    case 2: viewFlags_ = 0; break;
    default: break;
  }
}

bool CRegistry::Open(std::u16string_view path, bool create) {
  path = TrimBackslashes(path);
  if (path.empty()) {
    keyPath_.clear();
    return true;
  }
  platform::HKey key = platform::kNullKey;
  const uint32_t access = platform::kKeyRead | viewFlags_;
  if (create) {
    uint32_t disposition = 0;
    lastError_ = registry_->RegCreateKeyExW(root_, path, 0, access, &key, &disposition);
  } else {
    lastError_ = registry_->RegOpenKeyExW(root_, path, 0, access, &key);
  }
  if (lastError_ != 0) return false;
  keyPath_.assign(path);
  if (!noFlush_) registry_->RegFlushKey(key);
  registry_->RegCloseKey(key);
  return true;
}

uint32_t CRegistry::OpenCurrent(uint32_t access, platform::HKey* key) {
  if (keyPath_.empty()) {
    *key = root_;
    return 0;
  }
  return registry_->RegOpenKeyExW(root_, keyPath_, 0, access | viewFlags_, key);
}

int32_t CRegistry::GetInt(std::u16string_view name, int32_t defaultValue) {
  platform::HKey key;
  lastError_ = OpenCurrent(platform::kKeyRead, &key);
  if (lastError_ != 0) return defaultValue;
  uint8_t data[4] = {};
  uint32_t size = sizeof(data);
  uint32_t type = 0;
  lastError_ = registry_->RegQueryValueExW(key, name, &type, data, &size);
  if (key != root_) registry_->RegCloseKey(key);
  if (lastError_ != 0) return defaultValue;
  return static_cast<int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) |
                              (static_cast<uint32_t>(data[3]) << 24));
}

bool CRegistry::SetInt(std::u16string_view name, int32_t value) {
  platform::HKey key;
  lastError_ = OpenCurrent(platform::kKeyRead | platform::kKeySetValue, &key);
  if (lastError_ != 0) return false;
  const uint32_t bits = static_cast<uint32_t>(value);
  const uint8_t data[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                           static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  lastError_ = registry_->RegSetValueExW(key, name, platform::kRegDword, data, sizeof(data));
  if (lastError_ == 0 && !noFlush_) registry_->RegFlushKey(key);
  if (key != root_) registry_->RegCloseKey(key);
  return lastError_ == 0;
}

std::u16string CRegistry::GetString(std::u16string_view name, std::u16string_view defaultValue) {
  platform::HKey key;
  lastError_ = OpenCurrent(platform::kKeyRead, &key);
  if (lastError_ != 0) return std::u16string(defaultValue);
  uint8_t data[256] = {};
  uint32_t size = 255;  // a longer value fails and gives the default
  uint32_t type = 0;
  lastError_ = registry_->RegQueryValueExW(key, name, &type, data, &size);
  if (key != root_) registry_->RegCloseKey(key);
  if (lastError_ != 0 || (type != platform::kRegSz && type != platform::kRegExpandSz))
    return std::u16string(defaultValue);
  std::u16string text;
  for (uint32_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

uint32_t CRegistry::GetValueType(std::u16string_view name) {
  platform::HKey key;
  lastError_ = OpenCurrent(platform::kKeyRead, &key);
  if (lastError_ != 0) return 0;
  uint32_t type = 0;
  lastError_ = registry_->RegQueryValueExW(key, name, &type, nullptr, nullptr);
  if (key != root_) registry_->RegCloseKey(key);
  return lastError_ == 0 ? type : 0;
}

CRegistrySettings::CRegistrySettings(platform::Registry* registry, platform::System* system)
    : CRegistry(false, registry) {
  const std::u16string regKey = ReadInstallConfig(u"install", u"RegKey", u"", false, system);
  if (!regKey.empty()) {
    SetRoot(platform::kHkeyLocalMachine);
    Open(u"SOFTWARE\\corvane\\" + regKey, true);
  }
}
