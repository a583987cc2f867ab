// The shared DLL check on a large machine: a win64 prefix whose SharedDlls
// keys hold 100,000 values in each view, half of them naming files that are
// gone, named as real machines name them (blanks, "Program Files (x86)",
// mixed letter case). The engine's whole check (hive load, the counting pass, the scan with
// its log) against a lower bound: a program that loads the same hive,
// enumerates those values once and looks each named file up once. Each side
// runs in a child process of its own, so that its peak memory is its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/wineprefix/wine_prefix.h"

namespace {

namespace fs = std::filesystem;

constexpr int kValuesPerView = 100000;
constexpr int kPerFolder = 1000;
constexpr char16_t kNative[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr char16_t kWow[] =
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// "C:\Program Files\Common Files\Vendor NNN\Shared Lib NNNNNN.Dll" in
// the 64-bit view, the same below "Program Files (x86)" in the 32-bit one;
// the odd numbers are gone.
const bench::NamedFiles kFiles64{"Program Files/Common Files/Vendor %03d", "Shared Lib %06d.Dll",
                                 kPerFolder};
const bench::NamedFiles kFiles32{"Program Files (x86)/Common Files/Vendor %03d",
                                 "Shared Lib %06d.Dll", kPerFolder};
bool Odd(int i) { return i % 2 != 0; }

const fs::path& Prefix() {
  static const fs::path prefix = [] {
    const fs::path dir = bench::MakeTempPrefix("dlls");
    std::ofstream hive(dir / "system.reg", std::ios::binary);
    hive << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    for (const bench::NamedFiles* files : {&kFiles64, &kFiles32}) {
      hive << "\n[Software\\\\" << (files == &kFiles32 ? "Wow6432Node\\\\" : "")
           << "Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDlls] 1733000000\n"
           << "#time=1d9a0b0c0d0e0f0\n";
      for (int i = 0; i < kValuesPerView; ++i)
        hive << "\"" << files->WindowsName(i, true) << "\"=dword:00000001\n";
      files->Make(dir, kValuesPerView, Odd);
    }
    return dir;
  }();
  return prefix;
}

int LowerBound(const fs::path&) {
  platform::Registry& registry = *platform::Registry::Default();
  platform::FileSystem* fs = platform::FileSystem::Default();
  int missing = 0;
  for (const char16_t* path : {kNative, kWow}) {
    platform::HKey key;
    if (registry.RegOpenKeyExW(platform::kHkeyLocalMachine, path, 0,
                               platform::kKeyRead | platform::kKeyWow64_64Key, &key) != 0)
      continue;
    char16_t name[4096];
    for (uint32_t i = 0;; ++i) {
      uint32_t chars = 4096;
      if (registry.RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr) != 0) break;
      if (fs->GetFileAttributes(std::u16string_view(name, chars)) ==
          platform::kInvalidFileAttributes)
        ++missing;
    }
    registry.RegCloseKey(key);
  }
  return missing;
}

int Floor(const fs::path& prefix) {
  return bench::StatFloor(prefix, {{&kFiles64, kValuesPerView}, {&kFiles32, kValuesPerView}});
}

const bench::RegisterChildWork kFloor("dlls-floor", Floor);
const bench::RegisterChildWork kBound("dlls-bound", LowerBound);

void BM_SharedDllCheckAgainstLowerBound(benchmark::State& state) {
  const fs::path& prefix = Prefix();  // built outside the timing
  bench::ChildResult check, bound, floor;
  bench::AgainstFloor againstFloor;
  for (auto _ : state) {
    check = bench::RunInChild("engine-check", prefix);
    bound = bench::RunInChild("dlls-bound", prefix);
    floor = bench::RunInChild("dlls-floor", prefix);
    againstFloor.Add(check, floor);
    state.SetIterationTime(check.seconds);
  }
  if (check.result != kValuesPerView || bound.result != kValuesPerView ||
      floor.result != kValuesPerView)
    state.SkipWithError("the check, the lower bound and the floor disagree on the problems");
  state.counters["problems"] = check.result;
  // The check after its hive load against the floor of the same lookups.
  state.counters["scan_s"] = againstFloor.checkSeconds();
  state.counters["floor_s"] = againstFloor.floorSeconds();
  state.counters["scan_to_floor"] = againstFloor.ratio();
  state.counters["check_s"] = check.seconds;
  state.counters["bound_s"] = bound.seconds;
  state.counters["time_ratio"] = check.seconds / bound.seconds;
  state.counters["check_peak_MB"] = check.peakMb;
  state.counters["bound_peak_MB"] = bound.peakMb;
  state.counters["memory_ratio"] = check.peakMb / bound.peakMb;
}
BENCHMARK(BM_SharedDllCheckAgainstLowerBound)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

}  // namespace
