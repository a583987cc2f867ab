// "regclean check|resolve|restore" end to end: the staged host, as a user
// runs it, on fresh copies of the demo prefix: what it prints, its exit
// status, its JSON, what a resolve removes and a restore brings back (the
// hives compared by content), and its refusals and errors.
#include <gtest/gtest.h>

#ifdef _WIN32

TEST(RegcleanHost, PosixOnly) { GTEST_SKIP() << "runs the POSIX host on a copy of a Wine prefix"; }

#else

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "support/json_value.h"
#include "tests/platform/demo_prefix.h"
#include "tests/platform/wineserver_lock.h"
#include "tests/tools/staged_regclean.h"

namespace {

namespace fs = std::filesystem;

// What a resolve of the demo removes: whole keys, and values of keys that stay.
const std::set<std::string> kRemovedKeys = {
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
    "oldsave]",
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
    "oldsave\\OpenWithList]",
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.phtl]",
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
    "phtl\\OpenWithList]",
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.phtl]",
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{6B3C1E52-8F0A-4C1D-9E21-3A5D7C0B4E11}]",
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{6B3C1E52-8F0A-4C1D-9E21-3A5D7C0B4E11}"
    "\\InprocServer32]",
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-"
    "18\\Components\\2F8E1B6A9C3D4E5F8A7B6C5D4E3F2A1B]",
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PhotoTool]",
    "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\CLSID\\{C4E2A7B9-1D3F-4A6B-8C5E-"
    "9F0A1B2C3D47}]",
    "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\CLSID\\{C4E2A7B9-1D3F-4A6B-8C5E-"
    "9F0A1B2C3D47}\\InprocServer32]",
    "[HKEY_LOCAL_"
    "MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OldGame]",
};
const std::set<std::string> kRemovedValues = {
    "\"C:\\\\Program Files\\\\PhotoTool\\\\\"=\"\"",
    "\"C:\\\\Program Files\\\\Common Files\\\\PhotoTool\\\\ptcodec.dll\"=dword:00000001",
    "\"C:\\\\Program Files\\\\PhotoTool\\\\phthumb.dll\"=dword:00000002",
    "\"C:\\\\Program Files (x86)\\\\OldGame\\\\gameaudio.dll\"=dword:00000001",
};
// Problems per category of a check of the demo, in the order of the run.
const std::pair<const char16_t*, int> kDemoCategories[] = {
    {u"UninstallInvalidProblems", 2},     {u"SharedDllMissingProblems", 3},
    {u"UnusedFileTypeExtensions", 1},     {u"UnusedExplorerFileExtensions", 2},
    {u"InstallerFolderEmptyProblems", 1}, {u"InstallerUserDataProblems", 1},
    {u"InprocServer32Problems", 2},
};

// The demo's SharedDlls values whose files are gone.
const char* const kMissingSharedDlls[] = {
    "C:\\Program Files\\Common Files\\PhotoTool\\ptcodec.dll",
    "C:\\Program Files\\PhotoTool\\phthumb.dll",
    "C:\\Program Files (x86)\\OldGame\\gameaudio.dll",
};

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::string Ansi(const std::u16string& text) { return std::string(text.begin(), text.end()); }

class RegcleanHostTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/regclean-demo.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    prefix_ = dir_ / "prefix";
    test_prefix::CopyDemoPrefix(prefix_);
  }

  void TearDown() override {
    lock_.Release();
    if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
    fs::remove_all(dir_);
  }

  // Moves the prefix's hives onto a small file system that is then filled,
  // its drive_c staying where it is; false when no tmpfs can be mounted.
  bool HivesOnAFullDisk(std::string* why) {
    const fs::path full = dir_ / "full";
    fs::create_directories(full);
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) {
      *why = std::strerror(errno);
      return false;
    }
    mounted_ = full;
    fs::create_directories(full / "dosdevices");
    for (const char* hive : {"system.reg", "user.reg", "userdef.reg"})
      fs::copy(prefix_ / hive, full);
    fs::create_directory_symlink(prefix_ / "drive_c", full / "dosdevices/c:");
    fs::create_directory_symlink("/", full / "dosdevices/z:");
    prefix_ = full;
    std::ofstream filler(full / "filler", std::ios::binary);
    const std::string block(1024, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
    return true;
  }

  RegcleanOutcome Regclean(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--prefix", prefix_.string()});
    return RunStagedRegclean(dir_, args, input);
  }

  // The registry content of the prefix's machine and user hives, from their
  // .reg export: every key with its values, keys and values in name order,
  // so that only content counts (not the time in a key line, nor the order
  // in which a restore put values back), without the module's run totals.
  std::string RegistryText() {
    std::string out;
    for (const auto& [key, values] : RegistryKeys()) {
      out += key + "\n";
      for (const std::string& value : values) out += value + "\n";
    }
    return out;
  }
  std::map<std::string, std::set<std::string> > RegistryKeys() {
    std::map<std::string, std::set<std::string> > keys;
    for (const char* root : {"HKLM", "HKCU"}) {
      const std::string file = (dir_ / "export.reg").string();
      const RegcleanOutcome run = Regclean({"reg", "export", root, file, "/y"});
      EXPECT_EQ(run.status, 0) << run.err;
      // The export is UTF-16 LE; the demo's names and data are ASCII.
      const std::string wide = ReadFileText(file);
      std::string text;
      for (size_t i = 2; i + 1 < wide.size(); i += 2) text += wide[i];
      std::string line, joined, key;
      std::istringstream lines(text);
      while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        joined += line;
        if (!joined.empty() && joined.back() == '\\' && joined.find('=') != std::string::npos) {
          joined.pop_back();  // a hex value goes on in the next line
          continue;
        }
        if (joined.size() > 2 && joined.front() == '[') {
          key = joined;
          keys[key];
        } else if (joined.rfind("\"REGISTRYCLEANERMODULE_", 0) == 0) {
          // The module's own run totals, which every run rewrites.
        } else if (!joined.empty() && !key.empty()) {
          keys[key].insert(joined);
        }
        joined.clear();
      }
    }
    return keys;
  }

  // Runs "check --json" and reads its output; skips the test when the module
  // scanned nothing (it left no log: its engine is not there yet).
  JsonValue CheckJson(bool requireScan) {
    const RegcleanOutcome run = Regclean({"check", "--json"});
    JsonValue outcome;
    JsonParseError error;
    // One JSON object, then the line end. (The reader takes line ends in
    // the text only as raw control characters.)
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_TRUE(outcome.Parse(Wide(run.out.substr(0, run.out.size() - 1)),
                              JsonFlags::RawControlChars, &error))
        << run.out << Ansi(error.message) << " at " << error.line << ":" << error.column;
    if (requireScan && outcome[u"logFile"].kind() == JsonKind::Null) {
      skipped_ = true;
    }
    return outcome;
  }

  // Starts the staged regclean on the prefix without waiting; its streams
  // go to files named by tag.
  pid_t Spawn(std::vector<std::string> args, const std::string& tag) {
    args.insert(args.begin(), {REGCLEAN_STAGE_DIR "/regclean", "--prefix", prefix_.string()});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string out = (dir_ / (tag + ".out")).string(),
                      err = (dir_ / (tag + ".err")).string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  // Waits for a Spawn; status -1 when a signal ended it.
  RegcleanOutcome Reap(pid_t pid, const std::string& tag) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileText(dir_ / (tag + ".out")),
            ReadFileText(dir_ / (tag + ".err"))};
  }
  // The backup folder a resolve named; empty when none.
  static std::string NamedBackup(const RegcleanOutcome& run) {
    for (const std::string marker : {"Backup of the removed entries: ",
                                     "Backup of the entries handled before the failure: "}) {
      const size_t at = run.out.find(marker);
      if (at != std::string::npos)
        return run.out.substr(at + marker.size(), run.out.find('\n', at) - at - marker.size());
    }
    return {};
  }
  fs::path Backups() { return prefix_ / "drive_c/ProgramData/RegClean/RegCleanerDll/Backups"; }
  void AppendToHive(const std::string& blocks) {
    std::ofstream(prefix_ / "system.reg", std::ios::binary | std::ios::app) << blocks;
  }
  // Copies the prefix aside, and back over a changed one.
  void KeepPrefix() {
    fs::copy(prefix_, dir_ / "original",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  void RenewPrefix() {
    fs::remove_all(prefix_);
    fs::copy(dir_ / "original", prefix_,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }

  fs::path dir_;
  fs::path prefix_;
  fs::path mounted_;
  WineserverLock lock_;
  bool skipped_ = false;
};

#define SKIP_WITHOUT_SCAN()                                          \
  if (skipped_)                                                      \
  GTEST_SKIP() << "the module scanned nothing and left no log: its " \
                  "scan engine is not built yet"

TEST_F(RegcleanHostTest, CheckShowsTheModuleAndListsTheProblemsByCategory) {
  const RegcleanOutcome run = Regclean({"check"});
  // The module's own texts, through its exports.
  EXPECT_EQ(run.out.rfind("Clean Registry\n==============\nThe Windows Registry is the central", 0),
            0u)
      << run.out;
  EXPECT_NE(run.out.find("Checking the registry of the Wine prefix " + prefix_.string()),
            std::string::npos);
  EXPECT_NE(run.out.find("\nResult: "), std::string::npos);
  EXPECT_NE(run.out.find("Sub-results: none\n"), std::string::npos);
  // Standard error is no terminal here: nothing watches, nothing is drawn.
  EXPECT_EQ(run.err.find("progress"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos);

  if (run.out.find("\nLog: ") == std::string::npos) {
    EXPECT_EQ(run.status, 0);
    GTEST_SKIP() << "the module scanned nothing and left no log: its scan engine is not built yet";
  }
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("Shared DLL counters of missing files (SharedDllMissingProblems): 3\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                         "SharedDlls\n"),
            std::string::npos)
      << run.out;
  for (const char* missing : kMissingSharedDlls) {
    EXPECT_NE(run.out.find(std::string("      Missing: ") + missing + "\n"), std::string::npos)
        << missing;
  }
  // Files that exist are no problems.
  EXPECT_EQ(run.out.find("ndxcore.dll"), std::string::npos);
  EXPECT_EQ(run.out.find("zhcore.dll"), std::string::npos);
  EXPECT_NE(run.out.find(" found.\n"), std::string::npos);
}

TEST_F(RegcleanHostTest, JsonHoldsTheWholeOutcome) {
  JsonValue outcome = CheckJson(false);
  EXPECT_EQ(*outcome[u"command"].string(), u"check");
  EXPECT_EQ(*outcome[u"module"].string(), u"Clean Registry");
  EXPECT_EQ(*outcome[u"prefix"].string(), Wide(prefix_.string()));
  EXPECT_EQ(outcome[u"level"].kind(), JsonKind::Number);
  EXPECT_EQ(outcome[u"text"].kind(), JsonKind::String);
  ASSERT_NE(outcome[u"subResults"].array(), nullptr);
  EXPECT_TRUE(outcome[u"subResults"].array()->empty());
  EXPECT_EQ(outcome[u"canceled"].kind(), JsonKind::Boolean);
  ASSERT_NE(outcome[u"categories"].array(), nullptr);
  // No backup folder for a check.
  EXPECT_EQ(outcome.object()->count(u"backupFolder"), 0u);
  if (outcome[u"logFile"].kind() == JsonKind::Null) {
    GTEST_SKIP() << "the module scanned nothing and left no log: its scan engine is not built yet";
  }
  EXPECT_TRUE(fs::exists(
      std::string(outcome[u"logFile"].string()->begin(), outcome[u"logFile"].string()->end())));
  EXPECT_GT(outcome[u"problemCount"].integer(), 0);
  const JsonValue* shared = nullptr;
  std::vector<std::pair<std::u16string, int> > counts;
  for (JsonValue& category : *outcome[u"categories"].array()) {
    if (*category[u"name"].string() == u"SharedDllMissingProblems") shared = &category;
    counts.emplace_back(*category[u"name"].string(),
                        static_cast<int>(category[u"count"].integer()));
  }
  // Every category finds exactly the demo's stale entries.
  const std::vector<std::pair<std::u16string, int> > expected(std::begin(kDemoCategories),
                                                              std::end(kDemoCategories));
  EXPECT_EQ(counts, expected);
  EXPECT_EQ(outcome[u"problemCount"].integer(), 12);
  ASSERT_NE(shared, nullptr);
  JsonValue sharedCopy = *shared;
  EXPECT_EQ(sharedCopy[u"count"].integer(), 3);
  ASSERT_EQ(sharedCopy[u"problems"].array()->size(), 3u);
  std::vector<std::u16string> missing;
  for (JsonValue& problem : *sharedCopy[u"problems"].array()) {
    EXPECT_EQ(problem[u"key"].string()->rfind(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\", 0), 0u);
    missing.push_back(*problem[u"missing"].string());
  }
  for (const char* name : kMissingSharedDlls) {
    EXPECT_NE(std::find(missing.begin(), missing.end(), Wide(name)), missing.end()) << name;
  }
}

TEST_F(RegcleanHostTest, ResolveRemovesWhatCheckFoundAndRestoreBringsItBack) {
  CheckJson(true);
  SKIP_WITHOUT_SCAN();
  const std::string before = RegistryText();
  const auto keysBefore = RegistryKeys();

  RegcleanOutcome run = Regclean({"resolve", "--yes"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string marker = "Backup of the removed entries: ";
  const size_t at = run.out.find(marker);
  ASSERT_NE(at, std::string::npos) << run.out;
  const std::string backup =
      run.out.substr(at + marker.size(), run.out.find('\n', at) - at - marker.size());
  EXPECT_EQ(
      backup.rfind((prefix_ / "drive_c/ProgramData/RegClean/RegCleanerDll/Backups/").string(), 0),
      0u)
      << backup;
  EXPECT_TRUE(fs::exists(fs::path(backup) / "SharedDllMissingProblems.reg"));
  EXPECT_NE(run.out.find("restore '" + backup + "'"), std::string::npos);

  // A second resolve removes nothing, so it names no backup to restore and
  // leaves no folder behind.
  run = Regclean({"resolve", "--yes"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("Backup of"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("restore '"), std::string::npos) << run.out;
  EXPECT_EQ(std::distance(fs::directory_iterator(Backups()), fs::directory_iterator()), 1);

  // A second check finds nothing; exactly the stale entries are gone.
  run = Regclean({"check"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("No problems found."), std::string::npos);
  const auto keysAfter = RegistryKeys();
  std::set<std::string> removedKeys, removedValues;
  for (const auto& [key, values] : keysBefore) {
    const auto kept = keysAfter.find(key);
    if (kept == keysAfter.end()) {
      removedKeys.insert(key);
      continue;
    }
    for (const std::string& value : values)
      if (kept->second.count(value) == 0) removedValues.insert(value);
  }
  EXPECT_EQ(removedKeys, kRemovedKeys);
  EXPECT_EQ(removedValues, kRemovedValues);
  for (const auto& [key, values] : keysAfter) EXPECT_EQ(keysBefore.count(key), 1u) << key;

  run = Regclean({"restore", backup});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Restored "), std::string::npos);
  EXPECT_EQ(RegistryText(), before);
}

TEST_F(RegcleanHostTest, RestoreImportsABackupFolder) {
  // A backup folder as a resolve leaves it: .reg files and a batch.
  const fs::path backup = dir_ / "backup";
  fs::create_directories(backup);
  ASSERT_EQ(Regclean({"reg", "export",
                      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                      "Uninstall\\PhotoTool",
                      (backup / "UninstallInvalidProblems.reg").string()})
                .status,
            0);
  std::ofstream(backup / "Restore Function.bat") << "@ECHO off\r\n";
  const std::string before = RegistryText();
  ASSERT_EQ(
      Regclean({"reg", "delete",
                "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PhotoTool", "/f"})
          .status,
      0);
  ASSERT_NE(RegistryText(), before);

  RegcleanOutcome run = Regclean({"restore", backup.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Imported UninstallInvalidProblems.reg: 5 value(s)\n"), std::string::npos)
      << run.out;
  EXPECT_EQ(RegistryText(), before);

  // A folder without backup files, and no folder at all.
  fs::create_directories(dir_ / "empty");
  run = Regclean({"restore", (dir_ / "empty").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("holds no backup files (.reg)"), std::string::npos) << run.err;
  run = Regclean({"restore", (dir_ / "nowhere").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("no backup folder"), std::string::npos) << run.err;
}

// One writer per prefix: a resolve, a restore and reg import/delete hold the
// prefix's lock for their whole run; another one waits a little, then
// refuses; the kernel lets go of the lock of a process that dies.
TEST_F(RegcleanHostTest, OneWriterPerPrefix) {
  CheckJson(true);
  SKIP_WITHOUT_SCAN();
  const std::string before = RegistryText();
  const auto keysBefore = RegistryKeys();
  const std::string system = ReadFileText(prefix_ / "system.reg");
  const std::string key =
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PhotoTool";
  ASSERT_EQ(Regclean({"reg", "export", key, (dir_ / "one.reg").string()}).status, 0);
  {
    const int held = open((prefix_ / ".regclean-writer.lock").c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string> >{{"resolve", "--yes"},
                                                {"restore", dir_.string()},
                                                {"reg", "import", (dir_ / "one.reg").string()},
                                                {"reg", "delete", key, "/f"}}) {
      const RegcleanOutcome run = Regclean(args);
      EXPECT_EQ(run.status, args[0] == "reg" ? 1 : 2) << args[0];
      EXPECT_NE(run.err.find("another regclean is changing this prefix"), std::string::npos)
          << run.err;
    }
    close(held);
  }
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);

  // Two resolves started in the same moment, round after round (the last
  // one killing the first after 300 ms): one removes, the other waits and
  // refuses or finds nothing left, and the backup restores everything.
  KeepPrefix();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    RenewPrefix();
    const pid_t first = Spawn({"resolve", "--yes"}, "a");
    const pid_t second = Spawn({"resolve", "--yes"}, "b");
    if (round == 2) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      kill(first, SIGKILL);
    }
    const RegcleanOutcome runs[] = {Reap(first, "a"), Reap(second, "b")};
    int removed = 0;
    for (const RegcleanOutcome& run : runs) {
      if (run.status == -1) continue;  // killed before it said anything
      if (run.status == 2) {
        EXPECT_NE(run.err.find("another regclean is changing this prefix"), std::string::npos)
            << run.err;
        continue;
      }
      EXPECT_EQ(run.status, 0) << run.err;
      if (!NamedBackup(run).empty()) ++removed;
    }
    // A resolve is fast: the killed one may have finished its save first.
    if (round == 2)
      EXPECT_LE(removed, 1);
    else
      EXPECT_EQ(removed, 1);
    for (const auto& folder : fs::directory_iterator(Backups())) {
      const RegcleanOutcome restored = Regclean({"restore", folder.path().string()});
      EXPECT_EQ(restored.status, 0) << restored.err;
    }
    EXPECT_EQ(RegistryText(), before);
  }

  // Wine's own server started in the middle of a resolve: the resolve saved
  // before it or fails saying so; nothing is lost either way.
  SKIP_WITHOUT_WINESERVER();
  RenewPrefix();
  const pid_t pid = Spawn({"resolve", "--yes"}, "wine");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_TRUE(lock_.Hold(prefix_));
  const RegcleanOutcome run = Reap(pid, "wine");
  lock_.Release();
  if (run.status != 0) {
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("regclean: the resolve failed"), std::string::npos) << run.err;
  }
  if (!NamedBackup(run).empty()) {
    EXPECT_EQ(Regclean({"restore", NamedBackup(run)}).status, 0);
  }
  // Wine's server adds keys of its own when it saves; every one that was
  // there is there again, with its values.
  const auto after = RegistryKeys();
  for (const auto& [key, values] : keysBefore) {
    ASSERT_EQ(after.count(key), 1u) << key;
    for (const std::string& value : values) EXPECT_EQ(after.at(key).count(value), 1u) << value;
  }
}

// A restore gives back only what a whole backup holds: a folder with a
// deletion, a key outside the cleaned categories, a bad line or a cut file
// changes nothing, and the file and line are named.
TEST_F(RegcleanHostTest, ARestoreTakesOnlyWholeBackupsAndOnlyGivesBack) {
  const std::string key =
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PhotoTool";
  const fs::path exported = dir_ / "export-photo.reg";
  ASSERT_EQ(Regclean({"reg", "export", key, exported.string()}).status, 0);
  std::string good;  // the export as ASCII text
  const std::string wide = ReadFileText(exported);
  for (size_t i = 2; i + 1 < wide.size(); i += 2) good += wide[i];
  auto utf16 = [](const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (char c : text) bytes += std::string{c, '\0'};
    return bytes;
  };
  auto lineOf = [](const std::string& text, size_t at) {
    return static_cast<size_t>(std::count(text.begin(), text.begin() + at, '\n') + 1);
  };
  const std::string before = RegistryText();
  ASSERT_EQ(Regclean({"reg", "delete", key, "/f"}).status, 0);
  const std::string deleted = RegistryText();

  const size_t firstValue = good.find("\r\n\"") + 2;
  const size_t end = static_cast<size_t>(std::count(good.begin(), good.end(), '\n'));
  const struct {
    std::string text;
    size_t line;
    std::string says;
  } kRefused[] = {
      {good + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\r\n", end + 1, "a key deletion"},
      {good + "\"DisplayName\"=-\r\n", end + 1, "a value deletion"},
      {good + "\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine]\r\n", end + 2, "is outside"},
      {good + "\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"x\"=\"y\"\r\n", end + 3, "is outside"},
      {good.substr(0, firstValue) + "garbage\r\n" + good.substr(firstValue),
       lineOf(good, firstValue), "unrecognized line"},
      {good + "\"Blob\"=hex:01,02,\\\r\n", end + 1, "the file ends inside the hex data"},
      {good + "\"Blob\"=hex:01,02,\r\n", end + 1, "ends in a comma"},
  };
  int n = 0;
  for (const auto& row : kRefused) {
    SCOPED_TRACE(row.says);
    const fs::path folder = dir_ / ("edited" + std::to_string(n++));
    fs::create_directories(folder);
    std::ofstream(folder / "A.reg", std::ios::binary) << utf16(good);
    std::ofstream(folder / "B.reg", std::ios::binary) << utf16(row.text);
    const RegcleanOutcome run = Regclean({"restore", folder.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(folder.string() + "/B.reg:" + std::to_string(row.line) + ": "),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing was restored"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(RegistryText(), deleted);
  }
  fs::create_directories(dir_ / "whole");
  std::ofstream(dir_ / "whole" / "A.reg", std::ios::binary) << utf16(good);
  EXPECT_EQ(Regclean({"restore", (dir_ / "whole").string()}).status, 0);
  EXPECT_EQ(RegistryText(), before);
}

// Whole or not at all: an entry whose tree holds what a .reg file cannot give
// back (a value name with a NUL, a registry link) stays and fails the run;
// the rest is removed and comes back byte for byte, also a string stored
// without its final NUL.
TEST_F(RegcleanHostTest, AnEntryGoesOnlyWhenItsBackupGivesItBackExactly) {
  CheckJson(true);
  SKIP_WITHOUT_SCAN();
  const std::string odd =
      "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\OddTool] 1700000000\n"
      "\"Odd\"=hex(1):61,00\n\"UninstallString\"=\"C:\\\\Gone\\\\odd.exe\"\n";
  AppendToHive(
      odd +
      "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\NulTool] 1700000000\n"
      "\"a\\0b\"=\"x\"\n\"UninstallString\"=\"C:\\\\Gone\\\\nul.exe\"\n"
      "\n[Software\\\\Classes\\\\CLSID\\\\{0DD00000-0000-0000-0000-000000000001}\\\\InprocServer32]"
      " "
      "1700000000\n@=\"C:\\\\Gone\\\\linked.dll\"\n"
      "\n[Software\\\\Classes\\\\CLSID\\\\{0DD00000-0000-0000-0000-000000000001}\\\\Alias] "
      "1700000000\n"
      "#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00\n");
  auto block = [](const std::string& hive, const std::string& head) {
    const size_t at = hive.find(head);
    if (at == std::string::npos) return std::string("<none>");
    std::istringstream lines(hive.substr(at, hive.find("\n\n", at) - at));
    std::string text;
    for (std::string line; std::getline(lines, line);)  // without the key's times
      if (line.rfind("#time=", 0) != 0 && line.rfind(head, 0) != 0) text += line + "\n";
    return text;
  };
  const std::string oddHead =
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\OddTool]";
  const std::string oddBefore = block(ReadFileText(prefix_ / "system.reg"), oddHead);

  const RegcleanOutcome run = Regclean({"resolve", "--yes"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Not deleted, a .reg file cannot hold it whole"), std::string::npos)
      << run.err;
  const std::string hive = ReadFileText(prefix_ / "system.reg");
  EXPECT_NE(hive.find("\"a\\0b\"=\"x\""), std::string::npos);
  EXPECT_NE(hive.find("{0DD00000-0000-0000-0000-000000000001}\\\\Alias]"), std::string::npos);
  EXPECT_NE(hive.find("{0DD00000-0000-0000-0000-000000000001}\\\\InprocServer32]"),
            std::string::npos);
  EXPECT_EQ(hive.find(oddHead), std::string::npos);
  const std::string backup = NamedBackup(run);
  ASSERT_FALSE(backup.empty()) << run.out;
  EXPECT_EQ(Regclean({"restore", backup}).status, 0);
  EXPECT_EQ(block(ReadFileText(prefix_ / "system.reg"), oddHead), oddBefore);
}

// Stopped by SIGTERM or Ctrl-C anywhere in a resolve over many stale COM
// classes, regclean finishes the entry
// in hand, saves, says "canceled" with what it removed and exits 2; the hive
// is whole, and every class gone is in the backup, which restores them all.
// A second Ctrl-C ends it at once, the hive still whole.
TEST_F(RegcleanHostTest, AStoppedResolveKeepsAndSaysWhatItDid) {
  CheckJson(true);
  SKIP_WITHOUT_SCAN();
  constexpr int kClasses = 10000;
  std::string classes;
  auto guid = [](int i) {
    char text[64];
    std::snprintf(text, sizeof(text), "{5A1E0000-0000-0000-0000-%012d}", i);
    return std::string(text);
  };
  for (int i = 0; i < kClasses; ++i)
    classes += "\n[Software\\\\Classes\\\\CLSID\\\\" + guid(i) +
               "\\\\InprocServer32] 1700000000\n@=\"C:\\\\Gone\\\\c" + std::to_string(i) +
               ".dll\"\n";
  AppendToHive(classes);
  const std::string before = RegistryText();
  KeepPrefix();
  auto left = [&] {
    const std::string hive = ReadFileText(prefix_ / "system.reg");
    int count = 0;
    for (size_t at = hive.find("{5A1E0000-"); at != std::string::npos;
         at = hive.find("{5A1E0000-", at + 1))
      ++count;
    return count;
  };
  // The stops land at fractions of how long a whole resolve takes here.
  RenewPrefix();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Reap(Spawn({"resolve", "--yes"}, "whole"), "whole").status, 0);
  const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - started)
                         .count();
  const struct {
    int signal, percent;
    bool twice;
  } kStops[] = {
      {SIGTERM, 20, false}, {SIGINT, 50, false}, {SIGTERM, 80, false}, {SIGINT, 40, true}};
  int stoppedPartway = 0;
  for (const auto& stop : kStops) {
    const auto afterMs = whole * stop.percent / 100;
    SCOPED_TRACE(std::to_string(stop.signal) + " after " + std::to_string(afterMs) + " of " +
                 std::to_string(whole) + " ms");
    RenewPrefix();
    const pid_t pid = Spawn({"resolve", "--yes"}, "stop");
    std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
    kill(pid, stop.signal);
    if (stop.twice) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // two signals, not one
      kill(pid, stop.signal);
    }
    const RegcleanOutcome run = Reap(pid, "stop");
    ASSERT_EQ(ReadFileText(prefix_ / "system.reg").rfind("WINE REGISTRY Version 2\n", 0), 0u);
    ASSERT_EQ(Regclean({"reg", "query", "HKLM\\Software"}).status, 0);
    const int gone = kClasses - left();
    if (stop.twice && run.status == -1) {
      // ended by the second signal
    } else if (run.status == 2) {
      stoppedPartway += gone > 0 && gone < kClasses;
      EXPECT_NE(run.err.find("regclean: canceled; "), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(" removed before the stop"), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.status, 0) << run.err;  // done before the signal came
      EXPECT_EQ(gone, kClasses);
    }
    // Every class gone is in a backup, and the backups restore them all.
    std::string backedUp;
    if (fs::exists(Backups()))
      for (const auto& folder : fs::directory_iterator(Backups())) {
        const std::string wide = ReadFileText(folder.path() / "InprocServer32Problems.reg");
        for (size_t i = 2; i + 1 < wide.size(); i += 2) backedUp += wide[i];
        EXPECT_EQ(Regclean({"restore", folder.path().string()}).status, 0);
      }
    int inBackup = 0;
    std::istringstream lines(backedUp);
    for (std::string line; std::getline(lines, line);)
      inBackup += line.find("{5A1E0000-") != std::string::npos &&
                  line.find("\\InprocServer32]") != std::string::npos;
    EXPECT_GE(inBackup, gone);
    EXPECT_EQ(left(), kClasses);
    EXPECT_EQ(RegistryText(), before);
  }
  EXPECT_GT(stoppedPartway, 0) << "no stop landed inside the work";
}

// Run as root on a user's prefix, a resolve leaves the hives and the
// module's folders and files the user's.
TEST_F(RegcleanHostTest, ARootResolveLeavesTheUsersFilesTheUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run as root on another user's prefix";
  constexpr uid_t kUser = 65534;
  for (const auto& entry : fs::recursive_directory_iterator(prefix_))
    ASSERT_EQ(lchown(entry.path().c_str(), kUser, kUser), 0) << entry.path();
  ASSERT_EQ(lchown(prefix_.c_str(), kUser, kUser), 0);
  const RegcleanOutcome run = Regclean({"resolve", "--yes"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const auto& entry : fs::recursive_directory_iterator(prefix_)) {
    struct stat st;
    ASSERT_EQ(lstat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kUser) << entry.path();
  }
}

TEST_F(RegcleanHostTest, ResolveAsksFirst) {
  const std::string system = ReadFileText(prefix_ / "system.reg");
  RegcleanOutcome run = Regclean({"resolve"}, "n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("[y/N] "), std::string::npos);
  EXPECT_NE(run.out.find("Nothing was changed."), std::string::npos);
  // Without an answer (no terminal, no input) nothing happens either.
  run = Regclean({"resolve"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("add --yes"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
  EXPECT_FALSE(fs::exists(prefix_ / "drive_c/ProgramData/RegClean/RegCleanerDll/Backups"));
}

TEST_F(RegcleanHostTest, ARunningWineserverIsRefused) {
  const std::string system = ReadFileText(prefix_ / "system.reg");
  SKIP_WITHOUT_WINESERVER();
  ASSERT_TRUE(lock_.Hold(prefix_));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"resolve", "--yes"},
        std::vector<std::string>{"restore", dir_.string()}}) {
    const RegcleanOutcome run = Regclean(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_NE(run.err.find("a wineserver is running on the Wine prefix " + prefix_.string()),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("WINEPREFIX='" + prefix_.string() + "' wineserver -k"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
  // A check only reads: it runs.
  EXPECT_NE(Regclean({"check"}).status, 2);
}

TEST_F(RegcleanHostTest, AHiveThatCannotBeSavedFailsTheResolve) {
  CheckJson(true);
  SKIP_WITHOUT_SCAN();
  std::string why;
  if (!HivesOnAFullDisk(&why)) GTEST_SKIP() << "no tmpfs can be mounted here (" << why << ")";
  const std::string system = ReadFileText(prefix_ / "system.reg");
  RegcleanOutcome run = Regclean({"resolve", "--yes"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("regclean: The registry hive " + (prefix_ / "system.reg").string() +
                         " could not be saved (error 112: There is not enough space on the "
                         "disk); its entries were not removed.\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("regclean: the resolve failed;"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("Result: failed (level -1.00)"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("problems removed."), std::string::npos) << run.out;
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
  // Nothing was recorded as cleaned: with room again, a check still finds
  // every problem instead of hiding them as already cleaned.
  fs::remove(prefix_ / "filler");
  run = Regclean({"check"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  for (const char* name : kMissingSharedDlls)
    EXPECT_NE(run.out.find(name), std::string::npos) << name << "\n" << run.out;
}

// regclean killed (SIGKILL) at points all through a resolve of 20,000 stale
// values: the hive is the old one or the new one, never half of each, and
// every value gone from it is in the run's backup.
TEST_F(RegcleanHostTest, KilledAnywhereInAResolveTheHiveIsWholeAndEveryRemovalBackedUp) {
  constexpr int kStale = 20000;
  std::string hive = ReadFileText(prefix_ / "system.reg");
  const std::string anchor =
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls] 1700000000\n";
  const size_t at = hive.find(anchor);
  ASSERT_NE(at, std::string::npos);
  std::string stale;
  for (int i = 0; i < kStale; ++i)
    stale += "\"C:\\\\Gone\\\\lib" + std::to_string(i) + ".dll\"=dword:00000001\n";
  hive.insert(at + anchor.size(), stale);
  const fs::path original = dir_ / "original";
  fs::copy(prefix_, original, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  std::ofstream(original / "system.reg", std::ios::binary | std::ios::trunc) << hive;

  const std::string program = REGCLEAN_STAGE_DIR "/regclean";
  int round = 0;
  for (int killAfterMs : {1000, 4000, 7000, 8500, 9500, 11000}) {
    SCOPED_TRACE(killAfterMs);
    fs::remove_all(prefix_);
    fs::copy(original, prefix_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    // The hive as a plain file, a symbolic link to a file elsewhere, and a
    // file with a second name, in turn.
    const int kind = round++ % 3;
    const fs::path elsewhere = dir_ / "elsewhere" / "system.reg";
    fs::remove_all(dir_ / "elsewhere");
    fs::create_directories(dir_ / "elsewhere");
    if (kind == 1) {
      fs::rename(prefix_ / "system.reg", elsewhere);
      fs::create_symlink(elsewhere, prefix_ / "system.reg");
    } else if (kind == 2) {
      fs::create_hard_link(prefix_ / "system.reg", elsewhere);
    }
    const std::string prefixArg = prefix_.string();
    const char* argv[] = {program.c_str(), "--prefix", prefixArg.c_str(),
                          "resolve",       "--yes",    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(
        posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ),
        0);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    // Whole: after the next run (which finishes a save cut short), the
    // hive reads cleanly, with all the stale values or none, under each of
    // its names.
    EXPECT_EQ(Regclean({"reg", "query", "HKLM\\Software"}).status, 0);
    const std::string after = ReadFileText(prefix_ / "system.reg");
    if (kind == 1) {
      EXPECT_TRUE(fs::is_symlink(prefix_ / "system.reg"));
    }
    if (kind != 0) {
      EXPECT_EQ(ReadFileText(elsewhere), after);
    }
    ASSERT_EQ(after.rfind("WINE REGISTRY Version 2\n", 0), 0u);
    std::set<std::string> left;
    for (size_t from = after.find("\"C:\\\\Gone\\\\lib"); from != std::string::npos;
         from = after.find("\"C:\\\\Gone\\\\lib", from + 1))
      left.insert(after.substr(from, after.find('"', from + 1) - from));
    EXPECT_TRUE(left.size() == kStale || left.empty()) << left.size() << " left";
    if (!left.empty()) continue;
    // New: every removed value is in the backup.
    const fs::path backups = prefix_ / "drive_c/ProgramData/RegClean/RegCleanerDll/Backups";
    std::set<std::string> backedUp;
    for (const auto& run : fs::directory_iterator(backups)) {
      const std::string wide = ReadFileText(run.path() / "SharedDllMissingProblems.reg");
      std::string text;
      for (size_t i = 2; i + 1 < wide.size(); i += 2) text += wide[i];
      for (size_t from = text.find("\"C:\\\\Gone\\\\lib"); from != std::string::npos;
           from = text.find("\"C:\\\\Gone\\\\lib", from + 1))
        backedUp.insert(text.substr(from, text.find('"', from + 1) - from));
    }
    EXPECT_EQ(backedUp.size(), static_cast<size_t>(kStale));
  }
}

TEST_F(RegcleanHostTest, AModuleThatCannotMakeItsFolderFailsTheCheckAndRefusesToResolve) {
  // A file where the module's folder belongs.
  fs::create_directories(prefix_ / "drive_c/ProgramData/RegClean");
  std::ofstream(prefix_ / "drive_c/ProgramData/RegClean/RegCleanerDll") << "x";
  const std::string system = ReadFileText(prefix_ / "system.reg");
  for (const char* command : {"check", "resolve"}) {
    const RegcleanOutcome run =
        std::string(command) == "check" ? Regclean({command}) : Regclean({command, "--yes"});
    EXPECT_EQ(run.status, 2) << command;
    EXPECT_NE(run.err.find("regclean: The module's folder C:\\ProgramData\\RegClean\\RegCleanerDll "
                           "could not be created (error 183: "),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(std::string("regclean: the ") + command + " failed"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("No problems found"), std::string::npos) << run.out;
  }
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
}

// The suite's settings naming a content folder as Windows writes paths: the
// host finds the module's log where the module wrote it.
TEST_F(RegcleanHostTest, AContentFolderWithBackslashLettersIsFoundAsTheModuleFindsIt) {
  const fs::path suite = dir_ / "suite";
  fs::copy(REGCLEAN_STAGE_DIR, suite, fs::copy_options::recursive);
  std::ofstream(suite / "install.cfg", std::ios::trunc)
      << "[install]\r\nUserContentPath=C:\\temp\\new\r\nRegKey=RegClean\r\n";
  const RegcleanOutcome run = RunStagedRegclean(dir_, {"--prefix", prefix_.string(), "check"}, "",
                                                (suite / "regclean").string());
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("Log: " + (prefix_ / "drive_c/temp/new/RegCleanerDll/Log/").string()),
            std::string::npos)
      << run.out;
  for (const char* name : kMissingSharedDlls)
    EXPECT_NE(run.out.find(name), std::string::npos) << name << "\n" << run.out;
}

TEST_F(RegcleanHostTest, AMissingPrefixOrADamagedHiveIsAClearError) {
  RegcleanOutcome run = RunStagedRegclean(dir_, {"check", "--prefix", (dir_ / "none").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("no Wine prefix at " + (dir_ / "none").string()), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("--prefix DIR or set WINEPREFIX"), std::string::npos);

  // A folder that is no prefix.
  fs::create_directories(dir_ / "empty");
  run = RunStagedRegclean(dir_, {"--prefix", (dir_ / "empty").string(), "check"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("regclean: no Wine prefix at " + (dir_ / "empty").string() +
                         " (no system.reg): give --prefix DIR or set WINEPREFIX\n"),
            std::string::npos)
      << run.err;

  // A hive with a line that is not Wine's format: named with its line, and
  // nothing runs.
  std::string user = ReadFileText(prefix_ / "user.reg");
  user.insert(user.find("[Environment]"), "this is not a registry line\n");
  std::ofstream(prefix_ / "user.reg", std::ios::binary) << user;
  run = Regclean({"check"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("regclean: damaged hive: " + (prefix_ / "user.reg").string() + ":6:"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("did not read cleanly"), std::string::npos);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFileText(prefix_ / "user.reg"), user);
}

TEST_F(RegcleanHostTest, HelpVersionAndBadArguments) {
  RegcleanOutcome run = RunStagedRegclean(dir_, {"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* command : {"check", "resolve", "restore", "reg", "--prefix DIR"}) {
    EXPECT_NE(run.out.find(command), std::string::npos) << command;
  }
  run = RunStagedRegclean(dir_, {"resolve", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: regclean [--prefix DIR] resolve [--yes] [--json]\n", 0), 0u);
  // What a check leaves behind, although it changes no entry.
  run = RunStagedRegclean(dir_, {"check", "--help"});
  EXPECT_NE(run.out.find("its log"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("problem totals"), std::string::npos) << run.out;
  run = RunStagedRegclean(dir_, {"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("regclean ", 0), 0u);

  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "Usage: regclean"},
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"check", "--yes"}, "unknown option --yes for check"},
      {{"check", "extra"}, "check takes no operand extra"},
      {{"restore"}, "restore takes one FOLDER"},
      {{"restore", "--json", "x"}, "unknown option --json for restore"},
      {{"--prefix"}, "regclean: --prefix needs a folder: --prefix DIR\n"},
      {{"check", "--prefix"}, "regclean: --prefix needs a folder: --prefix DIR\n"},
      {{"resolve", "--skip", "SharedDllMissingProblems,Nope"}, "no category Nope; the categories"},
      {{"resolve", "--only"}, "--only needs a category"},
      {{"check", "--only", "InprocServer32Problems"}, "unknown option --only for check"},
      {{"resolve", "--all", "--skip", "InprocServer32Problems"}, "--skip go with one prefix"},
      {{"keep"}, "keep takes KEY [VALUE]"},
      {{"keep", "--list", "HKLM\\X"}, "--list takes no KEY"},
  };
  for (const auto& c : cases) {
    run = RunStagedRegclean(dir_, c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

TEST_F(RegcleanHostTest, AModuleThatCannotBeLoadedIsNamed) {
  // The host alone, without the suite's modules folder beside it.
  fs::copy_file(fs::path(REGCLEAN_STAGE_DIR) / "regclean", dir_ / "regclean");
  const RegcleanOutcome run = RunStagedRegclean(dir_, {"--prefix", prefix_.string(), "check"}, "",
                                                (dir_ / "regclean").string());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("regclean: cannot load the module " + dir_.string() +
                         "/modules/RegistryCleanerModule/RegistryCleanerModule."),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("make"), std::string::npos);
}

}  // namespace

#endif
