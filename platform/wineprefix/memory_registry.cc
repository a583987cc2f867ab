#include "platform/wineprefix/memory_registry.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "platform/unicode.h"
#include "platform/wineprefix/hive_text.h"

namespace platform::memory {
namespace {

constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorChildMustBeVolatile = 1021;
constexpr uint32_t kOptionCreateLink = 2;
constexpr uint32_t kOptionOpenLink = 8;
constexpr size_t kMaxKeyNameChars = 255;
constexpr int kMaxLinkDepth = 16;

constexpr std::u16string_view kWow6432Node = u"Wow6432Node";
constexpr std::u16string_view kSymbolicLinkValue = u"SymbolicLinkValue";
constexpr std::u16string_view kRegistryPrefix = u"\\Registry\\";

bool IsWowName(std::u16string_view name) { return NamesEqual(name, kWow6432Node); }

bool IsStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The names of a registry path in order, empty ones skipped, read in place.
class PathNames {
 public:
  explicit PathNames(std::u16string_view path) : path_(path) { Next(); }
  bool done() const { return done_; }
  std::u16string_view name() const { return name_; }
  void Next() {
    while (start_ < path_.size()) {
      size_t end = FindUnit(path_, u'\\', start_);
      if (end == std::u16string_view::npos) end = path_.size();
      const size_t from = start_;
      start_ = end + 1;
      if (end > from) {
        name_ = path_.substr(from, end - from);
        return;
      }
    }
    done_ = true;
    name_ = {};
  }

 private:
  std::u16string_view path_;
  std::u16string_view name_;
  size_t start_ = 0;
  bool done_ = false;
};

// Registry generations are handed out from one counter: a walk hint taken
// on one registry never matches another one made later at the same address.
std::atomic<uint64_t> g_lastGeneration{0};

// Where the walks of the last few paths this thread opened stood before
// their last name ("SOFTWARE\Classes" of "SOFTWARE\Classes\Rc.Prog", a
// folder of two names or more): the class checks open one class after
// another under the same folders. A hint holds while its registry's
// generation is the one it was taken in (any change to the tree makes a new
// one); a folder that was not there is remembered too. Plain data, as
// per-thread state in the module must be.
constexpr size_t kHintChars = 96;
constexpr unsigned kWalkHints = 8;
struct WalkHint {
  uint64_t generation;  // 0: none
  const Key* start;
  Key* folder;  // null: the folder is not there
  uint32_t length;
  char16_t path[kHintChars];
};
thread_local WalkHint t_walkHints[kWalkHints];
thread_local unsigned t_nextWalkHint;

// Copies value data as RegQueryValueExW does: the size always, the data when
// it fits, and a NUL after a string that lacks one when there is room.
uint32_t CopyData(const Value& value, uint32_t* type, uint8_t* data, uint32_t* dataBytes) {
  if (data != nullptr && dataBytes == nullptr) return kRegInvalidParameter;
  uint32_t result = kRegSuccess;
  if (data != nullptr) {
    const uint32_t size = value.size();
    if (size > *dataBytes) {
      result = kRegMoreData;
    } else {
      if (size != 0) std::memcpy(data, value.data(), size);
      if (IsStringType(value.type()) && size + 2 <= *dataBytes && size >= 2 &&
          (data[size - 2] != 0 || data[size - 1] != 0)) {
        data[size] = 0;
        data[size + 1] = 0;
      }
    }
  }
  if (type != nullptr) *type = value.type();
  if (dataBytes != nullptr) *dataBytes = value.size();
  return result;
}

}  // namespace

MemoryRegistry::MemoryRegistry() : MemoryRegistry(Options{}) {}

MemoryRegistry::MemoryRegistry(Options options) : options_(std::move(options)) {
  NewGeneration();
  root_ = std::make_unique<Key>();
  root_->name = u"REGISTRY";
  Key* machine = root_->InsertChild(u"Machine", 0);
  Key* user = root_->InsertChild(u"User", 1);
  size_t at = 0;
  user->FindChild(u".Default", &at);
  Key* userDefault = user->InsertChild(u".Default", at);
  user->FindChild(u"S-1-5-21-0-0-0-1000", &at);
  Key* currentUser = user->InsertChild(u"S-1-5-21-0-0-0-1000", at);
  Key* roots[kHiveCount] = {machine, userDefault, currentUser};
  for (int i = 0; i < kHiveCount; ++i) {
    hives_[i] = roots[i];
    roots[i]->flags |= kKeyHiveRoot;
    roots[i]->hive = static_cast<uint8_t>(i);
    roots[i]->modified = Now();
  }
}

MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::NewGeneration() { generation_ = g_lastGeneration.fetch_add(1) + 1; }

uint64_t MemoryRegistry::Now() const {
  if (options_.clock) return options_.clock();
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochFileTime +
         static_cast<uint64_t>(
             std::chrono::duration_cast<std::chrono::microseconds>(since).count()) *
             10;
}

void MemoryRegistry::set_win64(bool win64) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.win64 = win64;
  NewGeneration();
}

