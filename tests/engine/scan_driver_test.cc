// Engine run pieces without a module: pacing, durations, problem lines, key actions, lockout.
#include "modules/RegistryCleanerModule/dll/scan_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_lifecycle.h"
#include "modules/RegistryCleanerModule/dll/problem_handling.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/engine/engine_test_support.h"
#include "tests/engine/log_capture.h"

namespace {

// A tick count the test moves by hand.
class ManualTicks : public platform::SystemWrapper {
 public:
  ManualTicks() : SystemWrapper(platform::System::Default()) {}
  uint32_t GetTickCount() override { return ticks; }
  uint32_t ticks = 100000;
};

class ProgressStepTest : public testing::Test {
 protected:
  // Every count starts at 0, also after another test of the same process.
  void SetUp() override { ProcessedKeyCount = TotalKeyCount = LastPermille = LastReportTick = 0; }
  void TearDown() override { TotalKeyCount = 0; }
  RegCleanerEngine engine_;
  ManualTicks clock_;
};

TEST_F(ProgressStepTest, ReportsEachNewThousandthAtMostEvery111Ms) {
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(ProgressStep(&engine_, &clock_), i);  // no total: counts
  EXPECT_EQ(LastReportTick, 0u);
  ProcessedKeyCount = 0;
  TotalKeyCount = 2000;
  EXPECT_EQ(ProgressStep(&engine_, &clock_), 1);  // 0 per mille: nothing new
  EXPECT_EQ(LastReportTick, 0u);
  EXPECT_EQ(ProgressStep(&engine_, &clock_), 2);  // 1 per mille, long after the last report
  EXPECT_EQ(LastReportTick, 100000u);
  clock_.ticks += 111;  // not more than 111 ms: computed but not sent
  ProgressStep(&engine_, &clock_);
  ProgressStep(&engine_, &clock_);
  EXPECT_EQ(LastPermille, 2);
  EXPECT_EQ(LastReportTick, 100000u);
  clock_.ticks += 1;
  ProgressStep(&engine_, &clock_);
  ProgressStep(&engine_, &clock_);
  EXPECT_EQ(LastReportTick, 100112u);
  // Past the counted total only the first step at 100 % is sent.
  TotalKeyCount = 2;
  ProcessedKeyCount = 1;
  clock_.ticks += 200;
  ProgressStep(&engine_, &clock_);  // 1000 per mille
  clock_.ticks += 200;
  ProgressStep(&engine_, &clock_);  // 1500: the display is at 100 already
  EXPECT_EQ(LastPermille, 1500);
  EXPECT_EQ(LastReportTick, 100312u);
}

// Expected durations and what a run teaches them: a maximum, unless a first run is 20 % faster.
TEST(ExpectedDuration, FromStoredTimesAndWhatARunTeachesThem) {
  const struct Row {
    int32_t slow, fast, runs;
    uint32_t check, resolve;
    int32_t elapsed, newSlow, newFast;
  } rows[] = {
      {0, 0, 0, 240000, 240000, 5000, 5000, 0},  // first ever run
      {0, 5000, 3, 240000, 240000, 3000, 3000, 5000},
      {10000, 0, 0, 10000, 2500, 8000, 8000, 0},         // 20 % faster: replaces
      {10000, 4000, 0, 10000, 4000, 9000, 10000, 4000},  // only 10 % faster: kept
      {10000, 0, 0, 10000, 2500, 12000, 12000, 0},       // slower: the new maximum
      {10003, 0, 1, 2500, 2500, 3000, 10003, 3000},      // the second run learns the fast time
      {10000, 4000, 1, 4000, 4000, 3000, 10000, 3000},   // ... and a much faster one replaces it
      {10000, 4000, 2, 4000, 4000, 3000, 10000, 4000},   // later runs only raise it
      {10000, 4000, 2, 4000, 4000, 11000, 11000, 11000},
  };
  for (const Row& row : rows) {
    RegCleanerEngine engine;
    engine.slowExecuteTime = row.slow;
    engine.fastExecuteTime = row.fast;
    engine.runsThisBoot = row.runs;
    const uint32_t check = ExpectedCheckDuration(engine), resolve = ExpectedResolveDuration(engine);
    UpdateMeasurement(&engine, row.elapsed);
    EXPECT_EQ(std::tuple(check, resolve, engine.slowExecuteTime, engine.fastExecuteTime,
                         engine.runsThisBoot),
              std::tuple(row.check, row.resolve, row.newSlow, row.newFast, row.runs + 1))
        << row.slow << " " << row.fast << " " << row.runs << " " << row.elapsed;
  }
}

// Key lines the scanners' tests do not show: no value, a relative key, a missing text alone.
TEST(LogProblem, KeyValueAndMissingLines) {
  engine_test::CapturedLog log;
  LogProblem(platform::kHkeyCurrentUser, u"Software\\B", u"", u"");
  LogProblem(platform::kNullKey, u"Rel\\C", u"w", u"x");
  LogProblem(platform::kHkeyLocalMachine, u"", u"v", u"only missing");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"08 Key: HKEY_CURRENT_USER\\Software\\B",
                                                   "08 Key: .\\Rel\\C - Value: w", "07 Missing: x",
                                                   "07 Missing: only missing"}));
}

