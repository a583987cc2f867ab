#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

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
}

}  // namespace
