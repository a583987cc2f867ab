#include "framework/system_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/registry_settings.h"
#include "framework/restore_point.h"
#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"
#include "support/stopwatch.h"
#include "tests/framework/test_machine.h"
#include "tests/platform/temp_tree.h"

namespace {

// A machine whose version, rights and process list the test sets.
struct FakeMachine : TestMachine {
  FakeMachine() {
    version = platform::OsVersion{6, 1, 7601, 2, 1, false};
    elevated = true;
    self = 10;
    listProcesses = [this](std::vector<platform::ProcessEntry>* out) {
      *out = processes;
      return snapshotWorks;
    };
  }
  std::u16string GetProcessImagePath(uint32_t pid) override {
    return pid == 20 ? u"C:\\Suite\\ServiceProvider.exe" : u"C:\\Other\\ServiceProvider.exe";
  }
  std::vector<platform::ProcessEntry> processes;
  bool snapshotWorks = true;
};

TEST(VersionTests, Boundaries) {
  FakeMachine m;
  struct Row {
    uint32_t major, minor, build, platform;
    bool xp, vista, win8;
  } rows[] = {
      {5, 0, 2195, 2, false, false, false},
      {5, 0, 2196, 2, true, false, false},
      {6, 0, 6000, 2, true, true, false},
      {6, 2, 9200, 2, true, true, true},
      // A version 10.0 report has minor 0: not "Windows 8 or later" by this test.
      {10, 0, 19045, 2, true, true, false},
      {4, 10, 1998, 1, false, false, false},  // Windows 98 is not NT
  };
  for (const Row& r : rows) {
    m.version = platform::OsVersion{r.major, r.minor, r.build, r.platform, 1, false};
    SCOPED_TRACE(testing::Message() << r.major << "." << r.minor << "." << r.build);
    EXPECT_EQ(IsXpOrLater(&m), r.xp);
    EXPECT_EQ(IsVistaOrLater(&m), r.vista);
    EXPECT_EQ(IsWin8OrLater(&m), r.win8);
  }
  m.version = platform::OsVersion{};
  EXPECT_FALSE(IsXpOrLater(&m));
}

TEST(Rights, ElevationOnVistaAndGroupBefore) {
  FakeMachine m;
  EXPECT_TRUE(IsProcessElevated(&m));
  m.elevationReadable = false;  // an elevation that cannot be read is none
  EXPECT_FALSE(IsProcessElevated(&m));

  // Before Vista the Administrators group decides.
  m.version = platform::OsVersion{5, 1, 2600, 2, 1, false};
  m.membership = 0;
  EXPECT_FALSE(IsProcessElevated(&m));
  EXPECT_EQ(m.lastRid, 544u);
  m.membership = -1;  // no membership test on the system: counts as administrator
  EXPECT_TRUE(IsProcessElevated(&m));
  EXPECT_EQ(IsUserInGroup(545, &m), 1);
}

TEST(Processes, RunningByNameAndPath) {
  FakeMachine m;
  m.processes = {{10, 1, u"host.exe"}, {20, 10, u"ServiceProvider.exe"}};
  EXPECT_TRUE(IsProcessRunning(u"serviceprovider.EXE", u"", false, &m));
  EXPECT_TRUE(IsProcessRunning(u"host.exe", u"", false, &m));  // the current process counts
  EXPECT_FALSE(IsProcessRunning(u"host.exe", u"", true, &m));
  EXPECT_TRUE(
      IsProcessRunning(u"ServiceProvider.exe", u"c:\\suite\\serviceprovider.exe", true, &m));
  EXPECT_FALSE(
      IsProcessRunning(u"ServiceProvider.exe", u"C:\\Elsewhere\\ServiceProvider.exe", false, &m));
  m.snapshotWorks = false;
  EXPECT_FALSE(IsProcessRunning(u"host.exe", u"", false, &m));
}

TEST(Processes, FindsItselfOnTheRealMachine) {
  platform::System* system = platform::System::Default();
  std::u16string self = GetHostFilePath();
  ASSERT_FALSE(self.empty());
  const std::u16string name = self.substr(self.find_last_of(u"\\/") + 1);
  EXPECT_TRUE(IsProcessRunning(name, u"", false, system));
  EXPECT_TRUE(IsProcessRunning(name, self, false, system));
  EXPECT_FALSE(IsProcessRunning(u"no-such-program-here.exe", u"", false, system));
}

TEST(Processes, RunProcessWaitsAndEndsWhatOverstays) {
  EXPECT_EQ(RunProcess(u"", u"", 0, true, 0, nullptr), 2u);
  EXPECT_EQ(RunProcess(u"C:\\no\\such\\program.exe", u"", 0, true, 0, nullptr), 2u);
  const std::u16string self = GetHostFilePath();
  EXPECT_EQ(RunProcess(self, u"--sleep-ms 10", 5000, true, 20000, nullptr), 0u);
  Stopwatch watch = Stopwatch::StartNew();
  EXPECT_EQ(RunProcess(self, u"--sleep-ms 20000", 5000, true, 200, nullptr), 1067u);
  EXPECT_LT(watch.ElapsedMilliseconds(), 10000u);
  const std::atomic<bool> cancel{true};
  EXPECT_EQ(RunProcess(self, u"--sleep-ms 20000", 5000, true, 20000, &cancel), 1067u);
}

// Starting a program takes from milliseconds (Linux) to about a second
// (wine) and several seconds (the 32-bit suite under qemu); the bounds below
// measure that first and still tell "waited for the 2.5 s child" from "did not".
TEST(Processes, RunAndFollowFollowsAChildThatOutlivesItsParent) {
  const std::u16string self = u"\"" + GetHostFilePath() + u"\" --spawn-child ";
  Stopwatch watch = Stopwatch::StartNew();
  EXPECT_TRUE(RunAndFollow(self + u"2500", 0, u"", true, nullptr));
  // The parent ends at once; the call returns only after the child's 2.5 s.
  EXPECT_GE(watch.ElapsedMilliseconds(), 2400u);

  watch.Restart();
  EXPECT_TRUE(RunAndFollow(self + u"0", 0, u"", true, nullptr));
  const uint64_t starting = watch.ElapsedMilliseconds();

  // A filter that matches no child: finished when the parent ends.
  watch.Restart();
  EXPECT_TRUE(RunAndFollow(self + u"2500", 0, u"nothing-like-this", true, nullptr));
  EXPECT_LT(watch.ElapsedMilliseconds(), starting + 1250u);
  platform::System::Default()->Sleep(2600);  // let the unfollowed child end
}

TEST(Processes, RunAndFollowTimeoutCancelAndFailure) {
  const std::u16string line = u"\"" + GetHostFilePath() + u"\" --sleep-ms 20000";
  Stopwatch watch = Stopwatch::StartNew();
  EXPECT_TRUE(RunAndFollow(line, 200, u"", true, nullptr));
  EXPECT_LT(watch.ElapsedMilliseconds(), 10000u);
  const std::atomic<bool> cancel{true};
  EXPECT_TRUE(RunAndFollow(line, 0, u"", true, &cancel));
  // A negative time-out returns after the start, while the program runs on.
  const std::u16string brief = u"\"" + GetHostFilePath() + u"\" --sleep-ms 2500";
  watch.Restart();
  EXPECT_TRUE(RunAndFollow(brief, -1, u"", true, nullptr));
  EXPECT_LT(watch.ElapsedMilliseconds(), 2000u);
  EXPECT_FALSE(RunAndFollow(u"C:\\no\\such\\program.exe", 0, u"", true, nullptr));
  platform::System::Default()->Sleep(2600);
}

// A machine with or without the restore-point service; it records the calls.
class RestoreMachine : public TestMachine {
 public:
  RestoreMachine() { version = platform::OsVersion{6, 2, 9200, 2, 1, false}; }
  bool StartService(std::u16string_view name) override {
    services += std::u16string(name) + u";";
    return serviceRuns;
  }
  // Each call as "event type sequence length-of-description".
  bool SetRestorePoint(uint32_t eventType, uint32_t type, int64_t* sequence,
                       std::u16string_view description) override {
    calls.push_back(std::to_string(eventType) + " " + std::to_string(type) + " " +
                    std::to_string(*sequence) + " " + std::to_string(description.size()));
    if (!pointsWork) return false;
    *sequence = 4711;
    return true;
  }
  bool serviceRuns = true, pointsWork = true;
  std::u16string services;
  std::vector<std::string> calls;
};

constexpr char16_t kSettingsKey[] =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";

TEST(RestorePoints, BeginSetsTheSettingsAndNamesThePoint) {
  RestoreMachine machine;
  platform::memory::MemoryRegistry registry;
  int64_t sequence = 0;
  const std::u16string description(300, u'd');
  ASSERT_TRUE(BeginRestorePoint(description, &sequence, &machine, &registry));
  EXPECT_EQ(sequence, 4711);
  EXPECT_EQ(machine.services, u"VSS;");
  // A 300-character name keeps 255.
  EXPECT_EQ(machine.calls, std::vector<std::string>{"102 12 0 255"});
  CRegistry settings(true, &registry);
  settings.SetRoot(platform::kHkeyLocalMachine);
  ASSERT_TRUE(settings.Open(kSettingsKey, false));
  EXPECT_EQ(settings.GetInt(u"SystemRestorePointCreationFrequency", -1), 0);
  EXPECT_EQ(settings.GetInt(u"ScopeSnapshots", -1), 0);

  EXPECT_TRUE(EndRestorePoint(4711, &machine));
  EXPECT_EQ(machine.calls.back(), "103 12 4711 0");
}

// Without the service nothing happens; before Windows 8 the settings stay,
// and a refused point is false with the sequence untouched.
TEST(RestorePoints, RefusalsLeaveTheSettingsAndTheSequence) {
  const struct {
    bool serviceRuns, windows8, withSequence;
    size_t calls;
  } rows[] = {{false, true, true, 0}, {false, true, false, 0}, {true, false, true, 1}};
  for (const auto& row : rows) {
    RestoreMachine machine;
    machine.serviceRuns = row.serviceRuns;
    if (!row.windows8) machine.version = platform::OsVersion{6, 1, 7601, 2, 1, false};
    machine.pointsWork = false;
    platform::memory::MemoryRegistry registry;
    int64_t sequence = 9;
    EXPECT_FALSE(
        BeginRestorePoint(u"x", row.withSequence ? &sequence : nullptr, &machine, &registry));
    EXPECT_EQ(sequence, 9);
    EXPECT_EQ(machine.calls.size(), row.calls);
    CRegistry settings(true, &registry);
    settings.SetRoot(platform::kHkeyLocalMachine);
    EXPECT_FALSE(settings.Open(kSettingsKey, false));
  }
}

TEST(RestorePoints, TheMachineItselfAnswersQuickly) {
  // A Wine prefix has no restore points; Windows under wine has no service
  // manager that starts VSS. Either way the answer is false, at once.
  int64_t sequence = 0;
  EXPECT_FALSE(BeginRestorePoint(u"Suite: Clean Registry (Fix Errors)", &sequence));
}

TEST(RestoreProgram, FirstExistingCandidate) {
#ifdef _WIN32
  GTEST_SKIP() << "the system folders of Windows cannot be arranged by a test";
#else
  TempTree tree;  // a 64-bit prefix: a 32-bit program's system folders are system32 and syswow64
  ASSERT_TRUE(tree.ok());
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\syswow64\\restore\\rstrui.exe");  // taken untested
  ASSERT_TRUE(tree.MakeFileAt(u"C:\\windows\\system32\\restore\\rstrui.exe"));
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\system32\\restore\\rstrui.exe");
  ASSERT_TRUE(tree.MakeFileAt(u"C:\\windows\\syswow64\\rstrui.exe"));
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\syswow64\\rstrui.exe");
  ASSERT_TRUE(tree.MakeFileAt(u"C:\\windows\\system32\\rstrui.exe"));
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\system32\\rstrui.exe");
  platform::FileSystem::Default()->DeleteFile(u"C:\\windows\\system32\\rstrui.exe");
#endif
}

}  // namespace
