#include "platform/system_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/unicode.h"

namespace {

TEST(SystemText, ClassesAndLowerCasesCharacters) {
  EXPECT_TRUE(platform::IsCharAlpha(u'A'));
  EXPECT_TRUE(platform::IsCharAlpha(u'\u0416'));
  EXPECT_FALSE(platform::IsCharAlpha(u'7'));
  EXPECT_TRUE(platform::IsCharLower(u'\u03c9'));
  EXPECT_FALSE(platform::IsCharLower(u'A'));
  EXPECT_FALSE(platform::IsCharLower(u'5'));
  std::u16string text = u"HKEY_LOCAL_MACHINE\\\u00c4\u03a9\u0416 1";
  platform::CharLowerBuffer(text.data(), text.size());
  EXPECT_EQ(text, u"hkey_local_machine\\\u00e4\u03c9\u0436 1");
  // Units found eight at a time, and in the tail behind the last eight.
  const std::u16string path = u"C:\\Program Files\\Photo Tools p001\\x\u5c5c long name.Exe";
  EXPECT_EQ(platform::FindUnit(path, u'\\'), 2u);
  EXPECT_EQ(platform::FindUnit(path, u'\\', 3), 16u);
  EXPECT_EQ(platform::FindUnit(path, u'\\', 17), 33u);
  EXPECT_EQ(platform::FindUnit(path, u'\\', 34), std::u16string_view::npos);
  EXPECT_EQ(platform::FindUnit(path, u'E'), path.size() - 3);
  EXPECT_EQ(platform::FindUnit(path, u'\u5c5c'), 35u);  // its bytes hold a backslash's
  EXPECT_EQ(platform::FindUnit(path, u'x', path.size() + 1), std::u16string_view::npos);
}

// Bytes that are not UTF-8 become U+FFFD one byte at a time; a lone
// surrogate is written as U+FFFD.
TEST(SystemText, MalformedUtf8AndLoneSurrogates) {
  const struct {
    std::string bytes;
    std::u16string text;
  } rows[] = {
      {"a \xF0\x9D\x84\x9E", u"a \U0001D11E"},
      {"\xC3", u"\uFFFD"},                                // cut short
      {"\xC3x", u"\uFFFDx"},                              // no continuation
      {"\xC1\xBF", u"\uFFFD\uFFFD"},                      // overlong
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF8\x80", u"\uFFFD\uFFFD"},                      // no such lead byte
  };
  for (const auto& row : rows) EXPECT_EQ(platform::Utf8ToU16(row.bytes), row.text) << row.bytes;
  EXPECT_EQ(platform::U16ToUtf8(u"a \U0001D11E\xD800x\xDC00"),
            "a \xF0\x9D\x84\x9E\xEF\xBF\xBDx\xEF\xBF\xBD");
}

}  // namespace
