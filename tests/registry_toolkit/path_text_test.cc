#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"

#include <gtest/gtest.h>

#include <string>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "platform/unicode.h"

namespace {

std::string Narrow(std::u16string_view text) { return platform::U16ToUtf8(text); }

struct TrimCase {
  std::u16string text;
  std::u16string trimmed;
};

TEST(PathTextTest, TrimRemovesBlanksControlsAndQuotesAtBothEndsOnly) {
  const TrimCase cases[] = {
      {u"  \"C:\\Program Files\\App\\app.exe\"  ", u"C:\\Program Files\\App\\app.exe"},
      {u"\a\t\r\nC:\\a b\\c\n\r\t\a", u"C:\\a b\\c"},
      {u"\"\"\"x\"\"", u"x"},
      {u"C:\\dir\\file.dll\\0", u"C:\\dir\\file.dll"},  // a written terminator
      {u"\"C:\\dir\\0\" ", u"C:\\dir"},                 // quotes go first
      {u"C:\\dir\\0\\0", u"C:\\dir\\0"},                // only one terminator
      {u"\\0", u""},
      {u"0", u"0"},
      {u"\\", u"\\"},
      {u"  ", u""},
      {u"", u""},
      {u"a \" b", u"a \" b"},  // inner quotes and blanks stay
  };
  for (const TrimCase& c : cases) {
    std::u16string text = c.text;
    TrimPathText(&text);
    EXPECT_EQ(Narrow(text), Narrow(c.trimmed)) << Narrow(c.text);
  }
}

TEST(PathTextTest, TrimWithAnExtraCharacterStripsAtSignsOfResourceReferences) {
  std::u16string text = u"@%SystemRoot%\\system32\\shell32.dll ";
  TrimPathTextAnd(&text, u'@');
  EXPECT_EQ(Narrow(text), "%SystemRoot%\\system32\\shell32.dll");
  text = u" \"@@x@\" ";
  TrimPathTextAnd(&text, u'@');
  EXPECT_EQ(Narrow(text), "x");
  text = u"a@b";
  TrimPathTextAnd(&text, u'@');
  EXPECT_EQ(Narrow(text), "a@b");
}

TEST(PathTextTest, ReplaceOnceTakesTheFirstOrLastOccurrenceIgnoringCase) {
  std::u16string text = u"C:\\Windows\\system32\\x\\SYSTEM32\\y";
  EXPECT_TRUE(ReplaceOnce(&text, u"\\System32\\", u"\\Sysnative\\", false, 0));
  EXPECT_EQ(Narrow(text), "C:\\Windows\\Sysnative\\x\\SYSTEM32\\y");
  text = u"C:\\Windows\\system32\\x\\SYSTEM32\\y";
  EXPECT_TRUE(ReplaceOnce(&text, u"\\System32\\", u"\\", true, 0));
  EXPECT_EQ(Narrow(text), "C:\\Windows\\system32\\x\\y");

  // Nothing to find, nothing to search in, nothing to search for.
  text = u"C:\\Program Files\\";
  EXPECT_FALSE(ReplaceOnce(&text, u" (x86)\\", u"\\", false, 0));
  EXPECT_EQ(Narrow(text), "C:\\Program Files\\");
  EXPECT_FALSE(ReplaceOnce(&text, u"", u"x", false, 0));
  std::u16string empty;
  EXPECT_FALSE(ReplaceOnce(&empty, u"a", u"b", false, 0));
  EXPECT_TRUE(empty.empty());

  // A longer result keeps what its buffer holds.
  text = u"abc";
  EXPECT_TRUE(ReplaceOnce(&text, u"B", u"123456", false, 6));
  EXPECT_EQ(Narrow(text), "a1234");
}

TEST(PathTextTest, ReplaceOnceFoldsLettersBeyondAsciiOnceTheTableIsBuilt) {
  BuildCaseFoldingTable();
  std::u16string text = u"C:\\\u00DCBER\\x";
  EXPECT_TRUE(ReplaceOnce(&text, u"\\\u00FCber\\", u"\\y\\", false, 0));
  EXPECT_EQ(Narrow(text), "C:\\y\\x");
  FreeCaseFoldingTable();
  text = u"C:\\\u00DCBER\\x";
  EXPECT_FALSE(ReplaceOnce(&text, u"\\\u00FCber\\", u"\\y\\", false, 0));
}

struct KindCase {
  std::u16string text;
  int kind;
};

TEST(PathTextTest, ClassifyPathTellsTheFormsApart) {
  const KindCase cases[] = {
      {u".\\app.exe", kPathKindCurrentFolder},
      {u"..\\app.exe", kPathKindParentFolder},
      {u".\\", kPathKindNone},
      {u".\\ x", kPathKindNone},  // a blank is no path character
      {u"\\\\server\\share", kPathKindUnc},
      {u"\\\\?\\C:\\x", kPathKindLongPrefix},
      {u"\\\\?\\", kPathKindNone},
      {u"\\\\1server", kPathKindNone},
      {u"C:\\x", kPathKindDrive},
      {u"\"C:\\Program Files\\x\" -a", kPathKindDrive},  // one leading quote is skipped
      {u"\"\"C:\\x", kPathKindNone},                     // only one
      {u"C:x.txt", kPathKindDriveRelative},
      {u"C:\\", kPathKindDriveRelative},    // a root with nothing after it
      {u"C:\\ x", kPathKindDriveRelative},  // nothing usable after the backslash
      {u"C:\\\t", kPathKindDriveRelative},
      {u"C:", kPathKindNone},
      {u"C: x", kPathKindNone},
      {u"C?\\x", kPathKindDriveQuestion},
      {u"C?x", kPathKindNone},
      {u"1:\\x", kPathKindNone},
      {u"notepad.exe", kPathKindNone},
      {u"\\SystemRoot\\x", kPathKindNone},
      {u"C:\\\u0120", kPathKindDriveRelative},  // U+0120's low byte is a blank's
      {u"C:\\\u0121", kPathKindDrive},
      {u"", kPathKindNone},
  };
  for (const KindCase& c : cases) EXPECT_EQ(ClassifyPath(c.text), c.kind) << Narrow(c.text);
}

TEST(PathTextTest, DriveLettersBeyondAsciiNeedTheTable) {
  BuildCaseFoldingTable();
  EXPECT_EQ(ClassifyPath(u"\u00C4:\\x"), kPathKindDrive);
  FreeCaseFoldingTable();
  EXPECT_EQ(ClassifyPath(u"\u00C4:\\x"), kPathKindNone);
}

TEST(PathTextTest, PathLikeMeansTheFileSystemTakesItAsAPath) {
  for (const char16_t* text : {u".\\a", u"..\\a", u"\\\\host\\a", u"\\\\?\\a", u"C:\\a", u"C:a"})
    EXPECT_TRUE(IsPathLike(text)) << Narrow(text);
  for (const char16_t* text : {u"C?\\a", u"notepad.exe", u"System32\\a", u"\\??\\C:\\a", u""})
    EXPECT_FALSE(IsPathLike(text)) << Narrow(text);
}

TEST(PathTextTest, FitToCapacityKeepsRoomForTheTerminator) {
  std::u16string text = u"abcdef";
  FitToCapacity(&text, 0);
  EXPECT_EQ(Narrow(text), "abcdef");
  FitToCapacity(&text, 7);
  EXPECT_EQ(Narrow(text), "abcdef");
  FitToCapacity(&text, 6);
  EXPECT_EQ(Narrow(text), "abcde");
  FitToCapacity(&text, 1);
  EXPECT_EQ(Narrow(text), "");
}

}  // namespace
