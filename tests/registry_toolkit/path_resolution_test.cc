// In a temporary tree: natively a 64-bit prefix seen by a WOW64 module, under wine64 real Win32.
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "platform/case_fold.h"
#include "platform/environment.h"
#include "platform/known_folders.h"
#include "platform/system.h"
#include "platform/unicode.h"
#include "tests/platform/temp_tree.h"
#include "tests/support/staged_suite.h"

namespace {

using platform::kInvalidFileAttributes;

std::string Narrow(std::u16string_view text) { return platform::U16ToUtf8(text); }

#define EXPECT_SAME_PATH(actual, expected)                      \
  EXPECT_TRUE(platform::EqualsIgnoreCase((actual), (expected))) \
      << "actual:   " << Narrow(actual) << "\nexpected: " << Narrow(expected)

ResolverFacts MachineFacts() {
  platform::System* system = platform::System::Default();
  return {system->GetNativeArchitecture() == platform::kArchitectureAmd64, system->IsWow64Process(),
          4};
}

// Refuses the attributes of paths holding mark ("\??\": only the rewrite finds them), or error.
class Refusing : public platform::FileSystemWrapper {
 public:
  Refusing(platform::FileSystem* fs, std::u16string mark, uint32_t error = 0)
      : FileSystemWrapper(fs), mark_(std::move(mark)), error_(error) {}
  uint32_t GetFileAttributes(std::u16string_view path) override {
    if (path.find(mark_) == std::u16string_view::npos)
      return FileSystemWrapper::GetFileAttributes(path);
    if (error_ != 0) SetLastError(error_);
    return kInvalidFileAttributes;
  }
  std::u16string mark_;
  uint32_t error_;
};

class PathResolutionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.MakeFile(u"App Dir\\app.exe") && tree_.MakeFile(u"App Dir\\res.dll"));
  }
  void TearDown() override {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it)
      if (!tree_.fs()->DeleteFile(*it)) tree_.fs()->RemoveDirectory(*it);
  }

  PathResolver& resolver() { return resolver_; }
  const WindowsFolders& folders() { return resolver_.Folders(); }
  std::u16string MakeMachineFile(const std::u16string& folder, const std::u16string& rest) {
    const std::u16string path = folder + rest;
    platform::FileSystem* fs = tree_.fs();
    if (fs->GetFileAttributes(path) != kInvalidFileAttributes) return path;
    for (size_t i = 3; i < path.size(); ++i)
      if (path[i] == u'\\' && fs->GetFileAttributes(path.substr(0, i)) == kInvalidFileAttributes)
        made_.push_back(path.substr(0, i));
    EXPECT_TRUE(tree_.MakeFileAt(path)) << Narrow(path);
    made_.push_back(path);
    return path;
  }
  // The native system folder as the module reaches it (Sysnative under WOW64), as the system does.
  std::u16string SystemFolder() { return resolver_.NativeSystemFolder() + u"\\"; }
  std::u16string SystemDirectory() { return tree_.fs()->GetSystemDirectory() + u"\\"; }

  TempTree tree_;
  std::vector<std::u16string> made_;
  PathResolver resolver_{tree_.fs(), MachineFacts()};
  std::u16string name_ = UniqueName(u"regclean-test-");
  std::u16string app_ = tree_.Path(u"App Dir\\app.exe");
  std::u16string res_ = tree_.Path(u"App Dir\\res.dll");
};

#ifndef _WIN32
TEST_F(PathResolutionTest, FolderSetOfA64BitPrefixSeenByThe32BitModule) {
  const WindowsFolders& f = folders();
  EXPECT_EQ(Narrow(f.nativeSystemDir + u"\n" + f.systemDir + u"\n" + f.systemX86Dir + u"\n" +
                   f.programFilesDir + u"\n" + f.programFilesX86Dir + u"\n" + f.commonFilesDir +
                   u"\n" + f.commonFilesX86Dir + u"\n" + resolver().NativeSystemFolder()),
            "C:\\windows\\Sysnative\\\nC:\\windows\\system32\\\nC:\\windows\\syswow64\\\n"
            "C:\\Program Files\\\nC:\\Program Files (x86)\\\nC:\\Program Files\\Common Files\\\n"
            "C:\\Program Files (x86)\\Common Files\\\nC:\\windows\\Sysnative");
}

