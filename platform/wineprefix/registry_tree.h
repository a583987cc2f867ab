// The key tree of the in-memory registry: keys with subkeys kept sorted the
// way Wine keeps them, values in insertion order, names compared without
// regard to case and kept as written. Pure code; not thread-safe (the owner
// locks).
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/case_fold.h"

namespace platform::memory {

// Names fold with platform::FoldCase, as Wine's registry compares them.
using platform::FoldCase;
// Wine's order of names: folded units first, then the shorter name first.
// Negative, zero or positive.
int CompareNames(std::u16string_view a, std::u16string_view b);
inline bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

// Memory for the keys and values of a tree read from a hive file, handed out
// from large blocks and given back all at once when the arena goes (after
// the tree: a key or value freed on its own leaves its room in the arena).
// Reading a hive makes one allocation per key and per value; from blocks
// this large the system maps the memory in far fewer, larger pages.
class TreeArena {
 public:
  // Where blocks come from; the default takes them from the heap. Blocks
  // start small (a small hive stays small) and double up to maxBlockBytes.
  struct BlockSource {
    void* (*allocate)(size_t bytes);  // null when there is no memory
    void (*release)(void* block, size_t bytes);
    size_t maxBlockBytes;
  };
  static BlockSource HeapBlocks();

  explicit TreeArena(BlockSource source = HeapBlocks());
  ~TreeArena();
  TreeArena(const TreeArena&) = delete;
  TreeArena& operator=(const TreeArena&) = delete;

  // bytes, aligned for any key or value; throws std::bad_alloc.
  void* Allocate(size_t bytes);
  // Room for a list, and its return when the list has grown: lists double,
  // so the room one leaves is handed out again to the next list of that size.
  void* AllocateList(size_t bytes);
  void RecycleList(void* room, size_t bytes);

 private:
  // Free lists of room for lists of 8 << k bytes.
  static constexpr size_t kListSizes = 20;
  static size_t ListSize(size_t bytes);  // its k, or kListSizes

  struct Block {
    char* start;
    size_t bytes;
  };
  BlockSource source_;
  std::vector<Block> blocks_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  void* freeLists_[kListSizes] = {};
};

// Hands out the memory of a key's child and value lists: from the tree's
// arena for a key read from a hive (given back with the arena; a list that
// grows leaves its old room there), else from the heap.
template <typename T>
struct ArenaAllocator {
  using value_type = T;
  using propagate_on_container_copy_assignment = std::true_type;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;

  ArenaAllocator() = default;
  explicit ArenaAllocator(TreeArena* from) : arena(from) {}
  template <typename U>
  ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena) {}

  T* allocate(size_t n) {
    if (arena == nullptr) return std::allocator<T>().allocate(n);
    return static_cast<T*>(arena->AllocateList(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) {
    if (arena == nullptr) {
      std::allocator<T>().deallocate(p, n);
    } else {
      arena->RecycleList(p, n * sizeof(T));
    }
  }
  template <typename U>
  bool operator==(const ArenaAllocator<U>& other) const {
    return arena == other.arena;
  }

  TreeArena* arena = nullptr;
};

// A key's name, in the tree's arena for a key read from a hive, else owned.
// Reads as a std::u16string_view.
class KeyName {
 public:
  KeyName() = default;
  KeyName(const KeyName& other) { Assign(other, nullptr); }
  KeyName& operator=(const KeyName& other) {
    if (this != &other) Assign(other, nullptr);
    return *this;
  }
  KeyName& operator=(std::u16string_view text) {
    Assign(text, nullptr);
    return *this;
  }
  ~KeyName() { Release(); }

  // A copy of text, in arena when one is given.
  void Assign(std::u16string_view text, TreeArena* arena);
  operator std::u16string_view() const { return {data_, size_}; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  friend bool operator==(const KeyName& a, std::u16string_view b) {
    return std::u16string_view(a) == b;
  }

 private:
  void Release();
  const char16_t* data_ = u"";
  uint32_t size_ = 0;
  bool owned_ = false;
};

// FILETIME of 1970-01-01, and the conversions Wine's key lines use.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;
constexpr uint64_t kFileTimeTicksPerSecond = 10000000ull;

// One value: name, type and raw data in one allocation (from the arena when
// one is given).
class Value {
 public:
  Value(std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size,
        TreeArena* arena = nullptr);
  Value(Value&& other) noexcept : storage_(other.storage_) { other.storage_ = 0; }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      Release();
      storage_ = other.storage_;
      other.storage_ = 0;
    }
    return *this;
  }
  ~Value() { Release(); }

  std::u16string_view name() const;
  uint32_t type() const;
  uint32_t size() const;
  const uint8_t* data() const;
  bool Same(uint32_t type, const uint8_t* data, uint32_t size) const;
  // An erased value keeps its name (a key's sorted index still finds it)
  // until its key settles its list.
  bool erased() const;
  void MarkErased();
  bool inArena() const { return (storage_ & kInArena) != 0; }

 private:
  // Kept in the address's low bit, so that freeing a value never reads it.
  static constexpr uintptr_t kInArena = 1;
  static constexpr uint32_t kErased = 2;
  struct Header {
    uint32_t nameLength;
    uint32_t type;
    uint32_t size;
    uint32_t flags;  // kErased
  };
  char* raw() const { return reinterpret_cast<char*>(storage_ & ~kInArena); }
  const Header& header() const { return *reinterpret_cast<const Header*>(raw()); }
  void Release();
  // The address of the Header, then the name units, then the data; kInArena.
  uintptr_t storage_;
};

// Key flags.
constexpr uint16_t kKeyVolatile = 0x0001;   // never saved
constexpr uint16_t kKeyLink = 0x0002;       // symbolic link: SymbolicLinkValue names the target
constexpr uint16_t kKeyDirty = 0x0004;      // changed since the hive was read or written
constexpr uint16_t kKeyWowShare = 0x0008;   // Software\Classes\Wow6432Node: falls back to Classes
constexpr uint16_t kKeyHasWow = 0x0010;     // has a Wow6432Node child (and is not one)
constexpr uint16_t kKeyHiveRoot = 0x0020;   // the root of a hive file
constexpr uint16_t kKeyUnloaded = 0x0040;   // hive root whose file was not read yet
constexpr uint16_t kKeyReadOnly = 0x0080;   // hive root: writes are refused
constexpr uint16_t kKeyInArena = 0x0100;    // made in a TreeArena: deleting frees nothing
constexpr uint16_t kKeyHeapParts = 0x0200;  // it or a key below holds memory from the heap

struct Key;
// Deletes a subkey: one made in an arena (kKeyInArena) is only destroyed, its
// room goes with the arena; one whose whole branch lies in the arena (no
// kKeyHeapParts) is left to the arena untouched, so that freeing a tree read
// from a hive does not walk every key.
struct KeyDeleter {
  void operator()(Key* key) const;
};
using KeyPtr = std::unique_ptr<Key, KeyDeleter>;

struct Key {
  Key() = default;
  // A key whose name and lists take their room from arena.
  explicit Key(TreeArena* arena)
      : children(ArenaAllocator<KeyPtr>(arena)), values(ArenaAllocator<Value>(arena)) {}

