#include "support/kv_path.h"

#include <gtest/gtest.h>

#include "platform/unicode.h"

namespace KvOSAL {
namespace {

std::string Narrow(std::u16string_view text) { return platform::U16ToUtf8(text); }

// The parts of a path as "drive|directory|name|extension".
std::string PartsOf(const KvPath& path) {
  return Narrow(path.Drive() + u"|" + path.Directory() + u"|" + path.FileName() + u"|" +
                path.Extension());
}

TEST(KvPathTest, SplitsDrivesUncRootsUrlsAndPlainPaths) {
  struct Case {
    std::u16string path;
    const char* parts;
  };
  const Case cases[] = {
      {u"C:\\Windows\\notepad.exe", "C:|\\Windows\\|notepad|.exe"},
      {u"C:file.txt", "C:||file|.txt"},
      {u"\\\\server\\share\\dir\\f.txt", "\\\\server\\share|\\dir\\|f|.txt"},
      {u"\\\\server\\share", "\\\\server\\share|\\||"},
      {u"\\\\server\\share\\", "\\\\server\\share|\\||"},
      {u"\\\\server", "\\\\server|||"},
      {u"http://host/a/b/page.html", "http://host|/a/b/|page|.html"},
      {u"https://host/dir/", "https://host|/dir/||"},
      {u"ftp://host", "ftp://host|||"},
      {u"relative\\file.tar.gz", "|relative\\|file.tar|.gz"},
      {u"dir.d\\file", "|dir.d\\|file|"},
      {u"/unix/style.txt", "|/unix/|style|.txt"},
      {u"noext", "||noext|"},
      {u".bashrc", "|||.bashrc"},
      {u"", "|||"},
      {u"C:", "C:|\\||"},  // a bare drive becomes its root
  };
  for (const Case& c : cases) EXPECT_EQ(PartsOf(KvPath(c.path)), c.parts) << Narrow(c.path);
}

TEST(KvPathTest, FolderAndTests) {
  KvPath drive(u"z:");
  EXPECT_EQ(drive.FullPath(), u"z:\\");
  drive.Set(u"1:");  // not a letter
  EXPECT_EQ(drive.FullPath(), u"1:");
  drive.Set(static_cast<const char16_t*>(nullptr));
  EXPECT_EQ(drive.FullPath(), u"");
  const KvPath file(u"C:\\a\\b.txt");
  EXPECT_EQ(file.Folder(), u"C:\\a\\");
  EXPECT_TRUE(file.HasDirectory() && file.HasFileName() && file.HasExtension());
  EXPECT_FALSE(file.IsRelative());
  EXPECT_EQ(KvPath(u"C:name").Folder(), u"C:\\");
  EXPECT_EQ(KvPath(u"\\\\server").Folder(), u"\\\\server\\");
  EXPECT_TRUE(KvPath::IsRelative(u"dir\\x"));
  EXPECT_TRUE(KvPath::IsRelative(u"\\rooted\\x"));
  EXPECT_FALSE(KvPath::IsRelative(u"\\\\server\\share\\x"));
  EXPECT_FALSE(KvPath::IsRelative(u"http://host/x"));
  const KvPath bare(u"name");
  EXPECT_FALSE(bare.HasDirectory());
  EXPECT_FALSE(bare.HasExtension());
}

TEST(KvPathTest, ComposeNormalisesTheParts) {
  struct Case {
    std::u16string drive, directory, name, extension, full;
  };
  const Case cases[] = {
      {u"C", u"Windows\\\\", u"notepad", u"exe", u"C:\\Windows\\notepad.exe"},
      {u"C:\\", u"", u"x", u".txt", u"C:\\x.txt"},
      {u"C:", u"\\a\\b", u"", u"", u"C:\\a\\b\\"},
      {u"\\\\srv\\share\\", u"dir", u"f", u"txt", u"\\\\srv\\share\\dir\\f.txt"},
      {u"http://host", u"/a/", u"p", u".html", u"http://host/a/p.html"},
      {u"", u"rel \t", u"name  ", u"", u"rel\\name"},
      {u"", u"", u"n ", u"ext  ", u"n .ext"},
      {u"", u"a/", u"n", u"", u"a/n"},
      {u"", u"", u"", u"", u""},
  };
  for (const Case& c : cases) {
    KvPath path(u"D:\\old\\file.bin");
    EXPECT_TRUE(path.Compose(c.drive, c.directory, c.name, c.extension));
    EXPECT_EQ(Narrow(path.FullPath()), Narrow(c.full));
  }
  KvPath path;
  path.Compose(u"C", u"x", u"", u"");
  EXPECT_EQ(PartsOf(path), "C:|\\x\\||");
}

TEST(KvPathTest, SetFileNameAndSetDirectoryKeepTheOtherParts) {
  KvPath path(u"C:\\dir\\old.txt");
  EXPECT_TRUE(path.SetFileName(u"archive.tar.gz"));
  EXPECT_EQ(PartsOf(path), "C:|\\dir\\|archive.tar|.gz");
  EXPECT_TRUE(path.SetFileName(u"README"));
  EXPECT_EQ(path.FullPath(), u"C:\\dir\\README");
  EXPECT_FALSE(path.HasExtension());
  EXPECT_TRUE(path.SetDirectory(u"other\\place"));
  EXPECT_EQ(path.FullPath(), u"C:\\other\\place\\README");
  EXPECT_TRUE(path.SetDirectory(u""));
  EXPECT_EQ(path.FullPath(), u"C:\\README");
}

TEST(KvPathTest, GoUpReplacesTheDirectoryByItsParent) {
  struct Case {
    std::u16string path;
    bool ok;
    std::u16string after;
  };
  const Case cases[] = {
      {u"C:\\a\\b\\file.txt", true, u"C:\\a\\file.txt"},
      {u"C:\\a\\file.txt", true, u"C:\\file.txt"},
      {u"C:\\file.txt", false, u"C:\\file.txt"},
      {u"C:\\", false, u"C:\\"},
      {u"\\\\srv\\share\\a\\b\\f", true, u"\\\\srv\\share\\a\\f"},
      {u"C:\\a\\.\\b\\..\\c\\f", true, u"C:\\a\\f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    KvPath path(c.path);
    EXPECT_EQ(path.GoUp(), c.ok);
    EXPECT_EQ(Narrow(path.FullPath()), Narrow(c.after));
  }
  KvPath twice(u"C:\\a\\b\\c\\m.dll");
  EXPECT_TRUE(twice.GoUp());
  EXPECT_TRUE(twice.GoUp());
  EXPECT_EQ(PartsOf(twice), "C:|\\a\\|m|.dll");
}

TEST(KvPathTest, WalksFromAModuleToItsCompanions) {
  KvPath path(u"C:\\Suite\\modules\\Cleaner\\Cleaner.dll");
  ASSERT_TRUE(path.GoUp());
  ASSERT_TRUE(path.AppendRelativeDirectory(u"common"));
  EXPECT_EQ(path.FullPath(), u"C:\\Suite\\modules\\common\\Cleaner.dll");
  ASSERT_TRUE(path.SetFileName(u"asp_ipc32.dll"));
  EXPECT_EQ(path.FullPath(), u"C:\\Suite\\modules\\common\\asp_ipc32.dll");
  ASSERT_TRUE(path.AppendRelativeDirectory(u"..\\..\\tools\\"));
  EXPECT_EQ(path.FullPath(), u"C:\\Suite\\tools\\asp_ipc32.dll");
  ASSERT_TRUE(path.AppendRelativeDirectory(u"..\\..\\..\\.."));  // stops at the root
  EXPECT_EQ(path.FullPath(), u"C:\\asp_ipc32.dll");
}

TEST(KvPathTest, AppendRelativeDirectoryRefusesDrivesAndFiles) {
  for (const char16_t* text :
       {u"D:\\x", u"D:", u"\\\\srv\\share\\x", u"http://host/x", u"sub\\file.txt", u"file.txt"}) {
    SCOPED_TRACE(Narrow(text));
    KvPath path(u"C:\\a\\b\\m.dll");
    EXPECT_FALSE(path.AppendRelativeDirectory(text));
    EXPECT_EQ(path.FullPath(), u"C:\\a\\b\\m.dll");
  }
}

TEST(KvPathTest, CopiesAreIndependent) {
  KvPath first(u"C:\\a\\b.txt");
  EXPECT_EQ(first.FileName(), u"b");  // split before the copy
  KvPath second = first;
  second.SetFileName(u"c.ini");
  EXPECT_EQ(first.FullPath(), u"C:\\a\\b.txt");
  first = second;
  EXPECT_EQ(first.Extension(), u".ini");
}

TEST(KvPathTest, OverlongPathsFailWithoutChange) {
  const std::u16string longFolder(300, u'x');
  KvPath path(u"C:\\" + longFolder + u"\\sub\\f.txt");
  // Parts are cut at 255 characters.
  EXPECT_EQ(path.Directory().size(), 255u);
  KvPath deep(u"C:\\" + std::u16string(200, u'a') + u"\\" + std::u16string(50, u'b') + u"\\f");
  const std::u16string before = deep.FullPath();
  EXPECT_FALSE(deep.AppendRelativeDirectory(std::u16string(20, u'c')));
  EXPECT_EQ(deep.FullPath(), before);
}

}  // namespace
}  // namespace KvOSAL