size_t MemoryRegistry::OpenHandleCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return slots_.size() - freeSlots_.size();
}

uint32_t MemoryRegistry::CheckWritable(HiveId) { return kRegSuccess; }

std::vector<std::string> MemoryRegistry::LoadHiveText(HiveId hive, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* root = Reach(hives_[hive]);
  NewGeneration();
  HiveReadResult result = ReadHive(text, root, "fixture", Now());
  CommitWrite(root, HiveWriteResult{});  // nothing read counts as a change
  return std::move(result.problems);
}

int MemoryRegistry::HiveOf(const Key* key) {
  for (; key != nullptr; key = key->parent) {
    if (key->flags & kKeyHiveRoot) return key->hive;
  }
  return -1;
}

Key* MemoryRegistry::Reach(Key* key) {
  if (key != nullptr && (key->flags & kKeyUnloaded)) {
    key->flags &= ~kKeyUnloaded;
    LoadHive(static_cast<HiveId>(key->hive));
    NewGeneration();
  }
  return key;
}

HKey MemoryRegistry::NewHandle(Key* key) {
  uint32_t index;
  if (!freeSlots_.empty()) {
    index = freeSlots_.back();
    freeSlots_.pop_back();
  } else {
    index = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  slots_[index] = Slot{key, true, false};
  return HKey{(static_cast<uintptr_t>(index) + 1) * 4};
}

uint32_t MemoryRegistry::Resolve(HKey key, Key** result) {
  if (IsPredefinedKey(key)) return ResolvePredefined(key, result);
  const uintptr_t raw = static_cast<uintptr_t>(key);
  if (raw == 0 || raw % 4 != 0) return kRegInvalidHandle;
  const size_t index = raw / 4 - 1;
  if (index >= slots_.size() || !slots_[index].used) return kRegInvalidHandle;
  if (slots_[index].deleted) return kRegKeyDeleted;
  *result = slots_[index].key;
  return kRegSuccess;
}

uint32_t MemoryRegistry::ResolvePredefined(HKey key, Key** result) {
  const char16_t* path = nullptr;
  switch (static_cast<uintptr_t>(key)) {
    case static_cast<uintptr_t>(kHkeyLocalMachine):
      *result = Reach(hives_[kMachineHive]);
      return kRegSuccess;
    case static_cast<uintptr_t>(kHkeyCurrentUser):
      *result = Reach(hives_[kCurrentUserHive]);
      return kRegSuccess;
    case static_cast<uintptr_t>(kHkeyUsers):
      *result = hives_[kUserDefaultHive]->parent;
      return kRegSuccess;
    case static_cast<uintptr_t>(kHkeyClassesRoot):
      path = u"Software\\Classes";
      break;
    case static_cast<uintptr_t>(kHkeyCurrentConfig):
      path = u"System\\CurrentControlSet\\Hardware Profiles\\Current";
      break;
    default:
      return kRegInvalidHandle;
  }
  // Wine opens these as keys of HKLM, creating them when missing. The
  // classes root, which the class checks open from again and again, is
  // kept while the tree is unchanged.
  const bool classes = key == kHkeyClassesRoot;
  if (classes && classesRootGeneration_ == generation_) {
    *result = classesRoot_;
    return kRegSuccess;
  }
  Key* machine = Reach(hives_[kMachineHive]);
  bool created = false;
  uint32_t error = Walk(machine, path, false, false, 0, result, &created);
  if (error != kRegSuccess) error = Walk(machine, path, false, true, 0, result, &created);
  if (classes && error == kRegSuccess) {
    classesRoot_ = *result;
    classesRootGeneration_ = generation_;
  }
  return error;
}

Key* MemoryRegistry::Wow64Twin(Key* key) {
  if (key->flags & kKeyHasWow) return key->FindChild(kWow6432Node);
  Key* parent = key->parent;
  if (parent == nullptr) return key;
  if ((parent->flags & kKeyHasWow) && IsWowName(key->name)) return key;
  Key* twinParent = Wow64Twin(parent);
  if (twinParent == nullptr) return key;
  return twinParent->FindChild(key->name);
}

uint32_t MemoryRegistry::FollowLink(Key* link, int depth, Key** result) {
  if (depth > kMaxLinkDepth) return kRegFileNotFound;
  const int at = link->FindValue(kSymbolicLinkValue);
  if (at < 0) return kRegFileNotFound;
  const Value& value = link->values[static_cast<size_t>(at)];
  std::u16string target(value.size() / 2, u'\0');
  if (!target.empty()) std::memcpy(target.data(), value.data(), target.size() * 2);
  if (target.size() <= kRegistryPrefix.size() ||
      !NamesEqual(std::u16string_view(target).substr(0, kRegistryPrefix.size()), kRegistryPrefix)) {
    return kRegFileNotFound;
  }
  Key* key = root_.get();
  for (PathNames names(std::u16string_view(target).substr(kRegistryPrefix.size()));
       !names.done(); names.Next()) {
    key = Reach(key->FindChild(names.name()));
    if (key == nullptr) return kRegFileNotFound;
    if (key->flags & kKeyLink) {
      const uint32_t error = FollowLink(key, depth + 1, &key);
      if (error != kRegSuccess) return error;
    }
  }
  *result = key;
  return kRegSuccess;
}

uint32_t MemoryRegistry::Walk(Key* start, std::u16string_view path, bool view32, bool create,
                              uint32_t options, Key** result, bool* created) {
  *created = false;
  if (!path.empty() && path[0] == u'\\') return kErrorBadPathname;
  // A name too long anywhere in the path is the answer, whatever else
  // fails first: the names not reached yet are checked before any other
  // failure is told, and before anything is made.
  PathNames names(path);
  auto fail = [&names](uint32_t error) {
    for (PathNames rest = names; !rest.done(); rest.Next())
      if (rest.name().size() > kMaxKeyNameChars) return kRegInvalidParameter;
    return error;
  };
  Key* key = Reach(start);
  // An open in the 64-bit view of a path with a folder may start where a
  // walk of that folder ended (the 32-bit view's steps depend on the next
  // name; a creation walks as it makes).
  WalkHint* hint = nullptr;  // to fill with where this walk's folder ends
  if (!create && !view32) {
    const WalkHint* found = nullptr;
    for (const WalkHint& kept : t_walkHints) {
      // The kept folder, then a backslash and one name.
      const size_t cut = kept.length;
      if (kept.generation == generation_ && kept.start == start && cut + 1 < path.size() &&
          path[cut] == u'\\' && std::memcmp(kept.path, path.data(), cut * sizeof(char16_t)) == 0 &&
          FindUnit(path, u'\\', cut + 1) == std::u16string_view::npos) {
        found = &kept;
        break;
      }
    }
    if (found != nullptr) {
      names = PathNames(path.substr(found->length + 1));
      // A folder that is not there fails as its walk did; its own names
      // were checked then, the last one is now.
      if (found->folder == nullptr) return fail(kRegFileNotFound);
      key = found->folder;
    } else {
      // Only a folder of two names or more is worth a hint ("open\Command"
      // below each class's shell key would push the others out).
      const size_t cut = path.rfind(u'\\');
      if (cut != std::u16string_view::npos && cut > 0 && cut <= kHintChars &&
          cut + 1 < path.size() &&
          FindUnit(path.substr(0, cut), u'\\') != std::u16string_view::npos) {
        hint = &t_walkHints[t_nextWalkHint++ % kWalkHints];
        hint->generation = 0;  // until the walk reaches the folder's end
        hint->start = start;
        hint->length = static_cast<uint32_t>(cut);
        std::memcpy(hint->path, path.data(), cut * sizeof(char16_t));
      }
    }
  }
  auto remember = [&](Key* folder) {
    if (hint == nullptr) return;
    hint->folder = folder;
    hint->generation = generation_;
    hint = nullptr;
  };
  if (view32 && (names.done() || !IsWowName(names.name()))) {
    if (Key* twin = Wow64Twin(key)) key = twin;
  }
  while (!names.done()) {
    const std::u16string_view element = names.name();
    if (element.size() > kMaxKeyNameChars) return kRegInvalidParameter;
    names.Next();
    const bool last = names.done();
    if (last) remember(key);
    Key* child = key->FindChild(element);
    if (child == nullptr && view32 && (key->flags & kKeyWowShare)) {
      key = key->parent;  // what the shared key lacks comes from the 64-bit parent
      child = key->FindChild(element);
    }
    if (child == nullptr) {
      if (!create) {
        const uint32_t error = fail(kRegFileNotFound);
        // Not there before the last name: the folder is not there.
        if (!last && error == kRegFileNotFound) remember(nullptr);
        return error;
      }
      const uint32_t writable = fail(Writable(key));
      if (writable != kRegSuccess) return writable;
      const bool isVolatile = (options & kRegOptionVolatile) != 0;
      if ((key->flags & kKeyVolatile) && !isVolatile) return fail(kErrorChildMustBeVolatile);
      const uint64_t now = Now();
      NewGeneration();
      for (std::u16string_view made = element;; made = names.name(), names.Next()) {
        size_t at = 0;
        key->FindChild(made, &at);
        key->Touch(now);
        key = key->InsertChild(made, at);
        key->Touch(now);
        if (isVolatile) key->flags |= kKeyVolatile;
        if (names.done()) break;
      }
      if (options & kOptionCreateLink) key->flags |= kKeyLink;
      Record(key, Change::kCreateKey, {}, (options & kOptionCreateLink) ? Change::kLinkKey : 0);
      *created = true;
      *result = key;
      return kRegSuccess;
    }
    child = Reach(child);
    if ((child->flags & kKeyLink) && !(last && (options & (kOptionOpenLink | kOptionCreateLink)))) {
      Key* target = nullptr;
      const uint32_t error = FollowLink(child, 0, &target);
      if (error != kRegSuccess) return fail(error);
      child = target;
      if (last && view32 && (child->flags & kKeyWowShare)) child = child->parent;
    }
    if (!last && view32 && (child->flags & kKeyHasWow) && !IsWowName(names.name())) {
      child = child->FindChild(kWow6432Node);
    }
    key = child;
  }
  if (view32 && (key->flags & kKeyHasWow)) {
    Key* wow = key->FindChild(kWow6432Node);
    if (!(wow->flags & kKeyWowShare)) key = wow;
  }
  *result = key;
  return kRegSuccess;
}

uint32_t MemoryRegistry::Writable(Key* key) {
  const int hive = HiveOf(key);
  if (hive < 0) return kRegAccessDenied;
  if (key->flags & kKeyVolatile) return kRegSuccess;
  if (hives_[hive]->flags & kKeyReadOnly) return kRegAccessDenied;
  return CheckWritable(static_cast<HiveId>(hive));
}

void MemoryRegistry::Record(Key* key, Change::Kind kind, std::u16string_view name, uint32_t type,
                            const uint8_t* data, uint32_t size) {
  if (key->flags & kKeyVolatile) return;
  const int hive = HiveOf(key);
  if (hive < 0) return;
  Change change;
  change.kind = kind;
  change.type = type;
  change.path = PathBelow(key, hives_[hive]);
  change.name.assign(name);
  if (size != 0) change.data.assign(reinterpret_cast<const char*>(data), size);
  Changed(static_cast<HiveId>(hive), std::move(change));
}

void MemoryRegistry::ForgetHandlesTo(Key* key) {
  for (Slot& slot : slots_) {
    if (slot.used && slot.key == key) {
      slot.key = nullptr;
      slot.deleted = true;
    }
  }
}

uint32_t MemoryRegistry::RegOpenKeyExW(HKey key, std::u16string_view subKey, uint32_t options,
                                       uint32_t sam, HKey* result) {
  if (result == nullptr || (sam & kKeyWow64Res) == kKeyWow64Res) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = nullptr;
  const uint32_t error = Open(key, subKey, options, sam, &found);
  if (error != kRegSuccess) return error;
  *result = NewHandle(found);
  return kRegSuccess;
}

uint32_t MemoryRegistry::Open(HKey key, std::u16string_view subKey, uint32_t options, uint32_t sam,
                              Key** found) {
  Key* base = nullptr;
  const uint32_t error = Resolve(key, &base);
  if (error != kRegSuccess) return error;
  if (key == kHkeyClassesRoot) {
    while (!subKey.empty() && subKey[0] == u'\\') subKey.remove_prefix(1);
  }
  bool created = false;
  return Walk(base, subKey, View32(sam), false, options, found, &created);
}

uint32_t MemoryRegistry::RegQueryValueBelow(HKey key, std::u16string_view subKey, uint32_t sam,
                                            std::u16string_view valueName, uint32_t* type,
                                            uint8_t* data, uint32_t* dataBytes) {
  // The checks of the open, then of the read, in that order.
  if ((sam & kKeyWow64Res) == kKeyWow64Res) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = nullptr;
  const uint32_t error = Open(key, subKey, 0, sam, &found);
  if (error != kRegSuccess) return error;
  if (data != nullptr && dataBytes == nullptr) return kRegInvalidParameter;
  const int at = found->FindValue(valueName);
  if (at < 0) return kRegFileNotFound;
  return CopyData(found->values[static_cast<size_t>(at)], type, data, dataBytes);
}

uint32_t MemoryRegistry::RegCreateKeyExW(HKey key, std::u16string_view subKey, uint32_t options,
                                         uint32_t sam, HKey* result, uint32_t* disposition) {
  if (result == nullptr || (sam & kKeyWow64Res) == kKeyWow64Res) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* base = nullptr;
  uint32_t error = Resolve(key, &base);
  if (error != kRegSuccess) return error;
  Key* found = nullptr;
  bool created = false;
  error = Walk(base, subKey, View32(sam), true, options, &found, &created);
  if (error != kRegSuccess) return error;
  if (disposition != nullptr) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  *result = NewHandle(found);
  return kRegSuccess;
}

uint32_t MemoryRegistry::RegCloseKey(HKey key) {
  if (IsPredefinedKey(key)) return kRegSuccess;
  std::lock_guard<std::mutex> lock(mutex_);
  const uintptr_t raw = static_cast<uintptr_t>(key);
  if (raw == 0 || raw % 4 != 0) return kRegInvalidHandle;
  const size_t index = raw / 4 - 1;
  if (index >= slots_.size() || !slots_[index].used) return kRegInvalidHandle;
  slots_[index] = Slot{};
  freeSlots_.push_back(static_cast<uint32_t>(index));
  return kRegSuccess;
}

uint32_t MemoryRegistry::RegEnumKeyW(HKey key, uint32_t index, char16_t* name, uint32_t nameChars) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  const uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  if (index >= k->children.size()) return kRegNoMoreItems;
  const std::u16string_view childName = k->children[index]->name;
  if (name == nullptr || childName.size() >= nameChars) return kRegMoreData;
  std::memcpy(name, childName.data(), childName.size() * 2);
  name[childName.size()] = 0;
  return kRegSuccess;
}

