#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "platform/case_fold.h"
#include "platform/environment.h"
#include "platform/stack.h"
#include "platform/unicode.h"

using platform::HKey;

bool Is64BitOs = false;
bool IsWow64 = false;
int OsLevel = 0;

namespace {

std::atomic<platform::Registry*> g_registry{nullptr};

// Whether the registry has a view-aware delete: unknown until the first
// delete asks, then kept (for the registry it was learnt from).
std::atomic<platform::Registry*> g_deleteExKnownFor{nullptr};
std::atomic<bool> g_deleteExMissing{false};

constexpr uint32_t kExpandScratchChars = 2048;
constexpr uint32_t kNameStackChars = 128;
constexpr uint32_t kDataStackChars = 512;
constexpr uint32_t kSubkeyStackChars = 256;

// A stop ends a walk early, unless it must be whole.
bool Stopped(uint32_t flags) {
  return (flags & WALK_WHOLE) == 0 && AbortRequested.load(std::memory_order_relaxed) != 0;
}

// Buffer on the stack when it is large enough, else on the heap.
template <uint32_t kStackUnits>
class UnitBuffer {
 public:
  explicit UnitBuffer(uint32_t units) {
    if (units > kStackUnits) {
      heap_.resize(units);
      data_ = heap_.data();
      units_ = units;
    }
  }
  char16_t* data() { return data_; }
  uint32_t units() const { return units_; }

 private:
  char16_t stack_[kStackUnits];
  std::vector<char16_t> heap_;
  char16_t* data_ = stack_;
  uint32_t units_ = kStackUnits;
};

}  // namespace

platform::Registry* EngineRegistry() {
  platform::Registry* registry = g_registry.load(std::memory_order_acquire);
  return registry != nullptr ? registry : platform::Registry::Default();
}

void SetEngineRegistry(platform::Registry* registry) {
  g_registry.store(registry, std::memory_order_release);
}

int ComputeOsLevel(bool versionRead, const platform::OsVersion& v) {
  constexpr uint32_t kPlatform9x = 1, kPlatformNt = 2;
  constexpr uint8_t kWorkstation = 1;
  if (!versionRead) return 0;
  if (v.platformId == kPlatform9x) return (v.major < 4 || v.safeMode) ? 0 : 1;
  if (v.platformId != kPlatformNt) return 0;
  if (v.major <= 4) return 2;
  if (v.safeMode) return 0;
  if (v.major == 6 && v.productType == kWorkstation) {
    if (v.minor == 0) return 3;
    if (v.minor == 1) return 4;
  }
  return 2;
}

void InitPlatformFacts(platform::System* system) {
  Is64BitOs = system->GetNativeArchitecture() == platform::kArchitectureAmd64;
  // The module ships as a 32-bit library. A 64-bit build of it (the test
  // build run under wine64) sees the machine as that library does under
  // WOW64: the native view through the 64-bit view bit, the 32-bit programs'
  // data through the Wow6432Node paths.
  IsWow64 = system->IsWow64Process() || (Is64BitOs && sizeof(void*) == 8);
  platform::OsVersion version;
  const bool read = system->GetOsVersion(&version);
  OsLevel = ComputeOsLevel(read, version);
}

uint32_t ReadAccessMask() {
  if (!Is64BitOs) return platform::kKeyRead;
  return platform::kKeyRead | (IsWow64 ? platform::kKeyWow64_64Key : platform::kKeyWow64_32Key);
}

uint32_t WriteAccessMask() {
  return ReadAccessMask() | platform::kKeySetValue | platform::kKeyCreateSubKey;
}

uint32_t ExpandEnvInPlace(char16_t* text, uint32_t capacityChars, uint32_t valueType) {
  if (text == nullptr || capacityChars == 0) return valueType;
  const bool expandable = valueType == platform::kRegExpandSz;
  if (!expandable && text[0] != u'%') return valueType;
  const std::u16string_view current(text, platform::U16Length(text) < capacityChars
                                              ? platform::U16Length(text)
                                              : capacityChars - 1);
  const std::u16string expanded = platform::ExpandEnvironmentStrings(current);
  if (expanded.size() < kExpandScratchChars) {
    const size_t n = expanded.size() < capacityChars - 1 ? expanded.size() : capacityChars - 1;
    expanded.copy(text, n);
    text[n] = 0;
  }
  return expandable ? platform::kRegSz : valueType;
}

