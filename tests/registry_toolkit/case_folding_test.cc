#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

namespace {

constexpr size_t npos = std::u16string_view::npos;

class CaseFoldingTest : public ::testing::Test {
 protected:
  void TearDown() override { FreeCaseFoldingTable(); }
};

TEST_F(CaseFoldingTest, TheTableFoldsTheSystemsLettersWithoutItOnlyAscii) {
  const std::tuple<char16_t, char16_t, bool, char16_t> cases[] = {
      {u'A', u'a', true, u'a'},
      {u'z', u'z', true, u'z'},
      {u'@', u'@', false, u'@'},
      {u'[', u'[', false, u'['},
      {u'\u00c4', u'\u00e4', true, u'\u00c4'},   // Latin A with diaeresis
      {u'\u00df', u'\u00df', true, u'\u00df'},   // sharp s has no single lower-case partner
      {u'\uff21', u'\uff41', true, u'\uff21'},   // fullwidth A
      {u'\u4e00', u'\u4e00', true, u'\u4e00'},   // an ideograph is a letter without case
      {u'\u00bd', u'\u00bd', false, u'\u00bd'},  // one half
      {char16_t{0xD800}, char16_t{0xD800}, false, char16_t{0xD800}},  // a lone surrogate
  };
  for (bool table : {false, true, true}) {  // a second build keeps the table
    if (table) BuildCaseFoldingTable();
    ASSERT_EQ(CaseFoldingTableBuilt(), table);
    for (const auto& [unit, folded, letter, asciiFolded] : cases) {
      SCOPED_TRACE(testing::Message() << std::hex << static_cast<int>(unit) << " " << table);
      EXPECT_EQ(FoldCase(unit), table ? folded : asciiFolded);
      EXPECT_EQ(IsFoldLetter(unit), table ? letter : letter && unit < 128);
    }
    EXPECT_EQ(EqualsIgnoreCase(u"C:\\Program Files\\\u00c4rger", u"c:\\PROGRAM FILES\\\u00e4RGER"),
              table);
  }
  // The searches and comparisons, with the table.
  EXPECT_FALSE(EqualsIgnoreCase(u"abc", u"abcd"));
  EXPECT_TRUE(StartsWithIgnoreCase(u"\\SystemRoot\\system32\\x.dll", u"\\systemroot\\"));
  EXPECT_FALSE(StartsWithIgnoreCase(u"\\System", u"\\SystemRoot\\"));
  const std::u16string_view text = u"RunDll32.exe shell32.DLL,Control_RunDLL x.dll,y";
  EXPECT_EQ(FindIgnoreCase(text, u".dll,", 22), 41u);
  EXPECT_EQ(FindIgnoreCase(text, u"missing"), npos);
  EXPECT_EQ(FindIgnoreCase(text, u""), npos);
  EXPECT_EQ(FindIgnoreCase(u"ab", u"b", 5), npos);
  EXPECT_EQ(FindLastIgnoreCase(text, u"RUNDLL"), 33u);
  EXPECT_EQ(FindLastIgnoreCase(text, u"missing"), npos);
  EXPECT_EQ(FindLastIgnoreCase(u"ab", u"abc"), npos);
  FreeCaseFoldingTable();
  EXPECT_EQ(FoldCase(u'\u00c4'), u'\u00c4');
  EXPECT_TRUE(EqualsIgnoreCase(u"C:\\Windows", u"c:\\WINDOWS"));
}

}  // namespace
