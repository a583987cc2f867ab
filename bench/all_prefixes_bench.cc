// Every prefix at once: 50 copies of the demo prefix checked by
// "regclean check --all -j 2" against 50 single "regclean --prefix P check"
// runs one after the other, in the same run, after a first check of every
// copy; the counter "ratio" is the sequential time over the parallel one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host.h"
#include "tests/platform/demo_prefix.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPrefixes = 50;

// The folder with the copies, removed when the program ends (kept for the
// whole program, so that the removal at exit still finds its name).
const fs::path& Copies() {
  static const fs::path& folder = *new fs::path([] {
    std::string pattern = "/tmp/regclean-bench-all.XXXXXX";
    const fs::path dir = mkdtemp(pattern.data());
    for (int i = 0; i < kPrefixes; ++i) {
      test_prefix::CopyDemoPrefix(dir / ("game" + std::to_string(i)) / "pfx");
    }
    if (std::getenv("REGCLEAN_BENCH_KEEP") == nullptr) {
      std::atexit([] {
        std::error_code ignored;
        for (int i = 0; i < kPrefixes; ++i) {
          const fs::path prefix = Copies() / ("game" + std::to_string(i)) / "pfx";
          fs::remove(prefix / "dosdevices/c:", ignored);
          fs::remove(prefix / "dosdevices/z:", ignored);
        }
        fs::remove_all(Copies(), ignored);
      });
    }
    return dir;
  }());
  return folder;
}

// Runs the staged regclean; its seconds, or -1 when it failed.
double Regclean(const std::vector<std::string>& args, int expected) {
  std::vector<std::string> command = {REGCLEAN_STAGE_DIR "/regclean"};
  command.insert(command.end(), args.begin(), args.end());
  platform::HostRun run;
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  if (!platform::RunHostProgram(command, &run, &error) || run.exitCode != expected) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CheckFiftyPrefixes(benchmark::State& state) {
  const fs::path& copies = Copies();
  // A prefix's first check also makes the module's folders, log and lists
  // there: that is done once for every copy before anything is timed.
  if (Regclean({"check", "--all", "--json", copies.string()}, 1) < 0) {
    state.SkipWithError("the first check --all failed");
    return;
  }
  for (auto _ : state) {
    double sequential = 0;
    for (int i = 0; i < kPrefixes; ++i) {
      const double seconds = Regclean(
          {"--prefix", (copies / ("game" + std::to_string(i)) / "pfx").string(), "check", "--json"},
          1);
      if (seconds < 0) {
        state.SkipWithError("a single check failed");
        return;
      }
      sequential += seconds;
    }
    const double parallel = Regclean({"check", "--all", "-j", "2", "--json", copies.string()}, 1);
    if (parallel < 0) {
      state.SkipWithError("check --all failed");
      return;
    }
    state.SetIterationTime(parallel);
    state.counters["sequential_s"] = sequential;
    state.counters["all_j2_s"] = parallel;
    state.counters["ratio"] = sequential / parallel;
  }
}
BENCHMARK(BM_CheckFiftyPrefixes)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
