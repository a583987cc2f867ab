// The uninstall, COM server and installer component checks on a large win64
// prefix: 20,000 COM classes, 5,000 uninstall entries and 10,000 installer
// components (and four times as many), a fifth of them naming files that are
// gone, in folders of 1,000 files. The engine's whole check (hive load, the
// counting pass, the seven scanners with their log) against a lower bound:
// the same registry walk with one attribute lookup per named file. Each side
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
#include <map>
#include <string>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "platform/file_system.h"
#include "platform/posix/wine_prefix.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

constexpr int kClasses = 20000;
constexpr int kUninstall = 5000;
constexpr int kComponents = 10000;
constexpr int kPerFolder = 1000;

struct Kind {
  const char* folder;  // below C:\Apps
  const char* file;    // printf pattern of the file name
  int count;
};
const Kind kKinds[] = {{"c", "lib%06d.dll", kClasses},
                       {"u", "unins%06d.exe", kUninstall},
                       {"k", "key%06d.txt", kComponents}};

bool Stale(int i) { return i % 5 == 4; }

// "C:\Apps\<kind><NNN>\<file>", with the hive's doubled backslashes.
std::string FileName(const Kind& kind, int i, bool escaped) {
  const char* sep = escaped ? "\\\\" : "\\";
  char file[32], name[96];
  std::snprintf(file, sizeof(file), kind.file, i);
  std::snprintf(name, sizeof(name), "C:%sApps%s%s%03d%s%s", sep, sep, kind.folder, i / kPerFolder,
                sep, file);
  return name;
}

fs::path MakePrefix(int scale) {
  char pattern[] = "/tmp/regclean-bench-keys.XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  fs::create_directories(dir / "dosdevices");
  fs::create_symlink("../drive_c", dir / "dosdevices" / "c:");
  fs::create_symlink("/", dir / "dosdevices" / "z:");
  std::ofstream hive(dir / "system.reg", std::ios::binary);
  hive << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
  char key[160];
  for (int i = 0; i < kClasses * scale; ++i) {
    std::snprintf(key, sizeof(key), "Software\\\\Classes\\\\CLSID\\\\{%08X-0000-4000-8000-%012X}",
                  i, i);
    hive << "\n[" << key << "] 1733000000\n@=\"Class\"\n\n[" << key
         << "\\\\InprocServer32] 1733000000\n@=\"" << FileName(kKinds[0], i, true)
         << "\"\n\"ThreadingModel\"=\"Both\"\n";
  }
  for (int i = 0; i < kUninstall * scale; ++i)
    hive << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App" << i
         << "] 1733000000\n\"DisplayName\"=\"App\"\n\"UninstallString\"=\"\\\""
         << FileName(kKinds[1], i, true) << "\\\" /uninstall\"\n";
  for (int i = 0; i < kComponents * scale; ++i) {
    std::snprintf(key, sizeof(key), "%032X", i);
    hive << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Installer\\\\UserData\\\\S-1-"
            "5-18\\\\Components\\\\"
         << key << "] 1733000000\n\"00000000000000000000000000000001\"=\""
         << FileName(kKinds[2], i, true) << "\"\n";
  }
  for (const Kind& kind : kKinds) {
    for (int i = 0; i < kind.count * scale; ++i) {
      if (Stale(i)) continue;
      char folder[16], file[32];
      std::snprintf(folder, sizeof(folder), "%s%03d", kind.folder, i / kPerFolder);
      std::snprintf(file, sizeof(file), kind.file, i);
      const fs::path path = dir / "drive_c" / "Apps" / folder;
      if (i % kPerFolder == 0) fs::create_directories(path);
      std::ofstream(path / file).put('x');
    }
  }
  return dir;
}

const fs::path& Prefix(int scale) {
  static std::map<int, fs::path> prefixes;
  auto it = prefixes.find(scale);
  if (it == prefixes.end()) {
    if (prefixes.empty())
      std::atexit([] {
        std::error_code ignored;
        for (const auto& [_, path] : prefixes) fs::remove_all(path, ignored);
      });
    it = prefixes.emplace(scale, MakePrefix(scale)).first;
  }
  return it->second;
}

