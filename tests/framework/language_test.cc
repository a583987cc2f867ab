#include "framework/language.h"

#include <gtest/gtest.h>

#include <string>

#include "modules/RegistryCleanerModule/dll/module_resources.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/platform/temp_tree.h"
#include "tests/support/staged_suite.h"

namespace {

TEST(LocaleNames, TableAndFallback) {
  EXPECT_EQ(LocaleNameOf(0x0407), u"de_DE");
  EXPECT_EQ(LocaleNameOf(0x041B), u"sk_K");
  EXPECT_EQ(LocaleNameOf(0x1C0C), u"fr_FR");
  EXPECT_EQ(LocaleNameOf(0x500A), u"es_PR");
  EXPECT_EQ(LocaleNameOf(0x0455), u"[455]");
  EXPECT_EQ(LocaleNameOf(0x0000), u"[0]");
}

TEST(LanguageSearch, EmbeddedIds) {
  EXPECT_EQ(EmbeddedLanguageId(0x0804), 8002u);
  EXPECT_EQ(EmbeddedLanguageId(0x0C04), 8001u);  // 8003 is taken as 8001
  EXPECT_EQ(EmbeddedLanguageId(0x0404), 8001u);
  EXPECT_EQ(EmbeddedLanguageId(0x0407), 2007u);
  EXPECT_EQ(EmbeddedLanguageId(0x0400), 2000u);  // neutral: the embedded step is skipped
}

TEST(LanguageSearch, CandidateNames) {
  const std::vector<std::u16string> german =
      LanguageCandidates(u"C:\\P\\RegistryCleanerModule.dll", u"de_DE");
  const std::vector<std::u16string> expected = {u"C:\\P\\RegistryCleanerModule_de_DE.dll",
                                                u"C:\\P\\RegistryCleanerModule_de.dll",
                                                u"C:\\P\\language\\RegistryCleanerModule_de_DE.dll",
                                                u"C:\\P\\language\\RegistryCleanerModule_de.dll"};
  EXPECT_EQ(german, expected);
  // A setting without an underscore: the second name is the module itself.
  EXPECT_EQ(LanguageCandidates(u"C:\\P\\RegistryCleanerModule.dll", u"fr")[1],
            u"C:\\P\\RegistryCleanerModule.dll");
  // No folder after the first character: no "language" folder names.
  EXPECT_EQ(LanguageCandidates(u"Module.dll", u"de_DE").size(), 2u);
}

// A user and host the test chooses; the module file is the staged module.
class LanguageMachine : public platform::SystemWrapper {
 public:
  LanguageMachine(uint16_t langId, std::u16string host)
      : SystemWrapper(platform::System::Default()), langId_(langId), host_(std::move(host)) {}
  uint16_t GetUserDefaultLangID() override { return langId_; }
  std::u16string GetModuleFileName(const void*) override {
    return StagedPath(u"modules/RegistryCleanerModule/RegistryCleanerModule.dll");
  }
  std::u16string GetHostFileName() override { return host_; }

