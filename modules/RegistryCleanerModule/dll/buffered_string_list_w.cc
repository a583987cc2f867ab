#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "platform/system_text.h"

namespace {

constexpr char kMagic[4] = {'S', 'L', 'W', '1'};
constexpr int kOpenAttempts = 100;
constexpr uint32_t kOpenPauseMs = 10;
constexpr size_t kMinChars = 4096;
constexpr size_t kUnitsPerSlot = 128;
constexpr size_t kMinSlots = 16;

// Length up to the first zero unit.
std::u16string_view UpToZero(std::u16string_view text) {
  const size_t zero = text.find(u'\0');
  return zero == std::u16string_view::npos ? text : text.substr(0, zero);
}

// A lower-cased copy of a text, on the stack when it is short.
class LowerCopy {
 public:
  LowerCopy(const char16_t* text, size_t length) : length_(length) {
    data_ = length <= sizeof(local_) / sizeof(local_[0]) ? local_
                                                         : (heap_.resize(length), heap_.data());
    std::copy(text, text + length, data_);
    platform::CharLowerBuffer(data_, length);
  }
  const char16_t* data() const { return data_; }
  size_t size() const { return length_; }

 private:
  char16_t local_[256];
  std::u16string heap_;
  char16_t* data_;
  size_t length_;
};

uint32_t PjwHash(const char16_t* lowered, size_t length) {
  uint32_t h = 0;
  for (size_t i = 0; i <= length; ++i) {  // the terminator counts too
    h = (h << 4) + (i < length ? lowered[i] : 0u);
    const uint32_t top = h & 0xF0000000u;
    if (top != 0) h = (h ^ (top >> 24)) & ~top;
  }
  return h & 0x7FFFFFFFu;
}

// "?" in the pattern matches one unit, "*" any run; other units compare
// through the case-folding table.
bool WildcardMatch(const char16_t* pattern, size_t patternLength, const char16_t* text,
                   size_t textLength) {
  size_t p = 0, t = 0;
  size_t starP = std::u16string_view::npos, starT = 0;
  while (t < textLength) {
    if (p < patternLength && pattern[p] == u'*') {
      starP = p++;
      starT = t;
    } else if (p < patternLength &&
               (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(text[t]))) {
      ++p;
      ++t;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < patternLength && pattern[p] == u'*') ++p;
  return p == patternLength;
}

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetU32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

BufferedStringListW::BufferedStringListW(const char* name, uint32_t capacityHint,
                                         platform::FileSystem* fs, platform::System* system)
    : hint_(capacityHint == 0 ? 1 : capacityHint), fs_(fs), system_(system) {
  if (name == nullptr || *name == 0) throw std::invalid_argument("list without a name");
  name_.assign(name, std::min<size_t>(std::strlen(name), 63));
  items_.reserve(hint_);
  older_.reserve(hint_);
  chars_.reserve(std::max(kMinChars, static_cast<size_t>(hint_) * kUnitsPerSlot));
  slots_.assign(kMinSlots, Slot{});
}

BufferedStringListW::~BufferedStringListW() = default;

uint32_t BufferedStringListW::Hash(std::u16string_view text) {
  text = UpToZero(text);
  const LowerCopy lowered(text.data(), text.size());
  return PjwHash(lowered.data(), lowered.size());
}

void BufferedStringListW::ReserveItems(size_t count) {
  const size_t capacity = items_.capacity();
  if (count <= capacity) return;
  // Grows by the capacity hint, or by half when that is more, so that a
  // large list is not copied over and over.
  const size_t grown = std::max({count, capacity + hint_, capacity + capacity / 2});
  items_.reserve(grown);
  older_.reserve(grown);
}

void BufferedStringListW::ReserveChars(size_t units) {
  const size_t capacity = chars_.capacity();
  if (units <= capacity) return;
  size_t step = static_cast<size_t>(hint_) * kUnitsPerSlot;
  const size_t needed = units - chars_.size();
  if (needed >= step) step = kUnitsPerSlot * needed;
  chars_.reserve(std::max({units, capacity + step, capacity + capacity / 2}));
}

size_t BufferedStringListW::SlotOf(uint32_t hash) const {
  // Open addressing by hash value; the table is never more than half full.
  const size_t mask = slots_.size() - 1;
  size_t slot = (hash * 0x9E3779B1u) & mask;
  while (slots_[slot].used) {
    if (slots_[slot].hash == hash) return slot;
    slot = (slot + 1) & mask;
  }
  return slot;
}

void BufferedStringListW::Link(int32_t index) {
  const uint32_t hash = items_[index].hash;
  Slot& slot = slots_[SlotOf(hash)];
  if (!slot.used) ++usedSlots_;
  slot.hash = hash;
  slot.used = true;
  // Keeps each chain ordered from the newest item to the oldest.
  int32_t* link = &slot.newest;
  while (*link > index) link = &older_[*link];
  older_[index] = *link;
  *link = index;
}

void BufferedStringListW::Unlink(int32_t index) {
  Slot& slot = slots_[SlotOf(items_[index].hash)];
  int32_t* link = &slot.newest;
  while (*link != index && *link >= 0) link = &older_[*link];
  if (*link == index) *link = older_[index];
}

void BufferedStringListW::RebuildIndex() {
  size_t size = kMinSlots;
  while (size < 2 * items_.size() + 2) size *= 2;
  slots_.assign(size, Slot{});
  usedSlots_ = 0;
  older_.resize(items_.size());
  for (size_t i = 0; i < items_.size(); ++i) Link(static_cast<int32_t>(i));
}

uint32_t BufferedStringListW::Add(std::u16string_view text, uint32_t tag) {
  text = UpToZero(text);
  if (text.empty()) return 0;
  const uint32_t length = static_cast<uint32_t>(text.size() + 1);
  ReserveItems(items_.size() + 1);
  ReserveChars(chars_.size() + length);
  const uint32_t offset = static_cast<uint32_t>(chars_.size());
  chars_.insert(chars_.end(), text.begin(), text.end());
  chars_.push_back(0);
  items_.push_back(Item{length, Hash(text), tag, offset});
  older_.push_back(-1);
  Link(static_cast<int32_t>(items_.size() - 1));
  if (2 * std::max(items_.size(), usedSlots_) + 2 > slots_.size()) RebuildIndex();
  ++changes_;
  return length;
}

int32_t BufferedStringListW::Find(std::u16string_view text) const {
  text = UpToZero(text);
  if (text.empty() || items_.empty()) return -1;
  const LowerCopy query(text.data(), text.size());
  const uint32_t hash = PjwHash(query.data(), query.size());
  const Slot& slot = slots_[SlotOf(hash)];
  if (slot.hash != hash) return -1;
  for (int32_t i = slot.newest; i >= 0; i = older_[i]) {
    const Item& item = items_[i];
    if (item.length != query.size() + 1) continue;
    const LowerCopy candidate(TextOf(i), query.size());
    if (std::equal(query.data(), query.data() + query.size(), candidate.data())) return i;
  }
  return -1;
}

int32_t BufferedStringListW::FindSameLength(std::u16string_view text) const {
  text = UpToZero(text);
  for (size_t i = items_.size(); i-- > 0;) {
    if (items_[i].length != text.size() + 1) continue;
    if (WildcardMatch(TextOf(i), text.size(), text.data(), text.size()))
      return static_cast<int32_t>(i);
  }
  return -1;
}

const char16_t* BufferedStringListW::At(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return TextOf(index);
}

uint32_t BufferedStringListW::TagAt(int32_t index) const {
  return (index < 0 || index >= Count()) ? 0 : items_[index].tag;
}

uint32_t BufferedStringListW::LengthAt(int32_t index) const {
  return (index < 0 || index >= Count()) ? 0 : items_[index].length;
}

bool BufferedStringListW::Remove(int32_t index) {
  if (index < 0 || index >= Count()) return false;
  const Item removed = items_[index];
  chars_.erase(chars_.begin() + removed.offset, chars_.begin() + removed.offset + removed.length);
  items_.erase(items_.begin() + index);
  for (size_t i = index; i < items_.size(); ++i) items_[i].offset -= removed.length;
  RebuildIndex();
  ++changes_;
  return true;
}

bool BufferedStringListW::Overwrite(int32_t index, std::u16string_view text) {
  if (index < 0 || index >= Count()) return false;
  Item& item = items_[index];
  text = UpToZero(text).substr(0, item.length - 1);
  char16_t* target = chars_.data() + item.offset;
  std::copy(text.begin(), text.end(), target);
  std::fill(target + text.size(), target + item.length, u'\0');
  Unlink(index);
  item.hash = Hash(text);
  Link(index);
  // Slots of hashes no item has any more stay taken until the next rebuild.
  if (2 * usedSlots_ + 2 > slots_.size()) RebuildIndex();
  return true;
}

platform::FileHandle BufferedStringListW::OpenWithRetry(std::u16string_view file, uint32_t access,
                                                        uint32_t disposition) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0) system_->Sleep(kOpenPauseMs);
    platform::FileHandle handle = fs_->CreateFile(file, access, 0, disposition);
    if (handle != nullptr) return handle;
    const uint32_t error = fs_->GetLastError();
    // A missing folder never appears by waiting; neither does a missing file
    // that is only to be read.
    if (error == platform::kErrorPathNotFound) return nullptr;
    if (error == platform::kErrorFileNotFound && disposition == platform::kOpenExisting)
      return nullptr;
  }
  return nullptr;
}

