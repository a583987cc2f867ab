#include "platform/case_fold.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CaseFoldTest, CapitalsFoldToTheirSmallLetters) {
  struct Pair {
    char16_t capital;
    char16_t small;
  };
  // The ends of each run of the table, and the odd ones out.
  const Pair pairs[] = {
      {u'A', u'a'},     {u'Z', u'z'},     {0x00C0, 0x00E0}, {0x00DE, 0x00FE}, {0x0100, 0x0101},
      {0x0139, 0x013A}, {0x0178, 0x00FF}, {0x017D, 0x017E}, {0x0386, 0x03AC}, {0x038F, 0x03CE},
      {0x03A3, 0x03C3}, {0x0400, 0x0450}, {0x042F, 0x044F}, {0x048A, 0x048B}, {0x04C0, 0x04CF},
  };
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(static_cast<int>(pair.capital));
    EXPECT_EQ(FoldCase(pair.capital), pair.small);
    EXPECT_EQ(FoldCase(pair.small), pair.small);
  }
}

TEST(CaseFoldTest, SmallFormsOnlyNoFullFolding) {
  // Folding is the system's lower-casing (Wine compares registry names that
  // way): letters without a capital of their own stay as they are, even
  // where full case folding would join them to another letter.
  EXPECT_EQ(FoldCase(u'\u00B5'), u'\u00B5');  // micro sign
  EXPECT_EQ(FoldCase(u'\u039C'), u'\u03BC');  // capital mu
  EXPECT_EQ(FoldCase(u'\u03C2'), u'\u03C2');  // final sigma
  EXPECT_EQ(FoldCase(u'\u03A3'), u'\u03C3');  // capital sigma
  EXPECT_EQ(FoldCase(u'\u017F'), u'\u017F');  // long s
  // No small form that leads back (the dotted capital I, as in Wine), or not
  // a letter.
  for (char16_t c : {u'\u00D7', u'\u00F7', u'\u00DF', u'\u0130', u'\u0131', u'\u0138', u'\u0149',
                     u'\u0482', u'1', u'[', u'\u4E2D', u'\uFFFD'})
    EXPECT_EQ(FoldCase(c), c) << static_cast<int>(c);
}

TEST(CaseFoldTest, ComparesWholeTexts) {
  EXPECT_TRUE(EqualsIgnoreCase(u"\u00C4RGER \u041F\u0420\u0418", u"\u00E4rger \u043F\u0440\u0438"));
  EXPECT_FALSE(EqualsIgnoreCase(u"abc", u"abcd"));
  EXPECT_EQ(CompareIgnoreCase(u"ABC", u"abd"), -1);
  EXPECT_EQ(CompareIgnoreCase(u"abd", u"ABC"), 1);
  EXPECT_EQ(CompareIgnoreCase(u"ab", u"ABC"), -1);
  EXPECT_EQ(FoldCase(u"MiXeD \u0178"), u"mixed \u00FF");
}

}  // namespace
}  // namespace platform
