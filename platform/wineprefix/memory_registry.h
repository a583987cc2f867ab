// The in-memory registry: the Registry seam over a key tree laid out as Wine
// lays out its registry (\Registry\Machine is HKEY_LOCAL_MACHINE,
// \Registry\User\.Default and \Registry\User\S-1-5-21-0-0-0-1000 are
// HKEY_USERS\.Default and HKEY_CURRENT_USER, HKEY_CLASSES_ROOT is
// HKLM\Software\Classes). It is the store of the POSIX backend and the tests'
// double on every platform.
//
// On a win64 machine it has the two views: an access without
// KEY_WOW64_64KEY is a 32-bit-view access, which steps into the Wow6432Node
// child of a key that has one; Software\Classes\Wow6432Node falls back to the
// 64-bit Classes key for what it lacks. Symbolic-link keys are followed on
// open, never when enumerating. A win32 machine has no views.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/wineprefix/registry_tree.h"

namespace platform::memory {

// The hives, each the root of one hive file.
enum HiveId : uint8_t { kMachineHive = 0, kUserDefaultHive = 1, kCurrentUserHive = 2 };
constexpr int kHiveCount = 3;

class MemoryRegistry : public Registry {
 public:
  struct Options {
    bool win64 = true;
    // FILETIME now; the system clock when empty.
    std::function<uint64_t()> clock;
  };
  MemoryRegistry();
  explicit MemoryRegistry(Options options);
  ~MemoryRegistry() override;

  uint32_t RegOpenKeyExW(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam,
                         HKey* result) override;
  uint32_t RegCreateKeyExW(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam,
                           HKey* result, uint32_t* disposition) override;
  uint32_t RegCloseKey(HKey key) override;
  uint32_t RegEnumKeyW(HKey key, uint32_t index, char16_t* name, uint32_t nameChars) override;
  uint32_t RegEnumValueW(HKey key, uint32_t index, char16_t* name, uint32_t* nameChars,
                         uint32_t* type, uint8_t* data, uint32_t* dataBytes) override;
  uint32_t RegQueryValueExW(HKey key, std::u16string_view valueName, uint32_t* type, uint8_t* data,
                            uint32_t* dataBytes) override;
  uint32_t RegQueryInfoKeyW(HKey key, RegKeyInfo* info) override;
  uint32_t RegQueryKeyCounts(HKey key, uint32_t* subKeys, uint32_t* values) override;
  uint32_t RegQueryValueBelow(HKey key, std::u16string_view subKey, uint32_t sam,
                              std::u16string_view valueName, uint32_t* type, uint8_t* data,
                              uint32_t* dataBytes) override;
  uint32_t RegSetValueExW(HKey key, std::u16string_view valueName, uint32_t type,
                          const uint8_t* data, uint32_t dataBytes) override;
  uint32_t RegDeleteKeyW(HKey key, std::u16string_view subKey) override;
  uint32_t RegDeleteKeyExW(HKey key, std::u16string_view subKey, uint32_t sam) override;
  uint32_t RegDeleteValueW(HKey key, std::u16string_view valueName) override;
  uint32_t RegDeleteLinkKey(HKey key, std::u16string_view subKey, uint32_t sam) override;
  uint32_t RegFlushKey(HKey key) override;
  uint32_t RegQueryReflectionKey(HKey key, bool* disabled) override;
  uint32_t RegDisableReflectionKey(HKey key) override;
  // No key is protected here.
  uint32_t SfcIsKeyProtected(HKey root, std::u16string_view subKey, uint32_t sam) override;
  uint32_t Flush(std::u16string* failedStore = nullptr) override;

  // Reads Wine hive text ("WINE REGISTRY Version 2", key paths relative to
  // the hive's root) into a hive, as if the hive file held it. Returns the
  // problems found ("fixture:line: message"); empty when it read cleanly.
  std::vector<std::string> LoadHiveText(HiveId hive, std::string_view text);