TEST_F(PathResolutionTest, A32BitPrefixHasOneViewAndNoFolderSet) {
  std::ofstream(tree_.prefix() + "/system.reg")
      << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n";
  ASSERT_EQ(platform::System::Default()->GetNativeArchitecture(), platform::kArchitectureIntel);
  PathResolver resolver(tree_.fs(), MachineFacts());
  EXPECT_FALSE(resolver.facts().is64BitOs);
  EXPECT_EQ(
      Narrow(resolver.Folders().systemX86Dir + resolver.Folders().programFilesX86Dir + u"|" +
             resolver.NativeSystemFolder() + u"|" + KnownFolderPath(platform::kCsidlSystemX86, 2) +
             u"|" + KnownFolderPath(platform::kCsidlProgramFiles, 2)),
      "|C:\\windows\\system32|C:\\windows\\system32|C:\\Program Files");

  // Without a second view a Program Files path is what it says, nothing more.
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\Program Files (x86)\\App\\a.exe"));
  std::u16string text = u"C:\\Program Files\\App\\a.exe";
  EXPECT_EQ(resolver.ViewAwareExists(&text, 2048, false), kInvalidFileAttributes);
  EXPECT_EQ(resolver.FileExistsResolved(&text, 2048, false), 0);
  text = u"System32\\" + name_ + u".dll";
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\system32\\" + name_ + u".dll"));
  EXPECT_EQ(resolver.FileExistsResolved(&text, 2048, false), 1);
  EXPECT_EQ(Narrow(text), Narrow(u"C:\\windows\\system32\\" + name_ + u".dll"));
}
#else
TEST_F(PathResolutionTest, FolderSetOfThe64BitWindowsThatRunsTheSuite) {
  const WindowsFolders& f = folders();
  ASSERT_TRUE(resolver().facts().is64BitOs);
  EXPECT_SAME_PATH(f.systemDir, platform::FileSystem::Default()->GetSystemDirectory() + u"\\");
  EXPECT_FALSE(platform::EqualsIgnoreCase(f.systemX86Dir, f.systemDir));
  EXPECT_NE(f.programFilesX86Dir.find(u" (x86)\\"), std::u16string::npos);
  EXPECT_EQ(f.programFilesDir.find(u" (x86)"), std::u16string::npos);
  EXPECT_SAME_PATH(f.commonFilesDir, f.programFilesDir + u"Common Files\\");

  // A 32-bit module under WOW64 reaches the native folders by other names.
  PathResolver under(tree_.fs(), ResolverFacts{true, true, 4});
  EXPECT_SAME_PATH(under.Folders().nativeSystemDir,
                   f.systemDir.substr(0, f.systemDir.size() - 9) + u"Sysnative\\");
  EXPECT_SAME_PATH(under.NativeSystemFolder(), under.Folders().nativeSystemDir.substr(
                                                   0, under.Folders().nativeSystemDir.size() - 1));
}
#endif

