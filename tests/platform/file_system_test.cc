// The file-system seam on a temporary tree: the POSIX backend natively, Win32 under wine64.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/lookup_round.h"
#include "platform/system.h"
#include "platform/unicode.h"
#include "platform/wineprefix/dos_path.h"
#include "tests/platform/temp_tree.h"
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/wineprefix/wine_prefix.h"
#endif

namespace platform {
namespace {

std::string Narrow(std::u16string_view text) { return U16ToUtf8(text); }
#ifndef _WIN32
namespace sfs = std::filesystem;
#endif

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tree_.ok()) << "no temporary folder"; }

  FileSystem* fs() { return tree_.fs(); }
  std::string Read(std::u16string_view path) {
    std::string bytes;
    return ReadWholeFile(fs(), path, &bytes) ? bytes : "<unreadable>";
  }
  std::string LongName(std::u16string_view path) {
    std::u16string out;
    return fs()->GetLongPathName(path, &out) ? Narrow(out) : "<failed>";
  }
  // 0 when path is there, else the error its lookup left.
  uint32_t ErrorOf(std::u16string_view path) {
    fs()->SetLastError(0);
    return fs()->GetFileAttributes(path) != kInvalidFileAttributes ? 0 : fs()->GetLastError();
  }
  // The short name the backend reports for an entry of folder.
  std::u16string ShortNameOf(std::u16string_view folder, std::u16string_view name) {
    std::vector<DirectoryEntry> entries;
    if (!fs()->ListDirectory(folder, &entries)) return {};
    for (const DirectoryEntry& entry : entries)
      if (entry.name == name) return entry.shortName;
    return {};
  }

  TempTree tree_;
};

TEST_F(FileSystemTest, FindsNamesIgnoringCaseBeyondAscii) {
  ASSERT_TRUE(tree_.MakeFile(u"MixedCase\\Sub Folder\\File.TXT", "ascii"));
  ASSERT_TRUE(tree_.MakeFile(u"MixedCase\\\u00C4rger \u0100\u03A3\u0391 \u041F\u0420.txt", "wide"));
  ASSERT_TRUE(tree_.MakeFile(u"\u00C4rger Ordner\\Sub\\Datei.txt", "wide folder"));

  EXPECT_EQ(Read(tree_.Path(u"mixedcase\\SUB FOLDER\\file.txt")), "ascii");
  EXPECT_EQ(Read(tree_.Path(u"MIXEDCASE\\\u00E4rger \u0101\u03C3\u03B1 \u043F\u0440.TXT")), "wide");
  EXPECT_EQ(Read(tree_.Path(u"\u00C4rger Ordner\\Sub\\Datei.txt")), "wide folder");
  EXPECT_EQ(Read(tree_.Path(u"\u00E4RGER ordner\\sub\\DATEI.txt")), "wide folder");
  EXPECT_EQ(fs()->GetFileAttributes(tree_.Path(u"MIXEDCASE\\sub folder")) & kFileAttributeDirectory,
            kFileAttributeDirectory);
  // Folding is not a wildcard: a different letter is a different name.
  EXPECT_EQ(fs()->GetFileAttributes(tree_.Path(u"MixedCase\\Sub Folder\\File.TXU")),
            kInvalidFileAttributes);
}

TEST_F(FileSystemTest, LongPathPrefixesReachTheSameFile) {
  ASSERT_TRUE(tree_.MakeFile(u"Prefixed\\data.bin", "prefixed"));
  const std::u16string full = fs()->GetFullPathName(tree_.Path(u"Prefixed\\data.bin"));
  EXPECT_EQ(Read(u"\\\\?\\" + full), "prefixed");
  EXPECT_EQ(ErrorOf(u"\\??\\" + full), 0u);
  EXPECT_EQ(ErrorOf(u"\\\\?\\" + full + u".gone"), kErrorFileNotFound);
  EXPECT_EQ(fs()->GetFullPathName(u""), u"");
}

