#include "tools/regclean/clean_command.h"

#include <algorithm>
#include <map>
#include <vector>

#include "framework/install_config.h"
#include "framework/module_library.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/machine.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/registry_paths.h"
#include "platform/system.h"
#include "platform/system_text.h"
#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"
#include "tools/regclean/progress_display.h"
#include "tools/regclean/report.h"

namespace regclean {

const char kCheckUsage[] =
    "Usage: regclean [--prefix DIR] check [--json]\n"
    "       regclean check --all [-j N] [--json] [DIR...]\n"
    "Scans the registry for entries that point at files, folders or programs that\n"
    "are gone, and lists them by category. No entry is changed, but the module\n"
    "writes its log (its path follows \"Log:\") and keeps the problem totals in\n"
    "the registry (HKLM\\SOFTWARE\\corvane\\<RegKey of install.cfg>).\n"
    "  --json   print the outcome as one JSON object (no progress is shown)\n"
    "  --all    check every Wine prefix found (see regclean prefixes --help), or\n"
    "           found below each DIR, each by a regclean of its own, and print a\n"
    "           table: problems per category, total and time per prefix\n"
    "  -j N     with --all: N prefixes at a time (default: one per processor)\n"
    "Exit status: 0 nothing found, 1 problems found, 2 error, failed run or canceled\n"
    "(with --all: 2 when any prefix could not be checked).\n";

const char kResolveUsage[] =
    "Usage: regclean [--prefix DIR] resolve [--yes] [--json]\n"
    "       regclean resolve --only|--skip CATEGORY[,CATEGORY] [--yes] [--json]\n"
    "       regclean resolve --all [-j N] [--yes] [--json] [DIR...]\n"
    "Removes the entries a check finds, after writing them to a backup folder\n"
    "that \"regclean restore\" takes back. Asks first unless --yes is given.\n"
    "  --yes    do not ask for confirmation\n"
    "  --json   print the outcome as one JSON object\n"
    "  --only CATEGORY[,CATEGORY]  remove only the problems of these categories\n"
    "  --skip CATEGORY[,CATEGORY]  leave the problems of these categories alone\n"
    "           (the names check prints, e.g. SharedDllMissingProblems)\n"
    "  --all    resolve every Wine prefix found, asking once for all; a prefix a\n"
    "           wineserver runs on is skipped; ends with each restore command\n"
    "  -j N     with --all: N prefixes at a time (default: one per processor)\n"
    "Exit status: 0 done, 2 error, failed run, refused or canceled (with --all:\n"
    "2 when any prefix was skipped or could not be resolved).\n";

const char kRestoreUsage[] =
    "Usage: regclean [--prefix DIR] restore FOLDER\n"
    "Puts back what a resolve removed: FOLDER is the backup folder the resolve\n"
    "named. Every .reg file in it is checked first: a deletion, a key outside\n"
    "what a resolve removes, a bad line or a cut file is named and nothing is\n"
    "written. On a Wine prefix the files are then imported into the prefix; on\n"
    "Windows the folder's restore batch runs.\n"
    "Exit status: 0 restored, 2 error.\n";

namespace {

using platform::FileSystem;

std::string Ansi(std::u16string_view text) { return platform::U16ToAnsi(text); }

// Where the machine is, for messages.
std::string MachineText() {
  const std::string name = platform::MachineName();
  return name.empty() ? std::string("this computer") : "the Wine prefix " + name;
}

std::string StopServerHint() {
  return "Stop it with: WINEPREFIX='" + platform::MachineName() + "' wineserver -k";
}

// The machine is there, its hives read cleanly and (for a change) no
// wineserver holds it; otherwise the reason is written to err.
bool MachineUsable(bool changes, std::ostream& err) {
  if (!platform::MachineExists()) {
    err << "regclean: no Wine prefix at " << platform::MachineName()
        << " (no system.reg): give --prefix DIR or set WINEPREFIX\n";
    return false;
  }
  const std::vector<std::string> problems = platform::MachineRegistryProblems();
  if (!problems.empty()) {
    for (const std::string& problem : problems)
      err << "regclean: damaged hive: " << problem << "\n";
    err << "regclean: the registry of " << MachineText()
        << " did not read cleanly, so nothing was done. Repair the named line of the hive\n"
           "(or put back a copy of the file) and run regclean again.\n";
    return false;
  }
  if (changes && platform::MachineRegistryLocked()) {
    err << "regclean: a wineserver is running on " << MachineText()
        << ", which owns its registry now; nothing was changed.\n"
        << StopServerHint() << "\n";
    return false;
  }
  return true;
}

// The module's folder of lists, logs and backups, found by the module's
// own rule for the module at modulePath, with "RegCleanerDll" below it.
std::u16string ContentFolder(const std::u16string& modulePath, FileSystem* fs) {
  return UserContentFolder(modulePath, platform::System::Default(), fs) + u"RegCleanerDll";
}

// The entries of a folder (files or folders) with the size of each file.
std::map<std::u16string, uint64_t> Snapshot(FileSystem* fs, const std::u16string& folder,
                                            bool folders) {
  std::map<std::u16string, uint64_t> sizes;
  std::vector<platform::DirectoryEntry> entries;
  if (!fs->ListDirectory(folder, &entries)) return sizes;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.name == u"." || entry.name == u"..") continue;
    const bool isFolder = (entry.attributes & platform::kFileAttributeDirectory) != 0;
    if (isFolder != folders) continue;
    uint64_t size = 0;
    if (!folders) {
      platform::FileHandle file = fs->CreateFile(
          folder + u"\\" + entry.name, platform::kGenericRead,
          platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting);
      if (file != nullptr) {
        fs->GetFileSize(file, &size);
        fs->CloseHandle(file);
      }
    }
    sizes[entry.name] = size;
  }
  return sizes;
}

