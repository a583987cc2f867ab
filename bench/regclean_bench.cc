// The whole `regclean`, as a user runs it (the staged host loading the
// staged module in a process of its own), against the engine's check alone:
//  - on SharedDlls keys of 10,000, 100,000 and 1,000,000 values, half of
//    them naming files that are gone (folders of 1,000 files): the time
//    beyond the engine's check (loading, counting, progress, the report), on
//    the module's first check of the machine and on the next one, and
//    the cost per value, which must stay flat as the machine grows; the peak
//    memory of `check --json` against one load of the hive;
//  - a resolve of 10,000 and 100,000 such problems (a backup of each, then
//    its deletion);
//  - `check --json` of the demo prefix, first and later;
//  - on a hive of about 200 MB: the host's peak memory against one load of
//    the hive, and the speed of that load.
// REGCLEAN_BASE_STAGE names the stage folder of another build (the tree
// before a change) whose regclean then runs beside ours, in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/registry.h"
#include "tests/platform/demo_prefix.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPerFolder = 1000;
constexpr int kBigHiveCopies = 3200;  // 3200 x 65 KB: about 200 MB

// A new prefix whose SharedDlls key names count files
// "C:\Program Files\Common Files\Vendor NNN\Shared Lib NNNNNNN.Dll", of
// which problems are gone, spread evenly.
const bench::NamedFiles kSharedFiles{"Program Files/Common Files/Vendor %03d",
                                     "Shared Lib %07d.Dll", kPerFolder};
fs::path WriteSharedDllPrefix(int count, int problems) {
  const fs::path dir = bench::MakeTempPrefix("regclean");
  std::ofstream hive(dir / "system.reg", std::ios::binary);
  hive << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n"
       << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls] 1733000000\n"
       << "#time=1d9a0b0c0d0e0f0\n";
  for (int i = 0; i < count; ++i)
    hive << "\"" << kSharedFiles.WindowsName(i, true) << "\"=dword:00000001\n";
  static int64_t g_count, g_problems;
  g_count = count;
  g_problems = problems;
  kSharedFiles.Make(
      dir, count, [](int i) { return (i + 1) * g_problems / g_count != i * g_problems / g_count; });
  return dir;
}

// The same, made once per count.
const fs::path& SharedDllPrefix(int count, int problems) {
  static std::map<std::pair<int, int>, fs::path> prefixes;
  auto [at, added] = prefixes.try_emplace({count, problems});
  if (added) at->second = WriteSharedDllPrefix(count, problems);
  return at->second;
}

const fs::path& BigHivePrefix() {
  static const fs::path prefix = [] {
    const fs::path dir = bench::MakeTempPrefix("regclean-big");
    bench::WriteSampleHive(dir / "system.reg", kBigHiveCopies);
    return dir;
  }();
  return prefix;
}

// The regclean a run measures: ours, or the other build's.
std::string g_stage = REGCLEAN_STAGE_DIR;

// In a child: runs the staged `regclean --prefix P <args>` (its output
// dropped) and returns its peak memory in KB, or -1 when it did not end
// with a status up to okStatus. The child is a fresh program that has done
// nothing yet, so the peak that the kernel reports for its own child is
// regclean's.
int Regclean(const fs::path& prefix, std::vector<const char*> args, int okStatus) {
  const std::string regclean = g_stage + "/regclean";
  std::vector<const char*> argv = {regclean.c_str(), "--prefix", prefix.c_str()};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(regclean.c_str(), const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > okStatus)
    return -1;
  return static_cast<int>(usage.ru_maxrss);
}
int RegcleanCheck(const fs::path& prefix) { return Regclean(prefix, {"check"}, 1); }
int RegcleanCheckJson(const fs::path& prefix) { return Regclean(prefix, {"check", "--json"}, 1); }
int RegcleanResolve(const fs::path& prefix) {
  return Regclean(prefix, {"resolve", "--yes", "--json"}, 0);
}
// The other build's, when there is one.
int BaseRegcleanCheckJson(const fs::path& prefix) {
  if (const char* base = std::getenv("REGCLEAN_BASE_STAGE")) g_stage = base;
  return RegcleanCheckJson(prefix);
}
int BaseRegcleanResolve(const fs::path& prefix) {
  if (const char* base = std::getenv("REGCLEAN_BASE_STAGE")) g_stage = base;
  return RegcleanResolve(prefix);
}

// One load of the prefix's hives, as the module makes it.
int HiveLoad(const fs::path&) {
  platform::RegKeyInfo info;
  return static_cast<int>(
      platform::Registry::Default()->RegQueryInfoKeyW(platform::kHkeyLocalMachine, &info));
}

const bench::RegisterChildWork kRegclean("regclean-check", RegcleanCheck);
const bench::RegisterChildWork kRegcleanJson("regclean-check-json", RegcleanCheckJson);
const bench::RegisterChildWork kRegcleanResolve("regclean-resolve", RegcleanResolve);
const bench::RegisterChildWork kBaseJson("base-regclean-check-json", BaseRegcleanCheckJson);
const bench::RegisterChildWork kBaseResolve("base-regclean-resolve", BaseRegcleanResolve);
const bool kHaveBase = std::getenv("REGCLEAN_BASE_STAGE") != nullptr;
const bench::RegisterChildWork kLoad("hive-load", HiveLoad);

