// Reading a run's problems back from the module's log: every scanner's key
// and problem line forms, short forms resolved to the last root, the counts
// of the end lines, and only the last run of a log kept.
#include "tools/regclean/run_log.h"

#include <gtest/gtest.h>

#include "platform/system_text.h"
#include "tests/platform/temp_tree.h"

namespace regclean {
namespace {

constexpr char16_t kLog[] =
    u"2024-05-01 10:00:00,001 lv:03 -> Init: RegistryCleanerModule Version: 1.0.0.0612\r\n"
    u"2024-05-01 10:00:01,000 lv:06 -> Start: RegCleanerThread, mode: Scan\r\n"
    u"2024-05-01 10:00:01,001 lv:06 -> Start: WorkUninstallInvalidProblems\r\n"
    u"2024-05-01 10:00:01,002 lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\PhotoTool - Value: "
    u"UninstallString\r\n"
    u"2024-05-01 10:00:01,003 lv:07 -> Missing: \"C:\\Program Files\\PhotoTool\\uninst.exe\"\r\n"
    u"2024-05-01 10:00:01,004 lv:08 -> Key: .\\SOFTWARE\\U\\OldGame - Value: UninstallString\r\n"
    u"2024-05-01 10:00:01,005 lv:07 -> Missing: C:\\OldGame\\unins000.exe\r\n"
    u"2024-05-01 10:00:01,006 lv:06 -> Stop: WorkUninstallInvalidProblems, found 2 problems here, "
    u"scanned: 4, duration: 1 ms\r\n"
    u"2024-05-01 10:00:01,007 lv:06 -> Start: WorkSharedDllMissingProblems\r\n"
    u"2024-05-01 10:00:01,008 lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls\r\n"
    u"2024-05-01 10:00:01,009 lv:07 -> Missing: C:\\a.dll\r\n"
    u"2024-05-01 10:00:01,010 lv:07 -> Missing: C:\\b.dll\r\n"
    u"2024-05-01 10:00:01,011 lv:06 -> Stop: WorkSharedDllMissingProblems, found 2 problems here, "
    u"scanned: 5, duration: 0 ms\r\n"
    u"2024-05-01 10:00:01,012 lv:06 -> Start: WorkUnusedFileTypeExtensions\r\n"
    u"2024-05-01 10:00:01,013 lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.phtl\r\n"
    u"2024-05-01 10:00:01,014 lv:07 -> Missing valid: PhotoTool.Image\r\n"
    u"2024-05-01 10:00:01,015 lv:08 -> Key: ...\\SOFTWARE\\Classes\\.xyz\r\n"
    u"2024-05-01 10:00:01,016 lv:07 -> Missing Default Value\r\n"
    u"2024-05-01 10:00:01,017 lv:06 -> Stop: WorkUnusedFileTypeExtensions, found 2 problems here, "
    u"scanned: 9, duration: 0 ms\r\n"
    u"2024-05-01 10:00:01,018 lv:06 -> Start: WorkUnusedExplorerFileExtensions\r\n"
    u"2024-05-01 10:00:01,019 lv:08 -> Key: HKEY_CURRENT_USER\\Software\\E\\FileExts\\.oldsave\r\n"
    u"2024-05-01 10:00:01,020 lv:07 -> Unused FileExt: \".oldsave\"\r\n"
    u"2024-05-01 10:00:01,021 lv:06 -> Stop: WorkUnusedExplorerFileExtensions, found 1 problems "
    u"here, scanned: 3, duration: 0 ms\r\n"
    u"2024-05-01 10:00:01,022 lv:06 -> Start: WorkInstallerFolderEmptyProblems\r\n"
    u"2024-05-01 10:00:01,023 lv:08 -> in Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\I\\Folders\r\n"
    u"2024-05-01 10:00:01,024 lv:07 -> Missing: C:\\Program Files\\PhotoTool\\\r\n"
    u"2024-05-01 10:00:01,025 lv:06 -> Stop: WorkInstallerFolderEmptyProblems, found 1 problems "
    u"here, scanned: 2, duration: 0 ms\r\n"
    u"2024-05-01 10:00:01,026 lv:06 -> Start: WorkInprocServer32Problems\r\n"
    u"2024-05-01 10:00:01,027 lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{6B}"
    u"\\InprocServer32 - Value: (default)\r\n"
    u"2024-05-01 10:00:01,028 lv:07 -> Missing: C:\\Program Files\\PhotoTool\\phthumb.dll\r\n"
    u"2024-05-01 10:00:01,029 lv:06 -> Stop: WorkInprocServer32Problems, found 1 problems here, "
    u"scanned: 2, duration: 0 ms\r\n"
    u"2024-05-01 10:00:01,030 lv:06 -> Stop: RegCleanerThread, found 9 problems total, duration: "
    u"30 ms\r\n";

TEST(RunLog, ReadsEveryScannersLines) {
  const RunLog log = ParseRunLog(kLog);
  EXPECT_TRUE(log.runFound);
  EXPECT_EQ(log.mode, u"Scan");
  EXPECT_FALSE(log.aborted);
  EXPECT_EQ(log.total, 9);
  struct Expected {
    const char16_t* category;
    const char16_t* key;
    const char16_t* value;
    const char16_t* line;
    const char16_t* missing;
  } expected[] = {
      {u"UninstallInvalidProblems", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\PhotoTool",
       u"UninstallString", u"Missing: \"C:\\Program Files\\PhotoTool\\uninst.exe\"",
       u"\"C:\\Program Files\\PhotoTool\\uninst.exe\""},
      // The short form stands for the root of the long form before it.
      {u"UninstallInvalidProblems", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\OldGame", u"UninstallString",
       u"Missing: C:\\OldGame\\unins000.exe", u"C:\\OldGame\\unins000.exe"},
      // Further problems in the same key have only their own line.
      {u"SharedDllMissingProblems", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls", u"",
       u"Missing: C:\\a.dll", u"C:\\a.dll"},
      {u"SharedDllMissingProblems", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls", u"",
       u"Missing: C:\\b.dll", u"C:\\b.dll"},
      {u"UnusedFileTypeExtensions", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.phtl", u"",
       u"Missing valid: PhotoTool.Image", u"PhotoTool.Image"},
      {u"UnusedFileTypeExtensions", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.xyz", u"",
       u"Missing Default Value", u""},
      {u"UnusedExplorerFileExtensions", u"HKEY_CURRENT_USER\\Software\\E\\FileExts\\.oldsave", u"",
       u"Unused FileExt: \".oldsave\"", u".oldsave"},
      {u"InstallerFolderEmptyProblems", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\I\\Folders", u"",
       u"Missing: C:\\Program Files\\PhotoTool\\", u"C:\\Program Files\\PhotoTool\\"},
      {u"InprocServer32Problems",
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{6B}\\InprocServer32", u"(default)",
       u"Missing: C:\\Program Files\\PhotoTool\\phthumb.dll",
       u"C:\\Program Files\\PhotoTool\\phthumb.dll"},
  };
  std::vector<std::pair<std::u16string, LoggedProblem>> found;
  for (const LoggedCategory& category : log.categories) {
    for (const LoggedProblem& problem : category.problems)
      found.emplace_back(category.name, problem);
  }
  ASSERT_EQ(found.size(), std::size(expected));
  for (size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(found[i].first, expected[i].category);
    EXPECT_EQ(found[i].second.key, expected[i].key);
    EXPECT_EQ(found[i].second.value, expected[i].value);
    EXPECT_EQ(found[i].second.line, expected[i].line);
    EXPECT_EQ(found[i].second.missing, expected[i].missing);
  }
  ASSERT_EQ(log.categories.size(), 6u);
  const int counts[] = {2, 2, 2, 1, 1, 1};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(log.categories[i].count, counts[i]) << i;
}

TEST(RunLog, KeepsTheLastRunAndSeesAnAbort) {
  std::u16string text = kLog;
  text +=
      u"2024-05-01 10:01:00,000 lv:06 -> Start: RegCleanerThread, mode: BackupAndClean\n"
      u"2024-05-01 10:01:00,001 lv:06 -> Start: WorkUninstallInvalidProblems\n"
      u"2024-05-01 10:01:00,002 lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\PhotoTool\n"
      u"2024-05-01 10:01:00,003 lv:07 -> Missing: C:\\x.exe\n"
      u"2024-05-01 10:01:00,004 lv:04 -> ABORTED: RegCleanerThread, found 1 problems total, "
      u"duration: 4 ms\n";
  const RunLog log = ParseRunLog(text);
  EXPECT_EQ(log.mode, u"BackupAndClean");
  EXPECT_TRUE(log.aborted);
  EXPECT_EQ(log.total, 1);
  ASSERT_EQ(log.categories.size(), 1u);
  // Stopped inside the category: no end line, no count of its own.
  EXPECT_EQ(log.categories[0].count, -1);
  ASSERT_EQ(log.categories[0].problems.size(), 1u);
  EXPECT_EQ(log.categories[0].problems[0].missing, u"C:\\x.exe");
}

// A log read from its file a piece at a time (lines that straddle the
// pieces, from an offset, with an earlier run before it) gives what the
// whole text gives, and its problems come back in order without being kept.
TEST(RunLog, ReadFromTheFileInPiecesAsFromTheWholeText) {
  TempTree tree;
  ASSERT_TRUE(tree.ok());
  const std::string earlier = platform::U16ToAnsi(kLog);
  std::u16string run =
      u"2024-05-01 10:01:00,000 lv:06 -> Start: RegCleanerThread, mode: Scan\n"
      u"2024-05-01 10:01:00,001 lv:06 -> Start: WorkSharedDllMissingProblems\n"
      u"2024-05-01 10:01:00,002 lv:08 -> Key: HKEY_LOCAL_MACHINE\\S\\Dlls\n";
  for (int i = 0; i < 30000; ++i)  // about 1.6 MB: two pieces
    run += u"2024-05-01 10:01:00,003 lv:07 -> Missing: C:\\Program Files\\\u00e9\\" +
           platform::AnsiToU16(std::to_string(i)) + u".dll\r\n";
  run +=
      u"2024-05-01 10:01:00,004 lv:06 -> Stop: WorkSharedDllMissingProblems, found 30000 "
      u"problems here\n"
      u"2024-05-01 10:01:00,005 lv:06 -> Stop: RegCleanerThread, found 30000 problems total";
  ASSERT_TRUE(tree.MakeFile(u"run.log", earlier + platform::U16ToAnsi(run)));
  const RunLog whole = ParseRunLog(run);
  for (uint64_t from : {uint64_t{0}, uint64_t{earlier.size()}}) {
    RunLog log;
    ASSERT_TRUE(ReadRunLog(tree.fs(), tree.Path(u"run.log"), from, &log));
    EXPECT_EQ(log.total, 30000);
    ASSERT_EQ(log.categories.size(), 1u);
    EXPECT_EQ(log.categories[0].named, 30000);
    EXPECT_TRUE(log.categories[0].problems.empty());
    size_t seen = 0;
    ASSERT_TRUE(ForEachLoggedProblem(tree.fs(), tree.Path(u"run.log"), from, log,
                                     [&](size_t category, const LoggedProblem& problem) {
                                       const LoggedProblem& expected =
                                           whole.categories[0].problems[seen++];
                                       EXPECT_EQ(category, 0u);
                                       EXPECT_EQ(problem.key, expected.key);
                                       EXPECT_EQ(problem.line, expected.line);
                                     }));
    EXPECT_EQ(seen, 30000u);
  }
  RunLog missing;
  EXPECT_FALSE(ReadRunLog(tree.fs(), tree.Path(u"none.log"), 0, &missing));
}

TEST(RunLog, IgnoresWhatIsNoProblem) {
  // Problem-like lines outside a category, and text without a run.
  const RunLog log = ParseRunLog(
      u"2024-05-01 10:00:00,000 lv:07 -> Missing: C:\\before.dll\n"
      u"2024-05-01 10:00:00,000 lv:11 -> WhiteList ERROR, File: C:\\x\n"
      u"no prefix at all\n");
  EXPECT_FALSE(log.runFound);
  EXPECT_TRUE(log.categories.empty());
  EXPECT_EQ(log.total, -1);
  EXPECT_FALSE(ParseRunLog(u"").runFound);
  EXPECT_EQ(CategoryHeading(u"SomethingNew"), u"SomethingNew");  // a name without a heading
}

}  // namespace
}  // namespace regclean
