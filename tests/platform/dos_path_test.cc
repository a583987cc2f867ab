#include "platform/wineprefix/dos_path.h"

#include <gtest/gtest.h>

#include "platform/unicode.h"

namespace platform {
namespace {

std::string Narrow(std::u16string_view text) { return U16ToUtf8(text); }

TEST(DosPathTest, FullPathNamesAgainstAFixedCurrentFolderAndTheirRoots) {
  const struct {
    std::u16string current, in, out;
  } cases[] = {
      {u"C:\\cur\\dir", u"x.txt", u"C:\\cur\\dir\\x.txt"},
      {u"C:\\cur\\dir", u"..\\..\\..\\x", u"C:\\x"},
      {u"C:\\", u"x", u"C:\\x"},
      {u"C:\\", u"..", u"C:\\"},
      {u"C:\\cur", u"c:x", u"C:\\cur\\x"},
      {u"C:\\cur", u"D:x", u"D:\\x"},
      {u"C:\\cur", u"D:", u"D:\\"},
      {u"C:\\cur", u"\\x\\y", u"C:\\x\\y"},
      {u"\\\\srv\\share\\cur", u"x", u"\\\\srv\\share\\cur\\x"},
      {u"\\\\srv\\share\\cur", u"\\x", u"\\\\srv\\share\\x"},
      {u"\\\\srv\\share\\cur", u"..\\..\\x", u"\\\\srv\\share\\x"},
      {u"C:\\cur", u"\\\\srv/share/a/../b", u"\\\\srv\\share\\b"},
      {u"C:\\cur", u"C:\\a\\...", u"C:\\a\\"},
      {u"C:\\cur", u"C:\\a..\\b.\\c", u"C:\\a.\\b\\c"},
      {u"C:\\cur", u"C:\\a\\.", u"C:\\a"},
      {u"C:\\cur", u"C:\\.", u"C:\\"},
      {u"C:\\cur", u"C:\\a\\b. .\\", u"C:\\a\\b. \\"},
      {u"C:\\cur", u"C:\\\\a\\\\b c ", u"C:\\a\\b c"},
      {u"C:\\cur", u"\\\\.\\COM1", u"\\\\.\\COM1"},
      {u"C:\\cur", u"\\\\?\\c:\\a\\..", u"\\\\?\\c:"},
      {u"C:\\cur", u"\\\\?\\C:\\a\\.\\b", u"\\\\?\\C:\\a\\b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.current) + " + " + Narrow(c.in));
    EXPECT_EQ(Narrow(FullPathName(c.in, c.current)), Narrow(c.out));
  }
  EXPECT_EQ(FullPathName(u"", u"C:\\"), u"");
  // A drive path's form, its marks before, across and after eight-unit steps.
  const struct {
    std::u16string path;
    PathForm form;
  } forms[] = {
      {u"C:\\Program Files\\Photo Tools p001\\Photo Prog 000004.Exe", PathForm::kClean},
      {u"C:\\Program Files\\Photo Tools p001\\Photo Prog 000004.Exe\" \"%1", PathForm::kBadCharacter},
      {u"C:\\Pro|gram Files\\Photo Tools p001\\Photo Prog 000004.Exe", PathForm::kBadCharacter},
      {u"C:\\Program Files\\Photo*Tools p001\\x", PathForm::kBadCharacter},
      {u"C:\\Program Files\\Photo Tools p001\\Photo Prog 00000?", PathForm::kBadCharacter},
      {u"C:\\Program Files\\Photo Tools <p001>\\x", PathForm::kBadCharacter},
      {u"C:\\abcd\\\\Program Files\\x", PathForm::kCollapse},  // doubled across the first step
      {u"C:\\Program Files\\Photo Tools p001\\\\x", PathForm::kCollapse},
      {u"C:\\Program Files\\Photo Tools p001/x\" y", PathForm::kCollapse},
      {u"C:\\Program Files\\Photo Tools p001\\.hidden\\x", PathForm::kCollapse},
      {u"C:\\Program Files\\Photo Tools p001.\\x", PathForm::kCollapse},
      {u"C:\\Program Files\\Photo Tools p001\\Photo Prog.", PathForm::kCollapse},
      {u"C:\\Program Files\\Photo Tools p001\\Photo Prog ", PathForm::kCollapse},
      {u"C:\\Program Files\\Ph\u00f6to T\u00f6\u00f6ls p001\\x.Exe", PathForm::kClean},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(Narrow(f.path));
    EXPECT_EQ(DrivePathForm(f.path), f.form);
    if (f.form != PathForm::kCollapse) {
      EXPECT_EQ(FullPathName(f.path, u"C:\\"), f.path);
    }
  }
  std::u16string roots;
  for (const char16_t* path :
       {u"C:\\a", u"\\\\srv\\share\\a", u"\\\\srv\\share", u"\\\\srv", u"\\a", u"a\\b"})
    roots += PathRoot(path) + u"|";
  EXPECT_EQ(Narrow(roots), "C:|\\\\srv\\share|\\\\srv\\share|\\\\srv|||");
}

TEST(DosPathTest, Legal8Dot3Names) {
  for (const char16_t* name : {u"A", u"PROGRAM", u"PROGRAMS", u"a.b", u"ABCDEFGH.TXT", u".", u"..",
                               u"~1", u"PROGRA~1", u"a-b_c$.!x"})
    EXPECT_TRUE(IsLegal8Dot3Name(name)) << Narrow(name);
  for (const char16_t* name :
       {u"",     u"ABCDEFGHI",  u"ABCDEFGHI.TXT", u"a.txtx",       u"a.",  u"a.b.c", u".bashrc",
        u"...",  u"with space", u"a+b",           u"a=b",          u"a,b", u"a;b",   u"a[b",
        u"a]b",  u"a*b",        u"a?b",           u"a<b",          u"a|b", u"a\"b",  u"a:b",
        u"a\\b", u"a/b",        u"\u00E4",        u"ABCDEFGHIJKLM"})
    EXPECT_FALSE(IsLegal8Dot3Name(name)) << Narrow(name);
}

// Short names as Wine 8.0 reports them (FindFirstFileW's cAlternateFileName
// under wine64; later versions skip leading dots).
TEST(DosPathTest, HashedShortNamesMatchWine) {
  const struct {
    std::u16string name, shortName;
  } cases[] = {
      {u"Program Files", u"PROG~FBU"}, {u"Program Files (x86)", u"PROG~5P2"},
      {u"Common Files", u"COMM~CP1"},  {u"MixedCase Folder.Long", u"MIXE~LK1.LON"},
      {u".bashrc", u"_BAS~0WR"},       {u"..a", u"_~~~~ETP.A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    EXPECT_EQ(Narrow(HashShortFileName(c.name)), Narrow(c.shortName));
    EXPECT_TRUE(IsLegal8Dot3Name(c.shortName));
  }
  // The hash follows the name, not its case.
  EXPECT_EQ(HashShortFileName(u"\u00C4rger lang.txt"), HashShortFileName(u"\u00E4RGER LANG.TXT"));
  EXPECT_EQ(HashShortFileName(u""), u"");
}

}  // namespace
}  // namespace platform