// As a file name or as a command (2: the program found behind its extension).
TEST_F(PathResolutionTest, EachWayOfWritingAPathFindsItsFile) {
  const WindowsFolders& f = folders();
  const std::u16string questionDrive = app_.substr(0, 1) + u"?" + app_.substr(2);
  const std::u16string dll = MakeMachineFile(SystemFolder(), name_ + u".dll");
  // "System32\" is the native system folder, "\SystemRoot\" the Windows folder this process sees.
  const std::u16string native = MakeMachineFile(SystemFolder(), u"drivers\\" + name_ + u"n.sys");
  const std::u16string own =
      MakeMachineFile(f.systemRootDir, u"System32\\drivers\\" + name_ + u"o.sys");
  const std::u16string tool = MakeMachineFile(SystemDirectory(), name_ + u"-tool.exe");
  const std::u16string resDll = MakeMachineFile(SystemDirectory(), name_ + u"-res.dll");
  // rundll32 itself exists; the verdict is about the library it loads.
  MakeMachineFile(f.systemRootDir, u"System32\\rundll32.exe");
  const std::u16string lib = MakeMachineFile(SystemDirectory(), name_ + u"-lib.dll");
  const std::u16string doc = u" \"C:\\" + name_ + u"\\doc.txt\"";
  const std::u16string x86App = MakeMachineFile(f.programFilesX86Dir, name_ + u"\\app.exe");
  const std::u16string common = MakeMachineFile(f.commonFilesX86Dir, name_ + u"\\c.dll");
  const std::u16string native64 = MakeMachineFile(f.programFilesDir, name_ + u"\\n.exe");
  // Under WOW64 a Framework path is found in Framework64.
  Refusing noNtFs(tree_.fs(), u"\\??\\");
  PathResolver noNt(&noNtFs, MachineFacts());
  PathResolver under(tree_.fs(), ResolverFacts{true, true, 4}),
      outside(tree_.fs(), ResolverFacts{true, false, 4});
  const std::u16string net = f.systemRootDir + u"Microsoft.NET\\";
  const std::u16string tool64 = MakeMachineFile(net, u"Framework64\\" + name_ + u"\\tool.exe");
  const std::u16string tool32 = MakeMachineFile(net, u"Framework\\" + name_ + u"\\only32.exe");
  const std::u16string written = net + u"Framework\\" + name_ + u"\\tool.exe";
  const struct {
    std::u16string text, found;  // found empty: not compared
    bool command = false;
    int result = 1;
    bool want64 = false;
    PathResolver* via = nullptr;  // null: the machine's own
    size_t capacity = 2048;       // what comes back is cut to capacity - 1; 0: not written
  } rows[] = {
      {u"\"" + app_ + u"\" -flag /other \"x\"", app_},
      {u" \t\"" + app_ + u"\"\r\n", app_},
      {app_ + u"\\0", app_},
      {questionDrive, app_},
      {u"\"" + questionDrive + u"\" /q", app_},
      {app_ + u" /S", app_},
      {app_ + u" D:data.txt", app_},
      {res_ + u",-5", res_},
      {app_ + u",1", app_},
      {u"%SystemRoot%\\System32\\" + name_ + u".dll", dll, false, 1, true},
      {u"\\SystemRoot\\System32\\drivers\\" + name_ + u"o.sys", own, false, 1, true},
      {u"\\systemroot\\System32\\drivers\\" + name_ + u"o.sys", own, false, 1, true},
      {u"SystemRoot\\System32\\drivers\\" + name_ + u"o.sys", own, false, 1, true},
      // A file only the native view holds (Sysnative or System32: not compared).
      {u"\\SystemRoot\\System32\\drivers\\" + name_ + u"n.sys", u"", false, 1, true},
      {u"System32\\drivers\\" + name_ + u"n.sys", native, false, 1, true},
      {u"\\System32\\drivers\\" + name_ + u"n.sys", native, false, 1, true},
      // Entries of one view found in the other; a 32-bit variable in a 64-bit entry.
      {f.programFilesDir + name_ + u"\\app.exe", x86App, false, 1, true},
      // Quoted, with its arguments: the program cut at ".exe", then its other view.
      {u"\"" + f.programFilesDir + name_ + u"\\app.exe\" \"%1\"", x86App, true, 2, true},
      {f.commonFilesDir + name_ + u"\\c.dll", common},
      {u"%ProgramFiles%\\" + name_ + u"\\n.exe", native64, false, 1, true},
      {name_ + u"-tool.exe", tool},  // on the search path
      {name_ + u"-tool.exe /quiet", tool, true, 2},
      {u"@%SystemRoot%\\System32\\" + name_ + u"-res.dll,-21787", resDll, true},
      {u"@" + res_ + u",-5", res_, true},
      {res_ + u",-5", res_, true},
      {app_ + u",0", app_, true},
      {u"@" + tree_.Path(u"gone.dll") + u",-5", u"", true, 0},
      {u"rundll32 " + res_ + u",Entry", res_, true},  // rundll32: its library
      {u"RUNDLL32.EXE " + res_ + u",Entry arguments, more", res_, true},
      {u"RunDll32.exe \"" + res_ + u"\",Entry", res_, true},
      {u"%SystemRoot%\\System32\\rundll32.exe " + res_ + u",Entry", res_, true},
      {folders().expandedRundll32Path + u" " + res_ + u",Entry", res_, true},
      {u"rundll32.exe " + name_ + u"-lib.dll,Entry", lib, true},
      {u"rundll32.exe " + name_ + u"-lib,Entry", lib, true},  // a ".dll" without extension
      {u"rundll32 " + res_.substr(0, res_.size() - 4) + u",Entry", res_, true},
      {u"rundll32.exe " + tree_.Path(u"gone.dll") + u",Entry", u"", true, 0},
      {u"rundll32.exe", u"", true, 0},
      {u"\"" + app_ + u"\"" + doc, app_, true, 2},  // behind the document, after all else
      {app_ + doc, app_, true, 2},
      {u"\"" + app_ + u"\" /S", app_, true, 1},
      {u"\\??\\" + app_, app_, false, 1, false, &noNt},
      {u"\\??\\\\SystemRoot\\System32\\drivers\\" + name_ + u"o.sys -start", own, false, 1, false,
       &noNt},
      {written, tool64, false, 1, false, &under},
      {written + u" /x", tool64, false, 1, false, &under},
      {tool32 + u" -install", tool32, false, 1, false, &under},
      {written, u"", false, 0, false, &outside},
      {u"\"" + app_ + u"\" /x", u"\"" + app_ + u"\" /x", false, 1, false, nullptr, 0},
      {u"\"" + app_ + u"\" /x", app_.substr(0, 10), false, 1, false, nullptr, 11},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    std::u16string text = row.text;
    PathResolver& r = row.via != nullptr ? *row.via : resolver();
    EXPECT_EQ(row.command ? r.ResolveCommandToFile(&text, row.capacity, row.want64, true)
                          : r.FileExistsResolved(&text, row.capacity, row.want64),
              row.result);
    if (!row.found.empty()) {
      EXPECT_SAME_PATH(text, row.found);
    }
  }
}