uint32_t BufferedStringListW::Load(std::u16string_view file, bool merge) {
  const bool unchanged = changes_ == 0;
  platform::FileHandle handle =
      OpenWithRetry(file, platform::kGenericRead, platform::kOpenExisting);
  if (handle == nullptr) return 0;
  auto readExactly = [&](void* buffer, uint32_t size) {
    uint32_t done = 0;
    while (done < size) {
      uint32_t got = 0;
      if (!fs_->ReadFile(handle, static_cast<char*>(buffer) + done, size - done, &got) || got == 0)
        return false;
      done += got;
    }
    return true;
  };
  uint32_t added = 0;
  unsigned char head[8];
  if (readExactly(head, sizeof(head)) && std::memcmp(head, kMagic, 4) == 0) {
    uint64_t lastWrite = 0;
    if (fs_->GetFileTime(handle, &lastWrite)) fileTime_ = lastWrite;
    const uint32_t count = GetU32(head + 4);
    std::vector<unsigned char> bytes;
    std::u16string text;
    bool skipPair = false;
    for (uint32_t k = 0; k < count; ++k) {
      unsigned char itemHead[8];
      if (!readExactly(itemHead, sizeof(itemHead))) break;
      const uint32_t length = GetU32(itemHead);
      const uint32_t tag = GetU32(itemHead + 4);
      if (length >= kMaxFileItemLength) {
        // Too long to be one of ours: step over it.
        if (fs_->SetFilePointer(handle, static_cast<int64_t>(length) * 2, platform::kFileCurrent) <
            0)
          break;
        continue;
      }
      bytes.resize(static_cast<size_t>(length) * 2);
      if (length > 0 && !readExactly(bytes.data(), length * 2)) break;
      // The last unit is the terminator, whatever the file holds there.
      text.resize(length > 0 ? length - 1 : 0);
      for (uint32_t u = 0; u + 1 < length; ++u)
        text[u] = static_cast<char16_t>(bytes[2 * u] | (bytes[2 * u + 1] << 8));
      if (merge) {
        if (k % 2 == 0) skipPair = Find(text) >= 0;
        if (skipPair) continue;
      }
      if (Add(text, tag) > 0) ++added;
    }
  }
  fs_->CloseHandle(handle);
  if (unchanged) changes_ = 0;
  return added;
}