// Short names are listed for long names only and expanded; Wine makes no numbered ones.
TEST_F(FileSystemTest, ShortNamesAreListedAndExpanded) {
  ASSERT_TRUE(tree_.MakeFile(u"Program Files Long\\Some Application\\App.Exe"));
  ASSERT_TRUE(tree_.MakeFile(u"List\\SHORT.TXT"));
  ASSERT_TRUE(tree_.MakeFile(u"List\\a much longer name.text"));
  EXPECT_TRUE(IsLegal8Dot3Name(ShortNameOf(tree_.Path(u"List"), u"a much longer name.text")));
  EXPECT_EQ(ShortNameOf(tree_.Path(u"List"), u"SHORT.TXT"), u"");
  std::u16string root;
  ASSERT_TRUE(fs()->GetLongPathName(tree_.root(), &root));
  const std::u16string outer = ShortNameOf(root, u"Program Files Long");
  ASSERT_FALSE(outer.empty()) << "no short name reported";
  const std::u16string inner = ShortNameOf(root + u"\\Program Files Long", u"Some Application");
  ASSERT_FALSE(inner.empty());

  EXPECT_EQ(LongName(root + u"\\" + outer + u"\\" + inner + u"\\app.exe"),
            Narrow(root + u"\\Program Files Long\\Some Application\\App.Exe"));
  // Names that cannot be short names keep their spelling, and the form of the path stays.
  EXPECT_EQ(LongName(root + u"\\program files long\\"), Narrow(root + u"\\program files long\\"));
  // Right after its attributes, read off the path found (other letter case).
  const std::u16string lower = root + u"\\program files long\\some application\\app.exe";
  ASSERT_NE(fs()->GetFileAttributes(lower), kInvalidFileAttributes);
  EXPECT_EQ(LongName(lower), Narrow(root + u"\\program files long\\some application\\App.Exe"));
  ASSERT_TRUE(fs()->SetCurrentDirectory(root));
  EXPECT_EQ(LongName(outer + u"\\SOME APPLICATION\\APP.EXE"),
            "Program Files Long\\SOME APPLICATION\\App.Exe");
  fs()->SetLastError(0);
  EXPECT_EQ(LongName(root + u"\\gone\\gone.exe"), "<failed>");
  EXPECT_EQ(fs()->GetLastError(), kErrorFileNotFound);
  const uint32_t numbered = ErrorOf(tree_.Path(u"PROGRA~1"));
  if (numbered == 0) GTEST_SKIP() << "not Wine: this file system makes numbered short names";
  EXPECT_EQ(numbered, kErrorFileNotFound);
}

#ifdef _WIN32  // the POSIX backend's short names are HashShortFileName itself
TEST_F(FileSystemTest, ShortNamesAreWinesHashedNames) {
  const std::u16string names[] = {u"Program Files",  u"Program Files (x86)",
                                  u"Common Files",   u"MixedCase Folder.Long",
                                  u".bashrc",        u"..a",
                                  u"with space.txt", u"\u00FCbel lang.txt",
                                  u"a+b=c.txt",      u"Some.Dotted.Name.Here"};
  for (const std::u16string& name : names) ASSERT_TRUE(tree_.MakeFile(name));
  for (const std::u16string& name : names) {
    SCOPED_TRACE(Narrow(name));
    const std::u16string reported = ShortNameOf(tree_.root(), name);
    if (reported.size() >= 2 && reported.find(u"~1") != std::u16string::npos)
      GTEST_SKIP() << "not Wine: this file system makes numbered short names";
    EXPECT_EQ(Narrow(reported), Narrow(HashShortFileName(name)));
  }
}
#endif

// A drive letter that is not assigned says nothing about what would be on it.
TEST_F(FileSystemTest, ADriveThatIsNotThereIsNotReady) {
  if (fs()->GetLogicalDrives() & (1u << (u'Q' - u'A'))) GTEST_SKIP() << "this machine has a Q:";
  EXPECT_EQ(ErrorOf(u"Q:\\Games\\game.exe"), kErrorNotReady);
  EXPECT_FALSE(IsNoSuchFile(kErrorNotReady));
}

#ifndef _WIN32  // Windows has no Wine prefix: its drives and system folders are its own

// What only a Wine prefix has: its drive map, sysnative, SearchPathW's order.
class WinePrefixTest : public FileSystemTest {
 protected:
  // Adds an entry to the prefix's dosdevices folder.
  bool Link(const std::string& name, const std::string& target) {
    std::error_code error;
    sfs::create_directory_symlink(target, tree_.prefix() + "/dosdevices/" + name, error);
    return !error;
  }
};

