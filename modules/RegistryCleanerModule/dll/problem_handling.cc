#include "modules/RegistryCleanerModule/dll/problem_handling.h"

#include <string>

#include "modules/RegistryCleanerModule/dll/delete_entries.h"
#include "modules/RegistryCleanerModule/dll/exclusion.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/run_failures.h"
#include "platform/unicode.h"

namespace {

bool IsCleaning(uint32_t mode) { return mode == Clean || mode == BackupAndClean; }
bool IsBackingUp(uint32_t mode) { return mode == Backup || mode == BackupAndClean; }

}  // namespace

int LogKeyLine(const char* prefix, const char* rootText, std::u16string_view keyPath,
               std::u16string_view valueLabel) {
  // Views are not terminated: their lengths bound them ("%.*ls"). A NUL
  // inside one ends its text, as it did when the views were copied to
  // terminated text.
  // An empty view may have no text at all (null): "" stands for it.
  const int keyUnits = static_cast<int>(keyPath.size());
  const char16_t* key = keyPath.empty() ? u"" : keyPath.data();
  if (valueLabel.empty()) return EngineLogPrintf(8, "%s%s\\%.*ls", prefix, rootText, keyUnits, key);
  return EngineLogPrintf(8, "%s%s\\%.*ls - Value: %.*ls", prefix, rootText, keyUnits, key,
                         static_cast<int>(valueLabel.size()), valueLabel.data());
}

int LogProblem(platform::HKey root, std::u16string_view keyPath, std::u16string_view valueName,
               std::u16string_view missing) {
  int written = 0;
  if (!keyPath.empty())
    written += LogKeyLine("Key: ", root != platform::kNullKey ? RootKeyNameA(root) : ".", keyPath,
                          valueName);
  if (!missing.empty())
    written += EngineLogPrintf(7, "Missing: %.*ls", static_cast<int>(missing.size()), missing.data());
  return written;
}

namespace {

std::u16string EntryText(platform::HKey root, std::u16string_view keyPath,
                         std::u16string_view valueName) {
  std::u16string entry = platform::Utf8ToU16(RootKeyNameA(root)) + u"\\" + std::u16string(keyPath);
  if (!valueName.empty()) entry += u" - Value: " + std::u16string(valueName);
  return entry;
}

// A deletion the registry refused (a wineserver that started meanwhile, a
// protected key): the entry is not remembered as cleaned, and the run fails.
bool Refused(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
             std::u16string_view valueName) {
  ReportRunFailure(engine,
                   u"Not deleted, the registry refused: " + EntryText(root, keyPath, valueName));
  return false;
}

// The backup of an entry must give it back exactly: a name the format cannot
// carry keeps the entry.
bool BackupWhole(RegCleanerEngine* engine, RegBackupFile* backupFile, platform::HKey root,
                 std::u16string_view keyPath, std::u16string_view valueName, bool exact) {
  const bool marked = backupFile != nullptr && backupFile->TakeUnrepresentable();
  if (exact && !marked) return true;
  ReportRunFailure(engine, u"Not deleted, a .reg file cannot hold it whole (a name, a value or a registry link below it): " +
                               EntryText(root, keyPath, valueName));
  return false;
}

// Everything written to the backup file so far is on disk.
bool OnDisk(RegBackupFile* backupFile) { return backupFile != nullptr && backupFile->Flush(); }

bool NotOnDisk(RegCleanerEngine* engine, RegBackupFile* backupFile, platform::HKey root,
               std::u16string_view keyPath, std::u16string_view valueName) {
  ReportRunFailure(engine, u"Not deleted, its backup could not be written to \"" +
                               (backupFile != nullptr ? backupFile->path() : std::u16string()) +
                               u"\": " + EntryText(root, keyPath, valueName));
  return false;
}

bool DeleteOne(RegCleanerEngine* engine, const BackedUpEntry& entry) {
  if (entry.isKey) {
    if (!DeleteKeyTree(entry.root, entry.keyPath, entry.writeAccess))
      return Refused(engine, entry.root, entry.keyPath, u"");
  } else {
    platform::HKey key = platform::kNullKey;
    const bool opened =
        EngineRegistry()->RegOpenKeyExW(entry.root, entry.keyPath, 0, entry.writeAccess, &key) == 0;
    const bool deleted =
        opened && DeleteValue(entry.root, entry.keyPath, key, entry.valueName) != 0;
    if (opened) EngineRegistry()->RegCloseKey(key);
    if (!deleted) return Refused(engine, entry.root, entry.keyPath, entry.valueName);
  }
  RecordCleaned(engine, entry.root, entry.keyPath, entry.valueName);
  return true;
}

}  // namespace

