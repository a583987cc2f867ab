// Channels as Unix-domain stream sockets in the user's private folder. The
// socket's name is a hash of the channel and of the Wine prefix's identity
// (device and inode), so that a host never reaches a provider serving another
// prefix. A listener holds an flock on "<name>.lock" for its lifetime: the
// lock tells a live listener from a socket file a dead one left behind.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/ipc_transport.h"
#include "platform/posix/ipc_directory.h"
#include "platform/wineprefix/wine_prefix.h"

namespace platform {
namespace {

std::mutex g_directoryLock;
std::string g_directory;  // empty: the default

uint64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void SleepMs(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string ErrnoText(const std::string& what, int code) { return what + ": " + strerror(code); }

// A socket folder must be a real folder of ours that nobody else can enter.
bool CheckDirectory(const std::string& directory, std::string* error) {
  struct stat st;
  if (lstat(directory.c_str(), &st) != 0) {
    SetError(error, ErrnoText(directory, errno));
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    SetError(error, directory + ": is a symbolic link");
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetError(error, directory + ": is not a folder");
    return false;
  }
  if (st.st_uid != geteuid()) {
    SetError(error, directory + ": belongs to another user");
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    SetError(error, directory + ": is open to other users");
    return false;
  }
  return true;
}

bool EnsureDirectory(const std::string& directory, std::string* error) {
  if (mkdir(directory.c_str(), 0700) == 0) {
    // The umask may have taken bits we want; give exactly 0700.
    if (chmod(directory.c_str(), 0700) != 0) {
      SetError(error, ErrnoText(directory, errno));
      return false;
    }
  } else if (errno != EEXIST) {
    SetError(error, ErrnoText(directory, errno));
    return false;
  }
  return CheckDirectory(directory, error);
}

// The identity of the prefix: the same folder reached through another path
// (a link, a trailing slash) is the same prefix.
std::string PrefixScope() {
  const std::string prefix = posix::PrefixDirectory();
  struct stat st;
  if (stat(prefix.c_str(), &st) == 0) {
    return "prefix:" + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
  }
  return "prefix-path:" + prefix;
}

// "<folder>/<16 hex digits>" without an ending.
std::string EndpointBase(const std::string& directory, std::u16string_view channel) {
  static const char kHex[] = "0123456789abcdef";
  uint64_t hash = IpcChannelHash(channel, PrefixScope());
  std::string name(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) name[static_cast<size_t>(i)] = kHex[hash & 15];
  return directory + "/" + name;
}

bool MakeAddress(const std::string& path, sockaddr_un* address, std::string* error) {
  memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof(address->sun_path)) {
    SetError(error, path + ": socket path too long");
    return false;
  }
  memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Only the same user or root may be on the other end.
bool PeerAllowed(int fd) {
  ucred credentials;
  socklen_t length = sizeof(credentials);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
  return credentials.uid == geteuid() || credentials.uid == 0;
}

// Takes the channel's lock file; -1 when another listener holds it. A lock
// on a file that its owner removed meanwhile does not count: the file at the
// path must be the one locked.
int LockChannel(const std::string& lockPath, const std::string& socketPath, std::string* error) {
  // A sweep of the folder holds a left-over lock for a moment while it
  // removes it: a lock that is taken is asked again for a while.
  int busyTries = 20;
  for (;;) {
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      SetError(error, ErrnoText(lockPath, errno));
      return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int code = errno;
      close(fd);
      if (code == EWOULDBLOCK && --busyTries > 0) {
        usleep(10000);
        continue;
      }
      SetError(error, code == EWOULDBLOCK ? socketPath + ": another listener serves this channel"
                                          : ErrnoText(lockPath, code));
      return -1;
    }
    struct stat locked;
    struct stat current;
    if (fstat(fd, &locked) == 0 && lstat(lockPath.c_str(), &current) == 0 &&
        locked.st_dev == current.st_dev && locked.st_ino == current.st_ino)
      return fd;
    close(fd);  // removed by the listener that just left: take the new one
  }
}

class PosixConnection final : public IpcConnection {
 public:
  explicit PosixConnection(int fd) : fd_(fd) {}
  ~PosixConnection() override { close(fd_); }

