// What "regclean check" and "regclean resolve" print: the outcome of a run as
// text for a person and as JSON for scripts.
#pragma once

#include <functional>
#include <ostream>
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

// Hands the problems of an outcome's run to a sink, in the log's order. The
// outcome's log holds the categories and their counts; the problems
// themselves may come from the log file again (a run's problems can be
// millions: they are written as they are read, never held).
using ProblemSource = std::function<void(const ProblemSink& sink)>;
// The problems outcome.log holds.
ProblemSource KeptProblems(const RunOutcome& outcome);

// The result and the problems found, grouped by category.
void WriteResult(const RunOutcome& outcome, const ProblemSource& problems, std::ostream& out);
std::string FormatResult(const RunOutcome& outcome);  // with the kept problems

// The whole outcome as one JSON object (with a line end).
void WriteJson(const RunOutcome& outcome, const ProblemSource& problems, std::ostream& out);
std::string FormatJson(const RunOutcome& outcome);  // with the kept problems

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