uint32_t MemoryRegistry::RegEnumValueW(HKey key, uint32_t index, char16_t* name,
                                       uint32_t* nameChars, uint32_t* type, uint8_t* data,
                                       uint32_t* dataBytes) {
  if (name == nullptr || nameChars == nullptr) return kRegInvalidParameter;
  if (data != nullptr && dataBytes == nullptr) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  const uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  if (index >= k->ValueCount()) return kRegNoMoreItems;
  const Value& value = k->ValueAt(index);
  if (value.name().size() >= *nameChars) {
    if (type != nullptr) *type = value.type();
    if (dataBytes != nullptr) *dataBytes = value.size();
    return kRegMoreData;
  }
  if (!value.name().empty()) std::memcpy(name, value.name().data(), value.name().size() * 2);
  name[value.name().size()] = 0;
  *nameChars = static_cast<uint32_t>(value.name().size());
  return CopyData(value, type, data, dataBytes);
}

uint32_t MemoryRegistry::RegQueryValueExW(HKey key, std::u16string_view valueName, uint32_t* type,
                                          uint8_t* data, uint32_t* dataBytes) {
  if (data != nullptr && dataBytes == nullptr) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  const uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  const int at = k->FindValue(valueName);
  if (at < 0) return kRegFileNotFound;
  return CopyData(k->values[static_cast<size_t>(at)], type, data, dataBytes);
}

