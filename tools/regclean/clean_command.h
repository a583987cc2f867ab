// "regclean check", "regclean resolve" and "regclean restore": the registry
// cleaner module of the suite driven through its exports, as the real host
// drives it, on the machine chosen before (a Wine prefix on POSIX).
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace regclean {

struct RunOutcome;

extern const char kCheckUsage[];
extern const char kResolveUsage[];
extern const char kRestoreUsage[];

// Exit statuses of the three commands.
constexpr int kNothingFound = 0;
constexpr int kProblemsFound = 1;
constexpr int kFailed = 2;

struct CleanOptions {
  bool resolve = false;           // resolve instead of check
  bool json = false;              // the outcome as JSON on out, nothing else there
  bool yes = false;               // resolve without asking
  RunOutcome* outcome = nullptr;  // when set, receives what the run found, problems kept
};

// Makes this regclean the one that changes the machine for the rest of its
// run, waiting a short while for another one to end. False, with the reason
// written to err (prefixed by lead), when that did not happen.
bool HoldMachineForChanges(std::ostream& err, const char* lead = "regclean: ");

// Runs a check or a resolve. The module's title and description and the
// outcome go to out, the progress and errors to err; in is asked for the
// resolve's confirmation. Check: 0 nothing found, 1 problems found, 2 error
// or canceled. Resolve: 0 done, 2 error, canceled or refused.
int RunCheckOrResolve(const CleanOptions& options, std::istream& in, std::ostream& out,
                      std::ostream& err);

// Restores a resolve's backup folder (a host path): on POSIX every .reg file
// in it is imported into the prefix and saved; on Windows the folder's
// restore batch runs. 0 on success, 2 on any error.
int RunRestore(const std::string& folder, std::ostream& out, std::ostream& err);

}  // namespace regclean