void EndTextAfterData(char16_t* room, uint32_t roomChars, uint32_t dataBytes) {
  const size_t roomBytes = size_t{roomChars} * sizeof(char16_t);
  if (room == nullptr || dataBytes >= roomBytes) return;
  // Through the unit after the last one the data touches.
  const size_t end = std::min(roomBytes, ((size_t{dataBytes} + 1) / 2 + 1) * sizeof(char16_t));
  std::memset(reinterpret_cast<uint8_t*>(room) + dataBytes, 0, end - dataBytes);
}

uint32_t ReadStringValue(HKey root, std::u16string_view keyPath, std::u16string_view valueName,
                         uint32_t sam, char16_t* buffer, uint32_t bufferBytes) {
  const uint32_t length =
      ReadStringValueUncleared(root, keyPath, valueName, sam, buffer, bufferBytes);
  if (length == 0 && buffer != nullptr) std::memset(buffer, 0, bufferBytes);
  return length;
}

uint32_t ReadStringValueUncleared(HKey root, std::u16string_view keyPath,
                                  std::u16string_view valueName, uint32_t sam, char16_t* buffer,
                                  uint32_t bufferBytes, bool* tooLong) {
  if (tooLong != nullptr) *tooLong = false;
  if (buffer == nullptr) return 0;
  platform::Registry* registry = EngineRegistry();
  // A value of root itself, in the 64-bit view, is read through root: no
  // key to open. (Opened in the 32-bit view, a key may stand for its
  // Wow6432Node.) Any other is read below root in one call.
  uint32_t type = 0;
  uint32_t size = bufferBytes;
  auto* data = reinterpret_cast<uint8_t*>(buffer);
  const uint32_t error =
      !keyPath.empty() || (sam & platform::kKeyWow64_64Key) == 0
          ? registry->RegQueryValueBelow(root, keyPath, sam, valueName, &type, data, &size)
          : registry->RegQueryValueExW(root, valueName, &type, data, &size);
  // (An open never fails with "more data".)
  if (tooLong != nullptr) *tooLong = error == platform::kRegMoreData;
  if (error != platform::kRegSuccess || size == 0) return 0;
  if (type != platform::kRegSz && type != platform::kRegExpandSz && type != platform::kRegMultiSz)
    return 0;
  const uint32_t units = bufferBytes / 2;
  if (units == 0) return 0;
  // The data need not end in NUL; the text ends at the buffer's end at most.
  const uint32_t dataUnits = size / 2 < units ? size / 2 : units - 1;
  if (size / 2 >= units)
    buffer[units - 1] = 0;
  else
    buffer[dataUnits] = 0;
  // Expanded first (a multi-string only when its first string begins with
  // "%"), then joined.
  ExpandEnvInPlace(buffer, units, type);
  if (type == platform::kRegMultiSz && bufferBytes >= 2) {
    // Every NUL but the final terminator becomes a blank: one line of words.
    for (uint32_t i = 0; i + 1 < dataUnits; ++i)
      if (buffer[i] == 0) buffer[i] = u' ';
  }
  return static_cast<uint32_t>(platform::U16Length(buffer));
}

