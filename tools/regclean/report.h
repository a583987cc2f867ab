// What "regclean check" and "regclean resolve" print: the outcome of a run as
// text for a person and as JSON for scripts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/regclean/run_log.h"

namespace regclean {

struct RunOutcome {
  bool resolve = false;
  std::u16string title;
  std::u16string description;
  std::string machine;  // the Wine prefix folder; empty on Windows
  double level = 0.0;
  std::u16string text;
  std::u16string subResultsJson;  // as the module hands it out
  bool canceled = false;
  // The module said the run failed (a step could not be done safely, or it
  // could not prepare its folders); failures holds its causes.
  bool failed = false;
  std::vector<std::u16string> failures;
  std::string logFile;  // the run's log (host path); empty when none was found
  RunLog log;
  std::string backupFolder;  // resolve: the folder it wrote (host path); empty if none
};

// The heading lines: the title underlined, then the description wrapped to
// width columns.
std::string FormatHeading(const RunOutcome& outcome, int width);

// The result and the problems found, grouped by category.
std::string FormatResult(const RunOutcome& outcome);

// The whole outcome as one JSON object (with a line end).
std::string FormatJson(const RunOutcome& outcome);

// Text wrapped at blanks to lines of at most width columns (a longer word
// stands alone); the text's own line ends are kept.
std::string WrapText(std::string_view text, int width);

// Reads the module's verdict into outcome.failed and outcome.failures: a
// run failed when its level, or the level of a sub-result, is below 0; the
// texts of those sub-results are its causes.
void ReadFailures(RunOutcome* outcome);

// The number of problems the outcome reports: the sum of the logged
// categories' counts, else the problems found from the result level.
int ProblemCount(const RunOutcome& outcome);

}  // namespace regclean
