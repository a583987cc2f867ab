#include "framework/registry_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/check_module.h"
#include "framework/install_config.h"
#include "framework/results.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/framework/test_machine.h"
#include "tests/platform/temp_tree.h"

namespace {

TEST(CRegistry, RootsAndValues) {
  platform::memory::MemoryRegistry registry;
  // Strings are not expanded; another type, or 256 bytes with the NUL, read as the default.
  const std::string hive = R"(WINE REGISTRY Version 2
[Software\\Strings]
"Name"="Brightwood"
"Expand"=str(2):"%SystemRoot%\\x"
"Multi"=str(7):"a"
"Long"=")" + std::string(127, 'x') +
                           "\"\n";
  ASSERT_TRUE(registry.LoadHiveText(platform::memory::kMachineHive, hive).empty());
  CRegistry reg(false, &registry);
  EXPECT_FALSE(reg.SetRoot(platform::kHkeyCurrentConfig));
  EXPECT_EQ(reg.root(), platform::kHkeyCurrentUser);
  EXPECT_TRUE(reg.SetRoot(platform::kHkeyLocalMachine));
  EXPECT_FALSE(reg.Open(u"\\SOFTWARE\\Nowhere\\", false));
  EXPECT_NE(reg.lastError(), 0u);
  EXPECT_TRUE(reg.Open(u"\\SOFTWARE\\Suite\\", true));
  EXPECT_EQ(reg.keyPath(), u"SOFTWARE\\Suite");
  EXPECT_TRUE(reg.SetInt(u"Count", -2));
  EXPECT_EQ(reg.GetValueType(u"Count"), platform::kRegDword);
  EXPECT_EQ(reg.GetValueType(u"Missing"), 0u);
  ASSERT_TRUE(reg.Open(u"\\SOFTWARE\\Strings\\", false));
  std::vector<std::u16string> reads;
  for (const char16_t* name : {u"Name", u"Expand", u"Multi", u"Long", u"Missing"})
    reads.push_back(reg.GetString(name, u"d"));
  EXPECT_EQ(reads,
            (std::vector<std::u16string>{u"Brightwood", u"%SystemRoot%\\x", u"d", u"d", u"d"}));
  // An empty path selects the root itself.
  EXPECT_TRUE(reg.Open(u"\\", false));
  EXPECT_TRUE(reg.SetInt(u"AtRoot", 1));
  EXPECT_EQ(reg.GetInt(u"AtRoot", 0), 1);
}

// The content folder, from either side, as written ("\t", "\n") in ANSI and UTF-16 LE/BE files.
TEST(InstallConfig, UserContentFolderIsTakenAsWritten) {
  TempTree tree;  // a host in host\ and a module in suite\modules\cleaner\.
  ASSERT_TRUE(tree.MakeFolder(u"suite\\modules\\cleaner") && tree.MakeFolder(u"host"));
  const std::u16string module = tree.Path(u"suite\\modules\\cleaner\\m.dll");
  TestMachine program(tree.Path(u"host\\host.exe"), module);
  const std::string ansi = "[install]\r\nUserContentPath=C:\\temp\\new\r\n";
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char c : ansi) {
    le += {c, '\0'};
    be += {'\0', c};
  }
  for (const std::string& bytes : {ansi, le, be}) {
    ASSERT_TRUE(tree.MakeFile(u"suite\\Install.cfg", bytes));
    EXPECT_EQ(UserContentFolder(module, &program), u"C:\\temp\\new\\");
    ResetInstallConfigPath();
    EXPECT_EQ(UserContentFolder({}, &program), u"C:\\temp\\new\\");
    ResetInstallConfigPath();
  }
}

TEST(RegistrySettings, InstallationKeyOrTheCurrentUser) {
  TempTree tree;
  ASSERT_TRUE(tree.ok() && tree.MakeFolder(u"a\\b\\c"));
  TestMachine program(tree.Path(u"a\\b\\c\\host.exe"), tree.Path(u"a\\b\\c\\m.dll"));
  platform::memory::MemoryRegistry registry;
  EXPECT_TRUE(CRegistrySettings(&registry, &program).SetInt(u"X", 3));  // the current user's
  ASSERT_TRUE(tree.MakeFile(u"a\\b\\c\\install.cfg", "[install]\r\nRegKey=Suite 9\r\n"));
  CRegistrySettings settings(&registry, &program);
  EXPECT_EQ(settings.root(), platform::kHkeyLocalMachine);
  EXPECT_EQ(settings.keyPath(), u"SOFTWARE\\corvane\\Suite 9");
  EXPECT_EQ(settings.GetInt(u"X", 0), 0);  // a different key
}

// A module whose check finds "17" and whose resolve solves 5, its totals in a test registry.
class CountingModule : public CCheckModule {
 public:
  explicit CountingModule(platform::Registry* registry) {
    identifier = u"RegistryCleanerModule";
    settingsRegistry = registry;
    SetExpectedDuration(0, true);
  }
  void DoCheck() override { resultText = u"17"; }
  void DoResolve() override {
    solvedCount = 5;
    resultText = u"0";
  }
};

// Solved counts add up; unsolved is the last text's leading number, left alone before a check.
TEST(Totals, LeadingIntegerKeptAfterLocalRunsWithTheIdentifierUnchanged) {
  const std::pair<const char16_t*, int32_t> rows[] = {{u"  42 problems", 42},
                                                      {u"canceled", 0},
                                                      {u"\t\n 5", 5},
                                                      {u"99999999999", 2147483647},
                                                      {u"-99999999999", -2147483647 - 1}};
  for (const auto& [text, value] : rows) EXPECT_EQ(LeadingInteger(text), value);
  platform::memory::MemoryRegistry registry;
  CRegistry settings(false, &registry);
  const std::u16string solved = u"REGISTRYCLEANERMODULE_TotalSolvedProblems",
                       unsolved = u"REGISTRYCLEANERMODULE_TotalUnsolvedProblems";
  settings.SetInt(solved, 10);
  settings.SetInt(unsolved, 4);
  CountingModule module(&registry);
  const struct {
    bool resolve;
    int32_t solvedTotal, unsolvedTotal;
  } runs[] = {{true, 15, 4}, {false, 15, 17}, {true, 20, 0}};
  for (const auto& run : runs) {
    run.resolve ? module.ExecuteResolve() : module.ExecuteCheck(u"", 0);
    EXPECT_EQ(settings.GetInt(solved, -1), run.solvedTotal);
    EXPECT_EQ(settings.GetInt(unsolved, -1), run.unsolvedTotal);
  }
  char16_t identifier[64];
  module.GetIdentifier(identifier, 64);
  EXPECT_EQ(std::u16string(identifier), u"RegistryCleanerModule");
}

}  // namespace