  IpcIo Read(void* data, size_t size, uint32_t timeoutMs) override {
    char* at = static_cast<char*>(data);
    const uint64_t deadline = NowMs() + timeoutMs;
    while (size > 0) {
      if (shut_) return IpcIo::kClosed;
      const ssize_t n = recv(fd_, at, size, MSG_DONTWAIT);
      if (n > 0) {
        at += n;
        size -= static_cast<size_t>(n);
        continue;
      }
      if (n == 0) return IpcIo::kClosed;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Failure(errno);
      const IpcIo waited = Wait(POLLIN, deadline);
      if (waited != IpcIo::kOk) return waited;
    }
    return IpcIo::kOk;
  }

  IpcIo Write(const void* data, size_t size, uint32_t timeoutMs) override {
    const char* at = static_cast<const char*>(data);
    const uint64_t deadline = NowMs() + timeoutMs;
    while (size > 0) {
      if (shut_) return IpcIo::kClosed;
      // MSG_NOSIGNAL: a peer that went away must not raise SIGPIPE here.
      const ssize_t n = send(fd_, at, size, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n >= 0) {
        at += n;
        size -= static_cast<size_t>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Failure(errno);
      const IpcIo waited = Wait(POLLOUT, deadline);
      if (waited != IpcIo::kOk) return waited;
    }
    return IpcIo::kOk;
  }

  void Shutdown() override {
    shut_ = true;
    shutdown(fd_, SHUT_RDWR);  // wakes a poll on either side
  }

 private:
  static IpcIo Failure(int code) {
    return code == EPIPE || code == ECONNRESET || code == ENOTCONN ? IpcIo::kClosed : IpcIo::kError;
  }

  IpcIo Wait(short events, uint64_t deadline) {
    for (;;) {
      const uint64_t now = NowMs();
      if (now >= deadline) return IpcIo::kTimeout;
      const uint64_t left = deadline - now;
      pollfd entry{fd_, events, 0};
      const int n = poll(&entry, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
      if (n > 0) return IpcIo::kOk;  // ready, hung up or failed: the next call says which
      if (n < 0 && errno != EINTR) return IpcIo::kError;
    }
  }

  const int fd_;
  std::atomic<bool> shut_{false};
};

class PosixListener final : public IpcListener {
 public:
  PosixListener(int fd, int lockFd, int wakeRead, int wakeWrite, std::string path,
                std::string lockPath)
      : fd_(fd),
        lockFd_(lockFd),
        wakeRead_(wakeRead),
        wakeWrite_(wakeWrite),
        path_(std::move(path)),
        lockPath_(std::move(lockPath)) {}
  ~PosixListener() override {
    // Remove both files while the lock still says they are ours.
    unlink(path_.c_str());
    unlink(lockPath_.c_str());
    close(fd_);
    close(wakeRead_);
    close(wakeWrite_);
    close(lockFd_);
  }

  std::unique_ptr<IpcConnection> Accept() override {
    for (;;) {
      if (closed_) return nullptr;
      pollfd entries[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
      if (poll(entries, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return nullptr;
      }
      if (closed_ || entries[1].revents != 0) return nullptr;
      const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
          continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of resources for now: wait a little instead of spinning.
          pollfd wake{wakeRead_, POLLIN, 0};
          poll(&wake, 1, 100);
          continue;
        }
        return nullptr;
      }
      if (!PeerAllowed(fd)) {
        close(fd);
        continue;
      }
      return std::make_unique<PosixConnection>(fd);
    }
  }

  void Close() override {
    closed_ = true;
    const char byte = 1;
    ssize_t ignored = write(wakeWrite_, &byte, 1);
    (void)ignored;
  }

 private:
  const int fd_;
  const int lockFd_;
  const int wakeRead_;
  const int wakeWrite_;
  const std::string path_;
  const std::string lockPath_;
  std::atomic<bool> closed_{false};
};

}  // namespace

namespace posix {

std::string IpcDirectory() {
  {
    std::lock_guard<std::mutex> lock(g_directoryLock);
    if (!g_directory.empty()) return g_directory;
  }
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/regclean";
  return "/tmp/regclean-" + std::to_string(static_cast<unsigned long>(geteuid()));
}

void SetIpcDirectory(std::string directory) {
  std::lock_guard<std::mutex> lock(g_directoryLock);
  g_directory = std::move(directory);
}

bool EnsureIpcDirectory(std::string* error) { return EnsureDirectory(IpcDirectory(), error); }

bool RemoveUnheldFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool removed = false;
  struct stat locked;
  struct stat current;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &locked) == 0 &&
      lstat(path.c_str(), &current) == 0 && locked.st_dev == current.st_dev &&
      locked.st_ino == current.st_ino)
    removed = unlink(path.c_str()) == 0;
  close(fd);  // releases the lock
  return removed;
}

void SweepIpcDirectory() {
  const std::string directory = IpcDirectory();
  DIR* folder = opendir(directory.c_str());
  if (folder == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(folder)) names.emplace_back(entry->d_name);
  closedir(folder);
  auto endsWith = [](const std::string& name, std::string_view ending) {
    return name.size() > ending.size() &&
           name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
  };
  for (const std::string& name : names) {
    const std::string path = directory + "/" + name;
    if (endsWith(name, ".mutex")) {
      RemoveUnheldFile(path);
    } else if (endsWith(name, ".lock")) {
      // The socket goes first, while the lock still keeps a listener away.
      const std::string base = path.substr(0, path.size() - 5);
      const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) continue;
      struct stat locked;
      struct stat current;
      if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &locked) == 0 &&
          lstat(path.c_str(), &current) == 0 && locked.st_dev == current.st_dev &&
          locked.st_ino == current.st_ino) {
        unlink((base + ".sock").c_str());
        unlink(path.c_str());
      }
      close(fd);
    } else if (endsWith(name, ".sock")) {
      // A listener makes its lock before its socket and removes it after.
      struct stat lock;
      if (lstat((path.substr(0, path.size() - 5) + ".lock").c_str(), &lock) != 0 && errno == ENOENT)
        unlink(path.c_str());
    }
  }
}

