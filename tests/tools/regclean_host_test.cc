// "regclean check|resolve|restore" end to end on fresh copies of the demo prefix.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32

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

#include "tests/platform/demo_prefix.h"
#include "tests/platform/wineserver_lock.h"
#include "tests/tools/staged_regclean.h"

namespace {

using testing::AllOf;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

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
// The demo's SharedDlls values whose files are gone.
const std::vector<std::string> kMissingSharedDlls = {
    "C:\\Program Files\\Common Files\\PhotoTool\\ptcodec.dll",
    "C:\\Program Files\\PhotoTool\\phthumb.dll",
    "C:\\Program Files (x86)\\OldGame\\gameaudio.dll",
};

// The text of a .reg file regclean wrote (UTF-16 LE; the demo is ASCII).
std::string RegText(const fs::path& file) {
  const std::string wide = ReadFileText(file);
  std::string text;
  for (size_t i = 2; i + 1 < wide.size(); i += 2) text += wide[i];
  return text;
}

// A run that ended with status, its output (ExpectFailed: its error) saying each of says.
void ExpectOut(const RegcleanOutcome& run, int status, const std::vector<std::string>& says) {
  EXPECT_EQ(run.status, status) << run.out << run.err;
  for (const std::string& text : says) EXPECT_THAT(run.out, HasSubstr(text));
}
void ExpectFailed(const RegcleanOutcome& run, int status, const std::vector<std::string>& says) {
  EXPECT_EQ(run.status, status) << run.err;
  for (const std::string& text : says) EXPECT_THAT(run.err, HasSubstr(text));
}
const char kBusy[] = "another regclean is changing this prefix";
const std::string kPhotoTool =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PhotoTool";

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

  // Moves the hives (not drive_c) onto a small tmpfs, then fills it; false when none mounts.
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
    while (filler.write(block.data(), block.size()) && filler.flush()) continue;
    return true;
  }

  RegcleanOutcome Regclean(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--prefix", prefix_.string()});
    return RunStagedRegclean(dir_, args, input);
  }

  // The machine and user hives' keys with their values, exported, without the run totals.
  std::map<std::string, std::set<std::string> > RegistryKeys() {
    std::map<std::string, std::set<std::string> > keys;
    for (const char* root : {"HKLM", "HKCU"}) {
      const std::string file = (dir_ / "export.reg").string();
      const RegcleanOutcome run = Regclean({"reg", "export", root, file, "/y"});
      EXPECT_EQ(run.status, 0) << run.err;
      std::string line, joined, key;
      std::istringstream lines(RegText(file));
      while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        joined += line;
        if (!joined.empty() && joined.back() == '\\' && joined.find('=') != std::string::npos) {
          joined.pop_back();  // a hex value goes on in the next line
          continue;
        }
        if (joined.size() > 2 && joined.front() == '[')
          keys[key = joined];
        else if (!joined.empty() && !key.empty() && !joined.starts_with("\"REGISTRYCLEANERMODULE_"))
          keys[key].insert(joined);  // not the module's run totals, which every run rewrites
        joined.clear();
      }
    }
    return keys;
  }

  // Starts the staged regclean on the prefix without waiting; its streams go to files of tag.
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
  void KeepPrefix() { fs::copy(prefix_, dir_ / "original", kTree); }
  void RenewPrefix() {
    fs::remove_all(prefix_);
    fs::copy(dir_ / "original", prefix_, kTree);
  }
  static constexpr auto kTree = fs::copy_options::recursive | fs::copy_options::copy_symlinks;

  fs::path dir_;
  fs::path prefix_;
  fs::path mounted_;
  WineserverLock lock_;
};

