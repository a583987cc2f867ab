// Registry speed and memory: reading and saving a prefix hive of more than
// 100 MB (made of copies of a real wineboot system.reg), writing every key of
// it anew, and a depth-first walk by index over a million keys.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/bench_support.h"
#include "platform/wineprefix/hive_text.h"
#include "platform/wineprefix/memory_registry.h"
#include "platform/wineprefix/prefix_registry.h"

namespace {

namespace fs = std::filesystem;
using platform::HKey;
using platform::RegKeyInfo;

constexpr int kCopies = 1600;  // 1600 x 65 KB: about 105 MB

// Resident memory now: the tree lives on the heap and in mapped blocks.
double ResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
  return 0;
}
double PeakRssMb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;
}

// A prefix whose system.reg holds kCopies copies of the real sample.
const fs::path& BigPrefix() {
  static const fs::path prefix = [] {
    const fs::path dir = bench::MakeTempPrefix("registry");
    bench::WriteSampleHive(dir / "system.reg", kCopies);
    return dir;
  }();
  return prefix;
}

uint64_t FileSize(const fs::path& path) { return fs::file_size(path); }

void BM_PrefixHiveLoad(benchmark::State& state) {
  const fs::path& prefix = BigPrefix();
  const uint64_t size = FileSize(prefix / "system.reg");
  double heap = 0;
  for (auto _ : state) {
    const double before = ResidentMb();
    platform::posix::PrefixRegistry reg(prefix.string());
    RegKeyInfo info;
    reg.RegQueryInfoKeyW(platform::kHkeyLocalMachine, &info);  // reads system.reg
    heap = ResidentMb() - before;
    benchmark::DoNotOptimize(info);
  }
  state.SetBytesProcessed(static_cast<int64_t>(size * state.iterations()));
  state.counters["file_MB"] = static_cast<double>(size) / (1 << 20);
  state.counters["tree_MB"] = heap;
  state.counters["tree_per_file_byte"] = heap * (1 << 20) / static_cast<double>(size);
  state.counters["peak_rss_MB"] = PeakRssMb();
}
BENCHMARK(BM_PrefixHiveLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

// A run's worth of changes (a value in every 1000th key) saved to the file.
void BM_PrefixHiveSave(benchmark::State& state) {
  const fs::path& prefix = BigPrefix();
  platform::posix::PrefixRegistry reg(prefix.string());
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const uint32_t value = static_cast<uint32_t>(++round);
    for (int i = 0; i < kCopies; i += 2) {
      char path[96];
      std::snprintf(path, sizeof(path),
                    "Bench\\%05d\\Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT", i);
      const std::string narrow(path);
      HKey key;
      if (reg.RegOpenKeyExW(
              platform::kHkeyLocalMachine, std::u16string(narrow.begin(), narrow.end()), 0,
              platform::kKeyAllAccess | platform::kKeyWow64_64Key, &key) == platform::kRegSuccess) {
        reg.RegSetValueExW(key, u"BenchRound", platform::kRegDword,
                           reinterpret_cast<const uint8_t*>(&value), 4);
        reg.RegCloseKey(key);
      }
    }
    state.ResumeTiming();
    if (reg.Flush() != platform::kRegSuccess) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(FileSize(prefix / "system.reg") * state.iterations()));
  state.counters["peak_rss_MB"] = PeakRssMb();
}
BENCHMARK(BM_PrefixHiveSave)->Unit(benchmark::kMillisecond)->Iterations(3);

class NullSink : public platform::memory::HiveSink {
 public:
  bool Write(const char*, size_t size) override {
    bytes += size;
    return true;
  }
  uint64_t bytes = 0;
};

void TouchAll(platform::memory::Key* key) {
  key->flags |= platform::memory::kKeyDirty;
  for (auto& child : key->children) TouchAll(child.get());
}

// Every key written anew in Wine's layout: the writer's own speed.
void BM_HiveWriteEveryKey(benchmark::State& state) {
  const fs::path& prefix = BigPrefix();
  std::ifstream in(prefix / "system.reg", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  platform::memory::Key root;
  root.flags = platform::memory::kKeyHiveRoot;
  const auto read = platform::memory::ReadHive(text.str(), &root, "system.reg", 0);
  TouchAll(&root);
  uint64_t bytes = 0;
  for (auto _ : state) {
    NullSink sink;
    platform::memory::WriteHive(&root, "REGISTRY\\\\Machine", read.arch, 0, nullptr, &sink);
    bytes = sink.bytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
  state.counters["identical"] = bytes == text.str().size() ? 1 : 0;
}
BENCHMARK(BM_HiveWriteEveryKey)->Unit(benchmark::kMillisecond)->Iterations(3);

// The engine's walk: open, query, enumerate subkeys from the last index down,
// read every value, close.
uint64_t Walk(platform::Registry* reg, HKey parent, std::u16string_view name) {
  HKey key;
  if (reg->RegOpenKeyExW(parent, name, 0, platform::kKeyRead | platform::kKeyWow64_64Key, &key) !=
      platform::kRegSuccess) {
    return 0;
  }
  uint64_t keys = 1;
  RegKeyInfo info;
  reg->RegQueryInfoKeyW(key, &info);
  char16_t valueName[128];
  uint8_t data[1024];
  for (uint32_t i = 0; i < info.values; ++i) {
    uint32_t chars = 128, type = 0, bytes = sizeof(data);
    reg->RegEnumValueW(key, i, valueName, &chars, &type, data, &bytes);
  }
  char16_t child[256];
  for (uint32_t i = info.subKeys; i-- > 0;) {
    if (reg->RegEnumKeyW(key, i, child, 256) == platform::kRegSuccess) {
      keys += Walk(reg, key, child);
    }
  }
  reg->RegCloseKey(key);
  return keys;
}

void BM_WalkMillionKeys(benchmark::State& state) {
  platform::memory::MemoryRegistry reg;
  {
    std::string text = "WINE REGISTRY Version 2\n";
    char line[96];
    for (int a = 0; a < 100; ++a)
      for (int b = 0; b < 100; ++b)
        for (int c = 0; c < 100; ++c) {
          std::snprintf(line, sizeof(line),
                        "\n[Software\\\\Walk\\\\A%03d\\\\B%03d\\\\C%03d]\n\"Path\"=\"C:\\\\x\"\n",
                        a, b, c);
          text += line;
        }
    reg.LoadHiveText(platform::memory::kCurrentUserHive, text);
  }
  uint64_t keys = 0;
  for (auto _ : state) keys = Walk(&reg, platform::kHkeyCurrentUser, u"Software\\Walk");
  state.SetItemsProcessed(static_cast<int64_t>(keys * state.iterations()));
  state.counters["keys"] = static_cast<double>(keys);
  state.counters["ns_per_key"] =
      benchmark::Counter(static_cast<double>(keys * state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WalkMillionKeys)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
