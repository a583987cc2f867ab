// The whole `regclean check`, as a user runs it (the staged host loading the
// staged module in a process of its own), against the engine's check alone:
//  - on SharedDlls keys of 10,000, 100,000 and 1,000,000 values, half of
//    them naming files that are gone (folders of 1,000 files): the time
//    beyond the engine's check (loading, counting, progress, the report), on
//    the module's first check of the machine and on the next one, and
//    the cost per value, which must stay flat as the machine grows;
//  - on a hive of about 200 MB: the host's peak memory against one load of
//    the hive, and the speed of that load.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "bench/bench_support.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPerFolder = 1000;
constexpr int kBigHiveCopies = 3200;  // 3200 x 65 KB: about 200 MB

// A prefix whose SharedDlls key names count files "C:\Shared\dNNN\libNNNNNNN.dll";
// the even ones exist.
const fs::path& SharedDllPrefix(int count) {
  static std::map<int, fs::path> prefixes;
  auto [at, added] = prefixes.try_emplace(count);
  if (!added) return at->second;
  at->second = bench::MakeTempPrefix("regclean");
  const fs::path& dir = at->second;
  std::ofstream hive(dir / "system.reg", std::ios::binary);
  hive << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n"
       << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls] 1733000000\n"
       << "#time=1d9a0b0c0d0e0f0\n";
  for (int i = 0; i < count; ++i) {
    char folder[16], file[32];
    std::snprintf(folder, sizeof(folder), "d%03d", i / kPerFolder);
    std::snprintf(file, sizeof(file), "lib%07d.dll", i);
    hive << "\"C:\\\\Shared\\\\" << folder << "\\\\" << file << "\"=dword:00000001\n";
    if (i % 2 != 0) continue;
    const fs::path path = dir / "drive_c" / "Shared" / folder;
    if (i % kPerFolder == 0) fs::create_directories(path);
    std::ofstream(path / file).put('x');
  }
  return dir;
}

const fs::path& BigHivePrefix() {
  static const fs::path prefix = [] {
    const fs::path dir = bench::MakeTempPrefix("regclean-big");
    bench::WriteSampleHive(dir / "system.reg", kBigHiveCopies);
    return dir;
  }();
  return prefix;
}

// In a child: runs the staged `regclean --prefix P check` (its output
// dropped) and returns its peak memory in KB, or -1 when it did not end with
// 0 or 1. The child is a fresh program that has done nothing yet, so the
// peak that the kernel reports for its own child is regclean's.
int RegcleanCheck(const fs::path& prefix) {
  const std::string regclean = std::string(REGCLEAN_STAGE_DIR) + "/regclean";
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(regclean.c_str(), regclean.c_str(), "--prefix", prefix.c_str(), "check", nullptr);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
    return -1;
  return static_cast<int>(usage.ru_maxrss);
}

// One load of the prefix's hives, as the module makes it.
int HiveLoad(const fs::path&) {
  platform::RegKeyInfo info;
  return static_cast<int>(
      platform::Registry::Default()->RegQueryInfoKeyW(platform::kHkeyLocalMachine, &info));
}

const bench::RegisterChildWork kRegclean("regclean-check", RegcleanCheck);
const bench::RegisterChildWork kLoad("hive-load", HiveLoad);

void BM_RegcleanCheckBeyondTheEngine(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const fs::path& prefix = SharedDllPrefix(count);  // built outside the timing
  bench::ChildResult first, host, engine;
  for (auto _ : state) {
    // The module's first check on a machine expects a long run (it has
    // measured none), so its display climbs to 100 % more slowly; the next
    // one expects what it measured.
    first = bench::RunInChild("regclean-check", prefix);
    host = bench::RunInChild("regclean-check", prefix);
    engine = bench::RunInChild("engine-check", prefix);
    state.SetIterationTime(host.seconds);
  }
  if (first.result < 0 || host.result < 0 || engine.result != count / 2)
    state.SkipWithError("regclean failed or the engine found another count");
  state.counters["first_regclean_s"] = first.seconds;
  state.counters["first_beyond_s"] = first.seconds - engine.seconds;
  state.counters["regclean_s"] = host.seconds;
  state.counters["engine_s"] = engine.seconds;
  state.counters["beyond_s"] = host.seconds - engine.seconds;
  state.counters["engine_us_per_value"] = engine.seconds * 1e6 / count;
  state.counters["regclean_peak_MB"] = host.result / 1024.0;
}
BENCHMARK(BM_RegcleanCheckBeyondTheEngine)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

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
