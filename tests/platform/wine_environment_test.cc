// The environment built from a prefix's registry, and its expansion.
#include "platform/wineprefix/wine_environment.h"

#include <gtest/gtest.h>

#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"

namespace platform {
namespace {

constexpr char kMachine[] = R"hive(WINE REGISTRY Version 2

[Software\\Microsoft\\Windows\\CurrentVersion]
"CommonFilesDir"="C:\\Program Files\\Common Files"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"

[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProgramData"=str(2):"%SystemDrive%\\ProgramData"
"Public"=str(2):"C:\\users\\Public"

[System\\CurrentControlSet\\Control\\Session Manager\\Environment]
"ComSpec"=str(2):"%SystemRoot%\\system32\\cmd.exe"
"PATH"=str(2):"%SystemRoot%\\system32;%SystemRoot%"
"TEMP"=str(2):"%SystemRoot%\\temp"
"windir"=str(2):"%SystemRoot%"
"Later"=str(2):"%Unset%;%windir%;%TEMP%"
"NotAString"=dword:00000001
)hive";

constexpr char kUser[] = R"hive(WINE REGISTRY Version 2

[Environment]
"PATH"="C:\\tools"
"TEMP"="C:\\users\\me\\Temp"

[Volatile Environment]
"APPDATA"=str(2):"%TEMP%\\..\\AppData"
)hive";

std::string Get(const EnvironmentBlock& env, std::u16string_view name) {
  const std::u16string* value = env.Find(name);
  return value == nullptr ? "<unset>" : U16ToUtf8(*value);
}

class WineEnvironmentTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reg_.LoadHiveText(memory::kMachineHive, kMachine).empty());
    ASSERT_TRUE(reg_.LoadHiveText(memory::kCurrentUserHive, kUser).empty());
  }
  memory::MemoryRegistry reg_;
};

TEST_F(WineEnvironmentTest, KeysAreReadInOrderAndExpandedProgramFilesByWidth) {
  const EnvironmentBlock env = BuildWineEnvironment(&reg_, true);
  EXPECT_EQ(Get(env, u"SystemDrive"), "C:");
  EXPECT_EQ(Get(env, u"systemroot"), "C:\\windows");
  EXPECT_EQ(Get(env, u"COMSPEC"), "C:\\windows\\system32\\cmd.exe");
  // HKCU's PATH joins the machine's; its TEMP replaces it.
  EXPECT_EQ(Get(env, u"Path"), "C:\\windows\\system32;C:\\windows;C:\\tools");
  EXPECT_EQ(Get(env, u"TEMP"), "C:\\users\\me\\Temp");
  // Expanded when read, with what was set by then; unknown references stay.
  EXPECT_EQ(Get(env, u"Later"), "%Unset%;C:\\windows;C:\\windows\\temp");
  EXPECT_EQ(Get(env, u"APPDATA"), "C:\\users\\me\\Temp\\..\\AppData");
  EXPECT_EQ(Get(env, u"NotAString"), "<unset>");
  EXPECT_EQ(Get(env, u"ProgramData"), "C:\\ProgramData");
  EXPECT_EQ(Get(env, u"ALLUSERSPROFILE"), "C:\\ProgramData");
  EXPECT_EQ(Get(env, u"PUBLIC"), "C:\\users\\Public");
  // Program Files follow the machine's width.
  EXPECT_EQ(Get(env, u"ProgramFiles"), "C:\\Program Files (x86)");
  EXPECT_EQ(Get(env, u"ProgramFiles(x86)"), "C:\\Program Files (x86)");
  EXPECT_EQ(Get(env, u"ProgramW6432"), "C:\\Program Files");
  EXPECT_EQ(Get(env, u"CommonProgramFiles"), "C:\\Program Files (x86)\\Common Files");
  EXPECT_EQ(Get(env, u"CommonProgramW6432"), "C:\\Program Files\\Common Files");

  const EnvironmentBlock win32 = BuildWineEnvironment(&reg_, false);
  EXPECT_EQ(Get(win32, u"ProgramFiles"), "C:\\Program Files");
  EXPECT_EQ(Get(win32, u"ProgramFiles(x86)"), "<unset>");
  EXPECT_EQ(Get(win32, u"ProgramW6432"), "<unset>");
}

TEST(EnvironmentBlock, ExpansionLeavesUnknownReferencesAsTheyStand) {
  EnvironmentBlock env;
  env.Set(u"A", u"1");
  env.Set(u"b", u"2");
  env.Set(u"B", u"3");  // the same variable: names ignore case
  EXPECT_EQ(env.variables().size(), 2u);
  const struct {
    std::u16string_view text;
    std::string expanded;
  } cases[] = {
      {u"%A%%B%", "13"},       {u"x%A%y", "x1y"}, {u"%nope%%A%", "%nope%1"},
      {u"%nope%A%", "%nope1"}, {u"%%A%", "%1"},   {u"%A", "%A"},
      {u"100%", "100%"},       {u"", ""},         {u"%a%%", "1%"},
  };
  for (const auto& c : cases) EXPECT_EQ(U16ToUtf8(env.Expand(c.text)), c.expanded) << c.expanded;
}

}  // namespace
}  // namespace platform
