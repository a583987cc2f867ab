#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

constexpr size_t npos = std::u16string_view::npos;

class CaseFoldingTest : public ::testing::Test {
 protected:
  void TearDown() override { FreeCaseFoldingTable(); }
};

TEST_F(CaseFoldingTest, WithoutTheTableOnlyAsciiFolds) {
  FreeCaseFoldingTable();
  EXPECT_FALSE(CaseFoldingTableBuilt());
  EXPECT_EQ(FoldCase(u'A'), u'a');
  EXPECT_EQ(FoldCase(u'Z'), u'z');
  EXPECT_EQ(FoldCase(u'a'), u'a');
  EXPECT_EQ(FoldCase(u'@'), u'@');
  EXPECT_EQ(FoldCase(u'['), u'[');
  EXPECT_EQ(FoldCase(u'\u00c4'), u'\u00c4');
  EXPECT_TRUE(IsFoldLetter(u'q'));
  EXPECT_TRUE(IsFoldLetter(u'Q'));
  EXPECT_FALSE(IsFoldLetter(u'\u00e4'));
  EXPECT_FALSE(IsFoldLetter(u'1'));
  EXPECT_TRUE(EqualsIgnoreCase(u"C:\\Windows", u"c:\\WINDOWS"));
  EXPECT_FALSE(EqualsIgnoreCase(u"\u00c4", u"\u00e4"));
}

TEST_F(CaseFoldingTest, TheTableFoldsTheSystemsLetters) {
  BuildCaseFoldingTable();
  ASSERT_TRUE(CaseFoldingTableBuilt());
  struct Case {
    char16_t unit;
    char16_t folded;
    bool letter;
  } cases[] = {
      {u'A', u'a', true},
      {u'z', u'z', true},
      {u'\u00c4', u'\u00e4', true},  // Latin A with diaeresis
      {u'\u00df', u'\u00df', true},  // sharp s has no single lower-case partner
      {u'\u03a9', u'\u03c9', true},  // Greek omega
      {u'\u0414', u'\u0434', true},  // Cyrillic de
      {u'\uff21', u'\uff41', true},  // fullwidth A
      {u'\u4e00', u'\u4e00', true},  // an ideograph is a letter without case
      {u'1', u'1', false},
      {u'\\', u'\\', false},
      {u'\u00bd', u'\u00bd', false},                // one half
      {char16_t{0xD800}, char16_t{0xD800}, false},  // a lone surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FoldCase(c.unit), c.folded) << std::hex << static_cast<int>(c.unit);
    EXPECT_EQ(IsFoldLetter(c.unit), c.letter) << std::hex << static_cast<int>(c.unit);
  }
  BuildCaseFoldingTable();  // a second build keeps the table
  EXPECT_EQ(FoldCase(u'\u00c4'), u'\u00e4');
  FreeCaseFoldingTable();
  EXPECT_EQ(FoldCase(u'\u00c4'), u'\u00c4');
  EXPECT_EQ(FoldCase(u'A'), u'a');
}

TEST_F(CaseFoldingTest, ComparisonsIgnoreCase) {
  BuildCaseFoldingTable();
  EXPECT_TRUE(EqualsIgnoreCase(u"C:\\Program Files\\\u00c4rger", u"c:\\PROGRAM FILES\\\u00e4RGER"));
  EXPECT_FALSE(EqualsIgnoreCase(u"abc", u"abcd"));
  EXPECT_TRUE(EqualsIgnoreCase(u"", u""));

  EXPECT_TRUE(StartsWithIgnoreCase(u"\\SystemRoot\\system32\\x.dll", u"\\systemroot\\"));
  EXPECT_FALSE(StartsWithIgnoreCase(u"\\System", u"\\SystemRoot\\"));
  EXPECT_TRUE(StartsWithIgnoreCase(u"anything", u""));

  const std::u16string_view text = u"RunDll32.exe shell32.DLL,Control_RunDLL x.dll,y";
  EXPECT_EQ(FindIgnoreCase(text, u"rundll32"), 0u);
  EXPECT_EQ(FindIgnoreCase(text, u".dll,"), 20u);
  EXPECT_EQ(FindIgnoreCase(text, u".dll,", 22), 41u);
  EXPECT_EQ(FindIgnoreCase(text, u"missing"), npos);
  EXPECT_EQ(FindIgnoreCase(text, u""), npos);
  EXPECT_EQ(FindIgnoreCase(u"ab", u"abc"), npos);
  EXPECT_EQ(FindIgnoreCase(u"ab", u"b", 5), npos);
  EXPECT_EQ(FindLastIgnoreCase(text, u".DLL,"), 41u);
  EXPECT_EQ(FindLastIgnoreCase(text, u"RUNDLL"), 33u);
  EXPECT_EQ(FindLastIgnoreCase(text, u"x"), 40u);
  EXPECT_EQ(FindLastIgnoreCase(u"ab", u"abc"), npos);
  EXPECT_EQ(FindLastIgnoreCase(u"ab", u""), npos);
}

}  // namespace
