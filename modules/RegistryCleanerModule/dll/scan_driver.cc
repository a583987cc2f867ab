#include "modules/RegistryCleanerModule/dll/scan_driver.h"

#include <atomic>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_lifecycle.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/reg_backup_file.h"
#include "modules/RegistryCleanerModule/dll/registry_cleaner_check_module.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/run_failures.h"
#include "platform/system_text.h"
#include "platform/unicode.h"
#include "support/duration.h"

namespace {

constexpr uint32_t kWorkerStack = 0x400000;
constexpr uint32_t kPollMs = 100;
// After an abort the worker gets this many more polls (about 10 s).
constexpr int kAbortPolls = 100;
constexpr uint32_t kReportIntervalMs = 111;
// Exit codes of a worker that faulted: NTSTATUS error codes and up. No run
// counts that many problems.
constexpr uint32_t kFaultedThreadCodes = 0xC0000000u;
constexpr char16_t kFaultCause[] =
    u"The run stopped on a fault in its worker (a stack overflow or a bad access); the entries "
    u"not yet removed stay.";

std::vector<Scanner> testScanners;
int testAbortPolls = -1;

uint32_t RunScanners(RegCleanerEngine* engine) {
  uint32_t total = 0;
  if (!testScanners.empty()) {
    for (Scanner scanner : testScanners) total += scanner(engine);
    return total;
  }
  for (Scanner scanner : kScanners) total += scanner(engine);
  return total;
}

// Set when the worker's run came to its end, however it went; a worker the
// system ended on a fault never sets it.
std::atomic<bool> g_workerDone{false};

uint32_t WorkerThread(void* engine) {
  const uint32_t total = RegCleanerThread(engine);
  g_workerDone = true;
  return total;
}

uint32_t RunScannersProc(void* engine) {
  return RunScanners(static_cast<RegCleanerEngine*>(engine));
}

bool IsDirectory(platform::FileSystem* fs, const std::u16string& path) {
  const uint32_t attributes = fs->GetFileAttributes(path);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) != 0;
}

// The run's backup folder with its restore batch; false (the failure
// reported) when either is missing, and then nothing may be deleted.
bool PrepareRunBackupFolder(RegCleanerEngine* engine, platform::System* system) {
  platform::FileSystem* fs = platform::FileSystem::Default();
  // A folder of its own, made by a create that fails when the name is taken
  // (a run that started in the same second): the next name is tried, " (2)"
  // and on, so that two runs never write into one folder.
  const std::u16string base =
      engine->backupsFolder + u"\\" + platform::AnsiToU16(FormatTimestampForFileName(system));
  bool created = false;
  for (int n = 1; n <= 99 && !created; ++n) {
    engine->runBackupFolder =
        n == 1 ? base : base + u" (" + platform::AnsiToU16(std::to_string(n)) + u")";
    fs->SetLastError(0);
    created = fs->CreateDirectory(engine->runBackupFolder);
    if (!created && fs->GetLastError() != platform::kErrorAlreadyExists) break;
  }
  if (!created || !IsDirectory(fs, engine->runBackupFolder)) {
    ReportRunFailure(engine, u"The backup folder " + engine->runBackupFolder +
                                 u" could not be created (" + ReasonText(fs->GetLastError()) +
                                 u"); nothing was removed.");
    return false;
  }
  fs->SetLastError(0);
  if (WriteRestoreBatch(*engine) == 0) {
    ReportRunFailure(engine, u"The restore batch in " + engine->runBackupFolder +
                                 u" could not be written (" + ReasonText(fs->GetLastError()) +
                                 u"); nothing was removed.");
    return false;
  }
  return true;
}

// A run that kept no backup file leaves no folder: the restore batch alone
// would restore nothing.
void RemoveRunBackupFolderIfEmpty(RegCleanerEngine* engine) {
  platform::FileSystem* fs = platform::FileSystem::Default();
  std::vector<platform::DirectoryEntry> entries;
  if (!fs->ListDirectory(engine->runBackupFolder, &entries)) return;
  auto endsWith = [](std::u16string_view name, std::u16string_view ending) {
    return name.size() > ending.size() &&
           platform::AsciiEqualsIgnoreCase(name.substr(name.size() - ending.size()), ending);
  };
  for (const platform::DirectoryEntry& entry : entries) {
    if (!endsWith(entry.name, u".bat")) return;
  }
  for (const platform::DirectoryEntry& entry : entries)
    fs->DeleteFile(engine->runBackupFolder + u"\\" + entry.name);
  fs->RemoveDirectory(engine->runBackupFolder);
}

}  // namespace

void SetRunScannersForTesting(std::vector<Scanner> scanners, int abortPolls) {
  testScanners = std::move(scanners);
  testAbortPolls = abortPolls;
}

bool ClearAbortRequest(RegCleanerEngine* engine, platform::System* system) {
  if (engine->straggler != nullptr) {
    if (!system->WaitForThread(engine->straggler, 0)) return false;
    system->CloseThreadHandle(engine->straggler);
    engine->straggler = nullptr;
  }
  AbortRequested = 0;
  return true;
}

void WaitForStraggler(RegCleanerEngine* engine, platform::System* system) {
  if (engine->straggler == nullptr) return;
  system->WaitForThread(engine->straggler, platform::kInfinite);
  system->CloseThreadHandle(engine->straggler);
  engine->straggler = nullptr;
}

bool SaveRunChanges(RegCleanerEngine* engine) {
  // A hive that cannot be saved keeps the entries: the run failed.
  std::u16string hive;
  const uint32_t saved = EngineRegistry()->Flush(&hive);
  if (saved == platform::kRegSuccess) return true;
  ReportRunFailure(engine, u"The registry hive " + hive + u" could not be saved (" +
                               ReasonText(saved) + u"); its entries were not removed.");
  return false;
}

