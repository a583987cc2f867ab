#include "framework/restore_point.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/registry_settings.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/framework/test_machine.h"
#include "tests/platform/temp_tree.h"

namespace {

// A machine with or without the restore-point service; it records the calls.
class RestoreMachine : public TestMachine {
 public:
  RestoreMachine() { version = platform::OsVersion{6, 2, 9200, 2, 1, false}; }
  bool StartService(std::u16string_view name) override {
    services += std::u16string(name) + u";";
    return serviceRuns;
  }
  bool SetRestorePoint(uint32_t eventType, uint32_t type, int64_t* sequence,
                       std::u16string_view description) override {
    ++calls;
    lastEvent = eventType;
    lastType = type;
    lastSequence = *sequence;
    lastDescription = description;
    if (!pointsWork) return false;
    *sequence = 4711;
    return true;
  }

  bool serviceRuns = true;
  bool pointsWork = true;
  std::u16string services;
  int calls = 0;
  uint32_t lastEvent = 0, lastType = 0;
  int64_t lastSequence = -1;
  std::u16string lastDescription;
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
  EXPECT_EQ(machine.lastEvent, 102u);
  EXPECT_EQ(machine.lastType, 12u);
  EXPECT_EQ(machine.lastSequence, 0);
  EXPECT_EQ(machine.lastDescription.size(), 255u);  // a 300-character name keeps 255
  CRegistry settings(true, &registry);
  settings.SetRoot(platform::kHkeyLocalMachine);
  ASSERT_TRUE(settings.Open(kSettingsKey, false));
  EXPECT_EQ(settings.GetInt(u"SystemRestorePointCreationFrequency", -1), 0);
  EXPECT_EQ(settings.GetInt(u"ScopeSnapshots", -1), 0);

  EXPECT_TRUE(EndRestorePoint(4711, &machine));
  EXPECT_EQ(machine.lastEvent, 103u);
  EXPECT_EQ(machine.lastSequence, 4711);
}

// Without the service nothing happens; before Windows 8 the settings stay,
// and a refused point is false with the sequence untouched.
TEST(RestorePoints, RefusalsLeaveTheSettingsAndTheSequence) {
  const struct {
    bool serviceRuns, windows8, withSequence;
    int calls;
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
    EXPECT_EQ(machine.calls, row.calls);
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

}  // namespace

namespace {

TEST(RestoreProgram, FirstExistingCandidate) {
#ifdef _WIN32
  GTEST_SKIP() << "the system folders of Windows cannot be arranged by a test";
#else
  TempTree tree;  // a 64-bit prefix: a 32-bit program's system folders are system32 and syswow64
  ASSERT_TRUE(tree.ok());
  platform::FileSystem* fs = platform::FileSystem::Default();
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\syswow64\\restore\\rstrui.exe");  // taken untested
  ASSERT_TRUE(tree.MakeFileAt(u"C:\\windows\\system32\\restore\\rstrui.exe"));
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\system32\\restore\\rstrui.exe");
  ASSERT_TRUE(tree.MakeFileAt(u"C:\\windows\\syswow64\\rstrui.exe"));
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\syswow64\\rstrui.exe");
  ASSERT_TRUE(tree.MakeFileAt(u"C:\\windows\\system32\\rstrui.exe"));
  EXPECT_EQ(RestoreUiPath(), u"C:\\windows\\system32\\rstrui.exe");
  fs->DeleteFile(u"C:\\windows\\system32\\rstrui.exe");
#endif
}

}  // namespace
