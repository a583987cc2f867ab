// Backups of what the cleaner deletes, in the registry editor's export format
// (version 5.00, UTF-16 LE with a byte-order mark, CR LF line ends), one file
// per scanner category in the run's backup folder, and the batch file that
// imports them all again.
//
// Each key's section is preceded, once per file, by empty sections of all its
// ancestors, starting with the root. Output collects in a buffer of a million
// characters; call Flush before deleting what was just backed up, so that a
// crash in the middle of a clean never loses a deleted entry's backup.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/system.h"

struct RegCleanerEngine;

// Texts in insertion order with their 31-bit hash and a tag; a lookup finds
// the first equal text without regard to case. The section names a backup
// file has written.
class ChainedStringListW {
 public:
  void Add(std::u16string_view text, uint32_t tag);
  // Index of the first entry equal to text ignoring case, or -1.
  int32_t Find(std::u16string_view text) const;
  void Clear() { entries_.clear(); }
  size_t Count() const { return entries_.size(); }

 private:
  struct Entry {
    std::u16string text;
    uint32_t hash;
    uint32_t tag;
  };
  std::vector<Entry> entries_;
};

class RegBackupFile {
 public:
  static constexpr size_t kBackupBufferChars = 1048576;
  // Escaped and readable texts are cut at this many characters.
  static constexpr size_t kMaxTextChars = 4093;

  // Opens path for appending (creating it), with read and write sharing. A
  // file that cannot be opened makes every write do nothing.
  RegBackupFile(std::u16string_view path, size_t bufferChars,
                platform::FileSystem* fs = platform::FileSystem::Default(),
                platform::System* system = platform::System::Default());
  virtual ~RegBackupFile();
  RegBackupFile(const RegBackupFile&) = delete;
  RegBackupFile& operator=(const RegBackupFile&) = delete;

  // The byte-order mark and the header lines, once. Returns the characters.
  size_t WriteHeader();
  // The section lines of root\keyPath: every ancestor section not written
  // yet; when the whole path was written before, its section again with a
  // note. An unknown root writes nothing. Returns the characters.
  size_t WriteSection(platform::HKey root, std::u16string_view keyPath);
  // One value line (two for expandable and multi-strings); a null or empty
  // name is the default value "@". Data that the quoted or dword form would
  // not give back byte for byte (a string without its final NUL, with
  // another NUL or a line break, or longer than the cut; a dword of another
  // size) is written as exact hex. Returns the characters.
  size_t WriteValue(const char16_t* name, const uint8_t* data, int32_t size, uint32_t type);
  // True when, since the last call, a key path or value name came that the
  // format cannot carry exactly (a line break, a length past the cut): it
  // was not written, and what it belongs to must not be deleted.
  bool TakeUnrepresentable();
  // Marks what is being backed up as something this file cannot give back
  // whole (a registry link below a key, a value the walk could not read
  // whole): the next TakeUnrepresentable answers true.
  void MarkUnrepresentable();

  // Writes the buffer out and asks the system to put it on disk. True when
  // the file is open and everything ever written to this object is in the
  // file: after one failed or short write (a full disk) it stays false, so
  // that nothing more is deleted on the strength of this backup.
  bool Flush();
  // Flush and close.
  void Close();
  // Close, forget the sections and delete the file.
  void Discard();

  const std::u16string& path() const { return path_; }
  bool isOpen() const { return file_ != nullptr; }
  bool headerWritten() const { return headerWritten_; }

 private:
  bool Lock();
  size_t Write(std::u16string_view text);
  bool WriteBufferOut();
  size_t WriteHex(const std::u16string& prefix, const uint8_t* data, int32_t size);

  platform::FileSystem* fs_;
  platform::System* system_;
  std::u16string path_;
  platform::FileHandle file_ = nullptr;
  std::vector<char16_t> buffer_;
  size_t fill_ = 0;
  bool headerWritten_ = false;
  bool writeFailed_ = false;
  bool unrepresentable_ = false;
  bool sectionBroken_ = false;  // the last section could not be written
  ChainedStringListW sections_;
  std::recursive_mutex lock_;
};

// Creates or opens "<folder>\<category>.reg" and writes the header. Null
// only when the object cannot be allocated.
RegBackupFile* OpenBackupFile(std::u16string_view folder, std::u16string_view category,
                              platform::FileSystem* fs = platform::FileSystem::Default(),
                              platform::System* system = platform::System::Default());

// Writes the value's line under the section of root\keyPath, writing the
// section lines first when the last value backed up (in any file) was of
// another key. A null file only forgets that last section. Returns the
// characters written.
size_t BackupValue(platform::HKey root, std::u16string_view keyPath, const char16_t* valueName,
                   const uint8_t* data, int32_t size, uint32_t type, RegBackupFile* file);

// Exports the key, its values and all its subkeys with theirs, in the view
// of sam. Returns the characters written.
size_t BackupKeyTree(platform::HKey root, std::u16string_view keyPath, uint32_t sam,
                     RegBackupFile* file);

// Writes the run's restore batch "<runBackupFolder>\<string 7010>.bat",
// which imports every .reg file of its folder. Returns the characters written,
// 0 when the batch did not reach the disk whole.
size_t WriteRestoreBatch(const RegCleanerEngine& engine,
                         platform::FileSystem* fs = platform::FileSystem::Default(),
                         platform::System* system = platform::System::Default());
