// Resolutions per second of registry texts, and what each costs in calls of
// the file-system seam, on a 64-bit Wine-prefix-like tree (the module as a
// 32-bit program under WOW64, so both views are tried). The counters give the
// calls per resolution: attribute lookups, long-name calls and search-path
// calls.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "platform/file_system.h"
#include "platform/unicode.h"
#ifndef _WIN32
#include "platform/wineprefix/wine_prefix.h"
#endif

namespace {

class CountingFileSystem : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  uint32_t GetFileAttributes(std::u16string_view path) override {
    ++attributes;
    return FileSystemWrapper::GetFileAttributes(path);
  }
  bool GetLongPathName(std::u16string_view path, std::u16string* longPath) override {
    ++longNames;
    return FileSystemWrapper::GetLongPathName(path, longPath);
  }
  bool SearchPath(std::u16string_view folders, std::u16string_view fileName,
                  std::u16string_view extension, std::u16string* found) override {
    ++searches;
    return FileSystemWrapper::SearchPath(folders, fileName, extension, found);
  }
  void Reset() { attributes = longNames = searches = 0; }

  int64_t attributes = 0;
  int64_t longNames = 0;
  int64_t searches = 0;
};

// The machine: a temporary prefix on POSIX, a folder of %TEMP% on Windows.
struct Machine {
  Machine() {
    std::random_device random;
    const std::string name = "regclean-bench-" + std::to_string(random());
#ifndef _WIN32
    namespace fs = std::filesystem;
    prefix = (fs::temp_directory_path() / name).string();
    fs::create_directories(prefix + "/dosdevices");
    fs::create_directories(prefix + "/drive_c/windows/system32");
    fs::create_directory_symlink("../drive_c", prefix + "/dosdevices/c:");
    fs::create_directory_symlink("/", prefix + "/dosdevices/z:");
    platform::posix::SetPrefixDirectory(prefix);
    root = u"C:\\Bench";
#else
    root = platform::Utf8ToU16(std::filesystem::temp_directory_path().string()) + u"\\" +
           platform::Utf8ToU16(name);
#endif
    platform::FileSystem* files = platform::FileSystem::Default();
    for (const std::u16string& folder : {root, root + u"\\App Dir", root + u"\\Lib"})
      files->CreateDirectory(folder);
    platform::WriteWholeFile(files, root + u"\\App Dir\\app.exe", "x");
    platform::WriteWholeFile(files, root + u"\\Lib\\lib.dll", "x");
    platform::WriteWholeFile(files, u"C:\\windows\\system32\\rundll32.exe", "x");
  }
  ~Machine() {
#ifndef _WIN32
    std::error_code error;
    std::filesystem::remove(prefix + "/dosdevices/c:", error);
    std::filesystem::remove(prefix + "/dosdevices/z:", error);
    std::filesystem::remove_all(prefix, error);
#endif
  }
  std::string prefix;
  std::u16string root;
};

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

enum Kind { kExisting, kQuoted, kRundll32, kMissing, kMissingWithArguments };

std::u16string TextOf(Kind kind) {
  const std::u16string& root = TheMachine().root;
  switch (kind) {
    case kExisting:
      return root + u"\\App Dir\\app.exe";
    case kQuoted:
      return u"\"" + root + u"\\App Dir\\app.exe\" /S -uninstall";
    case kRundll32:
      return u"rundll32.exe \"" + root + u"\\Lib\\lib.dll\",Entry 1";
    case kMissing:
      return root + u"\\Gone\\gone.exe";
    case kMissingWithArguments:
      return root + u"\\Gone\\gone.exe /S -uninstall";
  }
  return {};
}