// Drives come from dosdevices. A drive or share not there, an unsearchable folder, a link loop
// are not absence to IsNoSuchFile; a name no file can have is.
TEST_F(WinePrefixTest, DrivesComeFromDosdevicesAndWhatCannotBeSeenIsNotMissing) {
  const std::string prefix = tree_.prefix();
  sfs::create_directories(prefix + "/cdrom/data");
  ASSERT_TRUE(Link("d:", "../cdrom"));          // a relative link
  ASSERT_TRUE(Link("e::", prefix + "/cdrom"));  // a raw device, not a drive
  ASSERT_TRUE(Link("f:", prefix + "/gone"));    // its folder is gone
  EXPECT_EQ(fs()->GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 25));
  EXPECT_EQ(fs()->GetFileAttributes(u"d:\\DATA"), kFileAttributeDirectory);
  EXPECT_EQ(fs()->GetFileAttributes(u"z:\\"), kFileAttributeDirectory);
  sfs::create_directories(prefix + "/media/usb");  // nothing mounted
  sfs::create_directories(prefix + "/shares/srv/docs/sub");
  sfs::create_directories(prefix + "/dosdevices/unc");
  ASSERT_TRUE(Link("g:", prefix + "/media/usb"));
  ASSERT_TRUE(Link("h:", prefix + "/media/unplugged"));  // dangling
  ASSERT_TRUE(Link("unc/Server", prefix + "/shares/srv"));
  ASSERT_TRUE(tree_.MakeFile(u"Locked\\inside.exe"));
  ASSERT_TRUE(tree_.MakeFile(u"file.txt"));
  ASSERT_TRUE(tree_.MakeFolder(u"Loop"));
  sfs::create_symlink("b", prefix + "/drive_c/Work/Loop/a");
  sfs::create_symlink("a", prefix + "/drive_c/Work/Loop/b");
  const std::string locked = prefix + "/drive_c/Work/Locked";
  sfs::permissions(locked, sfs::perms::none);
  const bool privileged = access((locked + "/inside.exe").c_str(), F_OK) == 0;
  const struct {
    std::u16string path;
    uint32_t error;  // 0: found
  } cases[] = {
      {u"E:\\data", kErrorNotReady},
      {u"F:\\x", kErrorNotReady},
      {u"Q:\\", kErrorNotReady},
      {u"G:\\game\\game.exe", kErrorNotReady},
      {u"H:\\game.exe", kErrorNotReady},
      {u"\\\\server\\DOCS\\sub", 0},
      {u"\\\\?\\UNC\\server\\docs\\sub", 0},
      {u"\\\\server\\docs\\gone.txt", kErrorFileNotFound},
      {u"\\\\server\\other\\x.dll", kErrorNotReady},
      {u"\\\\elsewhere\\docs\\x.dll", kErrorNotReady},
      {tree_.Path(u"Locked\\inside.exe"), privileged ? 0 : kErrorAccessDenied},
      {tree_.Path(u"LOCKED\\Inside.EXE"), privileged ? 0 : kErrorAccessDenied},
      {tree_.Path(u"Loop\\a"), kErrorCantResolveFilename},
      {tree_.Path(u"Loop\\a\\x"), kErrorCantResolveFilename},
      {tree_.Path(std::u16string(256, u'n')), kErrorPathNotFound},
      {tree_.Path(u"gone.txt"), kErrorFileNotFound},
      {tree_.Path(u"gone\\file.txt"), kErrorPathNotFound},
      {tree_.Path(u"file.txt\\below"), kErrorPathNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    EXPECT_EQ(ErrorOf(c.path), c.error);
    EXPECT_EQ(IsNoSuchFile(c.error),
              c.error == kErrorFileNotFound || c.error == kErrorPathNotFound);
  }
  sfs::permissions(locked, sfs::perms::owner_all);
}

