// A list of UTF-16 texts in insertion order, each with a 32-bit tag; the
// engine's black, white and ignore lists. Texts share one growing character
// buffer, each followed by its terminator. Lookups compare a 31-bit hash of
// the lower-cased text before comparing texts, and an index by hash keeps a
// lookup as cheap in a list of a million items as in one of a hundred.
//
// The list is saved to and loaded from "SLW1" files:
//   "SLW1", item count (u32), then per item: length in units including the
//   terminator (u32), tag (u32), the text as UTF-16 LE with its terminator.
// All numbers little-endian.
//
// Thread-safety: none; a list is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/system.h"

class BufferedStringListW {
 public:
  // Items of this many units or more are not read from a file.
  static constexpr uint32_t kMaxFileItemLength = 32768;

  // name: "BlackList", "WhiteList", "IgnoreList" (at most 63 characters are
  // kept); a null or empty name throws std::invalid_argument. capacityHint:
  // the item arrays start with that many slots, the character buffer with
  // 128 units per slot (at least 4096).
  BufferedStringListW(const char* name, uint32_t capacityHint,
                      platform::FileSystem* fs = platform::FileSystem::Default(),
                      platform::System* system = platform::System::Default());
  virtual ~BufferedStringListW();

  BufferedStringListW(const BufferedStringListW&) = delete;
  BufferedStringListW& operator=(const BufferedStringListW&) = delete;

  // Appends text (up to its first zero unit) with tag; duplicates are kept.
  // Returns the stored length including the terminator, 0 for an empty text.
  uint32_t Add(std::u16string_view text, uint32_t tag);
  // The last item whose text equals text without regard to case (the
  // system's lower-casing), or -1.
  int32_t Find(std::u16string_view text) const;
  // The last item of the same length as text that matches it through the
  // case-folding table, where "?" in the item matches any one unit and "*"
  // any run of units; -1 when none does.
  int32_t FindSameLength(std::u16string_view text) const;
  // The item's text, valid until the list changes; null outside 0..Count-1.
  const char16_t* At(int32_t index) const;
  // The item's tag and stored length (with terminator); 0 outside the list.
  uint32_t TagAt(int32_t index) const;
  uint32_t LengthAt(int32_t index) const;
  // Removes the item and closes the gap. False outside the list.
  bool Remove(int32_t index);
  // Copies text over the item's text in place, cut to the item's length. A
  // shorter text leaves zero units behind it while the item keeps its length
  // (so Find, which compares lengths first, does not find it by the shorter
  // text). Not counted as a change.
  bool Overwrite(int32_t index, std::u16string_view text);

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Adds, removals and touches since construction or since a load into an
  // unchanged list.
  uint32_t ChangeCount() const { return changes_; }
  void Touch() { ++changes_; }
  const std::string& name() const { return name_; }
  // Last-write time (FILETIME) of the file last loaded from or saved to.
  uint64_t fileTime() const { return fileTime_; }

  // Reads an SLW1 file and appends its items; with merge, a text the list
  // already holds is skipped together with the item after it (the ignore
  // list's items come in pairs: a text and its record). Returns the number
  // of items added. A load into an unchanged list leaves it unchanged.
  uint32_t Load(std::u16string_view file, bool merge);
  // Writes the list as an SLW1 file. Returns the items written: 0 when the
  // list is empty or the file cannot be written completely; the item count
  // without writing when nothing changed. A file that another writer
  // changed since this list last read or wrote it is merged in first.
  uint32_t Save(std::u16string_view file);

  // The 31-bit PJW hash of the lower-cased text and its terminator.
  static uint32_t Hash(std::u16string_view text);

 private:
  struct Item {
    uint32_t length;  // units including the terminator
    uint32_t hash;
    uint32_t tag;
    uint32_t offset;  // into chars_
  };

  const char16_t* TextOf(size_t index) const { return chars_.data() + items_[index].offset; }
  void ReserveItems(size_t count);
  void ReserveChars(size_t units);
  // Slot of hash in slots_: the one holding it, or the free one where it goes.
  size_t SlotOf(uint32_t hash) const;
  void Link(int32_t index);
  void Unlink(int32_t index);
  void RebuildIndex();
  // The file's last-write time, 0 when it cannot be read.
  uint64_t FileTimeOf(std::u16string_view file);
  platform::FileHandle OpenWithRetry(std::u16string_view file, uint32_t access,
                                     uint32_t disposition);

  std::string name_;
  uint32_t hint_;
  platform::FileSystem* fs_;
  platform::System* system_;
  std::vector<Item> items_;
  std::vector<char16_t> chars_;
  // Index by hash: per hash value the newest item with it, and per item the
  // next older item with the same hash, so a walk meets items from last to
  // first, as a backward search would.
  struct Slot {
    uint32_t hash = 0;
    int32_t newest = -1;
    bool used = false;  // stays set when its items go, so probing passes it
  };
  std::vector<Slot> slots_;
  size_t usedSlots_ = 0;
  std::vector<int32_t> older_;
  uint32_t changes_ = 0;
  uint64_t fileTime_ = 0;
};