// The newest entry (names are start times) that is new since before or, for
// files, grew since; empty when none.
std::u16string NewestChanged(const std::map<std::u16string, uint64_t>& before,
                             const std::map<std::u16string, uint64_t>& after) {
  std::u16string newest;
  for (const auto& [name, size] : after) {
    const auto old = before.find(name);
    if ((old == before.end() || old->second < size) && name > newest) newest = name;
  }
  return newest;
}

bool HoldsBackupFiles(FileSystem* fs, const std::u16string& folder) {
  for (const auto& [name, size] : Snapshot(fs, folder, false)) {
    if (name.size() > 4 &&
        platform::AsciiEqualsIgnoreCase(std::u16string_view(name).substr(name.size() - 4), u".reg"))
      return true;
  }
  return false;
}

struct ProgressContext {
  ProgressDisplay* display;  // nullptr: nothing is drawn
  platform::System* system;
  uint64_t startMs;
};

bool MODULE_CALL OnProgress(void* context, double* percent, int, int) {
  auto* progress = static_cast<ProgressContext*>(context);
  if (percent != nullptr && progress->display != nullptr) {
    progress->display->Update(*percent, progress->system->GetTickCount64() - progress->startMs);
  }
  // A Ctrl-C asks the module to stop.
  return !platform::InterruptRequested();
}

bool Confirm(std::istream& in, std::ostream& out, bool* answered) {
  out << "Remove the problems found in the registry of " << MachineText()
      << "?\nA backup of every removed entry is written first. [y/N] " << std::flush;
  std::string answer;
  *answered = static_cast<bool>(std::getline(in, answer));
  return *answered && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// The keys below which the module's seven categories remove entries, in
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER; a restore writes nowhere else.
constexpr std::u16string_view kBackupRoots[] = {
    u"SOFTWARE\\Classes",
    u"SOFTWARE\\Wow6432Node\\Classes",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
};

// head is path's first part, up to a separator or its end (ASCII case ignored).
bool StartsWithKey(std::u16string_view path, std::u16string_view head) {
  return path.size() >= head.size() &&
         platform::AsciiEqualsIgnoreCase(path.substr(0, head.size()), head) &&
         (path.size() == head.size() || path[head.size()] == u'\\');
}

platform::RegKeyScope BackupScope(platform::HKey root, std::u16string_view subKey) {
  std::u16string path;
  if (root == platform::kHkeyClassesRoot) {
    path = u"SOFTWARE\\Classes";
    if (!subKey.empty()) path += u"\\" + std::u16string(subKey);
  } else if (root == platform::kHkeyLocalMachine || root == platform::kHkeyCurrentUser) {
    path = subKey;
  } else {
    return platform::RegKeyScope::kOutside;
  }
  bool onTheWay = false;
  for (std::u16string_view backupRoot : kBackupRoots) {
    if (StartsWithKey(path, backupRoot)) return platform::RegKeyScope::kInside;
    if (path.empty() || StartsWithKey(backupRoot, path)) onTheWay = true;
  }
  return onTheWay ? platform::RegKeyScope::kOnTheWay : platform::RegKeyScope::kOutside;
}

// What a restore takes: nothing deleted, no cut file, strings as stored,
// only the categories' keys.
platform::RegImportOptions RestoreOptions() {
  platform::RegImportOptions options;
  options.refuseDeletions = true;
  options.refuseCutFiles = true;
  options.exactStrings = true;
  options.scope = BackupScope;
  return options;
}

}  // namespace

