#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/wineprefix/prefix_registry.h"
#include "platform/wineprefix/wine_prefix.h"

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

namespace {
int g_writerLock = -1;
}  // namespace

uint32_t HoldMachineWriter(uint32_t waitMs) {
  if (g_writerLock >= 0) return 0;
  // The file stays when the lock goes: removing it would let a third
  // program lock a new file while a second one holds the old one.
  const std::string path = posix::PrefixDirectory() + "/.regclean-writer.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EACCES || errno == EPERM || errno == EROFS ? 5 : 3;
  // Made by root on a user's prefix, the file is still the user's.
  struct stat own, prefix;
  if (::geteuid() == 0 && ::fstat(fd, &own) == 0 && own.st_uid == 0 &&
      ::stat(posix::PrefixDirectory().c_str(), &prefix) == 0 && prefix.st_uid != 0 &&
      ::fchown(fd, prefix.st_uid, prefix.st_gid) != 0) {
    // Left as root's: the lock works all the same.
  }
  for (uint32_t waited = 0;; waited += 50) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      g_writerLock = fd;
      return 0;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (waited >= waitMs) break;
    const struct timespec pause = {0, 50 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  ::close(fd);
  return 33;
}

void ReleaseMachineWriter() {
  if (g_writerLock < 0) return;
  ::close(g_writerLock);  // closing lets go of the lock
  g_writerLock = -1;
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