TEST_F(PathResolutionTest, ShortNamesResolveAndComeBackLong) {
  ASSERT_TRUE(tree_.MakeFile(u"Long Folder Name\\program file.exe"));
  auto shortName = [&](const std::u16string& folder, std::u16string_view name) {
    std::vector<platform::DirectoryEntry> entries;
    tree_.fs()->ListDirectory(folder, &entries);
    for (const platform::DirectoryEntry& entry : entries)
      if (entry.name == name) return entry.shortName;
    return std::u16string();
  };
  const std::u16string folderShort = shortName(tree_.root(), u"Long Folder Name");
  const std::u16string fileShort = shortName(tree_.Path(u"Long Folder Name"), u"program file.exe");
  if (folderShort.empty() || fileShort.empty()) GTEST_SKIP() << "this system keeps no 8.3 names";
  ASSERT_NE(folderShort.find(u'~'), std::u16string::npos);

  const std::u16string shortPath = tree_.Path(folderShort + u"\\" + fileShort);
  const std::u16string longPath = tree_.Path(u"Long Folder Name\\program file.exe");
  for (const std::u16string& original :
       {shortPath, u"\"" + shortPath + u"\" /x", shortPath + u" -x"}) {
    std::u16string text = original;
    EXPECT_EQ(resolver().FileExistsResolved(&text, 2048, false), 1) << Narrow(original);
    EXPECT_SAME_PATH(text, longPath);
  }
}

