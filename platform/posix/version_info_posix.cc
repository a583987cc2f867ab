// Finds the version note in an ELF file (32 or 64-bit, little-endian) through
// its section headers.
#include <cstring>

#include "platform/file_system.h"
#include "platform/unicode.h"
#include "platform/version_info.h"

namespace platform {
namespace {

constexpr uint32_t kSectionNote = 7;
constexpr uint64_t kMaxNoteSection = 1 << 20;

class Reader {
 public:
  explicit Reader(std::u16string_view path) : fs_(FileSystem::Default()) {
    file_ = fs_->CreateFile(path, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting);
  }
  ~Reader() {
    if (file_ != nullptr) fs_->CloseHandle(file_);
  }
  bool ok() const { return file_ != nullptr; }
  bool Read(uint64_t offset, size_t size, std::string* bytes) {
    bytes->assign(size, '\0');
    if (fs_->SetFilePointer(file_, static_cast<int64_t>(offset), kFileBegin) < 0) return false;
    uint32_t got = 0;
    return fs_->ReadFile(file_, bytes->data(), static_cast<uint32_t>(size), &got) && got == size;
  }

 private:
  FileSystem* fs_;
  FileHandle file_ = nullptr;
};

uint64_t Le(const std::string& bytes, size_t offset, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;)
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

// Parses the notes of one section; true when the version note was found.
bool ParseNotes(const std::string& notes, const std::vector<std::u16string>& names,
                VersionResource* out) {
  size_t at = 0;
  while (at + 12 <= notes.size()) {
    const size_t nameSize = Le(notes, at, 4), descSize = Le(notes, at + 4, 4);
    const uint32_t type = static_cast<uint32_t>(Le(notes, at + 8, 4));
    const size_t nameAt = at + 12, descAt = nameAt + ((nameSize + 3) & ~size_t{3});
    const size_t next = descAt + ((descSize + 3) & ~size_t{3});
    if (next > notes.size() || descAt > notes.size()) return false;
    if (type == kVersionNoteType && nameSize == sizeof(kVersionNoteOwner) &&
        std::memcmp(notes.data() + nameAt, kVersionNoteOwner, nameSize) == 0 && descSize >= 8) {
      for (int i = 0; i < 4; ++i)
        out->fileVersion[i] = static_cast<uint16_t>(Le(notes, descAt + 2 * i, 2));
      out->hasFixedVersion = true;
      std::vector<std::pair<std::string, std::string>> pairs;
      size_t p = descAt + 8;
      const size_t end = descAt + descSize;
      while (p < end && notes[p] != 0) {
        const size_t keyEnd = notes.find('\0', p);
        if (keyEnd == std::string::npos || keyEnd >= end) break;
        const size_t valueEnd = notes.find('\0', keyEnd + 1);
        if (valueEnd == std::string::npos || valueEnd >= end) break;
        pairs.emplace_back(notes.substr(p, keyEnd - p),
                           notes.substr(keyEnd + 1, valueEnd - keyEnd - 1));
        p = valueEnd + 1;
      }
      for (const std::u16string& name : names)
        for (const auto& [key, value] : pairs)
          if (Utf8ToU16(key) == name) {
            out->strings.emplace_back(name, Utf8ToU16(value));
            break;
          }
      return true;
    }
    at = next;
  }
  return false;
}

}  // namespace

bool ReadVersionResource(std::u16string_view path, const std::vector<std::u16string>& names,
                         VersionResource* out) {
  *out = VersionResource{};
  Reader reader(path);
  std::string head;
  if (!reader.ok() || !reader.Read(0, 64, &head) ||
      head.compare(0, 4,
                   "\x7f"
                   "ELF") != 0 ||
      head[5] != 1 /* little-endian */)
    return false;
  const bool wide = head[4] == 2;
  const uint64_t tableAt = wide ? Le(head, 0x28, 8) : Le(head, 0x20, 4);
  const size_t entrySize = Le(head, wide ? 0x3A : 0x2E, 2);
  const size_t count = Le(head, wide ? 0x3C : 0x30, 2);
  if (tableAt == 0 || entrySize < (wide ? 64u : 40u) || count == 0) return false;
  std::string table;
  if (!reader.Read(tableAt, entrySize * count, &table)) return false;
  for (size_t i = 0; i < count; ++i) {
    const size_t e = i * entrySize;
    if (Le(table, e + 4, 4) != kSectionNote) continue;
    const uint64_t offset = wide ? Le(table, e + 0x18, 8) : Le(table, e + 0x10, 4);
    const uint64_t size = wide ? Le(table, e + 0x20, 8) : Le(table, e + 0x14, 4);
    std::string notes;
    if (size == 0 || size > kMaxNoteSection || !reader.Read(offset, size, &notes)) continue;
    if (ParseNotes(notes, names, out)) return true;
  }
  *out = VersionResource{};
  return false;
}

}  // namespace platform