TEST_F(RegcleanHostTest, CheckListsTheProblemsByCategoryAsTextAndAsJson) {
  RegcleanOutcome run = Regclean({"check"});
  // The module's own texts, through its exports.
  EXPECT_THAT(run.out,
              StartsWith("Clean Registry\n==============\nThe Windows Registry is the central"));
  ExpectOut(run, 1,
            {"Checking the registry of the Wine prefix " + prefix_.string(),
             "\nResult: 12 (level 10.39)\nSub-results: none\n",
             "Shared DLL counters of missing files (SharedDllMissingProblems): 3\n"
             "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls\n"});
  // Standard error is no terminal here: nothing watches, nothing is drawn.
  EXPECT_THAT(run.err, Not(HasSubstr("progress")));
  for (const std::string& missing : kMissingSharedDlls)
    EXPECT_THAT(run.out, HasSubstr("      Missing: " + missing + "\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("ndxcore.dll")));  // files that exist are no problems

  run = Regclean({"check", "--json"});
  JsonValue outcome;
  ASSERT_TRUE(ReadJson(run.out, &outcome)) << run.out;
  EXPECT_EQ(*outcome[u"command"].string() + u" " + *outcome[u"module"].string() + u" " +
                *outcome[u"prefix"].string(),
            u"check Clean Registry " + Wide(prefix_.string()));
  EXPECT_TRUE(outcome[u"subResults"].array()->empty());
  EXPECT_EQ(outcome.object()->count(u"backupFolder"), 0u);  // no backup folder for a check
  EXPECT_TRUE(fs::exists(Ansi(*outcome[u"logFile"].string())));
  EXPECT_EQ(outcome[u"problemCount"].integer(), 12);
  EXPECT_EQ(CategoryCounts(outcome), kDemoCounts);
  std::set<std::string> missing;
  for (JsonValue& problem : *(*outcome[u"categories"].array())[1][u"problems"].array())
    missing.insert(Ansi(*problem[u"missing"].string()));
  EXPECT_EQ(missing, std::set<std::string>(kMissingSharedDlls.begin(), kMissingSharedDlls.end()));
}

TEST_F(RegcleanHostTest, ResolveRemovesWhatCheckFoundAndRestoreBringsItBack) {
  const std::string system = ReadFileText(prefix_ / "system.reg");
  // It asks first; without an answer (no terminal, no input) nothing happens either.
  ExpectOut(Regclean({"resolve"}, "n\n"), 0, {"[y/N] ", "Nothing was changed."});
  ExpectFailed(Regclean({"resolve"}), 2, {"add --yes"});
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
  EXPECT_FALSE(fs::exists(Backups()));
  Regclean({"check"});  // the module's own keys are made first
  const auto before = RegistryKeys();

  RegcleanOutcome run = Regclean({"resolve", "--yes"});
  const std::string backup = NamedBackup(run);
  ExpectOut(run, 0,
            {"Backup of the removed entries: " + backup + "\n", "restore '" + backup + "'"});
  ASSERT_EQ(fs::path(backup).parent_path(), Backups()) << backup;
  EXPECT_TRUE(fs::exists(fs::path(backup) / "SharedDllMissingProblems.reg"));

  // A second resolve removes nothing: no backup named, no folder left.
  run = Regclean({"resolve", "--yes"});
  ExpectOut(run, 0, {});
  EXPECT_THAT(run.out, AllOf(Not(HasSubstr("Backup of")), Not(HasSubstr("restore '"))));
  EXPECT_EQ(std::distance(fs::directory_iterator(Backups()), fs::directory_iterator()), 1);

  // A second check finds nothing; exactly the stale entries are gone.
  ExpectOut(Regclean({"check"}), 0, {"No problems found."});
  const auto keysAfter = RegistryKeys();
  std::set<std::string> removedKeys, removedValues;
  for (const auto& [key, values] : before) {
    if (keysAfter.count(key) == 0) removedKeys.insert(key);
    for (const std::string& value : values)
      if (keysAfter.count(key) != 0 && keysAfter.at(key).count(value) == 0)
        removedValues.insert(value);
  }
  EXPECT_EQ(removedKeys, kRemovedKeys);
  EXPECT_EQ(removedValues, kRemovedValues);
  for (const auto& [key, values] : keysAfter) EXPECT_EQ(before.count(key), 1u) << key;

  ExpectOut(Regclean({"restore", backup}), 0, {"Restored "});
  EXPECT_EQ(RegistryKeys(), before);
}

// One writer per prefix: a second one waits a little, then refuses.
TEST_F(RegcleanHostTest, OneWriterPerPrefix) {
  Regclean({"check"});  // the module's own keys are made first
  const auto before = RegistryKeys();
  const std::string system = ReadFileText(prefix_ / "system.reg");
  ASSERT_EQ(Regclean({"reg", "export", kPhotoTool, (dir_ / "one.reg").string()}).status, 0);
  {
    const int held = open((prefix_ / ".regclean-writer.lock").c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    for (const Args& args : std::vector<Args>{{"resolve", "--yes"},
                                              {"restore", dir_.string()},
                                              {"reg", "import", (dir_ / "one.reg").string()},
                                              {"reg", "delete", kPhotoTool, "/f"}})
      ExpectFailed(Regclean(args), args[0] == "reg" ? 1 : 2, {kBusy});
    close(held);
  }
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);

  // Two resolves at once: one removes, the other refuses or finds nothing; all restores.
  KeepPrefix();
  const pid_t first = Spawn({"resolve", "--yes"}, "a"), second = Spawn({"resolve", "--yes"}, "b");
  int removed = 0;
  for (const RegcleanOutcome& run : {Reap(first, "a"), Reap(second, "b")}) {
    ExpectFailed(run, run.status == 2 ? 2 : 0, {run.status == 2 ? kBusy : ""});  // or finished
    removed += run.status == 0 && !NamedBackup(run).empty();
  }
  EXPECT_EQ(removed, 1);
  for (const auto& folder : fs::directory_iterator(Backups()))
    EXPECT_EQ(Regclean({"restore", folder.path().string()}).status, 0);
  EXPECT_EQ(RegistryKeys(), before);

  // Wine's server started mid-resolve: saved before it or failed saying so; nothing lost.
  SKIP_WITHOUT_WINESERVER();
  RenewPrefix();
  const pid_t pid = Spawn({"resolve", "--yes"}, "wine");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_TRUE(lock_.Hold(prefix_));
  const RegcleanOutcome run = Reap(pid, "wine");
  lock_.Release();
  if (run.status != 0) ExpectFailed(run, 2, {"regclean: the resolve failed"});
  EXPECT_TRUE(NamedBackup(run).empty() || Regclean({"restore", NamedBackup(run)}).status == 0);
  // Wine's server adds keys of its own; every one that was there is back.
  const auto after = RegistryKeys();
  for (const auto& [key, values] : before) {
    ASSERT_EQ(after.count(key), 1u) << key;
    for (const std::string& value : values) EXPECT_EQ(after.at(key).count(value), 1u) << value;
  }
}

// A restore takes only whole backups; what it refuses changes nothing, named by line.
TEST_F(RegcleanHostTest, ARestoreTakesOnlyWholeBackupsAndOnlyGivesBack) {
  const fs::path exported = dir_ / "export-photo.reg";
  ASSERT_EQ(Regclean({"reg", "export", kPhotoTool, exported.string()}).status, 0);
  const std::string good = RegText(exported);
  auto utf16 = [](const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (char c : text) bytes += std::string{c, '\0'};
    return bytes;
  };
  const auto before = RegistryKeys();
  ASSERT_EQ(Regclean({"reg", "delete", kPhotoTool, "/f"}).status, 0);
  const auto deleted = RegistryKeys();

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
       static_cast<size_t>(std::count(good.begin(), good.begin() + firstValue, '\n') + 1),
       "unrecognized line"},
      {good + "\"Blob\"=hex:01,02,\\\r\n", end + 1, "the file ends inside the hex data"},
      {good + "\"Blob\"=hex:01,02,\r\n", end + 1, "ends in a comma"},
  };
  for (const auto& row : kRefused) {
    SCOPED_TRACE(row.says);
    const fs::path folder = dir_ / ("edited" + std::to_string(&row - kRefused));
    fs::create_directories(folder);
    std::ofstream(folder / "A.reg", std::ios::binary) << utf16(good);
    std::ofstream(folder / "B.reg", std::ios::binary) << utf16(row.text);
    const RegcleanOutcome run = Regclean({"restore", folder.string()});
    ExpectFailed(run, 2,
                 {folder.string() + "/B.reg:" + std::to_string(row.line) + ": ", row.says,
                  "nothing was restored"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(RegistryKeys(), deleted);
  }
  // A folder without backup files, and no folder at all.
  fs::create_directories(dir_ / "empty");
  for (const auto& [name, says] : {std::pair{"empty", "holds no backup files (.reg)"},
                                   std::pair{"nowhere", "no backup folder"}})
    ExpectFailed(Regclean({"restore", (dir_ / name).string()}), 2, {says});
  fs::create_directories(dir_ / "whole");
  fs::copy_file(exported, dir_ / "whole/UninstallInvalidProblems.reg");
  std::ofstream(dir_ / "whole/Restore Function.bat") << "@ECHO off\r\n";
  ExpectOut(Regclean({"restore", (dir_ / "whole").string()}), 0,
            {"Imported UninstallInvalidProblems.reg: 5 value(s)\n"});
  EXPECT_EQ(RegistryKeys(), before);
}

// An entry a .reg file cannot give back (NUL in a name, a link) stays and fails the run.
TEST_F(RegcleanHostTest, AnEntryGoesOnlyWhenItsBackupGivesItBackExactly) {
  Regclean({"check"});  // the module's own keys are made first
  const std::string uninstall =
      "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\";
  const std::string clsid =
      "\n[Software\\\\Classes\\\\CLSID\\\\{0DD00000-0000-0000-0000-000000000001}";
  AppendToHive(
      uninstall + "OddTool] 1700000000\n\"Odd\"=hex(1):61,00\n" +
      "\"UninstallString\"=\"C:\\\\Gone\\\\odd.exe\"\n" + uninstall +
      "NulTool] 1700000000\n\"a\\0b\"=\"x\"\n\"UninstallString\"=\"C:\\\\Gone\\\\nul.exe\"\n" +
      clsid + "\\\\InprocServer32] 1700000000\n@=\"C:\\\\Gone\\\\linked.dll\"\n" + clsid +
      "\\\\Alias] 1700000000\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00\n");
  auto block = [](const std::string& hive, const std::string& head) {
    const size_t at = hive.find(head);
    if (at == std::string::npos) return std::string("<none>");
    std::istringstream lines(hive.substr(at, hive.find("\n\n", at) - at));
    std::string text;
    for (std::string line; std::getline(lines, line);)  // without the key's times
      if (line.rfind("#time=", 0) != 0 && line.rfind(head, 0) != 0) text += line + "\n";
    return text;
  };
  const std::string oddHead = uninstall.substr(1) + "OddTool]";
  const std::string oddBefore = block(ReadFileText(prefix_ / "system.reg"), oddHead);

  const RegcleanOutcome run = Regclean({"resolve", "--yes"});
  ExpectFailed(run, 2, {"Not deleted, a .reg file cannot hold it whole"});
  const std::string hive = ReadFileText(prefix_ / "system.reg");
  for (const char* kept : {"\"a\\0b\"=\"x\"", "{0DD00000-0000-0000-0000-000000000001}\\\\Alias]",
                           "{0DD00000-0000-0000-0000-000000000001}\\\\InprocServer32]"})
    EXPECT_THAT(hive, HasSubstr(kept));
  EXPECT_THAT(hive, Not(HasSubstr(oddHead)));
  const std::string backup = NamedBackup(run);
  ASSERT_FALSE(backup.empty()) << run.out;
  EXPECT_EQ(Regclean({"restore", backup}).status, 0);
  EXPECT_EQ(block(ReadFileText(prefix_ / "system.reg"), oddHead), oddBefore);
}

// SIGTERM/Ctrl-C in a resolve: "canceled", exit 2, every class gone backed up; two end it.
TEST_F(RegcleanHostTest, AStoppedResolveKeepsAndSaysWhatItDid) {
  Regclean({"check"});  // the module's own keys are made first
  constexpr int kClasses = 5000;
  std::string classes;
  for (int i = 0; i < kClasses; ++i) {
    char block[160];
    std::snprintf(block, sizeof(block),
                  "\n[Software\\\\Classes\\\\CLSID\\\\{5A1E0000-0000-0000-0000-%012d}"
                  "\\\\InprocServer32] 1700000000\n@=\"C:\\\\Gone\\\\c%d.dll\"\n",
                  i, i);
    classes += block;
  }
  AppendToHive(classes);
  const auto before = RegistryKeys();
  KeepPrefix();
  // The classes a text names, by the lines of their InprocServer32 keys.
  auto named = [](const std::string& text) {
    int count = 0;
    for (size_t at = text.find("{5A1E0000-"); at != std::string::npos;
         at = text.find("{5A1E0000-", at + 1))
      count += text.compare(at + 38, 17, "\\\\InprocServer32]") == 0 ||
               text.compare(at + 38, 16, "\\InprocServer32]") == 0;
    return count;
  };
  auto left = [&] { return named(ReadFileText(prefix_ / "system.reg")); };
  // A stop lands at a fraction of the whole backup's size, whatever the machine's speed.
  auto backupBytes = [&] {
    std::error_code error;
    uintmax_t bytes = 0;
    for (const auto& folder : fs::directory_iterator(Backups(), error)) {
      const uintmax_t size = fs::file_size(folder.path() / "InprocServer32Problems.reg", error);
      if (!error) bytes += size;
    }
    return bytes;
  };
  RenewPrefix();
  ASSERT_EQ(Reap(Spawn({"resolve", "--yes"}, "whole"), "whole").status, 0);
  const uintmax_t whole = backupBytes();
  ASSERT_GT(whole, 0u);
  const struct {
    int signal, percent;
    bool twice;
  } kStops[] = {
      {SIGTERM, 20, false}, {SIGINT, 50, false}, {SIGTERM, 75, false}, {SIGINT, 40, true}};
  int stoppedPartway = 0;
  for (const auto& stop : kStops) {
    SCOPED_TRACE(std::to_string(stop.signal) + " at " + std::to_string(stop.percent) + "% of " +
                 std::to_string(whole) + " backup bytes");
    RenewPrefix();
    const pid_t pid = Spawn({"resolve", "--yes"}, "stop");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (backupBytes() < whole * stop.percent / 100 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, stop.signal);
    if (stop.twice) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // two signals, not one
      kill(pid, stop.signal);
    }
    const RegcleanOutcome run = Reap(pid, "stop");
    ASSERT_EQ(ReadFileText(prefix_ / "system.reg").rfind("WINE REGISTRY Version 2\n", 0), 0u);
    ASSERT_EQ(Regclean({"reg", "query", "HKLM\\Software"}).status, 0);
    const int gone = kClasses - left();
    if (run.status == 2) {
      stoppedPartway += gone > 0 && gone < kClasses;
      ExpectFailed(run, 2, {"regclean: canceled; ", " removed before the stop"});
    } else if (!stop.twice || run.status != -1) {  // not ended by the second signal
      EXPECT_EQ(run.status, 0) << run.err;         // done before the signal came
      EXPECT_EQ(gone, kClasses);
    }
    // Every class gone is in a backup, and the backups restore them all.
    std::string backedUp;
    if (fs::exists(Backups()))
      for (const auto& folder : fs::directory_iterator(Backups())) {
        backedUp += RegText(folder.path() / "InprocServer32Problems.reg");
        EXPECT_EQ(Regclean({"restore", folder.path().string()}).status, 0);
      }
    EXPECT_GE(named(backedUp), gone);
    EXPECT_EQ(left(), kClasses);
    EXPECT_EQ(RegistryKeys(), before);
  }
  EXPECT_GT(stoppedPartway, 0) << "no stop landed inside the work";
}

// Run as root on a user's prefix, a resolve leaves the user's files the user's.
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

// Writes are refused while Wine's own server runs on the prefix; reads run.
TEST_F(RegcleanHostTest, ARunningWineserverIsRefused) {
  SKIP_WITHOUT_WINESERVER();
  const std::string file = (dir_ / "env.reg").string(), prefix = prefix_.string();
  ASSERT_EQ(Regclean({"reg", "export", "HKCU\\Environment", file}).status, 0);
  const std::string system = ReadFileText(prefix_ / "system.reg");
  const std::string user = ReadFileText(prefix_ / "user.reg");
  ASSERT_TRUE(lock_.Hold(prefix_));
  const Args host = {"regclean: a wineserver is running on the Wine prefix " + prefix,
                     "WINEPREFIX='" + prefix + "' wineserver -k"};
  const Args reg = {"ERROR: a wineserver is running on the prefix " + prefix +
                    "; nothing was changed. Stop it with: wineserver -k\n"};
  for (const Args& args :
       std::vector<Args>{{"resolve", "--yes"},
                         {"restore", dir_.string()},
                         {"reg", "import", file},
                         {"reg", "delete", "HKCU\\Environment", "/f"},
                         {"reg", "delete", "HKCU\\Environment", "/v", "TMP", "/f"}}) {
    const RegcleanOutcome run = Regclean(args);
    ExpectFailed(run, args[0] == "reg" ? 1 : 2, args[0] == "reg" ? reg : host);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
  EXPECT_EQ(ReadFileText(prefix_ / "user.reg"), user);
  EXPECT_NE(Regclean({"check"}).status, 2);
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Environment"}).status, 0);
}

TEST_F(RegcleanHostTest, AHiveThatCannotBeSavedFailsTheResolve) {
  Regclean({"check"});  // the module's own keys are made first
  std::string why;
  if (!HivesOnAFullDisk(&why)) GTEST_SKIP() << "no tmpfs can be mounted here (" << why << ")";
  const std::string system = ReadFileText(prefix_ / "system.reg");
  RegcleanOutcome run = Regclean({"resolve", "--yes"});
  ExpectFailed(run, 2,
               {"regclean: The registry hive " + (prefix_ / "system.reg").string() +
                    " could not be saved (error 112: There is not enough space on the disk); "
                    "its entries were not removed.\n",
                "regclean: the resolve failed;"});
  EXPECT_THAT(run.out, HasSubstr("Result: failed (level -1.00)"));
  EXPECT_THAT(run.out, Not(HasSubstr("problems removed.")));
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
  // Nothing was recorded as cleaned: with room again, a check still finds every problem.
  fs::remove(prefix_ / "filler");
  ExpectOut(Regclean({"check"}), 1, kMissingSharedDlls);
}

// SIGKILL anywhere in a resolve: the hive is old or new, never half, every removal backed up.
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
  std::ofstream(prefix_ / "system.reg", std::ios::binary | std::ios::trunc) << hive;
  KeepPrefix();
  auto staleNames = [](const std::string& text) {
    std::set<std::string> names;
    for (size_t from = text.find("\"C:\\\\Gone\\\\lib"); from != std::string::npos;
         from = text.find("\"C:\\\\Gone\\\\lib", from + 1))
      names.insert(text.substr(from, text.find('"', from + 1) - from));
    return names;
  };
  int round = 0;
  for (int killAfterMs : {1000, 4000, 7000, 8500, 9500, 11000}) {
    SCOPED_TRACE(killAfterMs);
    RenewPrefix();
    // The hive as a plain file, a link to a file elsewhere, a file with a second name.
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
    const pid_t pid = Spawn({"resolve", "--yes"}, "killed");
    std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
    kill(pid, SIGKILL);
    Reap(pid, "killed");

    // After the next run (which finishes a cut save): all the stale values or none, whole.
    EXPECT_EQ(Regclean({"reg", "query", "HKLM\\Software"}).status, 0);
    const std::string after = ReadFileText(prefix_ / "system.reg");
    EXPECT_TRUE(kind != 1 || fs::is_symlink(prefix_ / "system.reg"));
    EXPECT_EQ(kind == 0 ? after : ReadFileText(elsewhere), after);
    ASSERT_EQ(after.rfind("WINE REGISTRY Version 2\n", 0), 0u);
    const size_t left = staleNames(after).size();
    EXPECT_TRUE(left == kStale || left == 0) << left << " left";
    if (left != 0) continue;
    // New: every removed value is in the backup.
    std::string backups;
    for (const auto& run : fs::directory_iterator(Backups()))
      backups += RegText(run.path() / "SharedDllMissingProblems.reg");
    EXPECT_EQ(staleNames(backups).size(), static_cast<size_t>(kStale));
  }
}

// A host without its module names it; the content folder and the module folder.
TEST_F(RegcleanHostTest, TheModuleItsContentFolderAndItsFolder) {
  // The host alone, without the suite's modules folder beside it.
  fs::copy_file(fs::path(REGCLEAN_STAGE_DIR) / "regclean", dir_ / "regclean");
  RegcleanOutcome run = RunStagedRegclean(dir_, {"--prefix", prefix_.string(), "check"}, "",
                                          (dir_ / "regclean").string());
  ExpectFailed(run, 2,
               {"regclean: cannot load the module " + dir_.string() +
                    "/modules/RegistryCleanerModule/RegistryCleanerModule.",
                "make"});
  const fs::path suite = dir_ / "suite";
  fs::copy(REGCLEAN_STAGE_DIR, suite, fs::copy_options::recursive);
  std::ofstream(suite / "install.cfg", std::ios::trunc)
      << "[install]\r\nUserContentPath=C:\\temp\\new\r\nRegKey=RegClean\r\n";
  run = RunStagedRegclean(dir_, {"--prefix", prefix_.string(), "check"}, "",
                          (suite / "regclean").string());
  ExpectOut(run, 1, kMissingSharedDlls);
  EXPECT_THAT(run.out,
              HasSubstr("Log: " + (prefix_ / "drive_c/temp/new/RegCleanerDll/Log/").string()));
  // A file where the module's folder belongs.
  fs::create_directories(prefix_ / "drive_c/ProgramData/RegClean");
  std::ofstream(prefix_ / "drive_c/ProgramData/RegClean/RegCleanerDll") << "x";
  const std::string system = ReadFileText(prefix_ / "system.reg");
  ExpectFailed(Regclean({"resolve", "--yes"}), 2,
               {"regclean: The module's folder C:\\ProgramData\\RegClean\\RegCleanerDll could "
                "not be created (error 183: ",
                "regclean: the resolve failed"});
  EXPECT_EQ(ReadFileText(prefix_ / "system.reg"), system);
}

TEST_F(RegcleanHostTest, HelpVersionAndBadArgumentsOrPrefixes) {
  ExpectOut(RunStagedRegclean(dir_, {"--help"}), 0,
            {"check", "resolve", "restore", "reg", "--prefix DIR"});
  // What a check leaves behind, although it changes no entry.
  ExpectOut(RunStagedRegclean(dir_, {"check", "--help"}), 0, {"its log", "problem totals"});
  RegcleanOutcome run = RunStagedRegclean(dir_, {"resolve", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, StartsWith("Usage: regclean [--prefix DIR] resolve [--yes] [--json]\n"));
  run = RunStagedRegclean(dir_, {"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, StartsWith("regclean "));

  // No folder, a folder that is no prefix (either side of the command), a damaged hive.
  const std::string none = (dir_ / "none").string(), empty = (dir_ / "empty").string();
  fs::create_directories(empty);
  std::string user = ReadFileText(prefix_ / "user.reg");
  user.insert(user.find("[Environment]"), "this is not a registry line\n");
  std::ofstream(prefix_ / "user.reg", std::ios::binary) << user;
  auto noPrefix = [](const std::string& folder, const std::string& why) {
    return "regclean: no Wine prefix at " + folder + " (" + why +
           "): give --prefix DIR or set WINEPREFIX\n";
  };
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"check", "--prefix", none}, noPrefix(none, "no such folder")},
      {{"--prefix", empty, "check"}, noPrefix(empty, "no system.reg")},
      {{"--prefix", prefix_.string(), "check"},
       "regclean: damaged hive: " + (prefix_ / "user.reg").string() + ":6:"},
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
    ExpectFailed(run, 2, {c.message});
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace

#endif
