// What every scanner does around its own test: the early return on an abort,
// the access masks, the category's backup file, the start and stop lines,
// the visited and problem counts, the long or short form of the first log
// line under a scan root, and the mode's action on each problem.
//
// A scanner makes one frame per call, asks Begin() whether to work at all,
// visits its scan roots (stopping when Stopped()), and returns End().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/problem_handling.h"
#include "modules/RegistryCleanerModule/dll/reg_backup_file.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/registry.h"

// Category names, the scanners' identities in the log and the names of
// their backup files.
inline constexpr char16_t kUninstallCategory[] = u"UninstallInvalidProblems";
inline constexpr char16_t kSharedDllCategory[] = u"SharedDllMissingProblems";
inline constexpr char16_t kFileTypeCategory[] = u"UnusedFileTypeExtensions";
inline constexpr char16_t kExplorerExtensionCategory[] = u"UnusedExplorerFileExtensions";
inline constexpr char16_t kInstallerFolderCategory[] = u"InstallerFolderEmptyProblems";
inline constexpr char16_t kInstallerUserDataCategory[] = u"InstallerUserDataProblems";
inline constexpr char16_t kInprocServerCategory[] = u"InprocServer32Problems";

class ScannerFrame {
 public:
  // forgetLastSection: after opening the backup file, make the backup writer
  // forget the key section it wrote last (the uninstall, shared DLL and
  // installer folder scanners do).
  ScannerFrame(RegCleanerEngine* engine, const char16_t* category, bool forgetLastSection);
  ~ScannerFrame();
  ScannerFrame(const ScannerFrame&) = delete;
  ScannerFrame& operator=(const ScannerFrame&) = delete;

  // False when the scanner must return 0 at once: an abort was asked, or the
  // mode is above KeyCount. Otherwise opens the backup file (Backup modes),
  // logs "Start: Work<category>" (not when counting) and starts the clock.
  bool Begin();
  // The whole scanner: Begin, then walk(rootIndex, root) for each scan root
  // of the list (ended by an empty path) until a stop, then End.
  uint32_t Run(const ScanRoot* roots,
               const std::function<void(uint32_t rootIndex, const ScanRoot& root)>& walk);

  // Checked before each scan root and each entry.
  static bool Stopped() { return AbortRequested.load(std::memory_order_relaxed) != 0; }

  uint32_t mode() const { return mode_; }
  bool counting() const { return mode_ == KeyCount; }
  uint32_t readMask() const { return readMask_; }
  uint32_t writeMask() const { return writeMask_; }
  RegBackupFile* backupFile() const { return backup_.get(); }

  // What counting mode counts of a scan root: its subkeys or its values.
  enum class Counts { kSubkeys, kValues };
  // Opens a scan root with access and queries it into *info. Null when it
  // does not open or cannot be queried (skipped silently), and in counting
  // mode, once its subkeys or values are counted: the scanner then goes on
  // with the next root. Otherwise the caller closes the key.
  platform::HKey OpenRoot(const ScanRoot& root, uint32_t access, Counts counts,
                          platform::RegKeyInfo* info);

  // One entry visited: the progress step and the visited count. Scanners
  // whose progress and count go by different entries call the two apart.
  void Visit() {
    Step();
    Count();
  }
  void Step();
  void Count(uint32_t entries = 1) { scanned_ += entries; }

  // How a scanner writes the key line of a problem that is not the first
  // under its scan root: "Key: .\<path>", "Key: ...\<path>", or not at all.
  enum class ShortLine { kNone, kDot, kEllipsis };
  // The key line of a problem under scan root rootIndex: the long form
  // "<longPrefix><root name>\<keyPath>" for the first problem under that root
  // since another root had one, else the short form; " - Value: <valueLabel>"
  // follows when valueLabel is not empty.
  void LogKeyLine(uint32_t rootIndex, platform::HKey root, std::u16string_view keyPath,
                  std::u16string_view valueLabel, ShortLine shortLine,
                  const char* longPrefix = "Key: ");
  // "Missing: <text>" at level 7.
  static void LogMissing(std::u16string_view text);

  // The walk of the extension scanners: the subkeys of scan root rootIndex
  // whose names begin with "." and have more than shortestName characters,
  // from the last to the first, each one progress step and one visit.
  // isProblem(name, path, &line) tests one; a problem that the black list
  // does not exclude gets its key line ("Key: ...\<path>" when not the
  // first), line at level 7, and the mode's action.
  using ExtensionTest = std::function<bool(std::u16string_view name, const std::u16string& path,
                                           std::u16string* line)>;
  void WalkExtensions(uint32_t rootIndex, const ScanRoot& root, size_t shortestName,
                      const ExtensionTest& isProblem);

  // A counted problem: the mode's action, and the count grows by one. The
  // entry in hand when a stop came is never a problem: the scanners stop
  // before they report it, and these do nothing then. In BackupAndClean the
  // entry is backed up at once and deleted with its batch: after the batch's
  // single flush of the backup file, at the latest when the scan root has
  // been walked. So a scanner must not look at an entry it has handed over
  // again (a key stays in the registry until its batch goes).
  void ValueProblem(platform::HKey root, std::u16string_view keyPath, platform::HKey key,
                    std::u16string_view valueName, const uint8_t* data, uint32_t dataSize,
                    uint32_t type);
  void KeyProblem(platform::HKey root, std::u16string_view keyPath);
  // A key handed to HandleProblemKey (the black list first, then the mode's
  // action in the read mask's view); counted when it was not excluded.
  // Returns HandleProblemKey's answer.
  uint32_t HandleKey(platform::HKey root, std::u16string_view keyPath);

  // Deletes the entries waiting for their backup's flush (the flush first);
  // after a stop they stay, backed up but not deleted.
  void DeleteBatch();

  // Deletes what is waiting, closes the backup file (kept when a problem was
  // counted, else deleted),
  // logs the stop line at level 6 or more, and returns what the scanner
  // returns: the entries a scan would visit when counting, else the problems.
  uint32_t End();

 private:
  RegCleanerEngine* engine_;
  const char16_t* category_;
  bool forgetLastSection_;
  uint32_t mode_ = Scan;
  uint32_t readMask_ = 0;
  uint32_t writeMask_ = 0;
  std::unique_ptr<RegBackupFile> backup_;
  // BackupAndClean: entries backed up and waiting for the batch's flush.
  std::vector<BackedUpEntry> batch_;
  void Batch(BackedUpEntry entry);
  uint32_t problems_ = 0;
  uint32_t scanned_ = 0;
  uint32_t startTick_ = 0;
  // No root has this index, so the first problem of every root writes the
  // long form.
  uint32_t lastLoggedRoot_ = 28;
};