uint32_t MemoryRegistry::RegQueryInfoKeyW(HKey key, RegKeyInfo* info) {
  if (info == nullptr) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  const uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  RegKeyInfo out;
  out.subKeys = static_cast<uint32_t>(k->children.size());
  for (const auto& child : k->children) {
    out.maxSubKeyLen = std::max(out.maxSubKeyLen, static_cast<uint32_t>(child->name.size()));
    if (child->className) {
      out.maxClassLen = std::max(out.maxClassLen, static_cast<uint32_t>(child->className->size()));
    }
  }
  out.values = static_cast<uint32_t>(k->ValueCount());
  for (const Value& value : k->values) {
    if (value.erased()) continue;
    out.maxValueNameLen = std::max(out.maxValueNameLen, static_cast<uint32_t>(value.name().size()));
    out.maxValueLen = std::max(out.maxValueLen, value.size());
  }
  out.classLen = k->className ? static_cast<uint32_t>(k->className->size()) : 0;
  out.lastWriteTime = k->modified;
  *info = out;
  return kRegSuccess;
}

uint32_t MemoryRegistry::RegQueryKeyCounts(HKey key, uint32_t* subKeys, uint32_t* values) {
  if (subKeys == nullptr || values == nullptr) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  const uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  *subKeys = static_cast<uint32_t>(k->children.size());
  *values = static_cast<uint32_t>(k->ValueCount());
  return kRegSuccess;
}

