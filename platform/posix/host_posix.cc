// POSIX backend of the host seam: the Unix files, environment and programs
// of the computer regclean runs on.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/host.h"

extern char** environ;

namespace platform {
namespace {

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int* put() { return &fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A pair of pipe ends, both closed on exec; the child gets its end through
// the spawn's dup2.
bool MakePipe(Descriptor* read, Descriptor* write) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  *read->put() = ends[0];
  *write->put() = ends[1];
  return true;
}

}  // namespace

bool ListHostFolder(const std::string& folder, std::vector<HostEntry>* entries) {
  entries->clear();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    HostEntry item;
    item.name = name;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    item.link = S_ISLNK(st.st_mode);
    item.folder =
        S_ISDIR(st.st_mode) || (item.link && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    entries->push_back(std::move(item));
  }
  ::closedir(dir);
  std::sort(entries->begin(), entries->end(),
            [](const HostEntry& a, const HostEntry& b) { return a.name < b.name; });
  return true;
}

HostFileKind HostFileKindOf(const std::string& path, uint64_t* size) {
  struct stat st;
  if (size != nullptr) *size = 0;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return HostFileKind::kNone;
  if (S_ISDIR(st.st_mode)) return HostFileKind::kFolder;
  if (!S_ISREG(st.st_mode)) return HostFileKind::kOther;
  if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
  return HostFileKind::kFile;
}

bool ReadHostFile(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (bytes->size() + static_cast<size_t>(n) > limit) return false;
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

std::string HostRealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return !path.empty() && ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved)
                                                                        : std::string();
}

std::string HostEnvironmentVariable(std::string_view name) {
  const char* value = ::getenv(std::string(name).c_str());
  return value != nullptr ? std::string(value) : std::string();
}

std::string HostHomeFolder() { return HostEnvironmentVariable("HOME"); }

unsigned HostProcessorCount() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1u;
}

std::string HostProgramFile() { return HostRealPath("/proc/self/exe"); }

bool RunHostProgram(const std::vector<std::string>& arguments, HostRun* run, std::string* error) {
  *run = HostRun();
  if (arguments.empty()) {
    *error = "no program";
    return false;
  }
  Descriptor outRead, outWrite, errRead, errWrite;
  if (!MakePipe(&outRead, &outWrite) || !MakePipe(&errRead, &errWrite)) {
    *error = std::strerror(errno);
    return false;
  }
  std::vector<std::string> storage(arguments);
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite.get(), 2);
  pid_t pid = 0;
  const int started = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  outWrite.Close();
  errWrite.Close();
  if (started != 0) {
    *error = std::string("cannot start ") + arguments[0] + ": " + std::strerror(started);
    return false;
  }
  // Both streams are read as they come, so that neither pipe fills up and
  // stops the program while the other is waited on.
  pollfd streams[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
  std::string* targets[2] = {&run->out, &run->err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(streams, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      const ssize_t n = ::read(streams[i].fd, buffer, sizeof(buffer));
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        streams[i].fd = -1;
        --open;
        continue;
      }
      targets[i]->append(buffer, static_cast<size_t>(n));
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

}  // namespace platform
