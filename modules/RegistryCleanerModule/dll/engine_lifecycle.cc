#include "modules/RegistryCleanerModule/dll/engine_lifecycle.h"

#include <cstdio>
#include <string>

#include "framework/install_config.h"
#include "framework/system_services.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/reg_list_file.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/run_failures.h"
#include "modules/RegistryCleanerModule/dll/version_data.h"
#include "platform/profile.h"
#include "platform/system_text.h"
#include "support/duration.h"
#include "support/kv_path.h"

namespace {

constexpr char16_t kEngineName[] = u"RegCleanerDll";
constexpr char16_t kLockoutName[] = u"Global\\RegCleanerDll Multiple Instance Lockout";
constexpr char16_t kMeasurement[] = u"Measurement";
constexpr size_t kMaxPlainPathChars = 260;
constexpr uint32_t kErrorAlreadyExists = 183;

// A folder path of 260 characters or more is only created with "\\?\".
bool CreateFolder(platform::FileSystem* fs, const std::u16string& path) {
  if (path.size() >= kMaxPlainPathChars && path.rfind(u"\\\\", 0) != 0)
    return fs->CreateDirectory(u"\\\\?\\" + path);
  return fs->CreateDirectory(path);
}

// Creates path and every missing folder above it, so that a content folder
// named in the settings but not made by an installer still works.
void CreateFolderPath(platform::FileSystem* fs, const std::u16string& path) {
  if (fs->GetFileAttributes(path) != platform::kInvalidFileAttributes) return;
  const std::u16string parent = KvOSAL::ParentFolder(path);
  if (!parent.empty() && parent.size() < path.size()) CreateFolderPath(fs, parent);
  CreateFolder(fs, path);
}

bool IsFolder(platform::FileSystem* fs, const std::u16string& path) {
  const bool plain = path.size() < kMaxPlainPathChars || path.rfind(u"\\\\", 0) == 0;
  const uint32_t attributes = fs->GetFileAttributes(plain ? path : u"\\\\?\\" + path);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) != 0;
}

std::string TimeText(const platform::LocalTime& t) {
  char text[64];
  snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
           t.minute, t.second);
  return text;
}

// The file description, or the product name when that is empty.
const char16_t* VersionName(const FileVersionRecord& record) {
  return record.fileDescription.empty() ? record.productName.c_str()
                                        : record.fileDescription.c_str();
}

void ReadVersion(FileVersionRecord* record, const std::u16string& path, platform::FileSystem* fs,
                 platform::System* system) {
  *record = FileVersionRecord{};
  record->path = path;
  record->valid = ReadFileVersionRecord(record, fs, system) > 3;
}

// Logs "<name> loaded, <n> Items" at level 11, or the ERROR line with the
// file when nothing was loaded.
void LogListLoad(const char* name, int32_t items, const std::u16string& file) {
  if (items > 0)
    EngineLogPrintf(11, "%s loaded, %d Items", name, items);
  else
    EngineLogPrintf(11, "%s ERROR, File: %ls", name, file.c_str());
}

}  // namespace

bool IsElevatedAdmin(platform::System* system) {
  if (IsUserInGroup(544, system) != 1) return false;
  platform::OsVersion version;
  if (system->GetOsVersion(&version) && version.major >= 5) {
    uint32_t type = 0;
    if (system->GetTokenElevationType(&type) && type == 3) return false;
  }
  return true;
}

void TakeLockoutMutex(RegCleanerEngine* engine, platform::System* system) {
  if (platform::MutexHandle other = system->OpenMutex(kLockoutName)) {
    system->CloseMutex(other);
    system->Sleep(100);
  }
  engine->lockoutMutex = system->CreateMutex(kLockoutName, true);
}

void ReleaseLockoutMutex(RegCleanerEngine* engine, platform::System* system) {
  if (engine->lockoutMutex != nullptr) system->CloseMutex(engine->lockoutMutex);
  engine->lockoutMutex = nullptr;
}

