#include "bench/bench_support.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "platform/registry.h"
#include "platform/wineprefix/wine_prefix.h"
#include "tests/platform/demo_prefix.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr char kChildFlag[] = "--bench-child";

std::map<std::string, ChildWork>& Works() {
  static std::map<std::string, ChildWork> works;
  return works;
}

std::vector<fs::path>& Prefixes() {
  static std::vector<fs::path> prefixes;
  return prefixes;
}

}  // namespace

fs::path MakeTempPrefix(const char* name) {
  std::string pattern = std::string("/tmp/regclean-bench-") + name + ".XXXXXX";
  const fs::path dir = mkdtemp(pattern.data());
  fs::create_directories(dir / "drive_c");
  test_prefix::MakeDriveLinks(dir);
  // REGCLEAN_BENCH_KEEP=1 keeps the prefixes, to profile a child on one:
  //   benchmarks --bench-child NAME PREFIX RESULT_FILE
  if (std::getenv("REGCLEAN_BENCH_KEEP") != nullptr) {
    std::fprintf(stderr, "kept: %s\n", dir.c_str());
    return dir;
  }
  if (Prefixes().empty())
    std::atexit([] {
      std::error_code ignored;
      for (const fs::path& prefix : Prefixes()) {
        // The links first, so that nothing is followed out of the prefix.
        fs::remove(prefix / "dosdevices" / "c:", ignored);
        fs::remove(prefix / "dosdevices" / "z:", ignored);
        fs::remove_all(prefix, ignored);
      }
    });
  Prefixes().push_back(dir);
  return dir;
}

std::chrono::steady_clock::time_point& WorkStart() {
  static std::chrono::steady_clock::time_point start;
  return start;
}

void MarkWorkStart() { WorkStart() = std::chrono::steady_clock::now(); }

int EngineCheck(const fs::path& prefix) {
  // The hives are read first (the machine's and the user's, which the
  // classes and Explorer checks read), so that the work measured is the
  // check proper.
  platform::RegKeyInfo info;
  platform::Registry::Default()->RegQueryInfoKeyW(platform::kHkeyLocalMachine, &info);
  platform::Registry::Default()->RegQueryInfoKeyW(platform::kHkeyCurrentUser, &info);
  MarkWorkStart();
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

namespace {
const RegisterChildWork kEngineCheck("engine-check", EngineCheck);
}  // namespace

void WriteSampleHive(const fs::path& file, int copies) {
  // The sample lives in the source tree beside this file's folder.
  const fs::path path =
      fs::path(__FILE__).parent_path().parent_path() / "tests/data/wine-hives/system.reg";
  std::ifstream in(path, std::ios::binary);
  std::stringstream sample;
  sample << in.rdbuf();
  const std::string text = sample.str();
  const size_t first = text.find("\n[");
  if (first == std::string::npos) {
    std::fprintf(stderr, "no sample hive at %s\n", path.c_str());
    std::exit(2);
  }
  const std::string body = text.substr(first);
  std::ofstream out(file, std::ios::binary);
  out << text.substr(0, first);
  std::string copy;
  for (int i = 0; i < copies; ++i) {
    char head[32];
    std::snprintf(head, sizeof(head), "\n[Bench\\\\%05d\\\\", i);
    copy.clear();
    size_t at = 0;
    for (size_t next; (next = body.find("\n[", at)) != std::string::npos; at = next + 2) {
      copy.append(body, at, next - at);
      copy += head;
    }
    copy.append(body, at, std::string::npos);
    out << copy;
  }
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The file's folder and name below drive_c, as the registry names them.
std::pair<std::string, std::string> Parts(const NamedFiles& files, int i) {
  char folder[256], file[128];
  std::snprintf(folder, sizeof(folder), files.folder, i / files.perFolder);
  std::snprintf(file, sizeof(file), files.file, i);
  return {folder, file};
}

}  // namespace

std::string NamedFiles::WindowsName(int i, bool escaped) const {
  auto [folder, file] = Parts(*this, i);
  const std::string sep = escaped ? "\\\\" : "\\";
  std::string name = "C:" + sep;
  for (char c : folder) {
    if (c == '/') {
      name += sep;
    } else {
      name += c;
    }
  }
  return name + sep + file;
}

fs::path NamedFiles::DiskPath(const fs::path& prefix, int i) const {
  auto [folder, file] = Parts(*this, i);
  return prefix / "drive_c" / folder / (i % 3 == 0 ? Lower(file) : file);
}

void NamedFiles::Make(const fs::path& prefix, int count, bool (*gone)(int)) const {
  for (int i = 0; i < count; ++i) {
    if (i % perFolder == 0) fs::create_directories(DiskPath(prefix, i).parent_path());
    if (gone == nullptr || !gone(i)) std::ofstream(DiskPath(prefix, i)).put('x');
  }
}

int StatFloor(const fs::path& prefix,
              const std::vector<std::pair<const NamedFiles*, int>>& lookups) {
  std::map<std::string, std::set<std::string>> listings;
  int missing = 0;
  for (const auto& [files, count] : lookups) {
    for (int i = 0; i < count; ++i) {
      auto [folder, file] = Parts(*files, i);
      const std::string directory = (prefix / "drive_c" / folder).string();
      struct stat st;
      if (stat((directory + "/" + file).c_str(), &st) == 0) continue;
      auto [listing, added] = listings.try_emplace(directory);
      if (added) {
        if (DIR* dir = opendir(directory.c_str())) {
          while (const dirent* entry = readdir(dir)) listing->second.insert(Lower(entry->d_name));
          closedir(dir);
        }
      }
      if (listing->second.count(Lower(file)) == 0) ++missing;
    }
  }
  return missing;
}

void AgainstFloor::Add(const ChildResult& check, const ChildResult& floor) {
  checks_.push_back(check.workSeconds);
  floors_.push_back(floor.workSeconds);
  ratios_.push_back(floor.workSeconds > 0 ? check.workSeconds / floor.workSeconds : 0);
}

double AgainstFloor::Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const size_t middle = samples.size() / 2;
  return samples.size() % 2 != 0 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

RegisterChildWork::RegisterChildWork(const char* name, ChildWork work) { Works()[name] = work; }

ChildResult RunInChild(const char* name, const fs::path& prefix) {
  const fs::path out = prefix / (std::string("result-") + name + ".txt");
  fs::remove(out);
  const std::string self = fs::read_symlink("/proc/self/exe");
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl(self.c_str(), self.c_str(), kChildFlag, name, prefix.c_str(), out.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ChildResult result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double peakKb = 0;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    std::ifstream(out) >> result.result >> peakKb >> result.workSeconds;
  result.peakMb = peakKb / 1024;
  return result;
}

int RunChildWork(int argc, char** argv) {
  if (argc != 5 || std::strcmp(argv[1], kChildFlag) != 0) return -1;
  const auto work = Works().find(argv[2]);
  if (work == Works().end()) return 2;
  platform::posix::SetPrefixDirectory(argv[3]);
  MarkWorkStart();
  const int result = work->second(argv[3]);
  const double workSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - WorkStart()).count();
  // The peak of this program image alone (the parent's, which a forked
  // child's resource usage would count, ended with the exec).
  std::ifstream status("/proc/self/status");
  std::string line;
  long peakKb = 0;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) peakKb = std::atol(line.c_str() + 6);
  std::ofstream(argv[4]) << result << " " << peakKb << " " << workSeconds;
  return 0;
}

}  // namespace bench
