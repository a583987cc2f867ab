#include "modules/RegistryCleanerModule/dll/reg_list_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/reg_list_text.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "tests/engine/log_capture.h"

namespace {

using engine_test::TempFolder;
using engine_test::Texts;
using engine_test::Utf16Le;
using engine_test::WriteBytes;

class RegListFileTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildCaseFoldingTable(); }
  void TearDown() override { FreeCaseFoldingTable(); }

  // Writes text as UTF-16 LE with a byte-order mark and reads it.
  int32_t Read(std::u16string_view text, bool byteOrderMark = true) {
    WriteBytes(file_, (byteOrderMark ? std::string("\xFF\xFE") : std::string()) + Utf16Le(text));
    return ReadRegListFile(&list_, file_);
  }

  TempFolder folder_;
  std::u16string file_ = folder_.File(u"BlackList.cfg");
  BufferedStringListW list_{"BlackList", 64};
};

TEST_F(RegListFileTest, ReadsEntriesAfterTheSectionLine) {
  const std::u16string text =
      u"; black list of the registry cleaner\r\n"
      u"HKEY_LOCAL_MACHINE\\Before\\Section\r\n"
      u"  [reglist] entries follow\r\n"
      u"\r\n"
      u"// a comment\r\n"
      u"   ; another\r\n"
      u"HKEY_CURRENT_USER\\Software\\Abc\r\n"
      u"\t HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.abc , Name , -case\r\n"
      u"\"HKEY_CURRENT_USER\\Software\\A,B\", \"Value, with comma\", -case, more, text\n"
      u"HKEY_CLASSES_ROOT\\.xyz, *, \r\n"
      u"HKEY_USERS\\.DEFAULT\\X,,\r\n"
      u"[OtherSection]\r\n"
      u", value without key\r\n"
      u"HKEY_LOCAL_MACHINE\\Last";
  EXPECT_EQ(Read(text), 7);
  std::u16string entries;  // each entry's text and its value's
  for (const std::u16string& entry : Texts(list_)) entries += entry + u"\n";
  EXPECT_EQ(entries,
            u"HKEY_CURRENT_USER\\Software\\Abc\nNOOP\n"
            u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.abc Val:Name\n-case\n"
            u"HKEY_CURRENT_USER\\Software\\A,B Val:Value, with comma\n-case, more, text\n"
            u"HKEY_CLASSES_ROOT\\.xyz\nNOOP\n"
            u"HKEY_USERS\\.DEFAULT\\X\nNOOP\n"
            u"[OtherSection]\nNOOP\n"
            u"HKEY_LOCAL_MACHINE\\Last\nNOOP\n");
  for (int32_t i = 0; i < list_.Count(); ++i) EXPECT_EQ(list_.TagAt(i), 0u);
}

// A section line right after the mark counts (its entries were once lost); so
// does unmarked UTF-16.
TEST_F(RegListFileTest, ASectionLineRightAfterTheByteOrderMarkCounts) {
  EXPECT_EQ(Read(u"[RegList]\r\nHKEY_CURRENT_USER\\Software\\Abc\r\n"), 1);
  EXPECT_EQ(Texts(list_),
            (std::vector<std::u16string>{u"HKEY_CURRENT_USER\\Software\\Abc", u"NOOP"}));
  EXPECT_EQ(Read(u"; no mark\r\n[RegList]\r\nHKEY_CURRENT_USER\\Software\\Abc\r\n", false), 1);
}

TEST_F(RegListFileTest, AnOverlongLineIsCutAndItsRestReadAsTheNextLine) {
  const std::u16string first = u"HKEY_LOCAL_MACHINE\\" + std::u16string(16384 - 19, u'k');
  EXPECT_EQ(Read(u"\r\n[RegList]\r\n" + first + u"HKEY_CURRENT_USER\\Rest\r\n"), 2);
  EXPECT_EQ(Texts(list_),
            (std::vector<std::u16string>{first, u"NOOP", u"HKEY_CURRENT_USER\\Rest", u"NOOP"}));
}

TEST_F(RegListFileTest, RejectsFilesThatAreMissingSmallOrNotUtf16) {
  engine_test::CapturedLog log;
  EXPECT_EQ(ReadRegListFile(&list_, folder_.File(u"absent.cfg")), 0);
  WriteBytes(file_, "\xFF\xFE" + Utf16Le(u"[RegList]\nH\\A"));  // 28 bytes
  EXPECT_EQ(ReadRegListFile(&list_, file_), 0);
  WriteBytes(file_, "; written as ANSI text\r\n[RegList]\r\nHKEY_CURRENT_USER\\Software\\Abc\r\n");
  EXPECT_EQ(ReadRegListFile(&list_, file_), 0);
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"04 UNICODE File Type missmatch: " +
                                                   std::string(file_.begin(), file_.end())}));
}

// What "regclean keep" writes reads back as the same entry, or is refused.
TEST(RegListText, AnEntryLineReadsBackOrIsRefused) {
  const struct {
    std::u16string_view key, value;
    bool carried;
  } kCases[] = {
      {u"HKEY_CURRENT_USER\\Software\\Abc", u"", true},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\A, B", u"C:\\Program Files\\x, y.dll", true},
      {u"HKEY_LOCAL_MACHINE\\;x", u"/value", true},
      {u"HKEY_LOCAL_MACHINE\\A\"B", u"", false},
      {u"HKEY_LOCAL_MACHINE\\A", u"v\nw", false},
      {u"HKEY_LOCAL_MACHINE\\A ", u"", false},
      {u"HKEY_LOCAL_MACHINE\\A", u" v", false},
      {u"HKEY_LOCAL_MACHINE\\A", u"*", false},
      {u";HKEY_LOCAL_MACHINE\\A", u"", false},
  };
  for (const auto& c : kCases) {
    const std::u16string line = FormatRegListEntry(c.key, c.value);
    ASSERT_EQ(!line.empty(), c.carried) << std::string(c.key.begin(), c.key.end());
    if (line.empty()) continue;
    const std::vector<RegListLine> lines =
        ParseRegListText(u"\xFEFF[RegList]\r\n" + line + u"\r\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].kind, RegListLine::Kind::kEntry);
    EXPECT_EQ(lines[1].key, c.key);
    EXPECT_EQ(lines[1].value, c.value);
    EXPECT_EQ(lines[1].begin, 12u);
    EXPECT_EQ(lines[1].next, 12 + line.size() + 2);
  }
}

}  // namespace
