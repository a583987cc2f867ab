// A run's problems read back from the module's log: every scanner's lines, the last run only.
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

// A run in one line: found, mode, aborted, total; each category's name, count, named/kept.
std::string Summary(const RunLog& log) {
  std::string text = std::string(log.runFound ? "run " : "no run ") +
                     platform::U16ToAnsi(log.mode) + (log.aborted ? " aborted " : " ") +
                     std::to_string(log.total);
  for (const LoggedCategory& c : log.categories)
    text += " | " + platform::U16ToAnsi(c.name) + " " + std::to_string(c.count) + " " +
            std::to_string(c.named) + "/" + std::to_string(c.problems.size());
  return text;
}

TEST(RunLog, ReadsEveryScannersLinesOfTheLastRun) {
  RunLog log = ParseRunLog(kLog);
  EXPECT_EQ(Summary(log),
            "run Scan 9 | UninstallInvalidProblems 2 2/2 | SharedDllMissingProblems 2 2/2 | "
            "UnusedFileTypeExtensions 2 2/2 | UnusedExplorerFileExtensions 1 1/1 | "
            "InstallerFolderEmptyProblems 1 1/1 | InprocServer32Problems 1 1/1");
  // Category | key | value | missing, then the problem's line; short key forms take the last root.
  std::u16string found;
  for (const LoggedCategory& category : log.categories)
    for (const LoggedProblem& problem : category.problems)
      found += category.name + u" | " + problem.key + u" | " + problem.value + u" | " +
               problem.missing + u"\n  " + problem.line + u"\n";
  EXPECT_EQ(
      found,
      u"UninstallInvalidProblems | HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\PhotoTool | UninstallString"
      u" | \"C:\\Program Files\\PhotoTool\\uninst.exe\"\n"
      u"  Missing: \"C:\\Program Files\\PhotoTool\\uninst.exe\"\n"
      u"UninstallInvalidProblems | HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\OldGame | UninstallString"
      u" | C:\\OldGame\\unins000.exe\n  Missing: C:\\OldGame\\unins000.exe\n"
      u"SharedDllMissingProblems | HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls |  | C:\\a.dll\n"
      u"  Missing: C:\\a.dll\n"
      u"SharedDllMissingProblems | HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls |  | C:\\b.dll\n"
      u"  Missing: C:\\b.dll\n"
      u"UnusedFileTypeExtensions | HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.phtl |  | "
      u"PhotoTool.Image\n  Missing valid: PhotoTool.Image\n"
      u"UnusedFileTypeExtensions | HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.xyz |  | \n"
      u"  Missing Default Value\n"
      u"UnusedExplorerFileExtensions | HKEY_CURRENT_USER\\Software\\E\\FileExts\\.oldsave |  | "
      u".oldsave\n  Unused FileExt: \".oldsave\"\n"
      u"InstallerFolderEmptyProblems | HKEY_LOCAL_MACHINE\\SOFTWARE\\I\\Folders |  | "
      u"C:\\Program Files\\PhotoTool\\\n  Missing: C:\\Program Files\\PhotoTool\\\n"
      u"InprocServer32Problems | HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{6B}\\"
      u"InprocServer32 | (default) | C:\\Program Files\\PhotoTool\\phthumb.dll\n"
      u"  Missing: C:\\Program Files\\PhotoTool\\phthumb.dll\n");

  // Only the last run is kept; an abort is seen; what is no problem is not one.
  log = ParseRunLog(
      std::u16string(kLog) +
      u"2024-05-01 10:01:00,000 lv:06 -> Start: RegCleanerThread, mode: BackupAndClean\n"
      u"2024-05-01 10:01:00,001 lv:06 -> Start: WorkUninstallInvalidProblems\n"
      u"2024-05-01 10:01:00,002 lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\PhotoTool\n"
      u"2024-05-01 10:01:00,003 lv:07 -> Missing: C:\\x.exe\n"
      u"2024-05-01 10:01:00,004 lv:04 -> ABORTED: RegCleanerThread, found 1 problems total, "
      u"duration: 4 ms\n");
  // Stopped inside the category: no count of its own.
  ASSERT_EQ(Summary(log), "run BackupAndClean aborted 1 | UninstallInvalidProblems -1 1/1");
  EXPECT_EQ(log.categories[0].problems[0].missing, u"C:\\x.exe");
  // Problem-like lines outside a category, and text without a run.
  const RunLog none = ParseRunLog(
      u"2024-05-01 10:00:00,000 lv:07 -> Missing: C:\\before.dll\n"
      u"2024-05-01 10:00:00,000 lv:11 -> WhiteList ERROR, File: C:\\x\nno prefix at all\n");
  EXPECT_EQ(Summary(none), "no run  -1");
  EXPECT_EQ(CategoryHeading(u"SomethingNew"), u"SomethingNew");  // a name without a heading
}

// A log read from its file in pieces (lines straddling them, from an offset after an earlier
// run) gives what the whole text gives; its problems come back in order without being kept.
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
    ASSERT_EQ(Summary(log), "run Scan 30000 | SharedDllMissingProblems 30000 30000/0");
    size_t seen = 0;
    auto same = [&](size_t category, const LoggedProblem& problem) {
      const LoggedProblem& expected = whole.categories[0].problems[seen++];
      EXPECT_TRUE(category == 0 && problem.key == expected.key && problem.line == expected.line)
          << seen;
    };
    ASSERT_TRUE(ForEachLoggedProblem(tree.fs(), tree.Path(u"run.log"), from, log, same));
    EXPECT_EQ(seen, 30000u);
  }
  RunLog missing;
  EXPECT_FALSE(ReadRunLog(tree.fs(), tree.Path(u"none.log"), 0, &missing));
}

}  // namespace
}  // namespace regclean