bool HoldMachineForChanges(std::ostream& err, const char* lead) {
  // Long enough for a restore or a reg command to end; a resolve that holds
  // the prefix takes longer, and the user runs the command again after it.
  constexpr uint32_t kWaitMs = 2000;
  const uint32_t held = platform::HoldMachineWriter(kWaitMs);
  if (held == 0) return true;
  if (held == platform::kErrorLockViolation) {
    err << lead << "another regclean is changing this prefix; nothing was changed. Run this "
        << "again when it has ended.\n";
  } else {
    err << lead << "cannot lock " << MachineText() << " for changes (error " << held
        << "); nothing was changed.\n";
  }
  return false;
}

int RunCheckOrResolve(const CleanOptions& options, std::istream& in, std::ostream& out,
                      std::ostream& err) {
  if (!MachineUsable(options.resolve, err)) return kFailed;
  if (options.resolve && !options.yes) {
    bool answered = false;
    if (!Confirm(in, options.json ? err : out, &answered)) {
      if (!answered) {
        err << "\nregclean: no answer; nothing was changed (add --yes to resolve without asking)\n";
        return kFailed;
      }
      (options.json ? err : out) << "Nothing was changed.\n";
      return kNothingFound;
    }
  }
  // One writer per prefix: backups of two runs never share a folder, and no
  // hive is saved over another run's changes.
  if (options.resolve && !HoldMachineForChanges(err)) return kFailed;

  platform::System* system = platform::System::Default();
  FileSystem* fs = FileSystem::Default();
  const std::u16string host = system->GetHostFileName();
  const std::u16string root = host.substr(0, host.find_last_of(u"\\/") + 1);
  const std::u16string modulePath =
      root + u"modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";
  const std::u16string content = ContentFolder(modulePath, fs);
  const std::u16string logFolder = content + u"\\Log";
  const std::u16string backupsFolder = content + u"\\Backups";
  const auto logsBefore = Snapshot(fs, logFolder, false);
  const auto backupsBefore = Snapshot(fs, backupsFolder, true);

  RunOutcome outcome;
  outcome.resolve = options.resolve;
  outcome.machine = platform::MachineName();
  {
    ModuleLibrary library;
    std::string error;
    if (!library.Load(modulePath, &error)) {
      err << "regclean: cannot load the module " << platform::HostPath(modulePath) << ": " << error
          << "\nBuild the suite with `make` and run the staged build/stage/regclean.\n";
      return kFailed;
    }
    ModuleHandle module = library.create();
    if (module == nullptr) {
      err << "regclean: the module could not create its instance (out of memory)\n";
      return kFailed;
    }
    outcome.title = ModuleLibrary::Text(library.getTitle, module);
    outcome.description = ModuleLibrary::Text(library.getDescription, module);
    const int columns = platform::TerminalColumns();
    const int width = columns > 0 ? std::min(columns - 1, 100) : 80;
    if (!options.json) {
      out << FormatHeading(outcome, width)
          << (options.resolve ? "Cleaning the registry of " : "Checking the registry of ")
          << MachineText() << "\n"
          << std::flush;
    }

    // Progress is drawn only on a terminal. A check has a callback only then:
    // a run nobody watches does not wait for a display. A resolve always has
    // one, since the callback is the module's only way to hear a stop (Ctrl-C,
    // SIGTERM) and a resolve must stop after the entry in hand; the suite's
    // install.cfg lets a watched display follow the work, so it waits for no
    // climb either.
    const bool drawn = !options.json && platform::IsTerminal(platform::StandardStream::kError);
    const bool watched = drawn || options.resolve;
    ProgressDisplay display(err, drawn, columns > 0 ? columns : 80,
                            Ansi(ModuleLibrary::Text(options.resolve ? library.getResolveButtonTitle
                                                                     : library.getCheckButtonTitle,
                                                     module)));
    ProgressContext context{drawn ? &display : nullptr, system, system->GetTickCount64()};
    if (watched) library.setProgressCallback(module, &OnProgress, &context);
    platform::CatchInterrupt();
    if (options.resolve) {
      library.executeResolve(module);
    } else {
      // An empty channel name: the work runs here, in this process, when it
      // has the rights for it; otherwise the module hands it on as always.
      static const ModuleChar kNoChannel[1] = {0};
      library.executeCheck(module, kNoChannel, 1);
    }
    if (watched) {
      display.Finish();
      library.setProgressCallback(module, nullptr, nullptr);
    }
    outcome.level = library.getResultLevel(module);
    outcome.text = ModuleLibrary::Text(library.getResultText, module);
    outcome.subResultsJson = ModuleLibrary::Text(library.getSubResultsAsJson, module);
    // Without a callback the module never heard the stop: the run went to its end.
    outcome.canceled = watched && platform::InterruptRequested();
    ReadFailures(&outcome);
    // The module writes out its log when it is destroyed, at the latest.
    library.destroy(module);
  }

  // The log is read twice, a piece at a time: once for the counts, once for
  // the problems, each written as it is read.
  const std::u16string log = NewestChanged(logsBefore, Snapshot(fs, logFolder, false));
  const std::u16string logPath = log.empty() ? std::u16string() : logFolder + u"\\" + log;
  uint64_t logFrom = 0;
  if (!log.empty()) {
    const auto old = logsBefore.find(log);
    logFrom = old == logsBefore.end() ? 0 : static_cast<uint64_t>(old->second);
    if (ReadRunLog(fs, logPath, logFrom, &outcome.log))
      outcome.logFile = platform::HostPath(logPath);
  }
  const ProblemSource problems = [&](const ProblemSink& sink) {
    if (!outcome.logFile.empty()) ForEachLoggedProblem(fs, logPath, logFrom, outcome.log, sink);
  };
  if (options.resolve) {
    // A run folder without backup files stands for nothing removed.
    const std::u16string backup = NewestChanged(backupsBefore, Snapshot(fs, backupsFolder, true));
    if (!backup.empty() && HoldsBackupFiles(fs, backupsFolder + u"\\" + backup))
      outcome.backupFolder = platform::HostPath(backupsFolder + u"\\" + backup);
  }
  if (options.outcome != nullptr) {
    // A caller that asks for the outcome gets the problems kept, too.
    *options.outcome = outcome;
    problems([&](size_t category, const LoggedProblem& problem) {
      options.outcome->log.categories[category].problems.push_back(problem);
    });
  }

  if (options.json) {
    WriteJson(outcome, problems, out);
  } else {
    out << "\n";
    WriteResult(outcome, problems, out);
    if (!outcome.backupFolder.empty()) {
      out << (outcome.failed ? "Backup of the entries handled before the failure: "
                             : "Backup of the removed entries: ")
          << outcome.backupFolder << "\n"
          << "To put them back: regclean"
          << (outcome.machine.empty() ? std::string() : " --prefix '" + outcome.machine + "'")
          << " restore '" << outcome.backupFolder << "'\n";
    }
  }
  if (outcome.failed) {
    for (const std::u16string& failure : outcome.failures)
      err << "regclean: " << Ansi(failure) << "\n";
    err << "regclean: the " << (options.resolve ? "resolve" : "check") << " failed"
        << (outcome.failures.empty() ? " (the module names no cause; see its log)" : "")
        << (options.resolve ? "; what could not be removed safely is still in the registry\n"
                            : "\n");
    return kFailed;
  }
  if (outcome.canceled) {
    if (options.resolve) {
      // What the log names was removed, each entry after its backup.
      const int removed = ProblemCount(outcome);
      err << "regclean: canceled; " << removed << (removed == 1 ? " problem" : " problems")
          << " removed before the stop, the rest is still in the registry\n";
    } else {
      err << "regclean: canceled; the outcome is incomplete\n";
    }
    return kFailed;
  }
  if (options.resolve) return kNothingFound;
  return ProblemCount(outcome) != 0 ? kProblemsFound : kNothingFound;
}

