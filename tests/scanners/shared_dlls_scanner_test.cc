// The shared DLL scanner and the frame every scanner shares, on an in-memory
// machine with real files: what counts as a problem, what each mode does to
// it, the log lines and the backup file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/reg_list_file.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"
#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/engine/log_capture.h"
#include "tests/platform/temp_tree.h"

namespace {

using platform::kHkeyLocalMachine;

constexpr char16_t kNative[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr char16_t kWow[] =
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// A value name as hive text writes it.
std::string HiveName(std::u16string_view name) {
  std::string out;
  for (char c : platform::U16ToUtf8(name)) {
    if (c == '\\')
      out += "\\\\";
    else
      out.push_back(c);
  }
  return out;
}

class SharedDllsScanner : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
    ASSERT_TRUE(tree_.MakeFile(u"Present\\keep.dll"));
    ASSERT_TRUE(tree_.MakeFile(u"Present\\keep32.dll"));
    present_ = tree_.Path(u"Present\\keep.dll");
    present32_ = tree_.Path(u"Present\\keep32.dll");
    gone_ = tree_.Path(u"Gone\\gone.dll");
    gone2_ = tree_.Path(u"Gone\\second.dll");
    gone32_ = tree_.Path(u"Gone\\old32.dll");
    listed_ = tree_.Path(u"Gone\\listed.dll");

    std::string hive = "WINE REGISTRY Version 2\n#arch=win64\n";
    hive += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls]\n";
    for (const std::u16string* name : {&present_, &gone_, &gone2_, &listed_})
      hive += "\"" + HiveName(*name) + "\"=dword:00000001\n";
    hive += "\"a.dl\"=dword:00000001\n";         // four characters: never tested
    hive += "\"nothing.dll\"=dword:00000002\n";  // not a path
    hive += "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls]\n";
    hive += "\"" + HiveName(gone32_) + "\"=dword:00000003\n";
    hive += "\"" + HiveName(present32_) + "\"=dword:00000001\n";
    ASSERT_TRUE(registry_.LoadHiveText(platform::memory::kMachineHive, hive).empty());
    SetEngineRegistry(&registry_);

    saved_ = {Is64BitOs, IsWow64, OsLevel};
    Is64BitOs = IsWow64 = true;
    OsLevel = 2;
    SetPathResolverFacts(ResolverFacts{true, true, 2});
    AbortRequested = 0;
    TotalKeyCount = 0;

    engine_.blackList = std::make_unique<BufferedStringListW>("BlackList", 64);
    engine_.blackList->Add(ListEntryText(u"HKEY_LOCAL_MACHINE", kNative, listed_), 0);
    engine_.blackList->Add(u"NOOP", 0);
    engine_.ignoreList = std::make_unique<BufferedStringListW>("IgnoreList", 256);
    engine_.runBackupFolder = backups_.path();
  }
  void TearDown() override {
    SetEngineRegistry(nullptr);
    Is64BitOs = saved_.is64;
    IsWow64 = saved_.wow64;
    OsLevel = saved_.level;
    SetPathResolverFacts(ResolverFacts{saved_.is64, saved_.wow64, saved_.level});
    AbortRequested = 0;
  }

  uint32_t Run(uint32_t mode) {
    engine_.mode = mode;
    return ScanSharedDlls(&engine_);
  }
  std::vector<std::u16string> Values(const char16_t* path) {
    std::vector<std::u16string> names;
    platform::HKey key;
    if (registry_.RegOpenKeyExW(kHkeyLocalMachine, path, 0,
                                platform::kKeyRead | platform::kKeyWow64_64Key, &key) != 0)
      return names;
    char16_t name[4096];
    for (uint32_t i = 0;; ++i) {
      uint32_t chars = 4096;
      if (registry_.RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr) != 0) break;
      names.emplace_back(name, chars);
    }
    registry_.RegCloseKey(key);
    return names;
  }
  std::string Utf8(const std::u16string& text) { return platform::U16ToUtf8(text); }

  TempTree tree_;
  engine_test::TempFolder backups_;
  platform::memory::MemoryRegistry registry_;
  RegCleanerEngine engine_;
  std::u16string present_, present32_, gone_, gone2_, gone32_, listed_;
  struct {
    bool is64, wow64;
    int level;
  } saved_{};
};

TEST_F(SharedDllsScanner, CountsEveryValueOfBothRootsWithoutLogging) {
  engine_test::CapturedLog log;
  EXPECT_EQ(Run(KeyCount), 8u);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SharedDllsScanner, ScanReportsMissingFilesOnlyAndChangesNothing) {
  engine_test::CapturedLog log;
  // Missing: gone, second (native root), old32 (Wow6432Node root). The
  // black-listed one, the short and the bare names and the present files
  // are not problems.
  EXPECT_EQ(Run(Scan), 3u);
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "06 Start: WorkSharedDllMissingProblems");
  // Values are visited from the last index to the first.
  EXPECT_EQ(lines[1], "08 Key: HKEY_LOCAL_MACHINE\\" + Utf8(kNative));
  EXPECT_EQ(lines[2], "07 Missing: " + Utf8(gone2_));
  EXPECT_EQ(lines[3], "07 Missing: " + Utf8(gone_));
  EXPECT_EQ(lines[4], "08 Key: HKEY_LOCAL_MACHINE\\" + Utf8(kWow));
  EXPECT_EQ(lines[5], "07 Missing: " + Utf8(gone32_));
  EXPECT_EQ(lines[6].rfind("06 Stop: WorkSharedDllMissingProblems, found 3 problems here, "
                           "scanned: 8, duration: ",
                           0),
            0u)
      << lines[6];
  EXPECT_EQ(Values(kNative).size(), 6u);
  EXPECT_EQ(Values(kWow).size(), 2u);
  EXPECT_EQ(engine_.ignoreList->Count(), 0);
}

