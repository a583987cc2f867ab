// What becomes of a problem the scanners find, a key or a value whose file,
// folder, class or program is gone: the exclusion test, its log lines, and the
// action of the run's mode (count, record, back up, delete) in a fixed order.
// Problems are not kept; each scanner counts the ones it handled.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/reg_backup_file.h"
#include "platform/registry.h"

// Logs a problem: "Key: <root>\<key>[ - Value: <value>]" at level 8 (with
// "." for a null root, nothing for an empty key path), then
// "Missing: <missing>" at level 7 when missing is not empty. Returns the log
// characters written.
int LogProblem(platform::HKey root, std::u16string_view keyPath, std::u16string_view valueName,
               std::u16string_view missing);

// A key line at level 8: "<prefix><rootText>\<keyPath>", followed by
// " - Value: <valueLabel>" when valueLabel is not empty. rootText is a root's
// name for the long form, "." or "..." for the short ones. Returns the log
// characters written.
int LogKeyLine(const char* prefix, const char* rootText, std::u16string_view keyPath,
               std::u16string_view valueLabel);

// A whole key found to be a problem: 0 when the lists exclude it or the mode
// is above KeyCount; otherwise the mode's action on the key and its subtree
// (as ActOnProblemKey) and 1.
uint32_t HandleProblemKey(RegCleanerEngine* engine, platform::HKey root,
                          std::u16string_view keyPath, uint32_t access, uint32_t mode,
                          RegBackupFile* backupFile);

// The mode's action on a key that is a problem and not excluded: Clean
// deletes and records, Backup backs up, BackupAndClean backs up, deletes and
// records. Only what was deleted is recorded in the ignore list; a deletion
// the registry refuses fails the run (level 11) and gives false. In BackupAndClean nothing is
// recorded or deleted unless the backup is on disk first: when the backup file could not be opened,
// written or flushed, the key stays, the failure is logged at level 11 and counted in the engine's
// runFailures, and the result is false. Symbolic-link keys below keyPath are deleted themselves,
// never followed.
bool ActOnProblemKey(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                     uint32_t readAccess, uint32_t writeAccess, uint32_t mode,
                     RegBackupFile* backupFile);
// The same for one value of key (opened with write access), with the data
// as enumerated.
bool ActOnProblemValue(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                       platform::HKey key, std::u16string_view valueName, const uint8_t* data,
                       uint32_t dataSize, uint32_t type, uint32_t mode, RegBackupFile* backupFile);

// An entry that BackupAndClean has backed up and that waits for its backup
// file's flush before it is deleted: a key tree, or one value of a key.
struct BackedUpEntry {
  platform::HKey root;
  std::u16string keyPath;
  std::u16string valueName;  // empty for a key
  bool isKey;
  uint32_t writeAccess;  // how the key (or the value's key) is opened to delete
};

// BackupAndClean's first half for a key tree or a value: its lines go to
// backupFile (not yet flushed). True when the backup gives the entry back
// whole; false when the format cannot carry its name: the entry must stay,
// and the failure is logged at level 11 and counted in the engine's
// runFailures.
bool BackUpProblemKey(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                      uint32_t readAccess, RegBackupFile* backupFile);
bool BackUpProblemValue(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                        std::u16string_view valueName, const uint8_t* data, uint32_t dataSize,
                        uint32_t type, RegBackupFile* backupFile);

// The second half for a batch of backed-up entries: backupFile is flushed
// once, then each entry is deleted and recorded (a deletion the registry
// refuses fails the run). When the flush fails nothing of the batch is
// deleted: each entry stays with a level-11 line. So one flush to disk
// serves many entries, and still no entry goes before its backup is on disk.
void DeleteBackedUp(RegCleanerEngine* engine, RegBackupFile* backupFile,
                    const std::vector<BackedUpEntry>& entries);
