#ifndef _WIN32
#include "tests/platform/wineserver_lock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

// Runs "WINEPREFIX=prefix <program> <option>" and waits for it.
int RunServer(const fs::path& prefix, const char* option) {
  const std::string command = "WINEPREFIX='" + prefix.string() + "' '" + WineserverLock::Program() +
                              "' " + option + " >/dev/null 2>&1";
  return std::system(command.c_str());
}

// The server folder's candidates for prefix: upstream's and Debian's.
std::vector<fs::path> ServerFolders(const fs::path& prefix) {
  struct stat st;
  if (stat(prefix.c_str(), &st) != 0) return {};
  char name[64];
  std::snprintf(name, sizeof(name), "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::vector<fs::path> folders = {fs::path("/tmp/.wine-" + std::to_string(getuid())) / name};
  std::string named;
  std::ifstream(prefix / "wineserver") >> named;
  if (!named.empty()) folders.push_back(fs::path("/tmp") / named / name);
  return folders;
}

}  // namespace

std::string WineserverLock::Program() {
  static const std::string program = [] {
    std::vector<std::string> candidates = {"/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver",
                                           "/usr/lib/x86_64-linux-gnu/wine/wineserver",
                                           "/usr/bin/wineserver"};
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
      candidates.push_back(folder + "/wineserver");
    for (const std::string& candidate : candidates)
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    return std::string();
  }();
  return program;
}

bool WineserverLock::Hold(const fs::path& prefix) {
  if (Program().empty()) return false;
  prefix_ = prefix;
  // "-p": stay without clients; returns once the server runs in the background.
  if (RunServer(prefix, "-p") != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const fs::path& folder : ServerFolders(prefix)) {
      std::error_code error;
      if (fs::exists(folder / "socket", error)) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void WineserverLock::Release() {
  if (prefix_.empty()) return;
  const std::vector<fs::path> folders = ServerFolders(prefix_);
  RunServer(prefix_, "-k");
  RunServer(prefix_, "-w");
  // Debian's Wine leaves the /tmp folder it made for the prefix.
  if (folders.size() > 1) {
    std::error_code ignored;
    fs::remove_all(folders[1].parent_path(), ignored);
  }
  prefix_.clear();
}
#endif
