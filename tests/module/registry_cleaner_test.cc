// The cleaner through its exports: on a prefix of its own (POSIX), the real registry (Windows).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/check_module.h"
#include "framework/install_config.h"
#include "framework/module_api.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/registry_cleaner_check_module.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "platform/environment.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/system_text.h"
#include "platform/unicode.h"
#include "support/duration.h"
#include "tests/engine/engine_test_support.h"
#include "tests/module/no_channel_machine.h"
#include "tests/platform/temp_tree.h"
#ifndef _WIN32
#include "platform/wineprefix/prefix_registry.h"
#endif

namespace {

using platform::kHkeyLocalMachine;

constexpr char16_t kSharedDlls[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr uint32_t kNativeWrite = platform::kKeyAllAccess | platform::kKeyWow64_64Key;

std::u16string Text(ModuleHandle module) {
  ModuleChar buffer[256] = {};
  GetResultTextOfModule(module, buffer, 256);
  return U16(buffer);
}

class Cleaner : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
    content_ = tree_.Path(u"Content");
    ASSERT_TRUE(tree_.MakeFile(u"install.cfg",
                               "[install]\r\nUserContentPath=" + platform::U16ToUtf8(content_) +
                                   "\\\r\n[TraceLog]\r\nDebugLevel=12\r\n"));
    SetInstallConfigPath(tree_.Path(u"install.cfg"));
#ifndef _WIN32
    std::ifstream in(std::string(REGCLEAN_SOURCE_DIR) + "/tests/data/wine-hives/system.reg",
                     std::ios::binary);
    std::ofstream(tree_.prefix() + "/system.reg", std::ios::binary) << in.rdbuf();
    registry_ = std::make_unique<platform::posix::PrefixRegistry>(tree_.prefix());
    SetEngineRegistry(registry_.get());
#endif
    ASSERT_EQ(EngineRegistry()->RegCreateKeyExW(kHkeyLocalMachine, kSharedDlls, 0, kNativeWrite,
                                                &key_, nullptr),
              0u);
    ASSERT_TRUE(tree_.MakeFile(u"Shared\\present.dll"));
    AddValue(tree_.Path(u"Shared\\present.dll"));
  }
  void TearDown() override {
    if (module_ != nullptr) DestroyInstanceOfModule(module_);
    SetRunScannersForTesting({});
    for (const std::u16string& name : added_) EngineRegistry()->RegDeleteValueW(key_, name);
    EngineRegistry()->RegCloseKey(key_);
    SetEngineRegistry(nullptr);
    ResetInstallConfigPath();
    platform::SetProcessEnvironmentVariable(u"REGCLEAN_ELEVATED", u"1");
  }

  void AddValue(const std::u16string& name, uint32_t count = 1) {
    ASSERT_EQ(EngineRegistry()->RegSetValueExW(key_, name, platform::kRegDword,
                                               reinterpret_cast<const uint8_t*>(&count), 4),
              0u);
    added_.push_back(name);
  }
  // Values naming files that do not exist, numbered from first.
  void AddMissing(int first, int count) {
    for (int i = first; i < first + count; ++i)
      AddValue(tree_.Path(u"Gone\\lib" + platform::Utf8ToU16(std::to_string(i)) + u".dll"));
    EngineRegistry()->Flush();
  }
  bool HasValue(const std::u16string& name) {
    return EngineRegistry()->RegQueryValueExW(key_, name, nullptr, nullptr, nullptr) == 0;
  }