struct ChildResult {
  double seconds = 0;
  double peakMb = 0;
  int problems = -1;
};

template <typename Work>
ChildResult InChild(const fs::path& prefix, Work work) {
  const fs::path out = prefix / "result.txt";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    // The prefix's registry, loaded once in the child as the module has it.
    platform::posix::SetPrefixDirectory(prefix.string());
    platform::Registry::Default();
    const int problems = work(prefix);
    std::ofstream(out) << problems;
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  ChildResult result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.peakMb = static_cast<double>(usage.ru_maxrss) / 1024;
  std::ifstream(out) >> result.problems;
  return result;
}

int EngineCheck(const fs::path& prefix) {
  InitPlatformFacts();
  SetPathResolverFacts(ResolverFacts{Is64BitOs, IsWow64, OsLevel});
  MyLogfile log(("Z:" + (prefix / "check.log").string()).c_str(), 0x400000,
                MyLogfile::kCloseAfterWrite, 0xc800000);
  SetEngineLog(&log);
  RegCleanerEngine engine;
  engine.mode = Scan;
  TotalKeyCount = 0;
  const auto problems = static_cast<int>(RegCleanerThread(&engine));
  SetEngineLog(nullptr);
  return problems;
}

// Each subkey of root\path, its child "sub" opened, value read, file looked up.
int Walk(const char16_t* path, const char16_t* sub, const char16_t* value, bool quoted) {
  platform::Registry* registry = EngineRegistry();
  platform::FileSystem* fs = platform::FileSystem::Default();
  constexpr uint32_t kRead = platform::kKeyRead | platform::kKeyWow64_64Key;
  platform::HKey key;
  if (registry->RegOpenKeyExW(platform::kHkeyLocalMachine, path, 0, kRead, &key) != 0) return 0;
  int missing = 0;
  char16_t name[256];
  char16_t data[1024];
  for (uint32_t i = 0; registry->RegEnumKeyW(key, i, name, 256) == 0; ++i) {
    platform::HKey entry;
    std::u16string child(name);
    if (*sub) child += sub;
    if (registry->RegOpenKeyExW(key, child, 0, kRead, &entry) != 0) continue;
    uint32_t bytes = sizeof(data);
    uint32_t valueIndexChars = 256;
    const uint32_t read =
        *value != u'*' ? registry->RegQueryValueExW(entry, value, nullptr,
                                                    reinterpret_cast<uint8_t*>(data), &bytes)
                       : registry->RegEnumValueW(entry, 0, name, &valueIndexChars, nullptr,
                                                 reinterpret_cast<uint8_t*>(data), &bytes);
    registry->RegCloseKey(entry);
    if (read != 0) continue;
    std::u16string_view file(data);
    if (quoted) file = file.substr(1, file.find(u'"', 1) - 1);
    if (fs->GetFileAttributes(file) == platform::kInvalidFileAttributes) ++missing;
  }
  registry->RegCloseKey(key);
  return missing;
}

int LowerBound(const fs::path&) {
  return Walk(u"SOFTWARE\\Classes\\CLSID", u"\\InprocServer32", u"", false) +
         Walk(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", u"", u"UninstallString",
              true) +
         Walk(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
              u"Components",
              u"", u"*", false);
}

void BM_KeyScannersAgainstLowerBound(benchmark::State& state) {
  const int scale = static_cast<int>(state.range(0));
  const fs::path& prefix = Prefix(scale);  // built outside the timing
  ChildResult check, bound;
  for (auto _ : state) {
    check = InChild(prefix, EngineCheck);
    bound = InChild(prefix, LowerBound);
    state.SetIterationTime(check.seconds);
  }
  const int stale = (kClasses + kUninstall + kComponents) * scale / 5;
  if (check.problems != stale || bound.problems != stale)
    state.SkipWithError("the check and the lower bound disagree on the problems");
  state.counters["problems"] = check.problems;
  state.counters["check_s"] = check.seconds;
  state.counters["bound_s"] = bound.seconds;
  state.counters["time_ratio"] = check.seconds / bound.seconds;
  state.counters["check_peak_MB"] = check.peakMb;
  state.counters["bound_peak_MB"] = bound.peakMb;
}
BENCHMARK(BM_KeyScannersAgainstLowerBound)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
