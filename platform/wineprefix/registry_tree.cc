#include "platform/wineprefix/registry_tree.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::memory {
namespace {

// Keys with more values than this keep a sorted index of them.
constexpr size_t kIndexThreshold = 12;

constexpr std::u16string_view kWow6432Node = u"Wow6432Node";

bool IsWowName(std::u16string_view name) { return NamesEqual(name, kWow6432Node); }

}  // namespace

// CompareNames, made in line where a search calls it many times.
[[gnu::always_inline]] inline int CompareNamesInLine(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  // Names in one key mostly share a long beginning: skip it four units at a time.
  size_t i = 0;
  for (uint64_t x, y; i + 4 <= n; i += 4) {
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) {
      static_assert(std::endian::native == std::endian::little, "the first unit is the low one");
      i += static_cast<size_t>(std::countr_zero(x ^ y)) / 16;  // the first unit that differs
      break;
    }
  }
  for (; i < n; ++i) {
    const char16_t x = a[i], y = b[i];
    if (x == y) continue;
    const int d = static_cast<int>(FoldCase(x)) - static_cast<int>(FoldCase(y));
    if (d != 0) return d;
  }
  return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

int CompareNames(std::u16string_view a, std::u16string_view b) { return CompareNamesInLine(a, b); }

TreeArena::BlockSource TreeArena::HeapBlocks() {
  return {[](size_t bytes) -> void* { return ::operator new(bytes, std::nothrow); },
          [](void* block, size_t) { ::operator delete(block); }, 4 << 20};
}

TreeArena::TreeArena(BlockSource source) : source_(source) {}

TreeArena::~TreeArena() {
  for (const Block& block : blocks_) source_.release(block.start, block.bytes);
}

void* TreeArena::Allocate(size_t bytes) {
  // Keys and values hold nothing wider than eight bytes.
  constexpr size_t kAlign = 8;
  bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
  if (static_cast<size_t>(end_ - next_) < bytes) {
    constexpr size_t kFirstBlock = 64 << 10;
    const size_t grown = blocks_.size() < 16 ? kFirstBlock << blocks_.size() : SIZE_MAX;
    const size_t blockBytes = std::max(bytes, std::min(grown, source_.maxBlockBytes));
    blocks_.reserve(blocks_.size() + 1);
    auto* block = static_cast<char*>(source_.allocate(blockBytes));
    if (block == nullptr) throw std::bad_alloc();
    blocks_.push_back({block, blockBytes});
    next_ = block;
    end_ = block + blockBytes;
  }
  void* out = next_;
  next_ += bytes;
  return out;
}

size_t TreeArena::ListSize(size_t bytes) {
  if (bytes < 8 || (bytes & (bytes - 1)) != 0) return kListSizes;
  return std::min(static_cast<size_t>(std::countr_zero(bytes)) - 3, kListSizes);
}

void* TreeArena::AllocateList(size_t bytes) {
  const size_t k = ListSize(bytes);
  if (k < kListSizes && freeLists_[k] != nullptr) {
    void* room = freeLists_[k];
    std::memcpy(&freeLists_[k], room, sizeof(void*));
    return room;
  }
  return Allocate(bytes);
}

void TreeArena::RecycleList(void* room, size_t bytes) {
  const size_t k = ListSize(bytes);
  if (k == kListSizes) return;  // left in the arena
  std::memcpy(room, &freeLists_[k], sizeof(void*));
  freeLists_[k] = room;
}

Value::Value(std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size,
             TreeArena* arena) {
  const size_t bytes = sizeof(Header) + name.size() * 2 + size;
  const size_t words = (bytes + 3) / 4;
  char* raw = arena != nullptr ? static_cast<char*>(arena->Allocate(words * 4))
                               : reinterpret_cast<char*>(new uint32_t[words]);
  storage_ = reinterpret_cast<uintptr_t>(raw) | (arena != nullptr ? kInArena : 0);
  const Header header{static_cast<uint32_t>(name.size()), type, size, 0};
  std::memcpy(raw, &header, sizeof(header));
  if (!name.empty()) std::memcpy(raw + sizeof(Header), name.data(), name.size() * 2);
  if (size != 0) std::memcpy(raw + sizeof(Header) + name.size() * 2, data, size);
}