  void Create() {
    module_ = CreateInstanceOfModule();
    ASSERT_NE(module_, nullptr);
    static_cast<CCheckModule*>(module_)->UseSystem(&machine_);
    SetProgressCallbackOfModule(module_, &Host::Callback, &host_);
  }
  void Destroy() { DestroyInstanceOfModule(std::exchange(module_, nullptr)); }
  const RegCleanerEngine& Engine() {
    return static_cast<CRegistryCleanerModuleCheckModule*>(module_)->engine();
  }
  std::u16string Folder(std::u16string_view relative) {
    return content_ + u"\\RegCleanerDll\\" + std::u16string(relative);
  }
  std::u16string SubResults() {
    ModuleChar buffer[2048] = {};
    GetSubResultsAsJSONOfModule(module_, buffer, 2048);
    return U16(buffer);
  }
  std::vector<std::u16string> Names(std::u16string_view folder) {
    std::vector<platform::DirectoryEntry> entries;
    std::vector<std::u16string> names;
    if (tree_.fs()->ListDirectory(folder, &entries))
      for (const auto& entry : entries) names.push_back(entry.name);
    return names;
  }
  // The run log's lines without their time stamps: "<level> <text>".
  std::vector<std::string> LogLines() {
    const std::vector<std::u16string> logs = Names(Folder(u"Log"));
    EXPECT_EQ(logs.size(), 1u);
    if (logs.empty()) return {};
    std::vector<std::string> out;
    std::istringstream in(engine_test::ReadBytes(Folder(u"Log\\") + logs[0]));
    for (std::string line; std::getline(in, line);) {
      const size_t level = line.find(" lv:"), arrow = line.find(" -> ");
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (level != std::string::npos && arrow != std::string::npos)
        out.push_back(line.substr(level + 4, 2) + " " + line.substr(arrow + 4));
    }
    return out;
  }
  // Whether a line of the run log starts with each of these.
  void ExpectLogged(const std::vector<std::string>& starts, bool logged = true) {
    const std::vector<std::string> lines = LogLines();
    for (const std::string& start : starts)
      EXPECT_EQ(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(start, 0) == 0; }),
                logged)
          << start;
  }
  // The run's text and level, and that the host saw it reach 100%.
  void ExpectOutcome(std::u16string_view text, double level) {
    EXPECT_EQ(Text(module_), text);
    EXPECT_NEAR(GetResultLevelOfModule(module_), level, 1e-9);
    ASSERT_FALSE(host_.Seen().empty());
    EXPECT_EQ(host_.Seen().back(), 100.0);
  }
  static std::u16string Escaped(std::u16string_view path) {
    std::u16string escaped;
    for (char16_t c : path) escaped += c == u'\\' ? u"\\\\" : std::u16string(1, c);
    return escaped;
  }
  std::string Measurement(std::u16string_view key) {
    return platform::U16ToUtf8(
        platform::GetPrivateProfileString(u"Measurement", key, u"-", Folder(u"RegCleanerDll.cfg")));
  }

  TempTree tree_;
#ifndef _WIN32
  std::unique_ptr<platform::posix::PrefixRegistry> registry_;
#endif
  platform::HKey key_ = platform::kNullKey;
  std::vector<std::u16string> added_;
  std::u16string content_;
  NoChannelMachine machine_;
  Host host_;
  ModuleHandle module_ = nullptr;
};

