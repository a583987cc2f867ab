// The scanners on large win64 prefixes, a fifth of whose entries name files
// that are gone (in folders of 1,000 files), at one and four times the size:
//  - keys: 20,000 COM classes, 5,000 uninstall entries, 10,000 installer
//    components;
//  - classes: 10,000 file extensions with 10,000 ProgIDs, 2,000 Explorer
//    extensions whose chosen program is one of those ProgIDs.
// The engine's whole check (hive load, the counting pass, the seven scanners
// with their log) against a lower bound: the same registry walk with one
// attribute lookup per named file. Each side runs in a child process of its
// own (a fresh copy of the benchmark program), so that its peak memory is its
// own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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

constexpr int kPerFolder = 1000;
constexpr uint32_t kRead = platform::kKeyRead | platform::kKeyWow64_64Key;

bool Stale(int i) { return i % 5 == 4; }

// Files named as real machines name them (blanks, "Program Files (x86)",
// mixed letter case).
const bench::NamedFiles kLibraries{"Program Files/Common Files/Vendor c%03d", "Shared Lib %06d.Dll",
                                   kPerFolder};
const bench::NamedFiles kUninstallers{"Program Files (x86)/Game u%03d", "Unins %06d.Exe",
                                      kPerFolder};
const bench::NamedFiles kKeyFiles{"Program Files/Office Suite k%03d", "Key File %06d.txt",
                                  kPerFolder};
const bench::NamedFiles kPrograms{"Program Files/Photo Tools p%03d", "Photo Prog %06d.Exe",
                                  kPerFolder};

constexpr int kClasses = 20000, kUninstall = 5000, kComponents = 10000;
constexpr int kExtensions = 10000, kFileExts = 2000;

using HiveWriter = std::function<void(std::ofstream& machine, std::ofstream& user, int scale)>;

// The scale a prefix was made at (kept beside its hives for the children).
int ScaleOf(const fs::path& prefix) {
  int scale = 1;
  std::ifstream(prefix / "scale.txt") >> scale;
  return scale;
}

fs::path MakePrefix(const HiveWriter& write, int scale) {
  const fs::path dir = bench::MakeTempPrefix("scanners");
  std::ofstream(dir / "scale.txt") << scale;
  std::ofstream machine(dir / "system.reg", std::ios::binary);
  std::ofstream user(dir / "user.reg", std::ios::binary);
  machine << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
  user << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
          "#arch=win64\n";
  write(machine, user, scale);
  return dir;
}

void WriteKeys(std::ofstream& hive, std::ofstream&, int scale) {
  char key[160];
  for (int i = 0; i < kClasses * scale; ++i) {
    std::snprintf(key, sizeof(key), "Software\\\\Classes\\\\CLSID\\\\{%08X-0000-4000-8000-%012X}",
                  i, i);
    hive << "\n[" << key << "] 1733000000\n@=\"Class\"\n\n[" << key
         << "\\\\InprocServer32] 1733000000\n@=\"" << kLibraries.WindowsName(i, true)
         << "\"\n\"ThreadingModel\"=\"Both\"\n";
  }
  for (int i = 0; i < kUninstall * scale; ++i) {
    std::snprintf(key, sizeof(key), "App%06d", i);
    hive << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\" << key
         << "] 1733000000\n\"DisplayName\"=\"App\"\n\"UninstallString\"=\"\\\""
         << kUninstallers.WindowsName(i, true) << "\\\" /uninstall\"\n";
  }
  for (int i = 0; i < kComponents * scale; ++i) {
    std::snprintf(key, sizeof(key), "%032X", i);
    hive << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Installer\\\\UserData\\\\S-1-"
            "5-18\\\\Components\\\\"
         << key << "] 1733000000\n\"00000000000000000000000000000001\"=\""
         << kKeyFiles.WindowsName(i, true) << "\"\n";
  }
}

