#include "framework/language.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