int RunRestore(const std::string& folder, std::ostream& out, std::ostream& err) {
  if (!MachineUsable(true, err)) return kFailed;
  FileSystem* fs = FileSystem::Default();
  const std::u16string path = platform::AnsiToU16(folder);
  std::vector<platform::DirectoryEntry> entries;
  if (!fs->ListDirectory(path, &entries)) {
    err << "regclean: no backup folder " << folder
        << ": give the folder that \"regclean resolve\" named\n";
    return kFailed;
  }
  std::vector<std::u16string> names;
  for (const platform::DirectoryEntry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  auto endsWith = [](const std::u16string& name, std::u16string_view ending) {
    return name.size() > ending.size() &&
           platform::AsciiEqualsIgnoreCase(
               std::u16string_view(name).substr(name.size() - ending.size()), ending);
  };

  if (!HoldMachineForChanges(err)) return kFailed;
  // Every file is read and tried on a scratch registry first; nothing is
  // written unless all of them take, and then all go in with one save (on
  // Windows, through the folder's restore batch).
  struct BackupFile {
    std::u16string name;
    std::string bytes;
  };
  std::vector<BackupFile> backups;
  bool failed = false;
  const platform::RegImportOptions restoreOptions = RestoreOptions();
  for (const std::u16string& name : names) {
    if (!endsWith(name, u".reg")) continue;
    const std::string shown = folder + "/" + Ansi(name);
    BackupFile backup{name, {}};
    if (!platform::ReadWholeFile(fs, path + u"\\" + name, &backup.bytes)) {
      err << "regclean: cannot read " << shown << "\n";
      failed = true;
      continue;
    }
    platform::memory::MemoryRegistry scratch;
    const platform::RegImportResult tried =
        platform::ImportRegFile(&scratch, backup.bytes, platform::kKeyWow64_64Key, restoreOptions);
    if (!tried.recognized) {
      err << "regclean: " << shown << " is not a registry file\n";
      failed = true;
      continue;
    }
    for (const platform::RegFileProblem& problem : tried.problems) {
      err << shown << ":" << problem.line << ": " << problem.message << "\n";
      failed = true;
    }
    backups.push_back(std::move(backup));
  }
  if (failed) {
    err << "regclean: " << folder
        << " is not a backup as a resolve writes it (lines listed above); nothing was "
           "restored\n";
    return kFailed;
  }
  if (backups.empty()) {
    err << "regclean: " << folder << " holds no backup files (.reg); nothing was restored\n";
    return kFailed;
  }

  if (platform::MachineName().empty()) {
    // Windows: the folder's own restore batch, in its folder, as a person
    // would start it there, once the files passed the same checks.
    const auto batch = std::find_if(names.begin(), names.end(),
                                    [&](const std::u16string& n) { return endsWith(n, u".bat"); });
    if (batch == names.end()) {
      err << "regclean: " << folder << " holds no restore batch (.bat)\n";
      return kFailed;
    }
    platform::System* system = platform::System::Default();
    const std::u16string full = fs->GetFullPathName(path);
    uint32_t error = 0;
    platform::ProcessHandle process = system->CreateProcess(
        u"cmd.exe /D /C \"\"" + full + u"\\" + *batch + u"\"\"", full, false, false, &error);
    if (process == nullptr) {
      err << "regclean: cannot start the restore batch (error " << error << ")\n";
      return kFailed;
    }
    uint32_t code = platform::kStillActive;
    while (system->GetExitCodeProcess(process, &code) && code == platform::kStillActive) {
      system->Sleep(100);
    }
    system->CloseProcessHandle(process);
    out << "The restore batch " << Ansi(*batch) << " ended with status " << code
        << "; its report is Result.txt in " << folder << "\n";
    return code == 0 ? kNothingFound : kFailed;
  }

  platform::Registry* registry = platform::Registry::Default();
  uint32_t values = 0;
  std::vector<std::string> imported;
  for (const BackupFile& backup : backups) {
    const platform::RegImportResult result =
        platform::ImportRegFile(registry, backup.bytes, platform::kKeyWow64_64Key, restoreOptions);
    for (const platform::RegFileProblem& problem : result.problems) {
      err << folder << "/" << Ansi(backup.name) << ":" << problem.line << ": " << problem.message
          << "\n";
      failed = true;
    }
    values += result.valuesSet;
    imported.push_back("Imported " + Ansi(backup.name) + ": " + std::to_string(result.valuesSet) +
                       " value(s)\n");
  }
  if (failed) {
    // Only a registry that refuses writes gets here (the scratch run took
    // every line); it is not saved.
    err << "regclean: the registry refused the lines above; nothing was restored\n";
    return kFailed;
  }
  const uint32_t saved = registry->Flush();
  if (saved != platform::kRegSuccess) {
    err << "regclean: the registry could not be saved (error " << saved << ")"
        << (platform::MachineRegistryLocked()
                ? "; a wineserver runs on the prefix. " + StopServerHint()
                : std::string())
        << "; nothing was restored\n";
    return kFailed;
  }
  for (const std::string& line : imported) out << line;
  out << "Restored " << values << " value(s) from " << backups.size() << " backup file(s) into "
      << MachineText() << ".\n";
  return kNothingFound;
}

}  // namespace regclean
