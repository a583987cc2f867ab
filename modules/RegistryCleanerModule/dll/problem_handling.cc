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
  // Views are not terminated; the log's "%ls" wants terminated text.
  const std::u16string key(keyPath);
  if (valueLabel.empty()) return EngineLogPrintf(8, "%s%s\\%ls", prefix, rootText, key.c_str());
  const std::u16string value(valueLabel);
  return EngineLogPrintf(8, "%s%s\\%ls - Value: %ls", prefix, rootText, key.c_str(), value.c_str());
}

int LogProblem(platform::HKey root, std::u16string_view keyPath, std::u16string_view valueName,
               std::u16string_view missing) {
  int written = 0;
  if (!keyPath.empty())
    written += LogKeyLine("Key: ", root != platform::kNullKey ? RootKeyNameA(root) : ".", keyPath,
                          valueName);
  if (!missing.empty())
    written += EngineLogPrintf(7, "Missing: %ls", std::u16string(missing).c_str());
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

// In BackupAndClean an entry goes only once its backup is on disk, exactly.
bool BackupOnDisk(RegCleanerEngine* engine, RegBackupFile* backupFile, platform::HKey root,
                  std::u16string_view keyPath, std::u16string_view valueName, bool exact) {
  const bool marked = backupFile != nullptr && backupFile->TakeUnrepresentable();
  const bool whole = exact && !marked;
  if (whole && backupFile != nullptr && backupFile->Flush()) return true;
  const std::u16string why =
      !whole ? u"a .reg file cannot hold it whole (a name, a value or a registry link below it)"
             : u"its backup could not be written to \"" +
                   (backupFile != nullptr ? backupFile->path() : std::u16string()) + u"\"";
  ReportRunFailure(engine, u"Not deleted, " + why + u": " + EntryText(root, keyPath, valueName));
  return false;
}

}  // namespace

bool ActOnProblemKey(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                     uint32_t readAccess, uint32_t writeAccess, uint32_t mode,
                     RegBackupFile* backupFile) {
  if (IsBackingUp(mode)) {
    BackupKeyTree(root, keyPath, readAccess, backupFile);
    if (IsCleaning(mode) && !BackupOnDisk(engine, backupFile, root, keyPath, u"", true))
      return false;
  }
  if (IsCleaning(mode)) {
    if (!DeleteKeyTree(root, keyPath, writeAccess)) return Refused(engine, root, keyPath, u"");
    RecordCleaned(engine, root, keyPath, u"");
  }
  return true;
}

bool ActOnProblemValue(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                       platform::HKey key, std::u16string_view valueName, const uint8_t* data,
                       uint32_t dataSize, uint32_t type, uint32_t mode, RegBackupFile* backupFile) {
  if (IsBackingUp(mode)) {
    const std::u16string name(valueName);
    BackupValue(root, keyPath, name.c_str(), data, static_cast<int32_t>(dataSize), type,
                backupFile);
    // A name with a NUL would come back cut short.
    const bool exact = valueName.find(u'\0') == std::u16string_view::npos;
    if (IsCleaning(mode) && !BackupOnDisk(engine, backupFile, root, keyPath, valueName, exact))
      return false;
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