// A check's level and text follow the problem count; its log names every problem.
TEST_F(Cleaner, CheckLevelTextAndLogFollowTheProblems) {
  Create();
  // Problems and the level they give; the text is the count.
  const std::pair<int, double> rows[] = {{0, 0.0},    {1, 3.0},      {2, 3 * std::sqrt(2.0)},
                                         {100, 30.0}, {1112, 100.0}, {2000, 100.0}};
  int have = 0;
  int32_t counted = -1;
  for (const auto& [total, level] : rows) {
    SCOPED_TRACE(total);
    AddMissing(have, total - have);
    have = total;
    host_.seen.clear();
    ExecuteCheckOfModule(module_, nullptr, 0);
    ExpectOutcome(platform::Utf8ToU16(std::to_string(total)), level);
    // The entries are counted once per module, at its first run.
    if (counted < 0) counted = TotalKeyCount;
    EXPECT_EQ(TotalKeyCount, counted);
  }
  EXPECT_GT(counted, 0);
  // A check changes nothing.
  EXPECT_TRUE(HasValue(tree_.Path(u"Gone\\lib0.dll")));
  Destroy();  // de-init flushes the log

  const std::string gone = platform::U16ToUtf8(tree_.Path(u"Gone\\lib"));
  ExpectLogged({
      "03 Init: Registry Cleaner Module Version: 1.0.612.0000 (from 2013-07-24 17:09:30)",
      "11 IgnoreList ERROR, File: " + platform::U16ToUtf8(Folder(u"IgnoreList.slw1")),
      "11 BlackList ERROR, File: " + platform::U16ToUtf8(Folder(u"BlackList.cfg")),
      "06 Start: RegCleanerThread, mode: Scan",
      "06 Start: WorkSharedDllMissingProblems",
      "08 Key: HKEY_LOCAL_MACHINE\\" + platform::U16ToUtf8(kSharedDlls),
      "07 Missing: " + gone + "0.dll",
      "07 Missing: " + gone + "1.dll",
      "06 Stop: WorkSharedDllMissingProblems, found 2 problems here, scanned: ",
      // The classes of a booted prefix all have their libraries.
      "06 Stop: WorkInprocServer32Problems, found 0 problems here, scanned: ",
      "06 Stop: RegCleanerThread, found 2 problems total, duration: ",
      "03 DeInit: Registry Cleaner Module Version: 1.0.612.0000",
  });
  // The present file is no problem.
  ExpectLogged({"07 Missing: " + platform::U16ToUtf8(tree_.Path(u"Shared\\present.dll"))}, false);
}

TEST_F(Cleaner, ResolveBacksUpDeletesAndRemembers) {
  AddMissing(0, 2);
  Create();
  ExecuteCheckOfModule(module_, nullptr, 0);
  ASSERT_EQ(Text(module_), u"2");
  ExecuteResolveOfModule(module_);
  ExpectOutcome(u"0", 0.0);
  for (const char16_t* name : {u"Gone\\lib0.dll", u"Gone\\lib1.dll", u"Shared\\present.dll"})
    EXPECT_EQ(HasValue(tree_.Path(name)), name[0] == u'S') << platform::U16ToUtf8(name);

  // One backup folder named by the run's start: the category's file and the restore batch.
  const std::vector<std::u16string> runs = Names(Folder(u"Backups"));
  ASSERT_EQ(runs.size(), 1u);
  const std::u16string run = Folder(u"Backups\\") + runs[0];
  std::vector<std::u16string> files = Names(run);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::u16string>{u"Restore Function.bat",
                                                u"SharedDllMissingProblems.reg"}));
  // Both values are in it (its layout is pinned by the backup writer's tests).
  const std::string backup = engine_test::ReadBytes(run + u"\\SharedDllMissingProblems.reg");
  for (const char16_t* name : {u"Gone\\lib0.dll", u"Gone\\lib1.dll"})
    EXPECT_NE(backup.find(engine_test::Utf16Le(u"\"" + Escaped(tree_.Path(name)) +
                                               u"\"=dword:00000001\r\n")),
              std::string::npos);

  // A second check finds nothing; the ignore list is written at the end.
  ExecuteCheckOfModule(module_, nullptr, 0);
  EXPECT_EQ(Text(module_), u"0");
  Destroy();
  EXPECT_NE(engine_test::ReadBytes(Folder(u"IgnoreList.slw1")), "<missing>");
  ExpectLogged({"06 Save IgnoreList: 4 Changes - 4 Items"});
}