uint32_t RunEngine(RegCleanerEngine* engine, platform::System* system) {
  // A worker left running after an abort ends before the flag is cleared,
  // so that it never sees a cleared one.
  WaitForStraggler(engine, system);
  AbortRequested = 0;
  // The worker starts its run's count again; a run that never starts must
  // not report the failures of the one before.
  ResetRunFailures(engine);
  g_workerDone = false;
  platform::ThreadHandle worker = system->CreateThread(&WorkerThread, engine, kWorkerStack);
  if (worker == nullptr) return 0;
  // The thread's end is asked directly rather than read from its exit code,
  // so that a total of 259 problems is not taken for a thread still running.
  bool ended = system->WaitForThread(worker, 0);
  while (!ended && AbortRequested == 0) ended = system->WaitForThread(worker, kPollMs);
  if (!ended) {
    const int polls = testAbortPolls >= 0 ? testAbortPolls : kAbortPolls;
    for (int poll = 0; poll <= polls && !ended; ++poll)
      ended = system->WaitForThread(worker, poll == 0 ? 0 : kPollMs);
  }
  if (!ended) {
    // A thread cannot be ended from outside without risking the locks it
    // holds; it only waits on the system and stops at its next entry, and
    // saves what it changed itself.
    engine->saveAtRunEnd = true;
    engine->straggler = worker;
    return 0;
  }
  uint32_t total = system->GetExitCodeThread(worker);
  system->CloseThreadHandle(worker);
  // On Windows a faulted worker ends with its guard's exit code, or, where
  // the guard had no stack left to run on, the system ends it (Wine: with
  // any code) before its run was done.
  if (total >= kFaultedThreadCodes || !g_workerDone) {
    // Its lockout handle goes with it: no other instance waits on a dead run.
    ReleaseLockoutMutex(engine, system);
    ReportRunFailure(engine, kFaultCause);
    total = 0;
  }
  return total;
}

uint32_t RegCleanerThread(void* argument) {
  auto* engine = static_cast<RegCleanerEngine*>(argument);
  platform::System* system = platform::System::Default();
  if (!IsElevatedAdmin(system)) return 0;
  TakeLockoutMutex(engine, system);
  std::vector<uint8_t> privileges;
  const bool privilegesEnabled = system->EnableAllPrivileges(&privileges);
  uint32_t total = 0;
  {
    FsRedirectionSwitch redirection(true, system);
    platform::FileSystem::Default()->SetLastError(0);
    EngineLogPrintf(6, "Start: RegCleanerThread, mode: %ls", ModeName(engine->mode));
    ResetRunFailures(engine);

    const uint32_t startTick = system->GetTickCount();
    ProcessedKeyCount = 0;
    LastPermille = 0;
    if (TotalKeyCount == 0) {
      const uint32_t mode = engine->mode;
      engine->mode = KeyCount;
      for (Scanner scanner : kScanners) TotalKeyCount += static_cast<int32_t>(scanner(engine));
      engine->mode = mode;
    }

    // Without its backup folder and restore batch a run that backs up does
    // not start: nothing may go that could not be given back.
    const bool backsUp = engine->mode == Backup || engine->mode == BackupAndClean;
    if (!backsUp || PrepareRunBackupFolder(engine, system)) {
      // A fault in the scanners (a stack overflow included) ends the run,
      // not the process.
      bool faulted = false;
      total = system->RunGuarded(&RunScannersProc, engine, &faulted);
      if (faulted) {
        total = 0;
        ReportRunFailure(engine, kFaultCause);
      }
      if (backsUp) RemoveRunBackupFolderIfEmpty(engine);
    }

    const std::string duration = TrimmedDuration(
        static_cast<int32_t>(system->GetTickCount() - startTick), kDurationMilliseconds);
    if (AbortRequested != 0) {
      EngineLogPrintf(4, "ABORTED: RegCleanerThread, found %d problems total, duration: %s", total,
                      duration.c_str());
    } else {
      EngineLogPrintf(6, "Stop: RegCleanerThread, found %d problems total, duration: %s", total,
                      duration.c_str());
    }
    // A Wine prefix's hives get the run's deletions now (Windows has them),
    // unless the module object saves them with its counters.
    if (engine->saveAtRunEnd) SaveRunChanges(engine);
    if (MyLogfile* log = EngineLog()) log->Flush();
  }
  if (privilegesEnabled) system->RestorePrivileges(privileges);
  ReleaseLockoutMutex(engine, system);
  return total;
}

int32_t ProgressStep(RegCleanerEngine* engine, platform::System* system) {
  const int32_t processed = ++ProcessedKeyCount;
  const int32_t total = TotalKeyCount;
  if (total == 0) return processed;
  const auto permille = static_cast<int32_t>(int64_t{processed} * 1000 / total);
  if (permille == LastPermille) return processed;
  // A run that passes the total counted at the module's first run (the
  // registry grew since) reports its first step at or past 100 % only: each
  // report of 100 waits until the host has been shown 100, and the display
  // cannot go further.
  const bool pastTotal = permille > 1000 && LastPermille >= 1000;
  LastPermille = permille;
  if (pastTotal) return processed;
  const uint32_t now = system->GetTickCount();
  if (now - LastReportTick > kReportIntervalMs) {
    if (engine->owner != nullptr && !engine->owner->ReportProgress(permille / 10.0))
      AbortRequested = 1;
    LastReportTick = now;
  }
  return processed;
}