uint32_t EnumValues(HKey root, std::u16string_view keyPath, uint32_t sam, WalkCallback callback,
                    uint32_t flags, void* context) {
  if (Stopped(flags)) return 0;
  platform::Registry* registry = EngineRegistry();
  HKey key = platform::kNullKey;
  if (registry->RegOpenKeyExW(root, keyPath, 0, sam, &key) != platform::kRegSuccess) return 0;
  platform::RegKeyInfo info;
  if (registry->RegQueryInfoKeyW(key, &info) != platform::kRegSuccess) {
    registry->RegCloseKey(key);
    return 0;
  }
  const std::u16string path(keyPath);
  UnitBuffer<kNameStackChars> name(info.maxValueNameLen + 1);
  UnitBuffer<kDataStackChars> data(info.maxValueLen / 2 + 1);
  uint32_t total = 0;
  const bool backwards = (flags & WALK_CHILDREN_FIRST) != 0;
  for (uint32_t n = 0; n < info.values && !Stopped(flags); ++n) {
    const uint32_t index = backwards ? info.values - 1 - n : n;
    uint32_t nameChars = name.units();
    uint32_t dataBytes = data.units() * 2;
    uint32_t type = 0;
    const uint32_t read =
        registry->RegEnumValueW(key, index, name.data(), &nameChars, &type,
                                reinterpret_cast<uint8_t*>(data.data()), &dataBytes);
    if (read == platform::kRegNoMoreItems || read == platform::kRegFileNotFound) continue;
    if (read != platform::kRegSuccess) {
      // Grown meanwhile: the callback learns that a value went unread.
      total += callback(root, path.c_str(), u"", nullptr, 0, 0, flags | WALK_INEXACT, context);
      continue;
    }
    const bool whole = std::char_traits<char16_t>::length(name.data()) == nameChars;
    total += callback(root, path.c_str(), name.data(), reinterpret_cast<uint8_t*>(data.data()),
                      dataBytes, type, whole ? flags : flags | WALK_INEXACT, context);
  }
  registry->RegCloseKey(key);
  return total;
}

uint32_t WalkKeyTree(HKey root, std::u16string_view keyPath, uint32_t sam, WalkCallback callback,
                     uint32_t flags, void* context) {
  if (Stopped(flags) || platform::RemainingStackBytes() <= kWalkStackReserve) return 0;
  platform::Registry* registry = EngineRegistry();
  HKey key = root;
  const bool opened = !keyPath.empty();
  if (opened && registry->RegOpenKeyExW(root, keyPath, platform::kRegOptionOpenLink, sam, &key) !=
                    platform::kRegSuccess)
    return 0;
  auto close = [&] {
    if (opened) registry->RegCloseKey(key);
  };
  if (opened && IsLinkKey(key)) {
    // What a link points to lives elsewhere: it is not part of this tree.
    close();
    if (!(flags & WALK_KEYS)) return 0;
    const std::u16string path(keyPath);
    return callback(root, path.c_str(), nullptr, nullptr, 0, 0, flags | WALK_LINK_EVENT, context);
  }
  platform::RegKeyInfo info;
  if (registry->RegQueryInfoKeyW(key, &info) != platform::kRegSuccess) {
    close();
    return 0;
  }
  const std::u16string path(keyPath);
  const bool childrenFirst = (flags & WALK_CHILDREN_FIRST) != 0;
  uint32_t total = 0;
  auto keyAndValues = [&] {
    if (!childrenFirst) {
      if (flags & WALK_KEYS)
        total +=
            callback(root, path.c_str(), nullptr, nullptr, 0, 0, flags | WALK_KEY_EVENT, context);
      if (flags & WALK_VALUES)
        total += EnumValues(root, path, sam, callback, flags | WALK_VALUE_EVENT, context);
    } else {
      if (flags & WALK_VALUES)
        total += EnumValues(root, path, sam, callback, flags | WALK_VALUE_EVENT, context);
      if (flags & WALK_KEYS)
        total +=
            callback(root, path.c_str(), nullptr, nullptr, 0, 0, flags | WALK_KEY_EVENT, context);
    }
  };
  if (!childrenFirst) keyAndValues();

  if (flags & WALK_KEYS) {
    UnitBuffer<kSubkeyStackChars> name(info.maxSubKeyLen + 1);
    for (uint32_t n = 0; n < info.subKeys && !Stopped(flags); ++n) {
      const uint32_t index = childrenFirst ? info.subKeys - 1 - n : n;
      if (registry->RegEnumKeyW(key, index, name.data(), name.units()) != platform::kRegSuccess)
        continue;
      const std::u16string_view child(name.data());
      if (platform::EqualsIgnoreCase(child, u"Wow6432Node")) continue;
      // Below an empty path (the root itself) the child's path is its name.
      std::u16string childPath = path;
      if (!childPath.empty()) childPath += u'\\';
      childPath += child;
      if (flags & WALK_RECURSE) {
        try {
          total += WalkKeyTree(root, childPath, sam, callback, flags, context);
        } catch (...) {
          // A fault in this child's walk costs only its subtree.
        }
      } else {
        total += callback(root, childPath.c_str(), nullptr, nullptr, 0, 0, flags | WALK_CHILD_EVENT,
                          context);
      }
    }
  }

  if (childrenFirst) keyAndValues();
  close();
  return total;
}