// A kept folder listing never hides a change: a new file, a rename, a change of case.
TEST_F(WinePrefixTest, AKeptFolderListingSeesEveryChange) {
  ASSERT_TRUE(tree_.MakeFile(u"Kept\\Alpha.txt"));
  const std::string folder = tree_.prefix() + "/drive_c/Work/Kept";
  const int64_t settle = posix::ListingSettleNanoseconds(folder);
  if (settle == 0) GTEST_SKIP() << "this file system's folder listings are never kept";
  auto settled = [&] { System::Default()->Sleep(static_cast<uint32_t>(settle / 1'000'000 + 20)); };
  auto exists = [&](std::u16string_view name) {
    return ErrorOf(tree_.Path(u"Kept\\" + std::u16string(name))) == 0;
  };
  settled();
  const size_t reads = posix::FolderReadCount();
  EXPECT_TRUE(exists(u"ALPHA.TXT"));
  EXPECT_FALSE(exists(u"BETA.TXT"));
  EXPECT_LE(posix::FolderReadCount(), reads + 1);  // the listing is kept
  EXPECT_GE(posix::KeptListingCount(), 1u);

  std::ofstream(folder + "/beta.txt") << "x";  // right after the listing was kept
  EXPECT_TRUE(exists(u"BETA.TXT"));
  settled();
  EXPECT_FALSE(exists(u"GAMMA.TXT"));
  sfs::rename(folder + "/beta.txt", folder + "/gamma.txt");
  EXPECT_TRUE(exists(u"GAMMA.TXT"));
  EXPECT_FALSE(exists(u"BETA.TXT"));
  settled();
  EXPECT_TRUE(exists(u"gamma.TXT"));
  sfs::rename(folder + "/gamma.txt", folder + "/GaMmA.txt");
  EXPECT_TRUE(exists(u"gamma.txt"));
  // Found in another case through a settled listing, then gone: its own
  // stat fails, and the listing is not trusted for it.
  settled();
  EXPECT_TRUE(exists(u"GAMMA.txt"));
  sfs::remove(folder + "/GaMmA.txt");
  EXPECT_FALSE(exists(u"GAMMA.TXT"));
  // Long names from a kept listing, and a hashed short name through it.
  settled();
  EXPECT_EQ(LongName(tree_.Path(u"Kept\\ALPHA.TXT")), Narrow(tree_.Path(u"Kept\\Alpha.txt")));
  ASSERT_TRUE(tree_.MakeFile(u"Kept\\A long name.text"));
  settled();
  const std::u16string shortName = ShortNameOf(tree_.Path(u"Kept"), u"A long name.text");
  ASSERT_FALSE(shortName.empty());
  EXPECT_TRUE(exists(shortName));
  // A name the kept listing lacks hides nothing below it, until it is made;
  // within one lookup round a listing seen once answers for its folder.
  EXPECT_FALSE(exists(u"Sub\\Delta.txt"));
  sfs::create_directories(folder + "/sub");
  std::ofstream(folder + "/sub/delta.txt") << "x";
  EXPECT_TRUE(exists(u"SUB\\DELTA.TXT"));
  settled();
  {
    LookupRound round;
    EXPECT_FALSE(exists(u"sub\\Epsilon.txt"));
    EXPECT_TRUE(exists(u"sub\\DELTA.txt"));
    EXPECT_TRUE(exists(u"sub\\delta.txt"));
  }
}