void Value::Release() {
  if (storage_ != 0 && !(storage_ & kInArena)) delete[] reinterpret_cast<uint32_t*>(raw());
  storage_ = 0;
}

std::u16string_view Value::name() const {
  return {reinterpret_cast<const char16_t*>(raw() + sizeof(Header)), header().nameLength};
}
uint32_t Value::type() const { return header().type; }
uint32_t Value::size() const { return header().size; }
const uint8_t* Value::data() const {
  return reinterpret_cast<const uint8_t*>(raw()) + sizeof(Header) + header().nameLength * 2;
}
bool Value::erased() const { return (header().flags & kErased) != 0; }
void Value::MarkErased() {
  Header& h = *reinterpret_cast<Header*>(raw());
  h.flags |= kErased;
}
bool Value::Same(uint32_t otherType, const uint8_t* otherData, uint32_t otherSize) const {
  return type() == otherType && size() == otherSize &&
         (otherSize == 0 || std::memcmp(data(), otherData, otherSize) == 0);
}

namespace {

// Where the last searches in keys of many children found their names, per
// thread. The scans look names up in about the order a key holds them (an
// extension, then its class, each walked one after the other), so a name
// is mostly at or beside one found a moment ago in that key. Only a hint:
// a name is taken from it when it is the name, else the search is made.
// Plain data: no per-thread object with a destructor in the module.
constexpr size_t kHintedChildren = 64;
struct ChildHint {
  const Key* key;
  size_t at;
};
thread_local ChildHint t_childHints[4];
thread_local size_t t_nextChildHint;

}  // namespace

Key* Key::FindChild(std::u16string_view childName, size_t* insertAt) const {
  size_t lo = 0, hi = children.size();
  // Loading and creating mostly append: try the end first.
  if (hi != 0) {
    const int last = CompareNamesInLine(children[hi - 1]->name, childName);
    if (last < 0) {
      if (insertAt) *insertAt = hi;
      return nullptr;
    }
    if (last == 0) {
      if (insertAt) *insertAt = hi - 1;
      return children[hi - 1].get();
    }
  }
  const bool hinted = insertAt == nullptr && hi >= kHintedChildren;
  if (hinted) {
    for (ChildHint& hint : t_childHints) {
      if (hint.key != this) continue;
      for (const size_t at : {hint.at - 1, hint.at, hint.at + 1}) {  // below 0 wraps past hi
        if (at < hi && children[at]->name.size() == childName.size() &&
            CompareNamesInLine(children[at]->name, childName) == 0) {
          hint.at = at;
          return children[at].get();
        }
      }
    }
  }
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    const int c = CompareNamesInLine(children[mid]->name, childName);
    if (c == 0) {
      if (insertAt) *insertAt = mid;
      if (hinted) t_childHints[t_nextChildHint++ % std::size(t_childHints)] = ChildHint{this, mid};
      return children[mid].get();
    }
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (insertAt) *insertAt = lo;
  return nullptr;
}

void KeyDeleter::operator()(Key* key) const {
  if (!(key->flags & kKeyInArena)) {
    delete key;
  } else if (key->flags & kKeyHeapParts) {
    key->~Key();
  }
}

void KeyName::Assign(std::u16string_view text, TreeArena* arena) {
  char16_t* copy = nullptr;
  if (!text.empty()) {
    copy = arena != nullptr ? static_cast<char16_t*>(arena->Allocate(text.size() * 2))
                            : new char16_t[text.size()];
    std::memcpy(copy, text.data(), text.size() * 2);
  }
  Release();
  data_ = copy != nullptr ? copy : u"";
  size_ = static_cast<uint32_t>(text.size());
  owned_ = copy != nullptr && arena == nullptr;
}