bool IsLinkKey(HKey key) {
  uint32_t type = 0;
  uint32_t size = 0;
  return EngineRegistry()->RegQueryValueExW(key, u"SymbolicLinkValue", &type, nullptr, &size) ==
             platform::kRegSuccess &&
         type == platform::kRegLink;
}

uint32_t DeleteKeyView(HKey root, std::u16string_view keyPath, uint32_t sam) {
  platform::Registry* registry = EngineRegistry();
  if (g_deleteExKnownFor.load() != registry || !g_deleteExMissing.load()) {
    const uint32_t view = (sam & platform::kKeyWow64_64Key)   ? platform::kKeyWow64_64Key
                          : (sam & platform::kKeyWow64_32Key) ? platform::kKeyWow64_32Key
                                                              : 0;
    const uint32_t error = registry->RegDeleteKeyExW(root, keyPath, view);
    if (error != platform::kRegCallNotImplemented) {
      g_deleteExKnownFor.store(registry);
      g_deleteExMissing.store(false);
      return error;
    }
    g_deleteExMissing.store(true);
    g_deleteExKnownFor.store(registry);
  }
  return registry->RegDeleteKeyW(root, keyPath);
}

bool IsReflectionEnabled(HKey key) {
  bool disabled = true;  // a call that writes nothing must not read as enabled
  return EngineRegistry()->RegQueryReflectionKey(key, &disabled) == platform::kRegSuccess &&
         !disabled;
}

bool DisableReflection(HKey key) {
  return EngineRegistry()->RegDisableReflectionKey(key) == platform::kRegSuccess;
}

uint32_t IsKeyProtectedBySfc(HKey root, std::u16string_view keyPath, uint32_t sam) {
  if (OsLevel < 3) return 0;  // no protection service before Vista
  return EngineRegistry()->SfcIsKeyProtected(root, keyPath, sam);
}

namespace {

constexpr const char* kRootNamesA[] = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr const char16_t* kRootNamesW[] = {
    u"HKEY_CLASSES_ROOT",     u"HKEY_CURRENT_USER",   u"HKEY_LOCAL_MACHINE", u"HKEY_USERS",
    u"HKEY_PERFORMANCE_DATA", u"HKEY_CURRENT_CONFIG", u"HKEY_DYN_DATA"};

}  // namespace

const char* RootKeyNameA(HKey root) {
  if (!platform::IsPredefinedKey(root)) return "...";
  return kRootNamesA[static_cast<uintptr_t>(root) - 0x80000000u];
}

const char16_t* RootKeyNameW(HKey root) {
  if (!platform::IsPredefinedKey(root)) return u"...";
  return kRootNamesW[static_cast<uintptr_t>(root) - 0x80000000u];
}

FsRedirectionSwitch::FsRedirectionSwitch(bool disableNow, platform::System* system)
    : system_(system) {
  if (disableNow) Disable();
}

FsRedirectionSwitch::~FsRedirectionSwitch() {
  if (disabled_ && available_) Revert();
}

int FsRedirectionSwitch::Disable() {
  const int result = system_->Wow64DisableWow64FsRedirection(&savedState_);
  if (result < 0) {
    available_ = false;
    return 0;
  }
  if (result != 0) disabled_ = true;
  return result;
}

int FsRedirectionSwitch::Revert() {
  const int result = system_->Wow64RevertWow64FsRedirection(savedState_);
  if (result < 0) {
    available_ = false;
    return 0;
  }
  if (result != 0) {
    disabled_ = false;
    savedState_ = nullptr;
  }
  return result;
}