  Key* parent = nullptr;
  KeyName name;
  std::vector<KeyPtr, ArenaAllocator<KeyPtr>> children;  // sorted by CompareNames
  std::vector<Value, ArenaAllocator<Value>> values;      // insertion order
  // Kept once a key has many values: their positions sorted by name, and the
  // values marked erased and still in the list (how many, the first one's
  // position).
  struct ValueIndex {
    std::vector<uint32_t> sorted;
    uint32_t erased = 0;
    uint32_t firstErased = UINT32_MAX;
  };
  std::unique_ptr<ValueIndex> valueIndex;
  std::unique_ptr<std::u16string> className;
  uint64_t modified = 0;    // FILETIME
  uint64_t spanOffset = 0;  // the key's block in the hive file as last read or written
  uint32_t spanLength = 0;  // 0: the key has no block there
  uint16_t flags = 0;
  uint8_t hive = 0;  // for hive roots: which hive

  // The child named name, or null; *insertAt receives where it would go.
  Key* FindChild(std::u16string_view childName, size_t* insertAt = nullptr) const;
  // Inserts a new child at insertAt (from FindChild), made in arena when one
  // is given; the caller touches.
  Key* InsertChild(std::u16string_view childName, size_t insertAt, TreeArena* arena = nullptr);
  // The position of a value, or -1.
  int FindValue(std::u16string_view valueName) const;
  // Appends a value known not to exist.
  void AppendValue(Value value);
  // A key with a sorted index only marks the value erased: taking it out of
  // the list at once moved every later value and index entry, which made
  // deleting most of a key's values quadratic. The erased values leave
  // together, once the list is read at or beyond the first of them.
  void EraseValue(size_t index);
  void SettleValues();
  size_t ValueCount() const { return values.size() - (valueIndex ? valueIndex->erased : 0); }
  // The value at position, counting live values only.
  const Value& ValueAt(size_t position) {
    if (valueIndex && position >= valueIndex->firstErased) SettleValues();
    return values[position];
  }
  // Notes, on the key and its parents, that the key holds memory from the
  // heap (a class name, a value index, a value, a subkey made on the heap).
  void HoldsHeap() {
    for (Key* k = this; k != nullptr && !(k->flags & kKeyHeapParts); k = k->parent)
      k->flags |= kKeyHeapParts;
  }
  // Marks the key changed at time now.
  void Touch(uint64_t now) {
    modified = now;
    flags |= kKeyDirty;
  }
  // Whether Wine writes a block for this key.
  bool NeedsBlock() const {
    return ValueCount() != 0 || children.empty() || className || (flags & kKeyLink);
  }
};

// Path of key below base, names joined with backslashes ("" for base itself).
std::u16string PathBelow(const Key* key, const Key* base);
// The child path below base, by exact names (no views, no links); null if absent.
Key* FindPath(Key* base, std::u16string_view path);
// Removes child number index of parent (which must have no children itself).
void EraseChild(Key* parent, size_t index, uint64_t now);
// Creates key path below base (every missing key), touching parents of new
// keys. Returns the key.
Key* CreatePath(Key* base, std::u16string_view path, uint64_t now);
// Sets a value; returns false (and changes nothing) when it was the same.
bool SetValue(Key* key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size,
              uint64_t now);

// A change made to a hive, kept so that it can be made again on a newer copy
// of the hive file read back from disk.
struct Change {
  enum Kind : uint8_t { kCreateKey, kSetValue, kDeleteValue, kDeleteKey };
  Kind kind = kCreateKey;
  // kSetValue: the value's type; kCreateKey: kLinkKey for a symbolic link.
  uint32_t type = 0;
  static constexpr uint32_t kLinkKey = 1;
  std::u16string path;  // below the hive root
  std::u16string name;
  std::string data;
};
// Makes a change on the hive below root. A key deletion is skipped when the
// key has subkeys by now.
void ApplyChange(Key* root, const Change& change, uint64_t now);

}  // namespace platform::memory
