#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/machine.h"
#include "platform/posix/prefix_registry.h"
#include "platform/posix/wine_prefix.h"
#include "platform/registry.h"

namespace platform {

uint32_t SelectMachine(std::string_view prefixDirectory) {
  if (!prefixDirectory.empty()) {
    std::string directory(prefixDirectory);
    if (directory[0] != '/') {
      char cwd[PATH_MAX];
      if (getcwd(cwd, sizeof(cwd)) != nullptr) directory = std::string(cwd) + "/" + directory;
    }
    posix::SetPrefixDirectory(directory);
    setenv("WINEPREFIX", posix::PrefixDirectory().c_str(), 1);
  }
  struct stat st;
  const std::string prefix = posix::PrefixDirectory();
  return stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : 2;
}

std::string MachineName() { return posix::PrefixDirectory(); }

bool MachineRegistryLocked() { return posix::WineServerRunning(posix::PrefixDirectory()); }

bool PrefixRegistryLocked(const std::string& prefixDirectory) {
  return posix::WineServerRunning(prefixDirectory);
}

bool MachineExists() {
  struct stat st;
  return stat((posix::PrefixDirectory() + "/system.reg").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> MachineRegistryProblems() {
  return posix::HiveProblems(posix::PrefixDirectory());
}

std::string HostPath(std::u16string_view machinePath) {
  // Drive links such as dosdevices/c: -> ../drive_c would show as
  // "prefix/dosdevices/../drive_c/..."; an existing path is shown resolved.
  const std::string path = posix::ToUnixPath(machinePath).path;
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace platform