void Report(benchmark::State& state, const CountingFileSystem& fs) {
  using benchmark::Counter;
  state.counters["attr_lookups"] =
      Counter(static_cast<double>(fs.attributes), Counter::kAvgIterations);
  state.counters["long_names"] =
      Counter(static_cast<double>(fs.longNames), Counter::kAvgIterations);
  state.counters["searches"] = Counter(static_cast<double>(fs.searches), Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
}

// range(0): the kind of text; range(1): the caller's capacity (0: existence
// only, the found path is not handed back).
void BM_Resolve(benchmark::State& state) {
  const Kind kind = static_cast<Kind>(state.range(0));
  const size_t capacity = static_cast<size_t>(state.range(1));
  TheMachine();
  CountingFileSystem fs(platform::FileSystem::Default());
  PathResolver resolver(&fs, ResolverFacts{true, true, 2});
  resolver.Folders();
  const std::u16string original = TextOf(kind);
  const bool command = kind == kQuoted || kind == kRundll32;
  fs.Reset();
  for (auto _ : state) {
    std::u16string text = original;
    benchmark::DoNotOptimize(command ? resolver.ResolveCommandToFile(&text, capacity, false, true)
                                     : resolver.FileExistsResolved(&text, capacity, false));
  }
  Report(state, fs);
}

// A mix as a scan meets it: mostly existing paths and commands, some missing.
void BM_ResolveMix(benchmark::State& state) {
  TheMachine();
  CountingFileSystem fs(platform::FileSystem::Default());
  PathResolver resolver(&fs, ResolverFacts{true, true, 2});
  resolver.Folders();
  const Kind mix[] = {kExisting, kExisting, kExisting, kQuoted,
                      kQuoted,   kRundll32, kMissing,  kMissingWithArguments};
  std::u16string texts[8];
  for (int i = 0; i < 8; ++i) texts[i] = TextOf(mix[i]);
  fs.Reset();
  size_t i = 0;
  for (auto _ : state) {
    const size_t k = i++ & 7;
    std::u16string text = texts[k];
    const bool command = mix[k] == kQuoted || mix[k] == kRundll32;
    benchmark::DoNotOptimize(command ? resolver.ResolveCommandToFile(&text, 2048, false, true)
                                     : resolver.FileExistsResolved(&text, 2048, false));
  }
  Report(state, fs);
}

BENCHMARK(BM_Resolve)
    ->ArgNames({"kind", "capacity"})
    ->Args({kExisting, 0})
    ->Args({kExisting, 2048})
    ->Args({kQuoted, 2048})
    ->Args({kRundll32, 2048})
    ->Args({kMissing, 2048})
    ->Args({kMissingWithArguments, 2048});
BENCHMARK(BM_ResolveMix);

}  // namespace

#ifndef _WIN32
namespace {

// Lookups in a folder of range(0) files that another program keeps changing
// (a downloads or cache folder beside a program), against the same lookups
// while it is still: 2,000 names, each written in other letter case than on
// disk (found only through the folder's listing), half of them there.
constexpr int kLookups = 2000;

void LookUp(const std::u16string& folder, benchmark::State& state) {
  platform::FileSystem* fs = platform::FileSystem::Default();
  int found = 0;
  for (int i = 0; i < kLookups; ++i) {
    const std::u16string name =
        folder + u"\\DOWNLOAD " +
        platform::Utf8ToU16(std::to_string(i * 2 * state.range(0) / (2 * kLookups))) + u".PART";
    if (fs->GetFileAttributes(name) != platform::kInvalidFileAttributes) ++found;
  }
  benchmark::DoNotOptimize(found);
}

void BM_LookupsInAChangingFolder(benchmark::State& state) {
  namespace stdfs = std::filesystem;
  const int files = static_cast<int>(state.range(0));
  const stdfs::path dir = bench::MakeTempPrefix("busy") / "drive_c" / "Downloads";
  stdfs::create_directories(dir);
  for (int i = 0; i < files; i += 2)
    std::ofstream(dir / ("download " + std::to_string(i) + ".part")).put('x');
  platform::posix::SetPrefixDirectory(dir.parent_path().parent_path().string());
  const std::u16string folder = u"C:\\Downloads";
  double still = 0, busy = 0;
  size_t readsStill = 0, readsBusy = 0;
  for (auto _ : state) {
    // Still: the folder has not changed for a while.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    size_t before = platform::posix::FolderReadCount();
    auto start = std::chrono::steady_clock::now();
    LookUp(folder, state);
    still = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    readsStill = platform::posix::FolderReadCount() - before;
    // Busy: another program adds and removes files there all the time.
    std::atomic<bool> done{false};
    std::thread writer([&] {
      for (int n = 0; !done; ++n) {
        const stdfs::path file = dir / ("incoming " + std::to_string(n) + ".tmp");
        std::ofstream(file).put('x');
        if (n % 2 == 1) stdfs::remove(file);
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    before = platform::posix::FolderReadCount();
    start = std::chrono::steady_clock::now();
    LookUp(folder, state);
    busy = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    readsBusy = platform::posix::FolderReadCount() - before;
    done = true;
    writer.join();
    state.SetIterationTime(busy);
  }
  state.counters["still_s"] = still;
  state.counters["busy_s"] = busy;
  state.counters["busy_to_still"] = busy / still;
  state.counters["folder_reads_still"] = static_cast<double>(readsStill);
  state.counters["folder_reads_busy"] = static_cast<double>(readsBusy);
}
BENCHMARK(BM_LookupsInAChangingFolder)
    ->Arg(30000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

}  // namespace
#endif