uint32_t InitEngine(RegCleanerEngine* engine, platform::FileSystem* fs, platform::System* system,
                    std::u16string* failure) {
  if (!IsElevatedAdmin(system)) return 0;
  BuildCaseFoldingTable();
  InitPlatformFacts(system);
  SetPathResolverFacts(ResolverFacts{Is64BitOs, IsWow64, OsLevel});
  AbortRequested = 0;
  TotalKeyCount = 0;
  TakeLockoutMutex(engine, system);

  const int32_t debugLevel = platform::GetPrivateProfileInt(
      u"TraceLog", u"DebugLevel", MyLogfile::kDefaultLevel, InstallConfigPath(system, fs));

  const std::u16string content = UserContentFolder({}, system, fs) + kEngineName;
  engine->contentFolder = content;
  engine->backupsFolder = content + u"\\Backups";
  // Without its folders the engine could neither log what it finds nor back
  // up what it removes: it stays unprepared and says why.
  auto unprepared = [&](std::u16string what) {
    if (failure != nullptr) *failure = std::move(what);
    FreeCaseFoldingTable();  // de-init does not run for an unprepared engine
    ReleaseLockoutMutex(engine, system);
    return 0u;
  };
  for (const std::u16string& folder : {content, engine->backupsFolder, content + u"\\Log"}) {
    fs->SetLastError(0);
    CreateFolderPath(fs, folder);
    if (!IsFolder(fs, folder)) {
      // A file in its place is never created over: "already exists".
      const bool taken = fs->GetFileAttributes(folder) != platform::kInvalidFileAttributes;
      return unprepared(u"The module's folder " + folder + u" could not be created (" +
                        ReasonText(taken ? kErrorAlreadyExists : fs->GetLastError()) + u").");
    }
  }
  engine->configFile = content + u"\\" + kEngineName + u".cfg";

  engine->slowExecuteTime =
      platform::GetPrivateProfileInt(kMeasurement, u"SlowExecuteTime", 0, engine->configFile);
  engine->fastExecuteTime =
      platform::GetPrivateProfileInt(kMeasurement, u"FastExecuteTime", 0, engine->configFile);
  const uint32_t storedBoot = static_cast<uint32_t>(platform::GetPrivateProfileInt(
      kMeasurement, u"LastBootTimeSignature", 0, engine->configFile));
  if (storedBoot == BootSessionSignature(system)) engine->runsThisBoot = 1;

  ReadVersion(&engine->hostVersion, GetHostFilePath(system), fs, system);
  ReadVersion(&engine->moduleVersion, GetModuleFilePath(system), fs, system);

  const std::u16string logPath = content + u"\\Log\\" +
                                 platform::AnsiToU16(FormatTimestampForFileName(system)) + u" " +
                                 kEngineName + u".log";
  auto* log = new MyLogfile(platform::U16ToAnsi(logPath).c_str(), 0x400000,
                            MyLogfile::kCloseAfterWrite, 0xc800000, fs, system);
  if (!log->EverOpened()) {
    const uint32_t error = fs->GetLastError();
    delete log;
    return unprepared(u"The log file " + logPath + u" could not be opened (" + ReasonText(error) +
                      u").");
  }
  SetEngineLog(log);
  log->SetLevel(debugLevel);

  const FileVersionRecord& host = engine->hostVersion;
  if (host.valid) {
    log->Printf(3, "Host: %ls Version: %d.%d.%d.%04d (from %s)", VersionName(host), host.major,
                host.minor, host.build, host.revision, TimeText(host.lastWrite).c_str());
  }
  const FileVersionRecord& module = engine->moduleVersion;
  if (module.valid) {
    log->Printf(3, "Init: %ls Version: %d.%d.%d.%04d (from %s)", VersionName(module), module.major,
                module.minor, module.build, module.revision, REGCLEAN_BUILD_TIMESTAMP);
  }

  engine->ignoreListFile = content + u"\\IgnoreList.slw1";
  engine->whiteListFile = content + u"\\WhiteList.cfg";
  engine->blackListFile = content + u"\\BlackList.cfg";
  if (!engine->ignoreList) {
    engine->ignoreList = std::make_unique<BufferedStringListW>("IgnoreList", 256, fs, system);
    engine->ignoreList->Load(engine->ignoreListFile, false);
    LogListLoad("IgnoreList", engine->ignoreList->Count(), engine->ignoreListFile);
  }
  if (!engine->whiteList) {
    engine->whiteList = std::make_unique<BufferedStringListW>("WhiteList", 512, fs, system);
    LogListLoad("WhiteList", ReadRegListFile(engine->whiteList.get(), engine->whiteListFile, fs),
                engine->whiteListFile);
  }
  if (!engine->blackList) {
    engine->blackList = std::make_unique<BufferedStringListW>("BlackList", 64, fs, system);
    LogListLoad("BlackList", ReadRegListFile(engine->blackList.get(), engine->blackListFile, fs),
                engine->blackListFile);
  }

  ReleaseLockoutMutex(engine, system);
  return 1;
}

