#include "support/kv_path.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/unicode.h"

namespace KvOSAL {
namespace {

std::string Narrow(std::u16string_view text) { return platform::U16ToUtf8(text); }

// The parts of a path as "drive|directory|name|extension".
std::string PartsOf(const KvPath& path) {
  return Narrow(path.Drive() + u"|" + path.Directory() + u"|" + path.FileName() + u"|" +
                path.Extension());
}

// The path after a step, or that the step was refused and the path it left.
std::string After(bool ok, const KvPath& path) {
  return (ok ? "" : "refused ") + Narrow(path.FullPath());
}

TEST(KvPathTest, SplitsDrivesUncRootsUrlsAndPlainPaths) {
  const std::tuple<std::u16string, const char*> cases[] = {
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
  for (const auto& [path, parts] : cases) EXPECT_EQ(PartsOf(KvPath(path)), parts) << Narrow(path);
}

TEST(KvPathTest, FolderAndTests) {
  EXPECT_EQ(KvPath(u"z:").FullPath(), u"z:\\");
  EXPECT_EQ(KvPath(u"1:").FullPath(), u"1:");  // not a letter
  EXPECT_EQ(KvPath(static_cast<const char16_t*>(nullptr)).FullPath(), u"");
  const KvPath file(u"C:\\a\\b.txt");
  EXPECT_EQ(Narrow(file.Folder() + u" " + KvPath(u"C:name").Folder() + u" " +
                   KvPath(u"\\\\server").Folder()),
            "C:\\a\\ C:\\ \\\\server\\");
  EXPECT_TRUE(file.HasDirectory() && file.HasFileName() && file.HasExtension());
  EXPECT_FALSE(file.IsRelative() || KvPath(u"name").HasDirectory() ||
               KvPath(u"name").HasExtension());
  EXPECT_TRUE(KvPath::IsRelative(u"dir\\x") && KvPath::IsRelative(u"\\rooted\\x"));
  EXPECT_FALSE(KvPath::IsRelative(u"\\\\server\\share\\x") || KvPath::IsRelative(u"http://host/x"));
}

TEST(KvPathTest, ComposeNormalisesTheParts) {
  const std::u16string cases[][5] = {
      {u"C", u"Windows\\\\", u"notepad", u"exe", u"C:\\Windows\\notepad.exe"},
      {u"C:\\", u"", u"x", u".txt", u"C:\\x.txt"},
      {u"C:", u"\\a\\b", u"", u"", u"C:\\a\\b\\"},
      {u"\\\\srv\\share\\", u"dir", u"f", u"txt", u"\\\\srv\\share\\dir\\f.txt"},
      {u"http://host", u"/a/", u"p", u".html", u"http://host/a/p.html"},
      {u"", u"rel \t", u"name  ", u"", u"rel\\name"},
      {u"", u"", u"n ", u"ext  ", u"n .ext"},
      {u"", u"", u"", u"", u""},
  };
  for (const auto& [drive, directory, name, extension, full] : cases) {
    KvPath path(u"D:\\old\\file.bin");
    EXPECT_TRUE(path.Compose(drive, directory, name, extension));
    EXPECT_EQ(Narrow(path.FullPath()), Narrow(full));
  }
  KvPath path;
  path.Compose(u"C", u"x", u"", u"");
  EXPECT_EQ(PartsOf(path), "C:|\\x\\||");
}

TEST(KvPathTest, GoUpReplacesTheDirectoryByItsParent) {
  const std::tuple<std::u16string, bool, std::u16string> cases[] = {
      {u"C:\\a\\b\\file.txt", true, u"C:\\a\\file.txt"},
      {u"C:\\a\\file.txt", true, u"C:\\file.txt"},
      {u"C:\\file.txt", false, u"C:\\file.txt"},
      {u"\\\\srv\\share\\a\\b\\f", true, u"\\\\srv\\share\\a\\f"},
      {u"C:\\a\\.\\b\\..\\c\\f", true, u"C:\\a\\f"},
  };
  for (const auto& [text, ok, after] : cases) {
    KvPath path(text);
    EXPECT_EQ(After(path.GoUp(), path), After(ok, after)) << Narrow(text);
  }
  KvPath twice(u"C:\\a\\b\\c\\m.dll");
  EXPECT_TRUE(twice.GoUp() && twice.GoUp());
  EXPECT_EQ(PartsOf(twice), "C:|\\a\\|m|.dll");
}

// Each step changes one part and keeps the others; a refused one changes nothing.
TEST(KvPathTest, StepsKeepTheOtherParts) {
  KvPath path(u"C:\\dir\\old.txt");
  EXPECT_TRUE(path.SetFileName(u"archive.tar.gz"));
  EXPECT_EQ(PartsOf(path), "C:|\\dir\\|archive.tar|.gz");
  EXPECT_TRUE(path.SetFileName(u"README"));
  EXPECT_EQ(PartsOf(path), "C:|\\dir\\|README|");
  EXPECT_EQ(After(path.SetDirectory(u"other\\place"), path), "C:\\other\\place\\README");
  EXPECT_EQ(After(path.SetDirectory(u""), path), "C:\\README");
  // From a module to its companions.
  path.Set(u"C:\\Suite\\modules\\Cleaner\\Cleaner.dll");
  EXPECT_EQ(After(path.GoUp(), path), "C:\\Suite\\modules\\Cleaner.dll");
  EXPECT_EQ(After(path.AppendRelativeDirectory(u"common"), path),
            "C:\\Suite\\modules\\common\\Cleaner.dll");
  EXPECT_EQ(After(path.SetFileName(u"asp_ipc32.dll"), path),
            "C:\\Suite\\modules\\common\\asp_ipc32.dll");
  EXPECT_EQ(After(path.AppendRelativeDirectory(u"..\\..\\tools\\"), path),
            "C:\\Suite\\tools\\asp_ipc32.dll");
  // Only a relative directory is appended: no drive, no file.
  for (const char16_t* text :
       {u"D:\\x", u"D:", u"\\\\srv\\share\\x", u"http://host/x", u"sub\\file.txt", u"file.txt"}) {
    EXPECT_EQ(After(path.AppendRelativeDirectory(text), path),
              "refused C:\\Suite\\tools\\asp_ipc32.dll")
        << Narrow(text);
  }
  // Going up stops at the root.
  EXPECT_EQ(After(path.AppendRelativeDirectory(u"..\\..\\..\\.."), path), "C:\\asp_ipc32.dll");
  // Copies are independent, also of a path split before the copy.
  EXPECT_EQ(path.FileName(), u"asp_ipc32");
  KvPath copy = path;
  copy.SetFileName(u"c.ini");
  EXPECT_EQ(path.FullPath(), u"C:\\asp_ipc32.dll");
  path = copy;
  EXPECT_EQ(path.Extension(), u".ini");
}

TEST(KvPathTest, OverlongPathsFailWithoutChange) {
  const std::u16string longFolder(300, u'x');
  KvPath path(u"C:\\" + longFolder + u"\\sub\\f.txt");
  // Parts are cut at 255 characters.
  EXPECT_EQ(path.Directory().size(), 255u);
  KvPath deep(u"C:\\" + std::u16string(200, u'a') + u"\\" + std::u16string(50, u'b') + u"\\f");
  const std::string before = After(false, deep);
  EXPECT_EQ(After(deep.AppendRelativeDirectory(std::u16string(20, u'c')), deep), before);
}

}  // namespace
}  // namespace KvOSAL