  bool win64() const { return options_.win64; }
  void set_win64(bool win64);
  // Number of handles open now (predefined roots not counted).
  size_t OpenHandleCount();

 protected:
  // Hooks of a backend that keeps the hives in files. All are called with
  // mutex() held.
  // Fills a hive root the first time it is reached (kKeyUnloaded set).
  virtual void LoadHive(HiveId /*hive*/) {}
  // 0 when the hive may change now; else the error a write gives (5).
  virtual uint32_t CheckWritable(HiveId hive);
  // A change was made to a non-volatile key of the hive.
  virtual void Changed(HiveId /*hive*/, Change&& /*change*/) {}
  // Makes the hive's changes lasting; Flush() calls it per hive.
  virtual uint32_t SaveHive(HiveId /*hive*/) { return 0; }
  // The name of the hive's store in messages: its root key path here, the
  // hive file where there is one.
  virtual std::u16string StoreName(HiveId hive);

  std::mutex& mutex() { return mutex_; }
  uint64_t Now() const;
  // A subclass that reaches into a hive may change it: the walk hints go.
  Key* hive_root(HiveId hive) {
    NewGeneration();
    return hives_[hive];
  }
  // Replaces the contents of a hive by a freshly read tree; handles open on
  // keys of that hive follow their paths into it (a key that is gone reads as
  // deleted).
  // The arena the fresh tree was read into (if any) lives as long as it; the
  // old tree's arenas go with the old tree.
  void ReplaceHive(HiveId hive, std::unique_ptr<Key> fresh,
                   std::unique_ptr<TreeArena> arena = nullptr);
  // Keeps the arena a hive's tree was read into as long as the tree lives.
  void KeepArena(HiveId hive, std::unique_ptr<TreeArena> arena);
  // The hive a key belongs to, or -1 (\Registry and \Registry\User).
  static int HiveOf(const Key* key);

 private:
  struct Slot {
    Key* key = nullptr;
    bool used = false;
    bool deleted = false;  // the key was deleted while the handle was open
  };

  uint32_t Resolve(HKey key, Key** result);
  uint32_t ResolvePredefined(HKey key, Key** result);
  HKey NewHandle(Key* key);
  // RegOpenKeyExW without the handle.
  uint32_t Open(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam, Key** found);
  // Opens or creates path below start (Wine's lookup with views and links).
  uint32_t Walk(Key* start, std::u16string_view path, bool view32, bool create, uint32_t options,
                Key** result, bool* created);
  Key* Wow64Twin(Key* key);
  uint32_t FollowLink(Key* link, int depth, Key** result);
  Key* Reach(Key* key);  // loads a hive root on first contact
  bool View32(uint32_t sam) const { return options_.win64 && !(sam & kKeyWow64_64Key); }
  // link: delete the link key subKey itself (87 when it is not one).
  uint32_t DeleteKey(HKey key, std::u16string_view subKey, uint32_t sam, bool link);
  void Record(Key* key, Change::Kind kind, std::u16string_view name = {}, uint32_t type = 0,
              const uint8_t* data = nullptr, uint32_t size = 0);
  uint32_t Writable(Key* key);
  void ForgetHandlesTo(Key* key);
  // The tree changed (keys, values, links, a hive loaded or replaced): the
  // walks this registry's users remember no longer hold.
  void NewGeneration();

  Options options_;
  std::mutex mutex_;
  // Declared before the tree, so that they go after it.
  std::vector<std::unique_ptr<TreeArena>> arenas_[kHiveCount];
  std::unique_ptr<Key> root_;  // \Registry
  Key* hives_[kHiveCount] = {};
  std::vector<Slot> slots_;
  std::vector<uint32_t> freeSlots_;
  // Which state of the tree this is, unique among all registries of the
  // process (see Walk).
  uint64_t generation_ = 0;
  // HKEY_CLASSES_ROOT's key, while the generation is the one it was found in.
  Key* classesRoot_ = nullptr;
  uint64_t classesRootGeneration_ = 0;
};

}  // namespace platform::memory