void BM_RegcleanCheckBeyondTheEngine(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const int problems = static_cast<int>(state.range(1));
  const fs::path& prefix = SharedDllPrefix(count, problems);  // built outside the timing
  bench::ChildResult first, host, engine, json, load, baseJson;
  for (auto _ : state) {
    // The module's first check on a machine made its folders and lists; a
    // paced display also expected a long run there (it had measured none).
    first = bench::RunInChild("regclean-check", prefix);
    host = bench::RunInChild("regclean-check", prefix);
    engine = bench::RunInChild("engine-check", prefix);
    json = bench::RunInChild("regclean-check-json", prefix);
    load = bench::RunInChild("hive-load", prefix);
    if (kHaveBase) baseJson = bench::RunInChild("base-regclean-check-json", prefix);
    state.SetIterationTime(host.seconds);
  }
  if (first.result < 0 || host.result < 0 || json.result < 0 || engine.result != problems)
    state.SkipWithError("regclean failed or the engine found another count");
  // The problems are spread evenly among the values (every second one at 1:2).
  state.counters["json_s"] = json.seconds;
  state.counters["json_peak_MB"] = json.result / 1024.0;
  state.counters["load_peak_MB"] = load.peakMb;
  state.counters["json_peak_over_load"] = json.result / 1024.0 / load.peakMb;
  if (kHaveBase) {
    state.counters["base_json_s"] = baseJson.seconds;
    state.counters["base_json_peak_MB"] = baseJson.result / 1024.0;
  }
  state.counters["first_regclean_s"] = first.seconds;
  state.counters["first_beyond_s"] = first.seconds - engine.seconds;
  state.counters["regclean_s"] = host.seconds;
  state.counters["engine_s"] = engine.seconds;
  state.counters["beyond_s"] = host.seconds - engine.seconds;
  state.counters["engine_us_per_value"] = engine.seconds * 1e6 / count;
  state.counters["regclean_peak_MB"] = host.result / 1024.0;
}
BENCHMARK(BM_RegcleanCheckBeyondTheEngine)
    ->Args({10000, 5000})
    ->Args({100000, 50000})
    ->Args({1000000, 500000})
    ->Args({1050000, 725500})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

// A resolve: each problem backed up to disk before it is deleted.
void BM_RegcleanResolve(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  bench::ChildResult ours, base;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path prefix = WriteSharedDllPrefix(count * 2, count);
    const fs::path other = kHaveBase ? WriteSharedDllPrefix(count * 2, count) : fs::path();
    state.ResumeTiming();
    ours = bench::RunInChild("regclean-resolve", prefix);
    if (kHaveBase) base = bench::RunInChild("base-regclean-resolve", other);
    state.SetIterationTime(ours.seconds);
  }
  if (ours.result < 0) state.SkipWithError("the resolve failed");
  state.counters["problems"] = count;
  state.counters["resolve_s"] = ours.seconds;
  state.counters["ms_per_1000"] = ours.seconds * 1e6 / count;
  if (kHaveBase) state.counters["base_resolve_s"] = base.seconds;
}
BENCHMARK(BM_RegcleanResolve)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

// `regclean check --json` of the demo prefix: its first check (which makes
// the module's folders, log and lists) and a later one.
void BM_RegcleanCheckDemo(benchmark::State& state) {
  bench::ChildResult first, later, baseFirst, baseLater;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path prefix = test_prefix::CopyDemoPrefix(bench::MakeTempPrefix("demo") / "pfx");
    const fs::path other =
        kHaveBase ? test_prefix::CopyDemoPrefix(bench::MakeTempPrefix("demo") / "pfx") : fs::path();
    state.ResumeTiming();
    first = bench::RunInChild("regclean-check-json", prefix);
    later = bench::RunInChild("regclean-check-json", prefix);
    if (kHaveBase) {
      baseFirst = bench::RunInChild("base-regclean-check-json", other);
      baseLater = bench::RunInChild("base-regclean-check-json", other);
    }
    state.SetIterationTime(later.seconds);
  }
  if (first.result < 0 || later.result < 0) state.SkipWithError("the check failed");
  state.counters["first_s"] = first.seconds;
  state.counters["later_s"] = later.seconds;
  if (kHaveBase) {
    state.counters["base_first_s"] = baseFirst.seconds;
    state.counters["base_later_s"] = baseLater.seconds;
  }
}
BENCHMARK(BM_RegcleanCheckDemo)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void BM_RegcleanCheckOfABigHive(benchmark::State& state) {
  const fs::path& prefix = BigHivePrefix();
  const double megabytes = static_cast<double>(fs::file_size(prefix / "system.reg")) / (1 << 20);
  bench::ChildResult host, load;
  for (auto _ : state) {
    host = bench::RunInChild("regclean-check", prefix);
    load = bench::RunInChild("hive-load", prefix);
    state.SetIterationTime(host.seconds);
  }
  if (host.result < 0 || load.result != 0) state.SkipWithError("regclean or the load failed");
  state.counters["hive_MB"] = megabytes;
  state.counters["regclean_peak_MB"] = host.result / 1024.0;
  state.counters["load_peak_MB"] = load.peakMb;
  state.counters["memory_ratio"] = host.result / 1024.0 / load.peakMb;
  state.counters["load_MB_per_s"] = megabytes / load.workSeconds;
}
BENCHMARK(BM_RegcleanCheckOfABigHive)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

}  // namespace
