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

// A machine the test sets up; restore-point calls read "event type sequence name-length".
struct FakeMachine : TestMachine {
  FakeMachine() {
    version = platform::OsVersion{6, 2, 9200, 2, 1, false};
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
  bool StartService(std::u16string_view name) override {
    calls.push_back("start " + platform::U16ToUtf8(name));
    return serviceRuns;
  }
  bool SetRestorePoint(uint32_t eventType, uint32_t type, int64_t* sequence,
                       std::u16string_view description) override {
    calls.push_back(std::to_string(eventType) + " " + std::to_string(type) + " " +
                    std::to_string(*sequence) + " " + std::to_string(description.size()));
    if (!pointsWork) return false;
    *sequence = 4711;
    return true;
  }
  std::vector<platform::ProcessEntry> processes;
  bool snapshotWorks = true, serviceRuns = true, pointsWork = true;
  std::vector<std::string> calls;
};

TEST(VersionTests, Boundaries) {
  FakeMachine m;
  // XP, Vista, 8 or later. 10.0 has minor 0: not "8 or later" here; 98 is not NT; 0 is unread.
  const struct {
    uint32_t major, minor, build, platform;
    const char* answers;
  } rows[] = {{5, 0, 2195, 2, "000"}, {5, 0, 2196, 2, "100"},   {6, 0, 6000, 2, "110"},
              {6, 2, 9200, 2, "111"}, {10, 0, 19045, 2, "110"}, {4, 10, 1998, 1, "000"},
              {0, 0, 0, 2, "000"}};
  for (const auto& r : rows) {
    m.version = platform::OsVersion{r.major, r.minor, r.build, r.platform, 1, false};
    const std::string answers = {"01"[IsXpOrLater(&m)], "01"[IsVistaOrLater(&m)],
                                 "01"[IsWin8OrLater(&m)]};
    EXPECT_EQ(answers, r.answers) << r.major << "." << r.minor << "." << r.build;
  }
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
  auto running = [&m](std::u16string_view name, std::u16string_view path, bool others) {
    return IsProcessRunning(name, path, others, &m);
  };
  EXPECT_TRUE(running(u"serviceprovider.EXE", u"", false));
  EXPECT_TRUE(running(u"host.exe", u"", false));  // the current process counts
  EXPECT_FALSE(running(u"host.exe", u"", true));
  EXPECT_TRUE(running(u"ServiceProvider.exe", u"c:\\suite\\serviceprovider.exe", true));
  EXPECT_FALSE(running(u"ServiceProvider.exe", u"C:\\Elsewhere\\ServiceProvider.exe", false));
  m.snapshotWorks = false;
  EXPECT_FALSE(running(u"host.exe", u"", false));
}

// The real machine: this program finds itself, runs itself and follows its children.
TEST(Processes, FindsRunsAndFollowsItselfOnTheRealMachine) {
  platform::System* system = platform::System::Default();
  const std::u16string self = GetHostFilePath();
  ASSERT_FALSE(self.empty());
  const std::u16string name = self.substr(self.find_last_of(u"\\/") + 1);
  EXPECT_TRUE(IsProcessRunning(name, u"", false, system));
  EXPECT_TRUE(IsProcessRunning(name, self, false, system));
  EXPECT_FALSE(IsProcessRunning(u"no-such-program-here.exe", u"", false, system));

  EXPECT_EQ(RunProcess(u"", u"", 0, true, 0, nullptr), 2u);
  EXPECT_EQ(RunProcess(u"C:\\no\\such\\program.exe", u"", 0, true, 0, nullptr), 2u);
  EXPECT_EQ(RunProcess(self, u"--sleep-ms 10", 5000, true, 20000, nullptr), 0u);
  Stopwatch watch = Stopwatch::StartNew();
  EXPECT_EQ(RunProcess(self, u"--sleep-ms 20000", 5000, true, 200, nullptr), 1067u);
  EXPECT_LT(watch.ElapsedMilliseconds(), 10000u);
  const std::atomic<bool> cancel{true};
  EXPECT_EQ(RunProcess(self, u"--sleep-ms 20000", 5000, true, 20000, &cancel), 1067u);

  // Starting takes ms (Linux) to seconds (qemu): the bounds measure that before they judge.
  const std::u16string line = u"\"" + self + u"\" ";
  watch.Restart();
  // The parent ends at once; the call returns only after the child's 2.5 s.
  EXPECT_TRUE(RunAndFollow(line + u"--spawn-child 2500", 0, u"", true, nullptr));
  EXPECT_GE(watch.ElapsedMilliseconds(), 2400u);
  watch.Restart();
  EXPECT_TRUE(RunAndFollow(line + u"--spawn-child 0", 0, u"", true, nullptr));
  const uint64_t starting = watch.ElapsedMilliseconds();
  // A filter that matches no child: finished when the parent ends.
  watch.Restart();
  EXPECT_TRUE(RunAndFollow(line + u"--spawn-child 2500", 0, u"nothing-like-this", true, nullptr));
  EXPECT_LT(watch.ElapsedMilliseconds(), starting + 1250u);

  watch.Restart();
  EXPECT_TRUE(RunAndFollow(line + u"--sleep-ms 20000", 200, u"", true, nullptr));
  EXPECT_LT(watch.ElapsedMilliseconds(), 10000u);
  EXPECT_TRUE(RunAndFollow(line + u"--sleep-ms 20000", 0, u"", true, &cancel));
  // A negative time-out returns after the start, while the program runs on.
  watch.Restart();
  EXPECT_TRUE(RunAndFollow(line + u"--sleep-ms 2500", -1, u"", true, nullptr));
  EXPECT_LT(watch.ElapsedMilliseconds(), 2000u);
  EXPECT_FALSE(RunAndFollow(u"C:\\no\\such\\program.exe", 0, u"", true, nullptr));
  platform::System::Default()->Sleep(2600);  // let the unfollowed programs end
}

// Begin starts VSS, sets the settings from Windows 8 on and names the point (255 of 300
// characters); refused (no service, no sequence, no point) it is false and keeps the sequence.
TEST(RestorePoints, BeginSetsTheSettingsAndNamesThePointOrRefuses) {
  const struct {
    bool serviceRuns, windows8, withSequence, pointsWork;
    std::vector<std::string> calls;
  } rows[] = {{true, true, true, true, {"start VSS", "102 12 0 255"}},
              {false, true, true, false, {"start VSS"}},
              {false, true, false, false, {}},
              {true, false, true, false, {"start VSS", "102 12 0 255"}}};
  for (const auto& row : rows) {
    FakeMachine machine;
    machine.serviceRuns = row.serviceRuns;
    machine.pointsWork = row.pointsWork;
    if (!row.windows8) machine.version = platform::OsVersion{6, 1, 7601, 2, 1, false};
    platform::memory::MemoryRegistry registry;
    int64_t sequence = 9;
    EXPECT_EQ(BeginRestorePoint(std::u16string(300, u'd'), row.withSequence ? &sequence : nullptr,
                                &machine, &registry),
              row.pointsWork);
    EXPECT_EQ(sequence, row.pointsWork ? 4711 : 9);
    EXPECT_EQ(machine.calls, row.calls);
    CRegistry settings(true, &registry);
    settings.SetRoot(platform::kHkeyLocalMachine);
    const bool set =
        settings.Open(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore", false);
    EXPECT_EQ(set, row.serviceRuns && row.windows8 && row.withSequence);
    EXPECT_EQ(settings.GetInt(u"SystemRestorePointCreationFrequency", -1), set ? 0 : -1);
    EXPECT_EQ(settings.GetInt(u"ScopeSnapshots", -1), set ? 0 : -1);
  }
  FakeMachine machine;
  EXPECT_TRUE(EndRestorePoint(4711, &machine));
  EXPECT_EQ(machine.calls, (std::vector<std::string>{"start VSS", "103 12 4711 0"}));
  // The machine itself (a prefix has no restore points, Wine no VSS): false, at once.
  int64_t sequence = 0;
  EXPECT_FALSE(BeginRestorePoint(u"Suite: Clean Registry (Fix Errors)", &sequence));
}

// Built on POSIX only: the system folders of Windows cannot be arranged by a test.
#ifndef _WIN32
TEST(RestoreProgram, FirstExistingCandidate) {
  TempTree tree;  // a 64-bit prefix: a 32-bit program's system folders are system32 and syswow64
  ASSERT_TRUE(tree.ok());
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\syswow64\\restore\\rstrui.exe");  // taken untested
  for (const char16_t* file :
       {u"C:\\windows\\system32\\restore\\rstrui.exe", u"C:\\windows\\syswow64\\rstrui.exe",
        u"C:\\windows\\system32\\rstrui.exe"}) {
    ASSERT_TRUE(tree.MakeFileAt(file));
    EXPECT_EQ(RestoreUiPath(), file);
  }
  platform::FileSystem::Default()->DeleteFile(u"C:\\windows\\system32\\rstrui.exe");
}
#endif

}  // namespace