// A backup folder name already taken gets " (2)" and on; a run removing nothing leaves none.
TEST_F(Cleaner, ARunsBackupFolderIsNeverSharedNorLeftEmpty) {
  Create();
  SetProgressCallbackOfModule(module_, nullptr, nullptr);  // no pacing: same second
  ExecuteResolveOfModule(module_);
  EXPECT_TRUE(Names(Folder(u"Backups")).empty());
  for (int attempt = 0; attempt < 5; ++attempt) {
    AddMissing(attempt, 1);
    const std::u16string taken = platform::AnsiToU16(FormatTimestampForFileName());
    for (const std::u16string& name : {taken, taken + u" (2)"})
      ASSERT_TRUE(tree_.MakeFileAt(Folder(u"Backups\\") + name + u"\\A.reg", "another run's"));
    const std::vector<std::u16string> before = Names(Folder(u"Backups"));
    ExecuteResolveOfModule(module_);
    std::vector<std::u16string> made;
    for (const std::u16string& name : Names(Folder(u"Backups")))
      if (std::find(before.begin(), before.end(), name) == before.end()) made.push_back(name);
    ASSERT_EQ(made.size(), 1u);
    for (const std::u16string& name : {taken, taken + u" (2)"})
      EXPECT_EQ(Names(Folder(u"Backups\\") + name), std::vector<std::u16string>{u"A.reg"});
    if (made[0].rfind(taken, 0) == 0) {
      EXPECT_EQ(made[0], taken + u" (3)");
      return;
    }
  }
  ADD_FAILURE() << "no run started in the second of a taken name";
}

// A scanner that hangs after the stop until released; it must then still see the abort.
struct BlockedEntry {
  static inline std::atomic<bool> release{false};
  static inline std::atomic<bool> sawNoAbort{false};
  static uint32_t Scanner(RegCleanerEngine* engine) {
    if (engine->mode == KeyCount) return 1;
    if (engine->mode != BackupAndClean) return 0;
    AbortRequested = 1;  // the host's stop
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (AbortRequested == 0) sawNoAbort = true;
    return 1;
  }
};

TEST_F(Cleaner, AfterAStopTheAbandonedWorkerDeletesNothing) {
  BlockedEntry::release = false;
  BlockedEntry::sawNoAbort = false;
  SetRunScannersForTesting({&BlockedEntry::Scanner}, 2);
  Create();
  ExecuteResolveOfModule(module_);  // the worker is left running
  EXPECT_EQ(Text(module_), u"canceled");
  EXPECT_NE(AbortRequested, 0u);
  // The next run waits for that worker, which still sees the abort.
  std::thread releaser([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    BlockedEntry::release = true;
  });
  ExecuteCheckOfModule(module_, nullptr, 0);
  releaser.join();
  EXPECT_FALSE(BlockedEntry::sawNoAbort);
  EXPECT_EQ(Text(module_), u"0");
  EXPECT_EQ(AbortRequested, 0u);
  // A check the host stops says so, whatever it found.
  SetRunScannersForTesting({+[](RegCleanerEngine* engine) -> uint32_t {
    if (engine->mode == Scan) AbortRequested = 1;
    return 1;
  }});
  ExecuteCheckOfModule(module_, nullptr, 0);
  EXPECT_EQ(Text(module_), u"canceled");
  EXPECT_EQ(GetResultLevelOfModule(module_), 0.0);
}

// A scanner that recurses until the worker's stack overflows.
struct Overflowing {
  static inline volatile bool bottom = false;
  static uint32_t Deeper(uint32_t depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return bottom ? frame[0] : Deeper(depth + 1) + frame[0];
  }
  static uint32_t Scanner(RegCleanerEngine* engine) {
    return engine->mode == KeyCount ? 1 : Deeper(0);
  }
};

TEST_F(Cleaner, AStackOverflowInTheWorkerFailsTheRunNotTheProcess) {
#if defined(_WIN32) && !defined(_WIN64)  // the class checks' own bound keeps a registry away
  GTEST_SKIP() << "a 32-bit worker's stack overflow hangs the process under WoW64 Wine";
#endif
  SetRunScannersForTesting({&Overflowing::Scanner});
  Create();
  ExecuteCheckOfModule(module_, nullptr, 0);
  EXPECT_EQ(Text(module_), u"failed");
  EXPECT_NE(SubResults().find(u"stack overflow"), std::u16string::npos)
      << platform::U16ToUtf8(SubResults());
}