void DeinitEngine(RegCleanerEngine* engine, platform::FileSystem* fs, platform::System* system) {
  if (!IsElevatedAdmin(system)) return;
  TakeLockoutMutex(engine, system);

  const FileVersionRecord& module = engine->moduleVersion;
  if (module.valid) {
    EngineLogPrintf(3, "DeInit: %ls Version: %d.%d.%d.%04d", VersionName(module), module.major,
                    module.minor, module.build, module.revision);
  }

  if (engine->ignoreList) {
    BufferedStringListW& list = *engine->ignoreList;
    const uint32_t changes = list.ChangeCount();
    const uint32_t items = list.Save(engine->ignoreListFile);
    if (items == 0)
      fs->DeleteFile(engine->ignoreListFile);
    else if (changes != 0)
      EngineLogPrintf(6, "Save IgnoreList: %d Changes - %d Items", changes, items);
    else
      EngineLogPrintf(6, "Keep IgnoreList: %d Items", items);
    engine->ignoreList.reset();
  }
  engine->whiteList.reset();
  engine->blackList.reset();

  if (engine->lockoutMutex != nullptr) {
    const std::u16string& file = engine->configFile;
    if (engine->runsThisBoot != 0) {
      platform::WritePrivateProfileString(
          kMeasurement, u"LastBootTimeSignature",
          platform::AnsiToU16(std::to_string(BootSessionSignature(system))), file);
    }
    platform::WritePrivateProfileString(
        kMeasurement, u"SlowExecuteTime",
        platform::AnsiToU16(std::to_string(engine->slowExecuteTime)), file);
    platform::WritePrivateProfileString(
        kMeasurement, u"FastExecuteTime",
        platform::AnsiToU16(std::to_string(engine->fastExecuteTime)), file);
    platform::WritePrivateProfileString(std::nullopt, std::nullopt, std::nullopt, file);
  }

  if (MyLogfile* log = EngineLog()) {
    log->Flush();
    delete log;  // clears the process-wide pointer
  }
  SetEngineLog(nullptr);
  FreeCaseFoldingTable();
  ReleaseLockoutMutex(engine, system);
}

uint32_t ExpectedCheckDuration(const RegCleanerEngine& engine) {
  if (engine.slowExecuteTime == 0) return 240000;
  if (engine.runsThisBoot != 0) {
    return static_cast<uint32_t>(engine.fastExecuteTime != 0 ? engine.fastExecuteTime
                                                             : engine.slowExecuteTime / 4);
  }
  return static_cast<uint32_t>(engine.slowExecuteTime);
}

uint32_t ExpectedResolveDuration(const RegCleanerEngine& engine) {
  if (engine.slowExecuteTime == 0) return 240000;
  return static_cast<uint32_t>(engine.fastExecuteTime != 0 ? engine.fastExecuteTime
                                                           : engine.slowExecuteTime / 4);
}

void UpdateMeasurement(RegCleanerEngine* engine, int32_t elapsedMs) {
  const int64_t e = elapsedMs;
  if (engine->slowExecuteTime == 0 || engine->slowExecuteTime < e)
    engine->slowExecuteTime = elapsedMs;
  if (engine->runsThisBoot != 0) {
    if (engine->fastExecuteTime == 0 || engine->fastExecuteTime < e)
      engine->fastExecuteTime = elapsedMs;
    if (engine->runsThisBoot == 1 && int64_t{engine->fastExecuteTime} * 100 > e * 120)
      engine->fastExecuteTime = elapsedMs;
  } else if (int64_t{engine->slowExecuteTime} * 100 > e * 120) {
    engine->slowExecuteTime = elapsedMs;
  }
  engine->runsThisBoot += 1;
}
