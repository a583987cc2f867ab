// What every part of the cleaner engine shares: the engine record with its
// folders, measurements and lists, the run mode, the process-wide run values
// (one engine per process), the version data of the host and of the module,
// and the signature of the current boot session.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "platform/resources.h"
#include "platform/system.h"

class CRegistryCleanerModuleCheckModule;

enum RegCleanerMode : uint32_t {
  Scan = 0,            // find and count problems, change nothing
  Clean = 1,           // record each problem in the ignore list and delete it
  Backup = 2,          // back up each problem, delete nothing
  BackupAndClean = 3,  // record, back up, then delete
  KeyCount = 4,        // count the entries a scan would visit
};

// "Scan", "Clean", "Backup", "Backup & Clean", "KeyCount"; "Unknown" else.
const char16_t* ModeName(uint32_t mode);

// What the log needs of a file's version data.
struct FileVersionRecord {
  static constexpr size_t kFieldChars = 128;  // longer texts are cut
  std::u16string productName;
  std::u16string fileDescription;
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;
  platform::LocalTime lastWrite;  // local calendar time
  std::u16string path;            // full path, set by the caller before reading
  bool valid = false;             // set by the caller: more than 3 fields found
};

// The twelve standard string fields of a version resource.
extern const char16_t* const kVersionStringFields[12];

// Fills record from the file at record->path: the two named strings, the
// fixed file version and the last-write time. Returns how many of the twelve
// standard string fields the file holds (0 when it has no version data).
int ReadFileVersionRecord(FileVersionRecord* record,
                          platform::FileSystem* fs = platform::FileSystem::Default(),
                          platform::System* system = platform::System::Default());

// One per module object. Paths hold no trailing backslash.
struct RegCleanerEngine {
  uint32_t mode = Scan;
  void* lockoutMutex = nullptr;  // held while init, a run or de-init is under way
  platform::ResourceModule resourceModule = nullptr;
  int32_t slowExecuteTime = 0;  // ms, first run after a boot
  int32_t fastExecuteTime = 0;  // ms, later runs in the same boot session
  int32_t runsThisBoot = 0;
  std::u16string contentFolder;
  std::u16string configFile;
  std::u16string blackListFile;
  std::u16string ignoreListFile;
  std::u16string whiteListFile;
  std::u16string backupsFolder;
  std::u16string runBackupFolder;
  FileVersionRecord hostVersion;
  FileVersionRecord moduleVersion;
  std::unique_ptr<BufferedStringListW> ignoreList;
  std::unique_ptr<BufferedStringListW> whiteList;
  std::unique_ptr<BufferedStringListW> blackList;
  CRegistryCleanerModuleCheckModule* owner = nullptr;
  // A run's worker that did not end after an abort; waited for before the
  // next run and at de-init.
  platform::ThreadHandle straggler = nullptr;
  // Steps of the current run that could not be done safely and left their
  // entries in place (a backup that did not reach the disk, a hive that
  // could not be saved). Each is logged at level 11 where it happens; any of
  // them makes the run's result say that it failed. 0 at each run's start.
  uint32_t runFailures = 0;
  // Whether the worker saves the registry at its run's end. The module object
  // clears it while it waits for the worker, and saves once itself after
  // writing the run's counters; a worker left running after an abort has it
  // set again, so that what it still changes is saved too.
  std::atomic<bool> saveAtRunEnd{true};
};

// Process-wide run values. Set by the scan driver's progress step and read by
// every loop of the registry walk between iterations.
extern std::atomic<uint32_t> AbortRequested;
// Entries a scan visits, counted once per module lifetime (0: not yet).
extern std::atomic<int32_t> TotalKeyCount;
// Entries visited in the current run; 0 at each run's start.
extern std::atomic<int32_t> ProcessedKeyCount;
// The last progress computed, in thousandths; 0 at each run's start.
extern std::atomic<int32_t> LastPermille;
// Tick (ms since boot) of the last progress sent to the host; never reset.
extern std::atomic<uint32_t> LastReportTick;

// The current boot session: the boot time in whole minutes since 1601 (UTC
// now minus the time since boot), low 32 bits. Equal values, same session.
uint32_t BootSessionSignature(platform::System* system = platform::System::Default());