uint32_t MemoryRegistry::RegSetValueExW(HKey key, std::u16string_view valueName, uint32_t type,
                                        const uint8_t* data, uint32_t dataBytes) {
  if (data == nullptr && dataBytes != 0) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  if ((k->flags & kKeyLink) && (type != kRegLink || !NamesEqual(valueName, kSymbolicLinkValue))) {
    return kRegAccessDenied;
  }
  error = Writable(k);
  if (error != kRegSuccess) return error;
  NewGeneration();  // a link's target may have changed
  if (SetValue(k, valueName, type, data, dataBytes, Now())) {
    Record(k, Change::kSetValue, valueName, type, data, dataBytes);
  }
  return kRegSuccess;
}

uint32_t MemoryRegistry::DeleteKey(HKey key, std::u16string_view subKey, uint32_t sam, bool link) {
  if ((sam & kKeyWow64Res) == kKeyWow64Res) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* base = nullptr;
  uint32_t error = Resolve(key, &base);
  if (error != kRegSuccess) return error;
  Key* target = nullptr;
  bool created = false;
  error = Walk(base, subKey, View32(sam), false, link ? kOptionOpenLink : 0, &target, &created);
  if (error != kRegSuccess) return error;
  if (link && !(target->flags & kKeyLink)) return kRegInvalidParameter;
  if (target->parent == nullptr || (target->flags & kKeyHiveRoot) || HiveOf(target) < 0 ||
      !target->children.empty()) {
    return kRegAccessDenied;
  }
  error = Writable(target);
  if (error != kRegSuccess) return error;
  Record(target, Change::kDeleteKey);
  ForgetHandlesTo(target);
  NewGeneration();
  Key* parent = target->parent;
  size_t at = 0;
  parent->FindChild(target->name, &at);
  EraseChild(parent, at, Now());
  return kRegSuccess;
}