uint64_t BufferedStringListW::FileTimeOf(std::u16string_view file) {
  platform::FileHandle handle = fs_->CreateFile(
      file, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kOpenExisting);
  if (handle == nullptr) return 0;
  uint64_t lastWrite = 0;
  if (!fs_->GetFileTime(handle, &lastWrite)) lastWrite = 0;
  fs_->CloseHandle(handle);
  return lastWrite;
}

uint32_t BufferedStringListW::Save(std::u16string_view file) {
  if (items_.empty()) return 0;
  if (changes_ == 0) return static_cast<uint32_t>(items_.size());
  const uint64_t lastWrite = FileTimeOf(file);
  if (lastWrite != 0 && lastWrite != fileTime_) Load(file, true);
  platform::FileHandle handle =
      OpenWithRetry(file, platform::kGenericWrite, platform::kCreateAlways);
  if (handle == nullptr) return 0;
  std::string chunk;
  bool complete = true;
  auto writeOut = [&] {
    uint32_t written = 0;
    if (!fs_->WriteFile(handle, chunk.data(), static_cast<uint32_t>(chunk.size()), &written) ||
        written != chunk.size())
      complete = false;
    chunk.clear();
  };
  chunk.append(kMagic, 4);
  PutU32(&chunk, static_cast<uint32_t>(items_.size()));
  for (size_t i = 0; i < items_.size() && complete; ++i) {
    PutU32(&chunk, items_[i].length);
    PutU32(&chunk, items_[i].tag);
    const char16_t* text = TextOf(i);
    for (uint32_t u = 0; u < items_[i].length; ++u) {
      chunk.push_back(static_cast<char>(text[u] & 0xFF));
      chunk.push_back(static_cast<char>(text[u] >> 8));
    }
    if (chunk.size() >= 65536) writeOut();
  }
  if (complete && !chunk.empty()) writeOut();
  if (!complete) {
    fs_->CloseHandle(handle);
    return 0;
  }
  fs_->FlushFileBuffers(handle);
  fs_->CloseHandle(handle);
  // Read the time back after closing: some file systems set it at the close.
  fileTime_ = FileTimeOf(file);
  return static_cast<uint32_t>(items_.size());
}
