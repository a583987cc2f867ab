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
}

// Bytes that are not UTF-8 become U+FFFD one byte at a time; a lone
// surrogate is written as U+FFFD.
TEST(SystemText, MalformedUtf8AndLoneSurrogates) {
  const struct {
    std::string bytes;
    std::u16string text;
  } rows[] = {
      {"\xF0\x9D\x84\x9E", u"\U0001D11E"},
      {"\xC3", u"\uFFFD"},                                // cut short
      {"\xC3x", u"\uFFFDx"},                              // no continuation
      {"\xC1\xBF", u"\uFFFD\uFFFD"},                      // overlong
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF8\x80", u"\uFFFD\uFFFD"},                      // no such lead byte
  };
  for (const auto& row : rows) EXPECT_EQ(platform::Utf8ToU16(row.bytes), row.text) << row.bytes;
  EXPECT_EQ(platform::U16ToUtf8(u"\U0001D11E\xD800x\xDC00"),
            "\xF0\x9D\x84\x9E\xEF\xBF\xBDx\xEF\xBF\xBD");
}

std::string Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TEST(SystemText, RecognisesUtf16Text) {
  const std::string utf16 = Le(u"[RegList]\r\nHKEY_CURRENT_USER\\Software\\Abc\r\n");
  EXPECT_TRUE(platform::IsTextUnicode(utf16.data(), utf16.size()));
  const std::string marked = "\xFF\xFE" + Le(u"\u4e00\u4e01\u4e02\u4e03");
  EXPECT_TRUE(platform::IsTextUnicode(marked.data(), marked.size()));
  const std::string ansi = "[RegList]\r\nHKEY_CURRENT_USER\\Software\\Abc\r\n";
  EXPECT_FALSE(platform::IsTextUnicode(ansi.data(), ansi.size()));
  EXPECT_FALSE(platform::IsTextUnicode(utf16.data(), utf16.size() - 1));  // odd length
  EXPECT_FALSE(platform::IsTextUnicode("", 0));
}

}  // namespace
