#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "platform/unicode.h"

namespace {

std::string Narrow(std::u16string_view text) { return platform::U16ToUtf8(text); }

TEST(PathTextTest, TrimRemovesBlanksControlsAndQuotesAtBothEndsOnly) {
  const std::pair<std::u16string, std::u16string> cases[] = {
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
  for (const auto& [original, trimmed] : cases) {
    std::u16string text = original;
    TrimPathText(&text);
    EXPECT_EQ(Narrow(text), Narrow(trimmed)) << Narrow(original);
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

// The form of a path; the file system takes the first five as paths.
TEST(PathTextTest, ClassifyPathTellsTheFormsApart) {
  const std::pair<std::u16string, int> cases[] = {
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
  for (const auto& [text, kind] : cases) {
    EXPECT_EQ(ClassifyPath(text), kind) << Narrow(text);
    EXPECT_EQ(IsPathLike(text), kind != kPathKindNone && kind != kPathKindDriveQuestion);
  }
  EXPECT_FALSE(IsPathLike(u"\\??\\C:\\a"));
}

TEST(PathTextTest, LettersBeyondAsciiFoldOnceTheTableIsBuilt) {
  BuildCaseFoldingTable();
  std::u16string text = u"C:\\\u00DCBER\\x";
  EXPECT_TRUE(ReplaceOnce(&text, u"\\\u00FCber\\", u"\\y\\", false, 0));
  EXPECT_EQ(Narrow(text), "C:\\y\\x");
  EXPECT_EQ(ClassifyPath(u"\u00C4:\\x"), kPathKindDrive);
  FreeCaseFoldingTable();
  text = u"C:\\\u00DCBER\\x";
  EXPECT_FALSE(ReplaceOnce(&text, u"\\\u00FCber\\", u"\\y\\", false, 0));
  EXPECT_EQ(ClassifyPath(u"\u00C4:\\x"), kPathKindNone);
}

TEST(PathTextTest, FitToCapacityKeepsRoomForTheTerminator) {
  for (const auto& [capacity, fitted] :
       {std::pair<size_t, const char*>{0, "abcdef"}, {7, "abcdef"}, {6, "abcde"}, {1, ""}}) {
    std::u16string text = u"abcdef";
    FitToCapacity(&text, capacity);
    EXPECT_EQ(Narrow(text), fitted) << capacity;
  }
}

}  // namespace
