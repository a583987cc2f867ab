// What the benchmarks share: temporary Wine prefixes removed when the
// program ends, and work run in a fresh copy of the benchmark program (so
// that nothing the parent process loaded, such as the registry of another
// prefix, is shared) with its time and peak memory measured.
#pragma once

#include <filesystem>
#include <string>

namespace bench {

// A new win64-style prefix folder below /tmp with dosdevices/c: and z:, and
// an empty drive_c. Removed with all it holds when the program ends.
std::filesystem::path MakeTempPrefix(const char* name);

// Writes a system.reg holding copies of the real sample hive of the tests
// (65 KB each), each below its own Bench\NNNNN key so that the file stays in
// Wine's order.
void WriteSampleHive(const std::filesystem::path& file, int copies);

struct ChildResult {
  double seconds = 0;
  double peakMb = 0;
  int result = -1;  // what the work returned; -1 when the child failed
  // From the child's MarkWorkStart() (or the start of its work) to its end:
  // the part of the work after its setup, without the program's start.
  double workSeconds = 0;
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