uint32_t MemoryRegistry::RegDeleteKeyW(HKey key, std::u16string_view subKey) {
  return DeleteKey(key, subKey, 0, false);
}

uint32_t MemoryRegistry::RegDeleteKeyExW(HKey key, std::u16string_view subKey, uint32_t sam) {
  return DeleteKey(key, subKey, sam, false);
}

uint32_t MemoryRegistry::RegDeleteLinkKey(HKey key, std::u16string_view subKey, uint32_t sam) {
  return DeleteKey(key, subKey, sam, true);
}

uint32_t MemoryRegistry::RegDeleteValueW(HKey key, std::u16string_view valueName) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  const int at = k->FindValue(valueName);
  if (at < 0) return kRegFileNotFound;
  error = Writable(k);
  if (error != kRegSuccess) return error;
  k->EraseValue(static_cast<size_t>(at));
  k->Touch(Now());
  NewGeneration();
  Record(k, Change::kDeleteValue, valueName);
  return kRegSuccess;
}

// As with Wine's server, flushing a key saves nothing by itself: each
// changed hive is saved once, by Flush() at the end of the run (or when the
// registry is released), not once per value a caller flushes.
uint32_t MemoryRegistry::RegFlushKey(HKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  return Resolve(key, &k);
}

uint32_t MemoryRegistry::RegQueryReflectionKey(HKey key, bool* disabled) {
  if (disabled == nullptr) return kRegInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  const uint32_t error = Resolve(key, &k);
  if (error != kRegSuccess) return error;
  *disabled = true;  // there is no reflection to enable
  return kRegSuccess;
}