// Keys in the order Wine saves them (sorted), as a real hive has them.
void WriteClasses(std::ofstream& machine, std::ofstream& user, int scale) {
  char name[32];
  for (int i = 0; i < kExtensions * scale; ++i) {
    std::snprintf(name, sizeof(name), "%06d", i);
    machine << "\n[Software\\\\Classes\\\\.rc" << name << "] 1733000000\n@=\"Rc.Prog" << name
            << "\"\n";
  }
  for (int i = 0; i < kExtensions * scale; ++i) {
    std::snprintf(name, sizeof(name), "%06d", i);
    machine << "\n[Software\\\\Classes\\\\Rc.Prog" << name
            << "\\\\shell\\\\open\\\\command] 1733000000\n@=\"\\\""
            << kPrograms.WindowsName(i, true) << "\\\" \\\"%1\\\"\"\n";
  }
  for (int i = 0; i < kFileExts * scale; ++i) {
    std::snprintf(name, sizeof(name), "%06d", i);
    user << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\FileExts\\\\.rc"
         << name << "\\\\UserChoice] 1733000000\n\"Progid\"=\"Rc.Prog" << name << "\"\n";
  }
}

struct Machine {
  HiveWriter write;
  // The files the registry names, per scale 1, in the order the scanners
  // look them up; a set named twice is made once.
  std::vector<std::pair<const bench::NamedFiles*, int>> lookups;
  int Stale(int scale) const {
    int stale = 0;
    for (const auto& [_, count] : lookups) stale += count * scale / 5;
    return stale;
  }
  std::vector<std::pair<const bench::NamedFiles*, int>> Lookups(int scale) const {
    auto scaled = lookups;
    for (auto& [_, count] : scaled) count *= scale;
    return scaled;
  }
};
const Machine kKeysMachine{
    WriteKeys, {{&kLibraries, kClasses}, {&kUninstallers, kUninstall}, {&kKeyFiles, kComponents}}};
// The Explorer extensions name the first 2,000 ProgIDs: their stale ones
// count again.
const Machine kClassesMachine{WriteClasses, {{&kPrograms, kExtensions}, {&kPrograms, kFileExts}}};

const fs::path& Prefix(const Machine& machine, int scale) {
  static std::map<std::pair<const Machine*, int>, fs::path> prefixes;
  auto it = prefixes.find({&machine, scale});
  if (it == prefixes.end()) {
    const fs::path dir = MakePrefix(machine.write, scale);
    std::map<const bench::NamedFiles*, int> made;
    for (const auto& [files, count] : machine.lookups)
      made[files] = std::max(made[files], count * scale);
    for (const auto& [files, count] : made) files->Make(dir, count, Stale);
    it = prefixes.emplace(std::make_pair(&machine, scale), dir).first;
  }
  return it->second;
}

// The engine's whole check as the module runs it, on the prefix's registry.
// The text of root\path's value, empty when none.
std::u16string ReadValue(platform::HKey root, std::u16string_view path, std::u16string_view name) {
  platform::Registry* registry = EngineRegistry();
  platform::HKey key;
  if (registry->RegOpenKeyExW(root, path, 0, kRead, &key) != 0) return {};
  char16_t data[1024] = {};
  char16_t valueName[256];
  uint32_t nameChars = 256;
  uint32_t bytes = sizeof(data) - 2;
  // "*": the key's first value, whatever its name.
  const uint32_t read = name == u"*"
                            ? registry->RegEnumValueW(key, 0, valueName, &nameChars, nullptr,
                                                      reinterpret_cast<uint8_t*>(data), &bytes)
                            : registry->RegQueryValueExW(key, name, nullptr,
                                                         reinterpret_cast<uint8_t*>(data), &bytes);
  registry->RegCloseKey(key);
  return read == 0 ? std::u16string(data) : std::u16string();
}

bool Missing(std::u16string_view file) {
  if (!file.empty() && file[0] == u'"') file = file.substr(1, file.find(u'"', 1) - 1);
  return platform::FileSystem::Default()->GetFileAttributes(file) ==
         platform::kInvalidFileAttributes;
}

// For each subkey of root\path: read() gives the file it names.
template <typename Read>
int Walk(platform::HKey root, std::u16string_view path, Read read) {
  platform::Registry* registry = EngineRegistry();
  platform::HKey key;
  if (registry->RegOpenKeyExW(root, path, 0, kRead, &key) != 0) return 0;
  int missing = 0;
  char16_t name[256];
  for (uint32_t i = 0; registry->RegEnumKeyW(key, i, name, 256) == 0; ++i) {
    const std::u16string file = read(std::u16string(path) + u"\\" + name, std::u16string(name));
    if (!file.empty() && Missing(file)) ++missing;
  }
  registry->RegCloseKey(key);
  return missing;
}

