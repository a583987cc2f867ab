#include "framework/language.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/profile.h"
#include "tests/platform/temp_tree.h"

namespace {

TEST(LanguageSearch, LocaleNamesEmbeddedIdsAndCandidateNames) {
  EXPECT_EQ(LocaleNameOf(0x0407), u"de_DE");
  EXPECT_EQ(LocaleNameOf(0x041B), u"sk_K");
  EXPECT_EQ(LocaleNameOf(0x0455), u"[455]");
  EXPECT_EQ(EmbeddedLanguageId(0x0804), 8002u);
  EXPECT_EQ(EmbeddedLanguageId(0x0C04), 8001u);  // 8003 is taken as 8001
  EXPECT_EQ(EmbeddedLanguageId(0x0407), 2007u);
  EXPECT_EQ(LanguageCandidates(u"C:\\P\\RegistryCleanerModule.dll", u"de_DE"),
            (std::vector<std::u16string>{u"C:\\P\\RegistryCleanerModule_de_DE.dll",
                                         u"C:\\P\\RegistryCleanerModule_de.dll",
                                         u"C:\\P\\language\\RegistryCleanerModule_de_DE.dll",
                                         u"C:\\P\\language\\RegistryCleanerModule_de.dll"}));
  // A setting without an underscore: the second name is the module itself; no
  // folder after the first character: no "language" folder names.
  EXPECT_EQ(LanguageCandidates(u"C:\\P\\RegistryCleanerModule.dll", u"fr")[1],
            u"C:\\P\\RegistryCleanerModule.dll");
  EXPECT_EQ(LanguageCandidates(u"Module.dll", u"de_DE").size(), 2u);
}

TEST(ProfileFiles, ReadAndWrittenAsWindowsDoes) {
  TempTree folder;
  ASSERT_TRUE(
      folder.MakeFile(u"a.cfg",
                      "; comment\r\n[Install]\r\n  Language = \"fr_FR\" \r\nRegKey='Suite'\r\n"
                      "Empty=\r\n[Other]\r\nLanguage=de_DE\r\n"));
  const std::u16string file = folder.Path(u"a.cfg"), made = folder.Path(u"m.cfg");
  EXPECT_EQ(ReadProfileString(u"install", u"language", u"x", file), u"fr_FR");
  EXPECT_EQ(ReadProfileString(u"INSTALL", u"RegKey", u"x", file), u"Suite");
  EXPECT_EQ(ReadProfileString(u"install", u"Empty", u"x", file), u"");
  EXPECT_EQ(ReadProfileString(u"install", u"Missing", u"dflt", file), u"dflt");
  EXPECT_EQ(ReadProfileString(u"install", u"Language", u"none", made), u"none");
  // A write changes only its line; no value removes the key.
  ASSERT_TRUE(platform::WritePrivateProfileString(u"Measurement", u"Slow", u"8000", made));
  ASSERT_TRUE(platform::WritePrivateProfileString(u"install", u"regkey", u"9000", file));
  ASSERT_TRUE(platform::WritePrivateProfileString(u"Install", u"Language", std::nullopt, file));
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Measurement", u"Slow", 0, made), 8000);
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Install", u"RegKey", 0, file), 9000);
  EXPECT_EQ(ReadProfileString(u"install", u"Language", u"none", file), u"none");
  EXPECT_EQ(ReadProfileString(u"Other", u"Language", u"x", file), u"de_DE");
  // A flush (nothing named) leaves the file alone and, as on Windows, answers false.
  EXPECT_FALSE(platform::WritePrivateProfileString(std::nullopt, std::nullopt, std::nullopt, file));
  EXPECT_EQ(platform::GetPrivateProfileInt(u"Install", u"RegKey", 0, file), 9000);
}

}  // namespace