// A kept listing whose way is watched answers without a stat, and still sees
// a name made in it and a folder on its way replaced; a way through a link
// is not watched but validated as before.
TEST_F(WinePrefixTest, AChainedListingSeesChangesOnItsWay) {
  const std::string work = tree_.prefix() + "/drive_c/Work";
  const std::string outside = tree_.prefix() + "/outside";
  for (const std::string& folder : {work + "/One/Low", work + "/Two/Low", outside + "/Real/Low"}) {
    sfs::create_directories(folder);
    std::ofstream(folder + "/a.txt") << "x";
  }
  sfs::create_directory_symlink(outside + "/Real", work + "/Via");
  const int64_t settle = posix::ListingSettleNanoseconds(work);
  if (settle == 0) GTEST_SKIP() << "this file system's folder listings are never kept";
  System::Default()->Sleep(static_cast<uint32_t>(settle / 1'000'000 + 20));
  auto exists = [&](std::u16string_view path) { return ErrorOf(tree_.Path(path)) == 0; };
  // Read, validated by a stat twice (its way watched the second time), then
  // answered by the chain.
  auto chained = [&](std::u16string_view path) {
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(exists(path));
    const size_t before = posix::ChainedAnswerCount();
    EXPECT_FALSE(exists(path));
    return posix::ChainedAnswerCount() > before;
  };
  if (!chained(u"One\\Low\\B.TXT"))
    GTEST_SKIP() << "no chained listings (inotify or openat2 refused)";
  std::ofstream(work + "/One/Low/b.txt") << "x";
  EXPECT_TRUE(exists(u"One\\Low\\B.TXT"));
  EXPECT_TRUE(chained(u"Two\\Low\\C.TXT"));
  sfs::rename(work + "/Two", work + "/Two.old");
  sfs::create_directories(work + "/Two/Low");
  std::ofstream(work + "/Two/Low/c.txt") << "x";
  EXPECT_TRUE(exists(u"Two\\Low\\C.TXT"));
  // Above the link's folder nothing is watched: a folder there replaced.
  EXPECT_FALSE(chained(u"Via\\Low\\C.TXT"));
  sfs::rename(outside, outside + ".old");
  sfs::create_directories(outside + "/Real/Low");
  std::ofstream(outside + "/Real/Low/c.txt") << "x";
  EXPECT_TRUE(exists(u"Via\\Low\\C.TXT"));
  // A file system mounted over a folder on the way, in a child of its own
  // mount namespace (where this one may make one).
  sfs::create_directories(work + "/Mount/Low");
  std::ofstream(work + "/Mount/Low/a.txt") << "x";
  System::Default()->Sleep(static_cast<uint32_t>(settle / 1'000'000 + 20));
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      _exit(77);
    posix::ForgetKeptListings();
    for (int i = 0; i < 3; ++i) exists(u"Mount\\Low\\B.TXT");
    const size_t before = posix::ChainedAnswerCount();
    if (exists(u"Mount\\Low\\B.TXT") || posix::ChainedAnswerCount() == before) _exit(2);
    if (mount("none", (work + "/Mount").c_str(), "tmpfs", 0, nullptr) != 0) _exit(77);
    sfs::create_directories(work + "/Mount/Low");
    std::ofstream(work + "/Mount/Low/b.txt") << "x";
    const bool seen = exists(u"Mount\\Low\\B.TXT");
    umount((work + "/Mount").c_str());
    _exit(seen ? 0 : 1);
  }
  int status = -1;
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace of its own here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the mounted file was called missing; 2: no chain";
}

// A folder that keeps changing is read once, then watched: no change is missed.
TEST_F(WinePrefixTest, AChangingFolderIsReadOnceAndMissesNoChange) {
  ASSERT_TRUE(tree_.MakeFile(u"Busy\\Alpha.txt"));
  const std::string folder = tree_.prefix() + "/drive_c/Work/Busy";
  if (posix::ListingSettleNanoseconds(folder) == 0)
    GTEST_SKIP() << "this file system's folder listings are never kept";
  auto exists = [&](const std::string& name) {
    return ErrorOf(tree_.Path(u"Busy\\" + Utf8ToU16(name))) == 0;
  };
  const size_t reads = posix::FolderReadCount();
  EXPECT_FALSE(exists("NONE.TXT"));  // just made: still changing
  EXPECT_TRUE(exists("ALPHA.TXT"));
  for (int i = 0; i < 40; ++i) {
    const std::string name = std::to_string(i) + ".dll", upper = std::to_string(i) + ".DLL";
    std::ofstream(folder + "/new" + name) << "x";
    EXPECT_TRUE(exists("NEW" + upper)) << name;
    sfs::rename(folder + "/new" + name, folder + "/Movednew" + name);
    EXPECT_FALSE(exists("NEW" + upper)) << name;
    EXPECT_TRUE(exists("MOVEDNEW" + upper)) << name;
  }
  sfs::remove(folder + "/Alpha.txt");
  EXPECT_FALSE(exists("ALPHA.TXT"));
  std::ofstream(folder + "/ALPHA.txt") << "x";
  EXPECT_TRUE(exists("ALPHA.TXT"));
  EXPECT_LE(posix::FolderReadCount(), reads + 1);
  // A big folder keeps its watch although it had settled when it was read:
  // another program that starts changing it costs no second read.
  sfs::create_directories(folder + "/big");
  for (int i = 0; i < 1024; ++i) std::ofstream(folder + "/big/file " + std::to_string(i));
  System::Default()->Sleep(posix::ListingSettleNanoseconds(folder) / 1'000'000 + 20);
  EXPECT_FALSE(exists("BIG\\NEW.TXT"));
  const size_t bigReads = posix::FolderReadCount();
  std::ofstream(folder + "/big/new.txt") << "x";
  sfs::remove(folder + "/big/file 7");
  EXPECT_TRUE(exists("BIG\\NEW.TXT"));
  EXPECT_FALSE(exists("BIG\\FILE 7"));
  EXPECT_TRUE(exists("BIG\\FILE 8"));
  EXPECT_EQ(posix::FolderReadCount(), bigReads);
}