uint32_t MemoryRegistry::RegDisableReflectionKey(HKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* k = nullptr;
  return Resolve(key, &k);
}

uint32_t MemoryRegistry::SfcIsKeyProtected(HKey /*root*/, std::u16string_view /*subKey*/,
                                           uint32_t /*sam*/) {
  return 0;
}

uint32_t MemoryRegistry::Flush(std::u16string* failedStore) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t result = kRegSuccess;
  for (int hive = 0; hive < kHiveCount; ++hive) {
    const uint32_t error = SaveHive(static_cast<HiveId>(hive));
    if (result == kRegSuccess && error != kRegSuccess) {
      result = error;
      if (failedStore != nullptr) *failedStore = StoreName(static_cast<HiveId>(hive));
    }
  }
  return result;
}

std::u16string MemoryRegistry::StoreName(HiveId hive) {
  static const char16_t* const kNames[kHiveCount] = {u"HKEY_LOCAL_MACHINE", u"HKEY_USERS\\.Default",
                                                     u"HKEY_CURRENT_USER"};
  return kNames[hive];
}

void MemoryRegistry::KeepArena(HiveId hive, std::unique_ptr<TreeArena> arena) {
  NewGeneration();
  arenas_[hive].push_back(std::move(arena));
}

void MemoryRegistry::ReplaceHive(HiveId hive, std::unique_ptr<Key> fresh,
                                 std::unique_ptr<TreeArena> arena) {
  NewGeneration();
  Key* root = hives_[hive];
  struct Moved {
    size_t slot;
    std::u16string path;
  };
  std::vector<Moved> moved;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].used && !slots_[i].deleted && slots_[i].key != root &&
        HiveOf(slots_[i].key) == hive) {
      moved.push_back({i, PathBelow(slots_[i].key, root)});
    }
  }
  root->children = std::move(fresh->children);
  for (auto& child : root->children) child->parent = root;
  root->values = std::move(fresh->values);
  root->valueIndex = std::move(fresh->valueIndex);
  root->className = std::move(fresh->className);
  root->modified = fresh->modified;
  root->spanOffset = fresh->spanOffset;
  root->spanLength = fresh->spanLength;
  const uint16_t kept = kKeyHiveRoot | kKeyUnloaded | kKeyReadOnly;
  root->flags = static_cast<uint16_t>((root->flags & kept) | (fresh->flags & ~kept));
  for (const Moved& m : moved) {
    Key* key = FindPath(root, m.path);
    slots_[m.slot].key = key;
    slots_[m.slot].deleted = key == nullptr;
  }
  // Nothing of the old tree is left: its arenas can go.
  arenas_[hive].clear();
  if (arena) arenas_[hive].push_back(std::move(arena));
}

}  // namespace platform::memory