TEST_F(SharedDllsScanner, LogLevelBelowSixDropsTheFrameLines) {
  engine_test::CapturedLog log(5);
  EXPECT_EQ(Run(Scan), 3u);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SharedDllsScanner, CleanDeletesEachMissingValueAndVisitsEveryOtherOnce) {
  engine_test::CapturedLog log;
  EXPECT_EQ(Run(Clean), 3u);
  const std::vector<std::u16string> native = Values(kNative);
  EXPECT_EQ(native, (std::vector<std::u16string>{present_, listed_, u"a.dl", u"nothing.dll"}));
  EXPECT_EQ(Values(kWow), std::vector<std::u16string>{present32_});
  // Each deleted value is remembered (entry and record).
  EXPECT_EQ(engine_.ignoreList->Count(), 6);
  const std::vector<std::string> lines = log.Lines();
  EXPECT_NE(lines.back().find("found 3 problems here, scanned: 8,"), std::string::npos);
}

TEST_F(SharedDllsScanner, BackupWritesTheValuesAndDeletesNothing) {
  EXPECT_EQ(Run(Backup), 3u);
  EXPECT_EQ(Values(kNative).size(), 6u);
  const std::string backup = engine_test::ReadBytes(backups_.File(u"SharedDllMissingProblems.reg"));
  ASSERT_NE(backup, "<missing>");
  const std::u16string text(reinterpret_cast<const char16_t*>(backup.data() + 2),
                            (backup.size() - 2) / 2);
  EXPECT_NE(text.find(u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\"
                      u"CurrentVersion\\SharedDlls]"),
            std::u16string::npos);
  EXPECT_NE(text.find(u"\"=dword:00000003"), std::u16string::npos);  // old32's count
  EXPECT_EQ(engine_.ignoreList->Count(), 0);
}

// A resolve of many problems flushes its backup once per batch; each value
// is on disk in the backup file before it is deleted, across the batches.
TEST_F(SharedDllsScanner, ManyProblemsGoInBatchesEachOnDiskBeforeItIsDeleted) {
  constexpr int kMany = 1100;  // more than two batches
  platform::HKey key;
  ASSERT_EQ(registry_.RegOpenKeyExW(kHkeyLocalMachine, kNative, 0,
                                    platform::kKeyAllAccess | platform::kKeyWow64_64Key, &key),
            0u);
  const uint32_t one = 1;
  for (int i = 0; i < kMany; ++i) {
    const std::u16string name = tree_.Path(u"Gone\\many") + platform::Utf8ToU16(std::to_string(i));
    registry_.RegSetValueExW(key, name, platform::kRegDword, reinterpret_cast<const uint8_t*>(&one),
                             4);
  }
  registry_.RegCloseKey(key);
  struct Checking : platform::RegistryWrapper {
    Checking(platform::Registry* target, std::u16string file)
        : RegistryWrapper(target), file(std::move(file)) {}
    uint32_t RegDeleteValueW(platform::HKey key, std::u16string_view name) override {
      const std::string bytes = engine_test::ReadBytes(file);
      const std::u16string text(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
      std::u16string quoted;
      for (char16_t c : name) quoted += c == u'\\' ? std::u16string(u"\\\\") : std::u16string(1, c);
      if (text.find(u"\"" + quoted + u"\"") == std::u16string::npos) ++unsaved;
      ++deleted;
      return RegistryWrapper::RegDeleteValueW(key, name);
    }
    std::u16string file;
    int unsaved = 0, deleted = 0;
  } checking(&registry_, backups_.File(u"SharedDllMissingProblems.reg"));
  SetEngineRegistry(&checking);
  EXPECT_EQ(Run(BackupAndClean), kMany + 3u);
  SetEngineRegistry(&registry_);
  EXPECT_EQ(checking.deleted, kMany + 3);
  EXPECT_EQ(checking.unsaved, 0);
  EXPECT_EQ(Values(kNative),
            (std::vector<std::u16string>{present_, listed_, u"a.dl", u"nothing.dll"}));
  EXPECT_EQ(engine_.runFailures, 0u);
}

TEST_F(SharedDllsScanner, NothingFoundLeavesNoBackupFile) {
  engine_.blackList.reset();
  ASSERT_TRUE(tree_.MakeFile(u"Gone\\gone.dll"));
  ASSERT_TRUE(tree_.MakeFile(u"Gone\\second.dll"));
  ASSERT_TRUE(tree_.MakeFile(u"Gone\\old32.dll"));
  ASSERT_TRUE(tree_.MakeFile(u"Gone\\listed.dll"));
  EXPECT_EQ(Run(BackupAndClean), 0u);
  EXPECT_EQ(engine_test::ReadBytes(backups_.File(u"SharedDllMissingProblems.reg")), "<missing>");
}

TEST_F(SharedDllsScanner, AbortOrUnknownModeReturnsAtOnce) {
  engine_test::CapturedLog log;
  AbortRequested = 1;
  EXPECT_EQ(Run(Scan), 0u);
  AbortRequested = 0;
  EXPECT_EQ(Run(5), 0u);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SharedDllsScanner, AnAbortDuringTheWalkStillWritesTheStopLine) {
  engine_test::CapturedLog log;
  TotalKeyCount = 1;  // every step changes the thousandth
  engine_.mode = Scan;
  ScannerFrame frame(&engine_, kSharedDllCategory, true);
  ASSERT_TRUE(frame.Begin());
  frame.Visit();
  AbortRequested = 1;
  EXPECT_TRUE(ScannerFrame::Stopped());
  EXPECT_EQ(frame.End(), 0u);
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("found 0 problems here, scanned: 1,"), std::string::npos);
}

}  // namespace
