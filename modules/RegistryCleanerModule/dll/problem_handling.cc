#include "modules/RegistryCleanerModule/dll/problem_handling.h"

#include <string>

#include "modules/RegistryCleanerModule/dll/delete_entries.h"
#include "modules/RegistryCleanerModule/dll/exclusion.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"

namespace {

bool IsCleaning(uint32_t mode) { return mode == Clean || mode == BackupAndClean; }
bool IsBackingUp(uint32_t mode) { return mode == Backup || mode == BackupAndClean; }

}  // namespace

int LogProblem(platform::HKey root, std::u16string_view keyPath, std::u16string_view valueName,
               std::u16string_view missing) {
  // Views are not terminated; the log's "%ls" wants terminated text.
  const std::u16string key(keyPath);
  const std::u16string value(valueName);
  const std::u16string what(missing);
  int written = 0;
  if (!key.empty()) {
    if (root != platform::kNullKey) {
      const char* rootName = RootKeyNameA(root);
      written += value.empty()
                     ? EngineLogPrintf(8, "Key: %s\\%ls", rootName, key.c_str())
                     : EngineLogPrintf(8, "Key: %s\\%ls - Value: %ls", rootName, key.c_str(),
                                       value.c_str());
    } else {
      written += value.empty() ? EngineLogPrintf(8, "Key: .\\%ls", key.c_str())
                               : EngineLogPrintf(8, "Key: .\\%ls - Value: %ls", key.c_str(),
                                                 value.c_str());
    }
  }
  if (!what.empty()) written += EngineLogPrintf(7, "Missing: %ls", what.c_str());
  return written;
}

void ActOnProblemKey(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                     uint32_t readAccess, uint32_t writeAccess, uint32_t mode,
                     RegBackupFile* backupFile) {
  if (IsCleaning(mode)) RecordCleaned(engine, root, keyPath, u"");
  if (IsBackingUp(mode)) BackupKeyTree(root, keyPath, readAccess, backupFile);
  if (IsCleaning(mode)) {
    if (backupFile != nullptr) backupFile->Flush();
    DeleteKeyTree(root, keyPath, writeAccess);
  }
}

void ActOnProblemValue(RegCleanerEngine* engine, platform::HKey root,
                       std::u16string_view keyPath, platform::HKey key,
                       std::u16string_view valueName, const uint8_t* data, uint32_t dataSize,
                       uint32_t type, uint32_t mode, RegBackupFile* backupFile) {
  if (IsCleaning(mode)) RecordCleaned(engine, root, keyPath, valueName);
  if (IsBackingUp(mode)) {
    const std::u16string name(valueName);
    BackupValue(root, keyPath, name.c_str(), data, static_cast<int32_t>(dataSize), type,
                backupFile);
  }
  if (IsCleaning(mode)) {
    if (backupFile != nullptr) backupFile->Flush();
    DeleteValue(root, keyPath, key, valueName);
  }
}

uint32_t HandleProblemKey(RegCleanerEngine* engine, platform::HKey root,
                          std::u16string_view keyPath, uint32_t access, uint32_t mode,
                          RegBackupFile* backupFile) {
  if (IsExcluded(engine, root, keyPath, u"") == 1 || mode > KeyCount) return 0;
  ActOnProblemKey(engine, root, keyPath, access, access, mode, backupFile);
  return 1;
}