TEST(ProblemKeyTest, EachModeDoesItsPart) {
  platform::memory::MemoryRegistry registry;
  const char gone[] =
      "WINE REGISTRY Version 2\n[Software\\\\Gone]\n\"a\"=\"1\"\n"
      "[Software\\\\Gone\\\\Child]\n\"b\"=dword:00000002\n";
  ASSERT_TRUE(registry.LoadHiveText(platform::memory::kMachineHive, gone).empty());
  engine_test::FactsScope facts(false, false, 2, &registry);
  engine_test::TempFolder folder;
  RegCleanerEngine engine;
  engine.ignoreList = std::make_unique<BufferedStringListW>("IgnoreList", 16);
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder.path(), u"Keys"));
  auto handle = [&](uint32_t mode) {
    return HandleProblemKey(&engine, platform::kHkeyLocalMachine, u"Software\\Gone",
                            platform::kKeyAllAccess, mode,
                            mode == Backup || mode == BackupAndClean ? file.get() : nullptr);
  };
  auto exists = [&] {
    platform::HKey key;
    return registry.RegOpenKeyExW(platform::kHkeyLocalMachine, u"Software\\Gone", 0,
                                  platform::kKeyRead, &key) == 0 &&
           registry.RegCloseKey(key) == 0;
  };
  // Counted, reported, nothing for an unknown mode, backed up.
  EXPECT_EQ((std::vector<uint32_t>{handle(KeyCount), handle(Scan), handle(5), handle(Backup)}),
            (std::vector<uint32_t>{1, 1, 0, 1}));
  EXPECT_TRUE(exists());
  EXPECT_EQ(engine.ignoreList->Count(), 0);
  EXPECT_EQ(handle(BackupAndClean), 1u);
  EXPECT_FALSE(exists());
  EXPECT_EQ(engine.ignoreList->Count(), 2);  // the entry and its record
  file->Close();
  // The key's whole tree is in the backup, before the deletion took it.
  EXPECT_NE(engine_test::ReadBytes(folder.File(u"Keys.reg"))
                .find(engine_test::Utf16Le(u"[HKEY_LOCAL_MACHINE\\Software\\Gone\\Child]\r\n"
                                           u"\"b\"=dword:00000002")),
            std::string::npos);
  // A key the ignore list remembers is left alone.
  registry.LoadHiveText(platform::memory::kMachineHive,
                        "WINE REGISTRY Version 2\n[Software\\\\Gone]\n");
  EXPECT_EQ(handle(Clean), 0u);
  EXPECT_TRUE(exists());
}

TEST(LockoutMutex, SeenByOthersWhileHeld) {
  platform::System* system = platform::System::Default();
  const std::u16string name = u"Global\\RegCleanerDll Multiple Instance Lockout";
  RegCleanerEngine engine;
  TakeLockoutMutex(&engine, system);
  ASSERT_NE(engine.lockoutMutex, nullptr);
  platform::MutexHandle other = system->OpenMutex(name);
  EXPECT_NE(other, nullptr);
  system->CloseMutex(other);
  ReleaseLockoutMutex(&engine, system);
  EXPECT_EQ(system->OpenMutex(name), nullptr);
}

}  // namespace