TEST_F(WinePrefixTest, UnixPathsAreSeenThroughZAndSysnativeIsSystem32) {
  EXPECT_EQ(posix::ToWindowsPath("/usr/lib/x.so"), u"Z:\\usr\\lib\\x.so");
  EXPECT_EQ(posix::ToWindowsPath("/"), u"Z:\\");
  ASSERT_TRUE(fs()->SetCurrentDirectory(tree_.root()));
  EXPECT_EQ(fs()->GetCurrentDirectory(), posix::ToWindowsPath(tree_.prefix() + "/drive_c/Work"));
  EXPECT_EQ(posix::ToWindowsPath("rel"), fs()->GetCurrentDirectory() + u"\\rel");
  // Z: leads back into the prefix.
  ASSERT_TRUE(tree_.MakeFile(u"through-z.txt", "z"));
  EXPECT_EQ(Read(fs()->GetCurrentDirectory() + u"\\THROUGH-Z.TXT"), "z");
  // Sysnative is system32, only below the Windows folder.
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\system32\\probe.dll", "native"));
  EXPECT_EQ(Read(u"C:\\Windows\\Sysnative\\probe.dll"), "native");
  EXPECT_EQ(LongName(u"c:\\WINDOWS\\sysnative\\PROBE.DLL"), "c:\\windows\\sysnative\\probe.dll");
  ASSERT_TRUE(tree_.MakeFolder(u"system32"));
  EXPECT_EQ(fs()->GetFileAttributes(tree_.Path(u"sysnative")), kInvalidFileAttributes);
}

TEST_F(WinePrefixTest, SearchPathDefaultsToSearchPathWsOrder) {
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\system32\\probe.dll", "system32"));
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\system\\probe.dll", "system"));
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\probe.dll", "windows"));
  ASSERT_TRUE(tree_.MakeFile(u"cwd\\probe.dll", "cwd"));
  ASSERT_TRUE(tree_.MakeFile(u"onpath\\late.dll", "path"));
  ASSERT_TRUE(fs()->SetCurrentDirectory(tree_.Path(u"cwd")));

  const std::u16string host = platform::System::Default()->GetHostFileName();
  const std::u16string order = DefaultSearchPath(fs(), tree_.Path(u"onpath"));
  EXPECT_EQ(
      Narrow(order),
      Narrow(host.substr(0, host.rfind(u'\\')) + u";" + fs()->GetCurrentDirectory() +
             u";C:\\windows\\system32;C:\\windows\\system;C:\\windows;" + tree_.Path(u"onpath")));

  std::u16string found;
  ASSERT_TRUE(fs()->SearchPath(u"", u".\\probe.dll", u"", &found));  // only where it points
  EXPECT_EQ(Read(found), "cwd");
  // Each folder in turn, as the ones before it lose the file.
  const char* expected[] = {"cwd", "system32", "system", "windows"};
  const std::u16string holders[] = {fs()->GetCurrentDirectory() + u"\\probe.dll",
                                    u"C:\\windows\\system32\\probe.dll",
                                    u"C:\\windows\\system\\probe.dll", u"C:\\windows\\probe.dll"};
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(fs()->SearchPath(order, u"probe", u".dll", &found)) << expected[i];
    EXPECT_EQ(Narrow(found), Narrow(holders[i]));
    EXPECT_EQ(Read(found), expected[i]);
    ASSERT_TRUE(fs()->DeleteFile(holders[i]));
  }
  ASSERT_TRUE(fs()->SearchPath(order, u"late.dll", u"", &found));
  EXPECT_EQ(Read(found), "path");
  // Without folders the backend uses the same order, with no PATH.
  EXPECT_FALSE(fs()->SearchPath(u"", u"late.dll", u"", &found));
  EXPECT_EQ(fs()->GetLastError(), kErrorFileNotFound);
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\default.dll", "default"));
  ASSERT_TRUE(fs()->SearchPath(u"", u"DEFAULT.DLL", u"", &found));
  EXPECT_EQ(Read(found), "default");
}

#endif  // _WIN32

}  // namespace
}  // namespace platform