// The order each view tries the folders in ("Sysnative" a folder of its own, to see which won).
TEST_F(PathResolutionTest, EachViewTriesTheFoldersInItsOrder) {
  WindowsFolders set;
  set.nativeSystemDir = tree_.Path(u"W\\Sysnative\\");
  set.systemDir = tree_.Path(u"W\\System32\\");
  set.systemX86Dir = tree_.Path(u"W\\SysWOW64\\");
  set.programFilesDir = tree_.Path(u"PF\\");
  set.programFilesX86Dir = tree_.Path(u"PF86\\");
  set.commonFilesDir = tree_.Path(u"PF\\Common\\");
  set.commonFilesX86Dir = tree_.Path(u"PF86\\Common\\");
  PathResolver resolver(tree_.fs(), ResolverFacts{true, true, 4}, set);

  const struct {
    bool want64;
    const char16_t* path;
    std::vector<const char16_t*> existing;
    const char16_t* found;  // null: missing
  } cases[] = {
      {true, u"W\\System32\\1", {u"W\\Sysnative\\1", u"W\\System32\\1"}, u"W\\Sysnative\\1"},
      {true, u"W\\System32\\2", {u"W\\System32\\2"}, nullptr},
      {true, u"W\\SysWOW64\\3", {u"W\\SysWOW64\\3", u"W\\Sysnative\\3"}, u"W\\SysWOW64\\3"},
      {true, u"W\\SysWOW64\\4", {u"W\\Sysnative\\4"}, u"W\\Sysnative\\4"},
      {true, u"PF86\\App\\5", {u"PF\\App\\5"}, u"PF\\App\\5"},
      {true, u"PF86\\Common\\6", {u"PF\\Common\\6"}, u"PF\\Common\\6"},
      {true, u"PF\\App\\7", {u"PF86\\App\\7"}, nullptr},
      {false, u"W\\System32\\8", {u"W\\System32\\8", u"W\\SysWOW64\\8"}, u"W\\System32\\8"},
      {false, u"W\\System32\\9", {u"W\\SysWOW64\\9"}, u"W\\SysWOW64\\9"},
      {false, u"W\\System32\\10", {u"W\\Sysnative\\10"}, u"W\\Sysnative\\10"},
      {false, u"W\\Sysnative\\11", {u"W\\SysWOW64\\11"}, u"W\\SysWOW64\\11"},
      {false, u"W\\SysWOW64\\12", {u"W\\System32\\12"}, u"W\\System32\\12"},
      {false, u"PF\\App\\13", {u"PF86\\App\\13"}, u"PF86\\App\\13"},
      {false, u"PF\\Common\\14", {u"PF86\\Common\\14"}, u"PF86\\Common\\14"},
      {false, u"PF86\\App\\15", {u"PF\\App\\15"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    for (const char16_t* file : c.existing) ASSERT_TRUE(tree_.MakeFile(file));
    std::u16string path = tree_.Path(c.path);
    EXPECT_EQ(resolver.ViewAwareExists(&path, 2048, c.want64) != kInvalidFileAttributes,
              c.found != nullptr);
    EXPECT_EQ(Narrow(path), Narrow(tree_.Path(c.found ? c.found : c.path)));
  }

  // On a 32-bit system there is nothing else to try.
  PathResolver single(tree_.fs(), ResolverFacts{false, false, 4}, set);
  std::u16string path = tree_.Path(u"PF\\App\\13");
  EXPECT_EQ(single.ViewAwareExists(&path, 2048, false), kInvalidFileAttributes);
}

TEST_F(PathResolutionTest, CutArgumentsPeelsOneCandidateAtATime) {
  const std::u16string gone = tree_.Path(u"App Dir\\gone.exe");
  const struct {
    std::u16string text;
    int cuts;
    std::u16string result;
  } cases[] = {
      {app_ + u" /quiet", 1, app_},
      {app_ + u" -a /b", 1, app_},  // " -" is tried before " /"
      {app_ + u" /a -b", 2, app_},
      {app_ + u" -a -b -c", 3, app_},
      {app_ + u" X:data.txt", 1, app_},  // a second drive goes with its letter
      {app_ + u",D:", 2, app_},          // the drive, then ".exe,"
      {res_ + u",-101", 1, res_},
      {app_ + u",0", 1, app_},
      {u"   " + app_ + u" /q", 1, app_},
      {app_, 0, app_},
      {gone + u" /x -y", 2, gone + u" /x -y"},        // nothing exists: unchanged
      {gone, 0, gone},                                // the blank of "App Dir" is not behind
      {u"\"" + gone + u"\" rest", 1, gone},           // a quoted path is cut unseen
      {u"\"" + gone + u" rest", 0, gone + u" rest"},  // no closing quote
      {u"app.exe -x", 0, u"app.exe -x"},              // no folder at all
      {u"", 0, u""},
  };
  for (const auto& c : cases) {
    std::u16string text = c.text;
    EXPECT_EQ(resolver().CutArguments(&text), c.cuts) << Narrow(c.text);
    EXPECT_EQ(Narrow(text), Narrow(c.result)) << Narrow(c.text);
  }
}

TEST_F(PathResolutionTest, TextsWhoseEveryReadingIsMissingAreLeftAlone) {
  const WindowsFolders& f = folders();
  const std::u16string gone = u"C:\\" + name_ + u"\\app.exe";
  const std::u16string texts[] = {
      u"\"" + gone + u"\" /x -y",
      u"C?\\" + name_ + u"\\x.dll",
      u"%SystemRoot%\\" + name_ + u".dll",
      u"\\SystemRoot\\" + name_ + u".sys",
      u"System32\\" + name_ + u".dll",
      u"\\??\\\\SystemRoot\\" + name_ + u".sys -x",
      name_ + u".exe",
      u"C:\\PROGRA~9\\" + name_ + u"\\GONE~1.EXE",
      f.programFilesDir + name_ + u"\\x.exe",
      f.systemX86Dir + name_ + u".dll",
      f.frameworkDir + u"\\" + name_ + u"\\x.exe -y",
      tree_.Path(u"App Dir\\app.exe.gone"),
      u"%RegcleanNoSuchVariable%\\" + name_ + u".dll",
      u"@" + res_ + u",-5",  // not read as a command
      u"   ",
      u"",
  };
  PathResolver under(tree_.fs(), ResolverFacts{true, true, 4});
  for (const std::u16string& original : texts) {
    for (bool want64 : {false, true}) {
      std::u16string text = original;
      EXPECT_EQ(resolver().ResolveCommandToFile(&text, 2048, want64, false), 0) << Narrow(original);
      EXPECT_EQ(under.FileExistsResolved(&text, 2048, want64), 0) << Narrow(original);
      EXPECT_EQ(Narrow(text), Narrow(original)) << "neither call changes the text";
    }
  }
}

// No access, no drive, a text too long: "cannot tell", never missing; the doubt names the path.
TEST_F(PathResolutionTest, WhatCannotBeSeenIsNeverMissing) {
  Refusing unreadable(tree_.fs(), u"Locked", platform::kErrorAccessDenied);
  PathResolver resolver(&unreadable, MachineFacts());
  const std::u16string locked = tree_.Path(u"Locked\\app.exe");
  const struct {
    std::u16string text;
    bool command;
    uint32_t error;
    std::u16string doubt;
  } rows[] = {
      {locked, false, platform::kErrorAccessDenied, locked},
      {u"\"" + locked + u"\" /S", true, platform::kErrorAccessDenied, locked},
      {u"Q:\\Games\\game.exe", false, platform::kErrorNotReady, u"Q:\\"},
      {u"Q:\\Games\\game.exe -x C:\\x", true, platform::kErrorNotReady, u"Q:\\"},
      {u"\\\\rc-nowhere\\share\\x.dll", false, platform::kErrorNotReady,
       u"\\\\rc-nowhere\\share\\"},
      {u"C:\\" + std::u16string(32800, u'x'), false, platform::kErrorFilenameExcedRange,
       u"C:\\" + std::u16string(32800, u'x')},
  };
  if (tree_.fs()->GetLogicalDrives() & (1u << (u'Q' - u'A'))) GTEST_SKIP() << "a Q: drive";
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.text.substr(0, 80)));
    std::u16string text = row.text;
    const int result = row.command ? resolver.ResolveCommandToFile(&text, 0x10000, false, true)
                                   : resolver.FileExistsResolved(&text, 0x10000, false);
    EXPECT_EQ(result, kPathCannotTell);
    EXPECT_EQ(resolver.doubt().error, row.error);
    EXPECT_EQ(Narrow(resolver.doubt().path), Narrow(row.doubt));
    if (!row.command) {
      EXPECT_EQ(text, row.text);
    }
  }
  // What is missing beside them stays missing.
  std::u16string gone = tree_.Path(u"Gone\\app.exe");
  EXPECT_EQ(resolver.FileExistsResolved(&gone, 2048, false), kPathMissing);
  EXPECT_FALSE(resolver.doubt().set);
}

