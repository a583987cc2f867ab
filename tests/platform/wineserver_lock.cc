#ifndef _WIN32
#include "tests/platform/wineserver_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

bool WineserverLock::Hold(const std::filesystem::path& prefix) {
  struct stat st;
  if (stat(prefix.c_str(), &st) != 0) return false;
  // Wine's server folder for the prefix: /tmp/.wine-<uid>/server-<dev>-<ino>.
  char dir[128];
  std::snprintf(dir, sizeof(dir), "/tmp/.wine-%u/server-%llx-%llx", getuid(),
                static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  serverDir_ = dir;
  std::error_code ignored;
  std::filesystem::create_directories(serverDir_, ignored);
  int ready[2];
  if (pipe(ready) != 0) return false;
  holder_ = fork();
  if (holder_ < 0) return false;
  if (holder_ == 0) {
    const int fd = open((serverDir_ / "lock").c_str(), O_CREAT | O_RDWR, 0600);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_len = 1;
    fcntl(fd, F_SETLK, &lock);
    (void)!write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  char c;
  const bool held = read(ready[0], &c, 1) == 1;
  close(ready[0]);
  close(ready[1]);
  return held;
}

void WineserverLock::Release() {
  if (holder_ > 0) {
    kill(holder_, SIGKILL);
    waitpid(holder_, nullptr, 0);
    holder_ = -1;
  }
  if (!serverDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(serverDir_, ignored);
    serverDir_.clear();
  }
}
#endif
