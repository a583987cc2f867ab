// What the benchmarks share: temporary Wine prefixes removed when the
// program ends, and work run in a fresh copy of the benchmark program (so
// that nothing the parent process loaded, such as the registry of another
// prefix, is shared) with its time and peak memory measured.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// A new win64-style prefix folder below /tmp with dosdevices/c: and z:, and
// an empty drive_c. Removed with all it holds when the program ends.
std::filesystem::path MakeTempPrefix(const char* name);

// Writes a system.reg holding copies of the real sample hive of the tests
// (65 KB each), each below its own Bench\NNNNN key so that the file stays in
// Wine's order.
void WriteSampleHive(const std::filesystem::path& file, int copies);

// Files that a benchmark's registry names, as real machines name them: below
// "Program Files", "Program Files (x86)" or "Common Files", with blanks and
// mixed letter case. File number i lies in folder i / perFolder; every third
// file is on disk in lower case only, so that its name as the registry holds
// it is found only through its folder's listing.
struct NamedFiles {
  const char* folder;  // below C:, '/' between names; printf pattern of the folder number
  const char* file;    // printf pattern of the file number
  int perFolder = 1000;

  // "C:\<folder>\<file>" (with every backslash doubled when escaped, as in a
  // hive or .reg file).
  std::string WindowsName(int i, bool escaped = false) const;
  // Where file i is (or would be) on disk below the prefix.
  std::filesystem::path DiskPath(const std::filesystem::path& prefix, int i) const;
  // Puts files 0..count-1 on disk, but for those gone(i) says are gone.
  void Make(const std::filesystem::path& prefix, int count, bool (*gone)(int)) const;
};

// The physical floor of looking count names of files up, as any program
// must: a plain loop that stats each file once and, for a name not there as
// written, looks for it in its folder's listing in any letter case, each
// folder listed once. Returns the names not found.
int StatFloor(const std::filesystem::path& prefix,
              const std::vector<std::pair<const NamedFiles*, int>>& lookups);

struct ChildResult {
  double seconds = 0;
  double peakMb = 0;
  int result = -1;  // what the work returned; -1 when the child failed
  // From the child's MarkWorkStart() (or the start of its work) to its end:
  // the part of the work after its setup, without the program's start.
  double workSeconds = 0;
};

// The work of a check against its floor over a benchmark's iterations, each
// run in children one after the other: the medians are reported, as one
// pair on a busy machine of two cores moves by a tenth or more.
class AgainstFloor {
 public:
  void Add(const ChildResult& check, const ChildResult& floor);
  double checkSeconds() const { return Median(checks_); }
  double floorSeconds() const { return Median(floors_); }
  // The median of the pairs' ratios: each pair saw the same machine.
  double ratio() const { return Median(ratios_); }

 private:
  static double Median(std::vector<double> samples);
  std::vector<double> checks_, floors_, ratios_;
};

// In a child: the work proper starts now (after a load it does not measure).
void MarkWorkStart();

// Work a child can run: it gets the prefix (already chosen as the
// process's Wine prefix) and returns a count.
using ChildWork = int (*)(const std::filesystem::path& prefix);

// Makes work known under name to children (at static initialisation).
struct RegisterChildWork {
  RegisterChildWork(const char* name, ChildWork work);
};

// Work every benchmark may run, as "engine-check": the engine's whole check
// of the prefix (Scan mode, all scanners, with its log), its work timed from
// after the hive load. Returns the problems found.
int EngineCheck(const std::filesystem::path& prefix);

// Runs the work registered as name in a fresh copy of this program.
ChildResult RunInChild(const char* name, const std::filesystem::path& prefix);

// In a child: runs its work and returns the exit status; -1 in the parent
// (the arguments ask for no child work).
int RunChildWork(int argc, char** argv);

}  // namespace bench
