// The shared DLL scanner and the frame every scanner shares, on an in-memory
// machine with real files: problems, modes, log lines, the backup file.
#include "modules/RegistryCleanerModule/dll/reg_list_file.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/engine/log_capture.h"
#include "tests/platform/registry_values.h"
#include "tests/scanners/scanner_fixture.h"

namespace {

using namespace scanner_test;
using platform::kHkeyLocalMachine;

constexpr char16_t kNative[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr char16_t kWow[] =
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// On an in-memory machine with the fixture's values only: exact counts and lines.
class SharedDllsScanner : public ScannerFixture {
 protected:
  void SetUp() override {
    ScannerFixture::SetUp();
    for (const char16_t* name : {u"Present\\keep.dll", u"Present\\keep32.dll"})
      ASSERT_TRUE(tree_.MakeFile(name));
    present_ = tree_.Path(u"Present\\keep.dll");
    listed_ = tree_.Path(u"Gone\\listed.dll");
    std::string hive = "WINE REGISTRY Version 2\n#arch=win64\n";
    hive += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls]\n";
    for (const char16_t* name :
         {u"Present\\keep.dll", u"Gone\\gone.dll", u"Gone\\second.dll", u"Gone\\listed.dll"})
      hive += "\"" + Reg(name) + "\"=dword:00000001\n";
    hive += "\"a.dl\"=dword:00000001\n";         // four characters: never tested
    hive += "\"nothing.dll\"=dword:00000002\n";  // not a path
    hive += "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls]\n";
    hive += "\"" + Reg(u"Gone\\old32.dll") + "\"=dword:00000003\n";
    hive += "\"" + Reg(u"Present\\keep32.dll") + "\"=dword:00000001\n";
    ASSERT_TRUE(memory_.LoadHiveText(platform::memory::kMachineHive, hive).empty());
    SetEngineRegistry(&memory_);
    engine_.blackList->Add(ListEntryText(u"HKEY_LOCAL_MACHINE", kNative, listed_), 0);
    engine_.blackList->Add(u"NOOP", 0);
  }

  uint32_t Run(uint32_t mode) {
    engine_.mode = mode;
    return ScanSharedDlls(&engine_);
  }
  std::vector<std::u16string> Values(const char16_t* path) {
    return registry_test::Names(&memory_, kHkeyLocalMachine, path);
  }

  platform::memory::MemoryRegistry memory_;
  std::u16string present_, listed_;
};

// No line from a count, a scan below level 6, a stop before the start, an unknown mode.
TEST_F(SharedDllsScanner, RunsThatLogNothing) {
  const struct {
    uint32_t mode;
    int32_t level;
    int abort;
    uint32_t result;
  } rows[] = {{KeyCount, MyLogfile::kDefaultLevel, 0, 8},
              {Scan, 5, 0, 3},
              {Scan, MyLogfile::kDefaultLevel, 1, 0},
              {5, MyLogfile::kDefaultLevel, 0, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    engine_test::CapturedLog log(row.level);
    AbortRequested = row.abort;
    EXPECT_EQ(Run(row.mode), row.result);
    EXPECT_TRUE(log.Lines().empty());
  }
}

TEST_F(SharedDllsScanner, ScanReportsMissingFilesOnlyAndChangesNothing) {
  engine_test::CapturedLog log;
  // Missing: gone, second, old32 (Wow6432Node); not the black-listed, short,
  // bare or present ones.
  EXPECT_EQ(Run(Scan), 3u);
  std::vector<std::string> lines = log.Lines();
  ASSERT_FALSE(lines.empty());
  lines.back().erase(lines.back().rfind("duration: ") + 10);  // the time varies
  // Values are visited from the last index to the first.
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "06 Start: WorkSharedDllMissingProblems",
                       "08 Key: HKEY_LOCAL_MACHINE\\" + Utf8(kNative),
                       "07 Missing: " + Utf8(tree_.Path(u"Gone\\second.dll")),
                       "07 Missing: " + Utf8(tree_.Path(u"Gone\\gone.dll")),
                       "08 Key: HKEY_LOCAL_MACHINE\\" + Utf8(kWow),
                       "07 Missing: " + Utf8(tree_.Path(u"Gone\\old32.dll")),
                       "06 Stop: WorkSharedDllMissingProblems, found 3 problems here, scanned: 8, "
                       "duration: ",
                   }));
  EXPECT_EQ(Values(kNative).size(), 6u);
  EXPECT_EQ(Values(kWow).size(), 2u);
  EXPECT_EQ(engine_.ignoreList->Count(), 0);
}

// Many problems go in batches, each value in the backup on disk before it is deleted.
TEST_F(SharedDllsScanner, ManyProblemsGoInBatchesEachOnDiskBeforeItIsDeleted) {
  constexpr int kMany = 1100;  // more than two batches
  platform::HKey key;
  ASSERT_EQ(memory_.RegOpenKeyExW(kHkeyLocalMachine, kNative, 0,
                                  platform::kKeyAllAccess | platform::kKeyWow64_64Key, &key),
            0u);
  const uint8_t one[4] = {1};
  for (int i = 0; i < kMany; ++i)
    memory_.RegSetValueExW(key, tree_.Path(u"Gone\\many") + platform::Utf8ToU16(std::to_string(i)),
                           platform::kRegDword, one, 4);
  memory_.RegCloseKey(key);
  struct Checking : platform::RegistryWrapper {
    using RegistryWrapper::RegistryWrapper;
    uint32_t RegDeleteValueW(platform::HKey key, std::u16string_view name) override {
      std::u16string quoted;  // as the backup file writes the name
      for (char16_t c : name) quoted += c == u'\\' ? std::u16string(u"\\\\") : std::u16string(1, c);
      const std::string saved = engine_test::ReadBytes(file);
      unsaved += saved.find(engine_test::Utf16Le(u"\"" + quoted + u"\"")) == std::string::npos;
      ++deleted;
      return RegistryWrapper::RegDeleteValueW(key, name);
    }
    std::u16string file;
    int unsaved = 0, deleted = 0;
  } checking(&memory_);
  checking.file = backups_.File(u"SharedDllMissingProblems.reg");
  SetEngineRegistry(&checking);
  EXPECT_EQ(Run(BackupAndClean), kMany + 3u);
  SetEngineRegistry(&memory_);
  EXPECT_EQ(checking.deleted, kMany + 3);
  EXPECT_EQ(checking.unsaved, 0);
  EXPECT_EQ(Values(kNative),
            (std::vector<std::u16string>{present_, listed_, u"a.dl", u"nothing.dll"}));
  EXPECT_EQ(engine_.runFailures, 0u);
}

}  // namespace