void KeyName::Release() {
  if (owned_) delete[] data_;
  data_ = u"";
  size_ = 0;
  owned_ = false;
}

Key* Key::InsertChild(std::u16string_view childName, size_t insertAt, TreeArena* arena) {
  KeyPtr child(arena != nullptr ? new (arena->Allocate(sizeof(Key))) Key(arena) : new Key);
  if (arena != nullptr) {
    child->flags |= kKeyInArena;
  } else {
    HoldsHeap();
  }
  child->parent = this;
  child->name.Assign(childName, arena);
  Key* raw = child.get();
  children.insert(children.begin() + static_cast<ptrdiff_t>(insertAt), std::move(child));
  if (IsWowName(childName) && !IsWowName(name)) {
    flags |= kKeyHasWow;
    // Wine shares Software\Classes\Wow6432Node with the 64-bit Classes key.
    if (NamesEqual(name, u"Classes") && parent != nullptr &&
        NamesEqual(parent->name, u"Software") && parent->parent != nullptr &&
        (parent->parent->flags & kKeyHiveRoot) && parent->parent->hive == 0) {
      raw->flags |= kKeyWowShare;
    }
  }
  return raw;
}

int Key::FindValue(std::u16string_view valueName) const {
  if (valueIndex) {
    const auto& index = valueIndex->sorted;
    // A hive file lists values in order: a name read from it is mostly new
    // and sorts after every name so far.
    if (!index.empty() && CompareNames(values[index.back()].name(), valueName) < 0) return -1;
    size_t lo = 0, hi = index.size();
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      const int c = CompareNames(values[index[mid]].name(), valueName);
      if (c == 0) return values[index[mid]].erased() ? -1 : static_cast<int>(index[mid]);
      if (c < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return -1;
  }
  for (size_t i = 0; i < values.size(); ++i) {
    if (NamesEqual(values[i].name(), valueName)) return static_cast<int>(i);
  }
  return -1;
}

void Key::AppendValue(Value value) {
  // The index then holds one entry per name.
  SettleValues();
  values.push_back(std::move(value));
  if (!values.back().inArena()) HoldsHeap();
  const uint32_t position = static_cast<uint32_t>(values.size() - 1);
  if (!valueIndex) {
    if (values.size() <= kIndexThreshold) return;
    valueIndex = std::make_unique<ValueIndex>();
    HoldsHeap();
    auto& index = valueIndex->sorted;
    index.reserve(values.size() * 2);
    for (uint32_t i = 0; i < values.size(); ++i) index.push_back(i);
    std::stable_sort(index.begin(), index.end(), [this](uint32_t a, uint32_t b) {
      return CompareNames(values[a].name(), values[b].name()) < 0;
    });
    return;
  }
  auto& index = valueIndex->sorted;
  const std::u16string_view name = values[position].name();
  // Files keep values sorted, so the new one usually goes last.
  auto at = index.end();
  if (!index.empty() && CompareNames(values[index.back()].name(), name) > 0) {
    at = std::lower_bound(index.begin(), index.end(), name,
                          [this](uint32_t a, std::u16string_view n) {
                            return CompareNames(values[a].name(), n) < 0;
                          });
  }
  index.insert(at, position);
}

void Key::EraseValue(size_t position) {
  if (!valueIndex) {
    values.erase(values.begin() + static_cast<ptrdiff_t>(position));
    return;
  }
  values[position].MarkErased();
  ++valueIndex->erased;
  valueIndex->firstErased = std::min(valueIndex->firstErased, static_cast<uint32_t>(position));
}

void Key::SettleValues() {
  if (!valueIndex || valueIndex->erased == 0) return;
  // Where each value goes; UINT32_MAX for an erased one.
  std::vector<uint32_t> moved(values.size());
  size_t kept = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].erased()) {
      moved[i] = UINT32_MAX;
      continue;
    }
    moved[i] = static_cast<uint32_t>(kept);
    if (kept != i) values[kept] = std::move(values[i]);
    ++kept;
  }
  values.erase(values.begin() + static_cast<ptrdiff_t>(kept), values.end());
  valueIndex->erased = 0;
  valueIndex->firstErased = UINT32_MAX;
  if (values.size() <= kIndexThreshold / 2) {
    valueIndex.reset();
    return;
  }
  auto& index = valueIndex->sorted;
  size_t out = 0;
  for (const uint32_t i : index)
    if (moved[i] != UINT32_MAX) index[out++] = moved[i];
  index.resize(out);
}

