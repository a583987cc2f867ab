// CRegistry, a small registry accessor that opens, acts and closes on every
// call, and CRegistrySettings, the suite's settings key of this
// installation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/system.h"

class CRegistry {
 public:
  // noFlush false: every write and every opened or created key is flushed.
  explicit CRegistry(bool noFlush, platform::Registry* registry = platform::Registry::Default());
  virtual ~CRegistry() = default;

  // Only HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and
  // HKEY_USERS are accepted; false leaves the root as it was.
  bool SetRoot(platform::HKey root);
  // 0: the 32-bit view, 1: the 64-bit view, 2: no view flag; other values
  // change nothing.
  void SetView(int view);
  // Makes path (without leading and trailing backslashes) the current key,
  // creating it when asked. An empty path selects the root itself.
  bool Open(std::u16string_view path, bool create);
  // A 32-bit value of the current key, or defaultValue.
  int32_t GetInt(std::u16string_view name, int32_t defaultValue);
  bool SetInt(std::u16string_view name, int32_t value);
  // A REG_SZ or REG_EXPAND_SZ value of at most 255 bytes, unexpanded; else
  // defaultValue.
  std::u16string GetString(std::u16string_view name, std::u16string_view defaultValue);
  // The value's type; 0 when it cannot be read (lastError says why).
  uint32_t GetValueType(std::u16string_view name);

  uint32_t lastError() const { return lastError_; }
  platform::HKey root() const { return root_; }
  const std::u16string& keyPath() const { return keyPath_; }

 private:
  uint32_t OpenCurrent(uint32_t access, platform::HKey* key);

  uint32_t lastError_ = 0;
  platform::HKey root_ = platform::kHkeyCurrentUser;
  bool noFlush_;
  std::u16string keyPath_;
  uint32_t viewFlags_ = 0;
  platform::Registry* registry_;
};

// The settings of this installation: HKLM\SOFTWARE\corvane\<RegKey> when
// "install.cfg" names a "RegKey" in section "install", else the values
// directly under HKEY_CURRENT_USER. Writes are flushed.
class CRegistrySettings : public CRegistry {
 public:
  explicit CRegistrySettings(platform::Registry* registry = platform::Registry::Default(),
                             platform::System* system = platform::System::Default());
  ~CRegistrySettings() override = default;
};