 private:
  uint16_t langId_;
  std::u16string host_;
};

std::u16string Title(platform::ResourceModule module) {
  std::u16string text;
  platform::LoadStringResource(module, 7000, &text);
  return text;
}

class LanguageLibraries : public testing::Test {
 protected:
  void SetUp() override {
    ReleaseLanguageModule();
    SetOwnResourceModule(OwnResourceModule());
  }
  void TearDown() override { ReleaseLanguageModule(); }
};

TEST_F(LanguageLibraries, GermanUserGetsGermanTexts) {
  TempTree host;
  LanguageMachine german(0x0407, host.Path(u"host.exe"));
  const platform::ResourceModule module = GetLanguageResourceModule(&german);
  EXPECT_NE(module, OwnResourceModule());
  EXPECT_EQ(Title(module), u"Registry bereinigen");
  // The search runs once: the same library without searching again.
  EXPECT_EQ(GetLanguageResourceModule(&german), module);
}

TEST_F(LanguageLibraries, InstallSettingOverridesTheUsersLanguage) {
  TempTree host;
  ASSERT_TRUE(host.MakeFile(u"install.cfg", "[install]\r\nLanguage=fr_FR\r\n"));
  LanguageMachine german(0x0407, host.Path(u"host.exe"));
  EXPECT_EQ(Title(GetLanguageResourceModule(&german)), u"Nettoyer le registre");
}

TEST_F(LanguageLibraries, UnknownLanguageKeepsTheModulesOwnTexts) {
  TempTree host;
  LanguageMachine japanese(0x0411, host.Path(u"host.exe"));
  EXPECT_EQ(GetLanguageResourceModule(&japanese), OwnResourceModule());
  EXPECT_EQ(Title(GetLanguageResourceModule(&japanese)), u"Clean Registry");
  // An unsuccessful search is not repeated.
  LanguageMachine german(0x0407, host.Path(u"host.exe"));
  EXPECT_EQ(GetLanguageResourceModule(&german), OwnResourceModule());
}

TEST(LanguageResources, ExtractWithoutSuchResource) {
  TempTree folder;
  EXPECT_EQ(ExtractResourceToFile(OwnResourceModule(), 2007, folder.Path(u"x.tmp"), u"DATA"), 13u);
  EXPECT_EQ(platform::FileSystem::Default()->GetFileAttributes(folder.Path(u"x.tmp")),
            platform::kInvalidFileAttributes);
}

TEST(ProfileFiles, ReadWhatWindowsReads) {
  TempTree folder;
  ASSERT_TRUE(
      folder.MakeFile(u"a.cfg",
                      "; comment\r\n[Install]\r\n  Language = \"fr_FR\" \r\nRegKey='Suite'\r\n"
                      "Empty=\r\n[Other]\r\nLanguage=de_DE\r\n"));
  const std::u16string file = folder.Path(u"a.cfg");
  EXPECT_EQ(ReadProfileString(u"install", u"language", u"x", file), u"fr_FR");
  EXPECT_EQ(ReadProfileString(u"INSTALL", u"RegKey", u"x", file), u"Suite");
  EXPECT_EQ(ReadProfileString(u"install", u"Empty", u"x", file), u"");
  EXPECT_EQ(ReadProfileString(u"install", u"Missing", u"dflt", file), u"dflt");
  EXPECT_EQ(ReadProfileString(u"Other", u"Language", u"x", file), u"de_DE");
  EXPECT_EQ(ReadProfileString(u"install", u"Language", u"none", folder.Path(u"no.cfg")), u"none");
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Install", u"Missing", 12, file), 12);
}

TEST(ProfileFiles, WritesChangeOnlyTheirLine) {
  TempTree folder;
  const std::u16string file = folder.Path(u"m.cfg");
  ASSERT_TRUE(
      platform::WritePrivateProfileString(u"Measurement", u"SlowExecuteTime", u"8000", file));
  ASSERT_TRUE(platform::WritePrivateProfileString(u"Measurement", u"FastExecuteTime", u"0", file));
  ASSERT_TRUE(
      platform::WritePrivateProfileString(u"Measurement", u"slowexecutetime", u"9000", file));
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Measurement", u"SlowExecuteTime", 0, file), 9000);
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Measurement", u"FastExecuteTime", 5, file), 0);
  ASSERT_TRUE(platform::WritePrivateProfileString(u"Other", u"A", u"1", file));
  ASSERT_TRUE(
      platform::WritePrivateProfileString(u"Measurement", u"FastExecuteTime", std::nullopt, file));
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Measurement", u"FastExecuteTime", 5, file), 5);
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Other", u"A", 0, file), 1);
  // A flush (nothing named) leaves the file alone and, as on Windows, answers false.
  EXPECT_FALSE(platform::WritePrivateProfileString(std::nullopt, std::nullopt, std::nullopt, file));
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Measurement", u"SlowExecuteTime", 0, file), 9000);
}

}  // namespace