std::u16string PathBelow(const Key* key, const Key* base) {
  std::vector<const Key*> chain;
  for (const Key* k = key; k != nullptr && k != base; k = k->parent) chain.push_back(k);
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += u'\\';
    path += (*it)->name;
  }
  return path;
}

namespace {

// Calls f(element) for each non-empty element of a backslash-separated path;
// stops early when f returns false.
template <typename F>
void ForEachElement(std::u16string_view path, F f) {
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start && !f(path.substr(start, end - start))) return;
    start = end + 1;
  }
}

}  // namespace

Key* FindPath(Key* base, std::u16string_view path) {
  Key* key = base;
  ForEachElement(path, [&key](std::u16string_view element) {
    key = key->FindChild(element);
    return key != nullptr;
  });
  return key;
}

void EraseChild(Key* parent, size_t index, uint64_t now) {
  if (IsWowName(parent->children[index]->name)) parent->flags &= ~kKeyHasWow;
  parent->children.erase(parent->children.begin() + static_cast<ptrdiff_t>(index));
  parent->Touch(now);
}

Key* CreatePath(Key* base, std::u16string_view path, uint64_t now) {
  Key* key = base;
  ForEachElement(path, [&key, now](std::u16string_view element) {
    size_t at = 0;
    Key* child = key->FindChild(element, &at);
    if (child == nullptr) {
      key->Touch(now);
      child = key->InsertChild(element, at);
      child->Touch(now);
    }
    key = child;
    return true;
  });
  return key;
}

bool SetValue(Key* key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size,
              uint64_t now) {
  const int at = key->FindValue(name);
  if (at >= 0) {
    Value& old = key->values[static_cast<size_t>(at)];
    if (old.Same(type, data, size)) return false;
    // Keep the position and the name as first written.
    old = Value(old.name(), type, data, size);
    key->HoldsHeap();
  } else {
    key->AppendValue(Value(name, type, data, size));
  }
  key->Touch(now);
  return true;
}

void ApplyChange(Key* root, const Change& change, uint64_t now) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(change.data.data());
  switch (change.kind) {
    case Change::kCreateKey: {
      Key* key = CreatePath(root, change.path, now);
      if (change.type == Change::kLinkKey && key != root) key->flags |= kKeyLink;
      break;
    }
    case Change::kSetValue:
      SetValue(CreatePath(root, change.path, now), change.name, change.type, bytes,
               static_cast<uint32_t>(change.data.size()), now);
      break;
    case Change::kDeleteValue:
      if (Key* key = FindPath(root, change.path)) {
        const int at = key->FindValue(change.name);
        if (at >= 0) {
          key->EraseValue(static_cast<size_t>(at));
          key->Touch(now);
        }
      }
      break;
    case Change::kDeleteKey:
      if (Key* key = FindPath(root, change.path);
          key != nullptr && key != root && key->children.empty()) {
        size_t at = 0;
        key->parent->FindChild(key->name, &at);
        EraseChild(key->parent, at, now);
      }
      break;
  }
}

}  // namespace platform::memory