#ifndef _WIN32
TEST_F(PathResolutionTest, LongPathsAreLookedUpWhole) {
  std::u16string relative;
  while (relative.size() < 2192) relative += std::u16string(200, u'd') + u"\\";
  ASSERT_TRUE(tree_.MakeFile(relative + u"server.dll"));
  const std::u16string path = tree_.Path(relative + u"server.dll");
  std::u16string text = path;
  EXPECT_EQ(resolver().FileExistsResolved(&text, 0x10000, false), 1);
  text = u"\"" + path + u"\" /s";
  EXPECT_EQ(resolver().ResolveCommandToFile(&text, 0x10000, false, true), 1);
  EXPECT_EQ(Narrow(text), Narrow(path));
}
#endif

TEST_F(PathResolutionTest, WindowsFolderDerivedPathsAndTheModuleResolversFacts) {
  std::u16string systemRoot;
  ASSERT_TRUE(platform::GetEnvironmentVariable(u"SystemRoot", &systemRoot));
  EXPECT_EQ(Narrow(folders().systemRootDir), Narrow(systemRoot + u"\\"));
  EXPECT_SAME_PATH(folders().expandedRundll32Path, systemRoot + u"\\System32\\rundll32.exe");
  EXPECT_EQ(Narrow(KnownFolderPath(9999, 4) + KnownFolderPath(9999, 2)), "");
  SetPathResolverFacts(MachineFacts());
  std::u16string text = u"rundll32.exe " + res_ + u",Entry";
  EXPECT_EQ(ResolveCommandToFile(&text, 2048, false, true), 1);
  EXPECT_SAME_PATH(NativeSystemFolder(), resolver().NativeSystemFolder());
  text = app_ + u" /x";
  EXPECT_EQ(CutArguments(&text), 1);
  EXPECT_NE(ViewAwareExists(&text, 2048, false), kInvalidFileAttributes);
  // The next start-up looks the folders up again.
  SetPathResolverFacts(ResolverFacts{false, false, 0});
  EXPECT_EQ(Narrow(NativeSystemFolder()),
            Narrow(platform::FileSystem::Default()->GetSystemDirectory()));
  SetPathResolverFacts(MachineFacts());
}

}  // namespace
