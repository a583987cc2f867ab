// "regclean prefixes", "regclean check --all" and "regclean resolve --all":
// every Wine prefix of the user at once. Each prefix is checked or resolved
// by a copy of regclean of its own ("regclean --prefix P check --json"), a
// few at a time, so that a prefix that is damaged, unreadable or busy costs
// only its own line.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace regclean {

extern const char kPrefixesUsage[];

// Lists the prefixes found in folders (the usual places when empty): path,
// kind and name, size of the hives, whether a wineserver runs on it. 0; 2
// when a folder given is not there.
int RunPrefixes(const std::vector<std::string>& folders, std::ostream& out, std::ostream& err);

struct AllOptions {
  bool resolve = false;
  bool json = false;
  bool yes = false;
  unsigned jobs = 0;                 // prefixes at a time; 0: one per processor
  std::vector<std::string> folders;  // where to look; empty: the usual places
};

// Checks or resolves every prefix found, jobs at a time, with one progress
// line on err, then prints a table (or, with json, one JSON document) on out.
// Check: 0 nothing found anywhere, 1 problems, 2 when any prefix failed.
// Resolve: asks once (unless yes), skips every prefix a wineserver runs on,
// ends with the restore command of each prefix that changed; 0 when every
// prefix was resolved, 2 when any failed or was skipped. A folder given that
// is not there is an error (2) before anything runs.
int RunAllPrefixes(const AllOptions& options, std::istream& in, std::ostream& out,
                   std::ostream& err);

}  // namespace regclean