std::string PrefixScopedPath(std::u16string_view name) {
  return EndpointBase(IpcDirectory(), name);
}

}  // namespace posix

std::string IpcEndpointName(std::u16string_view channel) {
  if (channel.empty()) return {};
  return EndpointBase(posix::IpcDirectory(), channel) + ".sock";
}

std::unique_ptr<IpcListener> IpcListen(std::u16string_view channel, std::string* error) {
  if (channel.empty()) {
    SetError(error, "empty channel name");
    return nullptr;
  }
  const std::string directory = posix::IpcDirectory();
  if (!EnsureDirectory(directory, error)) return nullptr;
  // Providers that were killed could not remove their files.
  posix::SweepIpcDirectory();
  const std::string base = EndpointBase(directory, channel);
  const std::string path = base + ".sock";
  const std::string lockPath = base + ".lock";
  sockaddr_un address;
  if (!MakeAddress(path, &address, error)) return nullptr;

  const int lockFd = LockChannel(lockPath, path, error);
  if (lockFd < 0) return nullptr;
  // Holding the lock, whatever sits at the socket's path is left over.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    SetError(error, ErrnoText(path, errno));
    close(lockFd);
    return nullptr;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int wake[2] = {-1, -1};
  std::string failure;
  if (fd < 0) {
    failure = ErrnoText("socket", errno);
  } else if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    failure = ErrnoText(path, errno);
  } else if (chmod(path.c_str(), 0600) != 0 || listen(fd, 64) != 0) {
    failure = ErrnoText(path, errno);
    unlink(path.c_str());
  } else if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    failure = ErrnoText("pipe", errno);
    unlink(path.c_str());
  }
  if (!failure.empty()) {
    if (fd >= 0) close(fd);
    close(lockFd);
    SetError(error, failure);
    return nullptr;
  }
  return std::make_unique<PosixListener>(fd, lockFd, wake[0], wake[1], path, lockPath);
}

std::unique_ptr<IpcConnection> IpcConnect(std::u16string_view channel, uint32_t timeoutMs,
                                          std::string* error) {
  if (channel.empty()) {
    SetError(error, "empty channel name");
    return nullptr;
  }
  const std::string directory = posix::IpcDirectory();
  if (!CheckDirectory(directory, error)) return nullptr;
  const std::string path = EndpointBase(directory, channel) + ".sock";
  sockaddr_un address;
  if (!MakeAddress(path, &address, error)) return nullptr;

  const uint64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      SetError(error, ErrnoText("socket", errno));
      return nullptr;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      if (!PeerAllowed(fd)) {
        close(fd);
        SetError(error, path + ": the listener belongs to another user");
        return nullptr;
      }
      return std::make_unique<PosixConnection>(fd);
    }
    const int code = errno;
    close(fd);
    // A full backlog answers EAGAIN: the listener lives but is busy.
    if ((code == EAGAIN || code == EINTR) && NowMs() < deadline) {
      SleepMs(10);
      continue;
    }
    SetError(error, ErrnoText(path, code));
    return nullptr;
  }
}

}  // namespace platform