int KeysBound(const fs::path&) {
  const platform::HKey hklm = platform::kHkeyLocalMachine;
  auto value = [&](const char16_t* sub, const char16_t* name) {
    return [=](const std::u16string& path, const std::u16string&) {
      return ReadValue(hklm, path + sub, name);
    };
  };
  return Walk(hklm, u"SOFTWARE\\Classes\\CLSID", value(u"\\InprocServer32", u"")) +
         Walk(hklm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
              value(u"", u"UninstallString")) +
         Walk(hklm,
              u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
              u"Components",
              value(u"", u"*"));
}

// The program of a ProgID's open verb.
std::u16string ProgramOf(const std::u16string& progId) {
  return ReadValue(platform::kHkeyLocalMachine,
                   u"SOFTWARE\\Classes\\" + progId + u"\\shell\\open\\command", u"");
}

int ClassesBound(const fs::path&) {
  return Walk(platform::kHkeyLocalMachine, u"SOFTWARE\\Classes",
              [](const std::u16string& path, const std::u16string& name) {
                if (name[0] != u'.') return std::u16string();
                return ProgramOf(ReadValue(platform::kHkeyLocalMachine, path, u""));
              }) +
         Walk(platform::kHkeyCurrentUser,
              u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
              [](const std::u16string& path, const std::u16string&) {
                return ProgramOf(
                    ReadValue(platform::kHkeyCurrentUser, path + u"\\UserChoice", u"Progid"));
              });
}

// The physical floor: each named file looked up once as any program must
// (a stat, and a folder listed once for the names not there as written).
int KeysFloor(const fs::path& prefix) {
  return bench::StatFloor(prefix, kKeysMachine.Lookups(ScaleOf(prefix)));
}
int ClassesFloor(const fs::path& prefix) {
  return bench::StatFloor(prefix, kClassesMachine.Lookups(ScaleOf(prefix)));
}

const bench::RegisterChildWork kKeysBound("keys-bound", KeysBound);
const bench::RegisterChildWork kClassesBound("classes-bound", ClassesBound);
const bench::RegisterChildWork kKeysFloor("keys-floor", KeysFloor);
const bench::RegisterChildWork kClassesFloor("classes-floor", ClassesFloor);

void CheckAgainstBound(benchmark::State& state, const Machine& machine, const char* bound,
                       const char* floorWork) {
  const int scale = static_cast<int>(state.range(0));
  const fs::path& prefix = Prefix(machine, scale);  // built outside the timing
  bench::ChildResult check, lower, floor;
  bench::AgainstFloor againstFloor;
  for (auto _ : state) {
    check = bench::RunInChild("engine-check", prefix);
    lower = bench::RunInChild(bound, prefix);
    floor = bench::RunInChild(floorWork, prefix);
    againstFloor.Add(check, floor);
    state.SetIterationTime(check.seconds);
  }
  // The check after its hive load against the floor of the same lookups.
  state.counters["scan_s"] = againstFloor.checkSeconds();
  state.counters["floor_s"] = againstFloor.floorSeconds();
  state.counters["scan_to_floor"] = againstFloor.ratio();
  if (check.result != machine.Stale(scale) || lower.result != machine.Stale(scale) ||
      floor.result != machine.Stale(scale))
    state.SkipWithError(("the check (" + std::to_string(check.result) + ") and the lower bound (" +
                         std::to_string(lower.result) + ") disagree on the problems")
                            .c_str());
  state.counters["problems"] = check.result;
  state.counters["check_s"] = check.seconds;
  state.counters["bound_s"] = lower.seconds;
  state.counters["time_ratio"] = check.seconds / lower.seconds;
  state.counters["check_peak_MB"] = check.peakMb;
  state.counters["bound_peak_MB"] = lower.peakMb;
}

void BM_KeyScannersAgainstLowerBound(benchmark::State& state) {
  CheckAgainstBound(state, kKeysMachine, "keys-bound", "keys-floor");
}
void BM_ClassScannersAgainstLowerBound(benchmark::State& state) {
  CheckAgainstBound(state, kClassesMachine, "classes-bound", "classes-floor");
}
BENCHMARK(BM_KeyScannersAgainstLowerBound)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(BM_ClassScannersAgainstLowerBound)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

}  // namespace
