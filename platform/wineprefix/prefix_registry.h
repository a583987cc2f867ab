// The registry of a Wine prefix: the in-memory registry filled lazily from
// the prefix's hive files (system.reg, userdef.reg, user.reg) and written
// back to them when asked.
//
// Saving writes a temporary file beside the hive, syncs it and renames it
// over the hive (over a symbolic link's target, beside that). A hive file
// with several names is rewritten in place from a complete, synced copy
// ".<hive>.rollforward" in the prefix, which the next load or save finishes
// when the rewrite was cut short by a kill. Untouched keys keep their text byte for
// byte. While a wineserver holds the prefix's lock every write fails with
// error 5 and nothing is saved. A hive with a malformed line is read-only.
// Saving takes an exclusive lock on the prefix folder; a hive that another
// process saved since it was read is read again and this registry's changes
// are made again on it, so neither side's changes are lost.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/wineprefix/memory_registry.h"

namespace platform::posix {

// True while a wineserver runs on the prefix: the lock file of its server
// folder server-<dev>-<ino> is write-locked, below /tmp/.wine-<uid> (upstream
// Wine) or below the /tmp folder the prefix's "wineserver" file names
// (Debian's and Ubuntu's Wine); failing both, a wineserver process works in
// a folder of that name. Without fresh, that last look may be up to a second
// old (it walks /proc).
bool WineServerRunning(const std::string& prefixDirectory, bool fresh = true);

// Every "file:line: message" that reading the prefix's hive files finds,
// found without keeping what they hold (a check before the registry is
// loaded). Empty when they read cleanly or do not exist.
std::vector<std::string> HiveProblems(const std::string& prefixDirectory);

class PrefixRegistry : public memory::MemoryRegistry {
 public:
  explicit PrefixRegistry(std::string prefixDirectory);
  // Does not save: call Flush() first to keep the changes.
  ~PrefixRegistry() override;

  const std::string& prefixDirectory() const { return prefix_; }
  // Every "file:line: message" reported so far while reading hives.
  std::vector<std::string> Problems();
  // Where problems go as they are found; standard error by default.
  void SetProblemReporter(std::function<void(const std::string&)> reporter);

 protected:
  void LoadHive(memory::HiveId hive) override;
  uint32_t CheckWritable(memory::HiveId hive) override;
  void Changed(memory::HiveId hive, memory::Change&& change) override;
  uint32_t SaveHive(memory::HiveId hive) override;
  // The hive file's path.
  std::u16string StoreName(memory::HiveId hive) override;

 private:
  struct Identity {
    bool exists = false;
    uint64_t device = 0, inode = 0, size = 0, mtimeNs = 0;
    bool operator==(const Identity&) const = default;
  };
  struct HiveFile {
    std::string path;
    bool clean = true;
    Identity identity;
    uint64_t prologueLength = 0;
    std::vector<memory::Change> journal;
  };

  static Identity IdentityOf(const struct stat& st);
  // Reads the hive file into root; false when it did not read cleanly.
  bool ReadInto(memory::HiveId hive, memory::Key* root, memory::TreeArena* arena,
                Identity* identity, uint64_t* prologueLength);
  uint32_t Write(memory::HiveId hive, int directory);
  void Report(const std::string& problem);

  std::string prefix_;
  HiveFile files_[memory::kHiveCount];
  std::vector<std::string> problems_;
  std::function<void(const std::string&)> reporter_;
};

}  // namespace platform::posix