bool BackUpProblemKey(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                      uint32_t readAccess, RegBackupFile* backupFile) {
  BackupKeyTree(root, keyPath, readAccess, backupFile);
  return BackupWhole(engine, backupFile, root, keyPath, u"", true);
}

bool BackUpProblemValue(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                        std::u16string_view valueName, const uint8_t* data, uint32_t dataSize,
                        uint32_t type, RegBackupFile* backupFile) {
  const std::u16string name(valueName);
  BackupValue(root, keyPath, name.c_str(), data, static_cast<int32_t>(dataSize), type, backupFile);
  // A name with a NUL would come back cut short.
  const bool exact = valueName.find(u'\0') == std::u16string_view::npos;
  return BackupWhole(engine, backupFile, root, keyPath, valueName, exact);
}

void DeleteBackedUp(RegCleanerEngine* engine, RegBackupFile* backupFile,
                    const std::vector<BackedUpEntry>& entries) {
  if (entries.empty()) return;
  const bool onDisk = OnDisk(backupFile);
  for (const BackedUpEntry& entry : entries) {
    if (onDisk) {
      DeleteOne(engine, entry);
    } else {
      NotOnDisk(engine, backupFile, entry.root, entry.keyPath, entry.valueName);
    }
  }
}

bool ActOnProblemKey(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                     uint32_t readAccess, uint32_t writeAccess, uint32_t mode,
                     RegBackupFile* backupFile) {
  if (mode == BackupAndClean) {
    if (!BackUpProblemKey(engine, root, keyPath, readAccess, backupFile)) return false;
    if (!OnDisk(backupFile)) return NotOnDisk(engine, backupFile, root, keyPath, u"");
  } else if (IsBackingUp(mode)) {
    BackupKeyTree(root, keyPath, readAccess, backupFile);
  }
  if (!IsCleaning(mode)) return true;
  return DeleteOne(engine, {root, std::u16string(keyPath), u"", true, writeAccess});
}

bool ActOnProblemValue(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                       platform::HKey key, std::u16string_view valueName, const uint8_t* data,
                       uint32_t dataSize, uint32_t type, uint32_t mode, RegBackupFile* backupFile) {
  if (mode == BackupAndClean) {
    if (!BackUpProblemValue(engine, root, keyPath, valueName, data, dataSize, type, backupFile))
      return false;
    if (!OnDisk(backupFile)) return NotOnDisk(engine, backupFile, root, keyPath, valueName);
  } else if (IsBackingUp(mode)) {
    const std::u16string name(valueName);
    BackupValue(root, keyPath, name.c_str(), data, static_cast<int32_t>(dataSize), type,
                backupFile);
  }
  if (IsCleaning(mode)) {
    if (DeleteValue(root, keyPath, key, valueName) == 0)
      return Refused(engine, root, keyPath, valueName);
    RecordCleaned(engine, root, keyPath, valueName);
  }
  return true;
}

uint32_t HandleProblemKey(RegCleanerEngine* engine, platform::HKey root,
                          std::u16string_view keyPath, uint32_t access, uint32_t mode,
                          RegBackupFile* backupFile) {
  if (IsExcluded(engine, root, keyPath, u"") == 1 || mode > KeyCount) return 0;
  ActOnProblemKey(engine, root, keyPath, access, access, mode, backupFile);
  return 1;
}
