// What regclean prints for a run: the result and the problems by category
// (golden text), the JSON for scripts, wrapping and the progress line.
#include "tools/regclean/report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/json_value.h"
#include "tests/tools/staged_regclean.h"
#include "tools/regclean/progress_display.h"

namespace regclean {
namespace {

using testing::HasSubstr;
using testing::Not;

RunOutcome SampleOutcome() {
  RunOutcome outcome;
  outcome.title = u"Clean Registry";
  outcome.level = 5.196152422706632;
  outcome.text = u"3";
  outcome.subResultsJson = u"[]";
  outcome.logFile = "/p/drive_c/ProgramData/RegClean/RegCleanerDll/Log/x.log";
  outcome.log = ParseRunLog(
      u"a lv:06 -> Start: RegCleanerThread, mode: Scan\n"
      u"a lv:06 -> Start: WorkUninstallInvalidProblems\n"
      u"a lv:06 -> Stop: WorkUninstallInvalidProblems, found 0 problems here, scanned: 2\n"
      u"a lv:06 -> Start: WorkSharedDllMissingProblems\n"
      u"a lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls\n"
      u"a lv:07 -> Missing: C:\\a.dll\n"
      u"a lv:07 -> Missing: C:\\b.dll\n"
      u"a lv:06 -> Stop: WorkSharedDllMissingProblems, found 2 problems here, scanned: 4\n"
      u"a lv:06 -> Start: WorkUninstallInvalidProblems\n"
      u"a lv:08 -> Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\Gone - Value: UninstallString\n"
      u"a lv:07 -> Missing: C:\\gone\\u.exe\n"
      u"a lv:06 -> Stop: WorkUninstallInvalidProblems, found 1 problems here, scanned: 2\n");
  return outcome;
}

TEST(Report, ResultListsTheProblemsByCategory) {
  EXPECT_EQ(FormatResult(SampleOutcome()),
            "Result: 3 (level 5.20)\n"
            "Sub-results: none\n"
            "\n"
            "Shared DLL counters of missing files (SharedDllMissingProblems): 2\n"
            "  HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls\n"
            "      Missing: C:\\a.dll\n"
            "      Missing: C:\\b.dll\n"
            "\n"
            "Uninstall entries of programs that are gone (UninstallInvalidProblems): 1\n"
            "  HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\Gone  [value UninstallString]\n"
            "      Missing: C:\\gone\\u.exe\n"
            "\n"
            "3 problems found.\n"
            "Log: /p/drive_c/ProgramData/RegClean/RegCleanerDll/Log/x.log\n");
}

TEST(Report, ResultWithoutProblemsOrWithoutALog) {
  RunOutcome outcome;
  outcome.text = u"0";
  outcome.subResultsJson = u"[{\"SubResultLevel\":2.000000,\"SubResultText\":\"a\"}]";
  EXPECT_EQ(FormatResult(outcome),
            "Result: 0 (level 0.00)\nSub-results:\n  2.00  a\n\nNo problems found.\n");
  outcome.resolve = true;
  EXPECT_THAT(FormatResult(outcome), HasSubstr("Nothing needed fixing."));

  // Something was found (the level says so) but no log names it.
  outcome.resolve = false;
  outcome.level = 3.0;
  outcome.text = u"1";
  EXPECT_EQ(ProblemCount(outcome), -1);
  EXPECT_THAT(FormatResult(outcome), HasSubstr("left no log"));

  // A log level below 8 counts problems without naming them.
  RunOutcome quiet = SampleOutcome();
  quiet.log.categories[1].problems.clear();
  quiet.log.categories[1].named = 0;
  EXPECT_THAT(FormatResult(quiet),
              HasSubstr("(2 more not named in the log: its DebugLevel is below 8)"));
}

// A resolve's JSON read back and written compactly (the host's tests read a check's).
TEST(Report, JsonHoldsEveryPart) {
  RunOutcome outcome = SampleOutcome();
  outcome.resolve = true;
  outcome.backupFolder = "/p/Backups/2024";
  const auto compact = [&outcome] {
    const std::string text = FormatJson(outcome);
    JsonValue json;
    EXPECT_TRUE(ReadJson(text, &json) && text.find('\r') == std::string::npos) << text;
    std::u16string written;
    json.ToText(written);
    return Ansi(written);
  };
  const std::string written = compact();
  for (const char* part :
       {R"({"command":"resolve",)", R"("level":5.196152,"text":"3",)", R"("canceled":false,)",
        R"("categories":[{"name":"UninstallInvalidProblems",)",
        R"("count":0,"problems":[]},{"name":"SharedDllMissingProblems",)",
        R"("count":2,"problems":[{"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\S\\SharedDlls",)"
        R"("problem":"Missing: C:\\a.dll",)",
        R"("count":1,"problems":[{"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\U\\Gone",)"
        R"("value":"UninstallString","problem":"Missing: C:\\gone\\u.exe",)"
        R"("missing":"C:\\gone\\u.exe"}]}],"logFile":)",
        R"("backupFolder":"/p/Backups/2024"})"})
    EXPECT_THAT(written, HasSubstr(part));
  // A run without a log has a null one.
  outcome.logFile.clear();
  EXPECT_THAT(compact(), HasSubstr(R"("logFile":null,)"));
}

TEST(Report, WrapsAtBlanksAndFitsTheProgressLine) {
  EXPECT_EQ(WrapText("aaa bbb ccc ddd", 7), "aaa bbb\nccc ddd");
  EXPECT_EQ(WrapText("aaa bbb ccc", 8), "aaa bbb\nccc");
  EXPECT_EQ(WrapText("averyveryverylongword x", 5), "averyveryverylongword\nx");
  EXPECT_EQ(WrapText("one\n\ntwo three", 5), "one\n\ntwo\nthree");
  EXPECT_EQ(WrapText("", 10), "");
  // The progress line fits the width.
  EXPECT_EQ(ProgressLine("Start scan", 50.0, 65000, 80),
            "Start scan [####################....................]  50%  1:05");
  EXPECT_EQ(ProgressLine("Scan", 100.0, 1000, 40), "Scan [#####################] 100%  0:01");
  // Narrow terminals keep a bar of ten cells; out-of-range values are clamped.
  EXPECT_EQ(ProgressLine("Scan", 150.0, 0, 10), "Scan [##########] 100%  0:00");
  EXPECT_EQ(ProgressLine("Scan", -5.0, 0, 10), "Scan [..........]   0%  0:00");
}

}  // namespace
}  // namespace regclean