TEST_F(Cleaner, AModuleThatCannotMakeItsFolderSaysSoAndRefuses) {
  AddMissing(0, 2);
  // A file where the module's folder belongs.
  ASSERT_TRUE(tree_.MakeFile(u"Content\\RegCleanerDll"));
  Create();
  EXPECT_EQ(static_cast<CRegistryCleanerModuleCheckModule*>(module_)->engineReady(), 0u);
  // The reason is the system's own text for error 183.
  const std::u16string failure =
      u"[{\"SubResultLevel\":-1.000000,\"SubResultText\":\"The module's folder " +
      Escaped(content_ + u"\\RegCleanerDll") + u" could not be created (error 183: ";
  for (bool resolve : {false, true}) {
    SCOPED_TRACE(resolve);
    resolve ? (void)ExecuteResolveOfModule(module_)
            : (void)ExecuteCheckOfModule(module_, nullptr, 0);
    ExpectOutcome(u"failed", -1.0);
    EXPECT_TRUE(SubResults().starts_with(failure) && SubResults().ends_with(u").\"}]"))
        << platform::U16ToUtf8(SubResults());
  }
  EXPECT_TRUE(HasValue(tree_.Path(u"Gone\\lib0.dll")));
}

TEST_F(Cleaner, WithoutAdministratorRightsNothingIsPrepared) {
#ifdef _WIN32
  GTEST_SKIP() << "the rights of a Windows process cannot be lowered from inside it";
#else
  AddMissing(0, 2);
  platform::SetProcessEnvironmentVariable(u"REGCLEAN_ELEVATED", u"0");
  Create();
  EXPECT_EQ(static_cast<CRegistryCleanerModuleCheckModule*>(module_)->engineReady(), 0u);
  ExecuteCheckOfModule(module_, nullptr, 0);
  ExpectOutcome(u"0", 0.0);
  ExecuteResolveOfModule(module_);
  EXPECT_EQ(Text(module_), u"canceled");
  EXPECT_TRUE(HasValue(tree_.Path(u"Gone\\lib0.dll")));
  Destroy();
  // No content folder, no log.
  EXPECT_EQ(tree_.fs()->GetFileAttributes(content_), platform::kInvalidFileAttributes);
#endif
}

TEST_F(Cleaner, MeasurementsAcrossRunsAndBoots) {
  Create();
  // No stored times: the first check expects four minutes.
  EXPECT_EQ(Engine().slowExecuteTime, 0);
  ExecuteCheckOfModule(module_, nullptr, 0);
  const int32_t first = Engine().slowExecuteTime;
  EXPECT_GT(first, 0);
  EXPECT_EQ(Engine().runsThisBoot, 1);
  Destroy();
  const std::string boot = std::to_string(BootSessionSignature());
  EXPECT_EQ(Measurement(u"SlowExecuteTime") + " " + Measurement(u"FastExecuteTime") + " " +
                Measurement(u"LastBootTimeSignature"),
            std::to_string(first) + " 0 " + boot);

  // Same boot: the next module counts as a later run and learns the fast time.
  Create();
  EXPECT_EQ(Engine().runsThisBoot, 1);
  ExecuteCheckOfModule(module_, nullptr, 0);
  EXPECT_GT(Engine().fastExecuteTime, 0);
  Destroy();

  // Another boot: a stored slow time far above the run is replaced by it.
  for (const auto& [key, value] :
       {std::pair{u"LastBootTimeSignature", u"12345"}, std::pair{u"SlowExecuteTime", u"9000000"}})
    platform::WritePrivateProfileString(u"Measurement", key, value, Folder(u"RegCleanerDll.cfg"));
  Create();
  EXPECT_EQ(Engine().runsThisBoot, 0);
  ExecuteCheckOfModule(module_, nullptr, 0);
  EXPECT_LT(Engine().slowExecuteTime, 9000000);
  Destroy();
  EXPECT_EQ(Measurement(u"LastBootTimeSignature"), boot);
}

}  // namespace
