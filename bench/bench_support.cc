#include "bench/bench_support.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "platform/posix/wine_prefix.h"

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
  fs::create_directories(dir / "dosdevices");
  fs::create_directories(dir / "drive_c");
  fs::create_symlink("../drive_c", dir / "dosdevices" / "c:");
  fs::create_symlink("/", dir / "dosdevices" / "z:");
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
