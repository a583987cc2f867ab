#include "platform/wineprefix/prefix_registry.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/unicode.h"
#include "platform/wineprefix/hive_text.h"

namespace platform::posix {
namespace {

using memory::HiveId;
using memory::Key;

constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorDiskFull = 112;
constexpr size_t kReadChunk = 4 << 20;
// A hive is read in pieces small enough to be still in the processor's cache
// when the reader goes over them.
constexpr size_t kHiveReadChunk = 256 << 10;

const char* const kFileNames[memory::kHiveCount] = {"system.reg", "userdef.reg", "user.reg"};
// The roots as Wine names them in a new file's comment line (escaped).
const char* const kRootPaths[memory::kHiveCount] = {"REGISTRY\\\\Machine",
                                                    "REGISTRY\\\\User\\\\.Default",
                                                    "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"};

uint32_t ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kRegAccessDenied;
    case ENOENT:
    case ENOTDIR:
      return kErrorPathNotFound;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    default:
      return kErrorWriteFault;
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

class FdSource : public memory::HiveSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  bool Read(uint64_t offset, size_t size, char* out) override {
    while (size > 0) {
      const ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      out += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

class FdSink : public memory::HiveSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(const char* data, size_t size) override {
    if (WriteAll(fd_, data, size)) return true;
    error = errno;
    return false;
  }
  int error = 0;

 private:
  int fd_;
};

// The prefix folder locked for the life of the object (shared or exclusive).
class FolderLock {
 public:
  FolderLock(const std::string& folder, int operation) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, operation) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Where a save that rewrites a hive in place keeps the complete new text
// until the rewrite is done.
std::string RollForwardPath(const std::string& prefix, int hive) {
  return prefix + "/." + kFileNames[hive] + ".rollforward";
}

// Copies the file at from over the file at to, in place (to keeps its inode
// and its other names), and puts it on disk; 0 or the errno.
int CopyInto(const std::string& from, const std::string& to) {
  int error = 0;
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = in < 0 ? -1 : ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (in < 0 || out < 0) {
    error = errno;
  } else {
    std::string buffer(kReadChunk, '\0');
    for (;;) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error = errno;
      if (n <= 0) break;
      if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
        error = errno;
        break;
      }
    }
    if (error == 0 && ::fsync(out) != 0) error = errno;
  }
  if (in >= 0) ::close(in);
  if (out >= 0 && ::close(out) != 0 && error == 0) error = errno;
  return error;
}

bool AnySaveInterrupted(const std::string& prefix) {
  struct stat st;
  for (int hive = 0; hive < memory::kHiveCount; ++hive)
    if (::lstat(RollForwardPath(prefix, hive).c_str(), &st) == 0) return true;
  return false;
}

// With the prefix locked exclusively: a save killed while it rewrote a hive
// in place is finished from its complete copy, and the temporary files of
// saves killed before they were complete (nobody else writes one now) go.
void FinishInterruptedSaves(const std::string& prefix) {
  for (int hive = 0; hive < memory::kHiveCount; ++hive) {
    const std::string pending = RollForwardPath(prefix, hive);
    struct stat st;
    if (::lstat(pending.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (CopyInto(pending, prefix + "/" + kFileNames[hive]) == 0) ::unlink(pending.c_str());
  }
  DIR* folder = ::opendir(prefix.c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    for (const char* hiveName : kFileNames) {
      const std::string head = std::string(".") + hiveName + ".";
      if (name.size() > head.size() + 4 && name.compare(0, head.size(), head) == 0 &&
          name.compare(name.size() - 4, 4, ".tmp") == 0 &&
          name.find_first_not_of("0123456789", head.size()) == name.size() - 4)
        ::unlinkat(::dirfd(folder), name.c_str(), 0);
    }
  }
  ::closedir(folder);
}

// #arch of system.reg: Wine takes a missing system.reg as 64-bit and a file
// without the option as 32-bit.
bool PrefixIsWin64(const std::string& prefix) {
  FILE* file = ::fopen((prefix + "/system.reg").c_str(), "re");
  if (file == nullptr) return true;
  char line[256];
  bool win64 = false;
  for (int i = 0; i < 8 && ::fgets(line, sizeof(line), file) != nullptr; ++i) {
    if (std::strncmp(line, "#arch=win64", 11) == 0) win64 = true;
    if (line[0] == '[') break;
  }
  ::fclose(file);
  return win64;
}

// True when the server folder's lock file is write-locked: the server holds
// an fcntl lock on its first byte while it runs.
bool LockHeld(const std::string& serverFolder) {
  const int fd = ::open((serverFolder + "/lock").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock lock;
  std::memset(&lock, 0, sizeof(lock));
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  const bool running = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  return running;
}

// The folder that Debian's and Ubuntu's Wine names in the prefix's
// "wineserver" file ("wine-XXXXXX", below /tmp); empty when there is none.
std::string NamedTempFolder(const std::string& prefix) {
  const int fd = ::open((prefix + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char text[256];
  const ssize_t n = ::read(fd, text, sizeof(text) - 1);
  ::close(fd);
  if (n <= 0) return {};
  std::string name(text, static_cast<size_t>(n));
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
    name.pop_back();
  if (name.empty() || name == "." || name == "..") return {};
  if (name[0] == '/') return name;
  if (name.find('/') != std::string::npos) return {};
  return "/tmp/" + name;
}

// A process named wineserver* whose working folder is a folder named
// serverName (the server works in its server folder, whatever its parent) or
// the prefix itself (where it goes to read and save the hives).
bool ServerProcessIn(const std::string& serverName, const struct stat& prefix) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    char comm[64] = {};
    const int fd = ::open((base + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t n = ::read(fd, comm, sizeof(comm) - 1);
    ::close(fd);
    if (n <= 0 || std::strncmp(comm, "wineserver", 10) != 0) continue;
    char cwd[4096];
    const ssize_t length = ::readlink((base + "/cwd").c_str(), cwd, sizeof(cwd) - 1);
    if (length <= 0) continue;
    const std::string folder(cwd, static_cast<size_t>(length));
    const size_t slash = folder.rfind('/');
    struct stat st;
    if (folder.compare(slash + 1, std::string::npos, serverName) == 0 ||
        (::stat((base + "/cwd").c_str(), &st) == 0 && st.st_dev == prefix.st_dev &&
         st.st_ino == prefix.st_ino)) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

}  // namespace

bool WineServerRunning(const std::string& prefixDirectory, bool fresh) {
  struct stat st;
  if (::stat(prefixDirectory.c_str(), &st) != 0) return false;
  char name[64];
  std::snprintf(name, sizeof(name), "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  // Upstream Wine: /tmp/.wine-<uid>/server-<dev>-<ino>.
  if (LockHeld("/tmp/.wine-" + std::to_string(::getuid()) + "/" + name)) return true;
  // Debian's and Ubuntu's Wine: below the folder the prefix names.
  const std::string named = NamedTempFolder(prefixDirectory);
  if (!named.empty() && LockHeld(named + "/" + name)) return true;
  // Any other layout: the server process by its working folder. A walk of
  // /proc costs far more than the two looks above, so a write's check takes
  // an answer up to a second old; a save always looks again.
  // Nothing here has a destructor: the registry's save at process exit
  // still asks after the function's statics would have been destroyed.
  static std::mutex cacheLock;
  static char cachedName[sizeof(name)];
  static std::chrono::steady_clock::time_point cachedAt;
  static bool cachedRunning = false;
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(cacheLock);
    if (!fresh && std::strcmp(cachedName, name) == 0 && now - cachedAt < std::chrono::seconds(1))
      return cachedRunning;
  }
  const bool running = ServerProcessIn(name, st);
  std::lock_guard<std::mutex> lock(cacheLock);
  std::memcpy(cachedName, name, sizeof(name));
  cachedAt = now;
  cachedRunning = running;
  return running;
}

PrefixRegistry::PrefixRegistry(std::string prefixDirectory)
    : MemoryRegistry(Options{PrefixIsWin64(prefixDirectory), {}}),
      prefix_(std::move(prefixDirectory)) {
  for (int i = 0; i < memory::kHiveCount; ++i) {
    files_[i].path = prefix_ + "/" + kFileNames[i];
    hive_root(static_cast<HiveId>(i))->flags |= memory::kKeyUnloaded;
  }
}

PrefixRegistry::~PrefixRegistry() = default;

std::vector<std::string> PrefixRegistry::Problems() {
  std::lock_guard<std::mutex> lock(mutex());
  return problems_;
}

void PrefixRegistry::SetProblemReporter(std::function<void(const std::string&)> reporter) {
  std::lock_guard<std::mutex> lock(mutex());
  reporter_ = std::move(reporter);
}

void PrefixRegistry::Report(const std::string& problem) {
  problems_.push_back(problem);
  if (reporter_) {
    reporter_(problem);
  } else {
    std::fprintf(stderr, "%s\n", problem.c_str());
  }
}

namespace {

// Streams the hive file at path through a reader into root, or without a
// root only checks it; every problem goes to report. The file's status is
// left in st (st_ino 0 when there is no file). False when it did not read
// cleanly.
bool StreamHive(const std::string& path, Key* root, memory::TreeArena* arena, uint64_t now,
                struct stat* st, uint64_t* prologueLength,
                const std::function<void(const std::string&)>& report) {
  *st = {};
  *prologueLength = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;  // no file yet: an empty hive
    report(path + ": cannot be read: " + std::strerror(errno));
    return false;
  }
  ::fstat(fd, st);
  memory::HiveReader reader(root, path, now, arena);
  std::string buffer(kHiveReadChunk, '\0');
  bool readError = false;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readError = true;
    if (n <= 0) break;
    reader.Feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
  }
  ::close(fd);
  memory::HiveReadResult result = reader.Finish();
  for (const std::string& problem : result.problems) report(problem);
  if (readError) report(path + ": read error");
  *prologueLength = result.prologueLength;
  return result.clean && !readError;
}

// Blocks for a hive's tree: mapped memory that the kernel may back with
// large pages, so that reading a big hive does not stop on a page fault for
// every 4 KB it fills.
memory::TreeArena::BlockSource LargeBlocks() {
  return {[](size_t bytes) -> void* {
            void* block =
                ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (block == MAP_FAILED) return nullptr;
            if (bytes >= (4u << 20)) ::madvise(block, bytes, MADV_HUGEPAGE);
            return block;
          },
          [](void* block, size_t bytes) { ::munmap(block, bytes); }, 16u << 20};
}

}  // namespace

static void FinishSavesIfInterrupted(const std::string& prefix) {
  if (!AnySaveInterrupted(prefix)) return;
  FolderLock lock(prefix, LOCK_EX);
  if (lock.fd() >= 0) FinishInterruptedSaves(prefix);
}

std::vector<std::string> HiveProblems(const std::string& prefixDirectory) {
  std::vector<std::string> problems;
  FinishSavesIfInterrupted(prefixDirectory);
  FolderLock lock(prefixDirectory, LOCK_SH);  // a save in another process is not half seen
  for (const char* name : kFileNames) {
    struct stat st;
    uint64_t prologueLength = 0;
    StreamHive(prefixDirectory + "/" + name, nullptr, nullptr, 0, &st, &prologueLength,
               [&](const std::string& problem) { problems.push_back(problem); });
  }
  return problems;
}

PrefixRegistry::Identity PrefixRegistry::IdentityOf(const struct stat& st) {
  Identity identity;
  identity.exists = true;
  identity.device = st.st_dev;
  identity.inode = st.st_ino;
  identity.size = static_cast<uint64_t>(st.st_size);
  identity.mtimeNs = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                     static_cast<uint64_t>(st.st_mtim.tv_nsec);
  return identity;
}

bool PrefixRegistry::ReadInto(HiveId hive, Key* root, memory::TreeArena* arena, Identity* identity,
                              uint64_t* prologueLength) {
  struct stat st;
  const bool clean = StreamHive(files_[hive].path, root, arena, Now(), &st, prologueLength,
                                [this](const std::string& problem) { Report(problem); });
  *identity = st.st_ino != 0 ? IdentityOf(st) : Identity{};
  return clean;
}

void PrefixRegistry::LoadHive(HiveId hive) {
  HiveFile& file = files_[hive];
  FinishSavesIfInterrupted(prefix_);
  FolderLock lock(prefix_, LOCK_SH);  // a save in another process is not half seen
  auto arena = std::make_unique<memory::TreeArena>(LargeBlocks());
  file.clean = ReadInto(hive, hive_root(hive), arena.get(), &file.identity, &file.prologueLength);
  KeepArena(hive, std::move(arena));
  if (!file.clean) hive_root(hive)->flags |= memory::kKeyReadOnly;
}

uint32_t PrefixRegistry::CheckWritable(HiveId) {
  return WineServerRunning(prefix_, false) ? kRegAccessDenied : kRegSuccess;
}

void PrefixRegistry::Changed(HiveId hive, memory::Change&& change) {
  files_[hive].journal.push_back(std::move(change));
}

std::u16string PrefixRegistry::StoreName(HiveId hive) { return Utf8ToU16(files_[hive].path); }

uint32_t PrefixRegistry::SaveHive(HiveId hive) {
  HiveFile& file = files_[hive];
  if (file.journal.empty()) return kRegSuccess;
  if (!file.clean) return kRegAccessDenied;
  FolderLock lock(prefix_, LOCK_EX);
  if (lock.fd() < 0) return ErrorFromErrno(errno);
  if (WineServerRunning(prefix_)) return kRegAccessDenied;
  FinishInterruptedSaves(prefix_);

  // Another process may have saved the hive since it was read: read it again
  // and make this registry's changes on the new text.
  struct stat st;
  const Identity now = ::stat(file.path.c_str(), &st) == 0 ? IdentityOf(st) : Identity{};
  if (!(now == file.identity)) {
    auto arena = std::make_unique<memory::TreeArena>(LargeBlocks());
    auto fresh = std::make_unique<Key>();
    fresh->flags = memory::kKeyHiveRoot;
    fresh->hive = static_cast<uint8_t>(hive);
    fresh->name = hive_root(hive)->name;
    Identity identity;
    uint64_t prologueLength = 0;
    if (!ReadInto(hive, fresh.get(), arena.get(), &identity, &prologueLength))
      return kRegAccessDenied;
    const uint64_t time = Now();
    for (const memory::Change& change : file.journal) ApplyChange(fresh.get(), change, time);
    ReplaceHive(hive, std::move(fresh), std::move(arena));
    file.identity = identity;
    file.prologueLength = prologueLength;
  }
  return Write(hive, lock.fd());
}

uint32_t PrefixRegistry::Write(HiveId hive, int directory) {
  HiveFile& file = files_[hive];
  // The text goes to the file the hive's name stands for: through a
  // symbolic link, to its target, replaced by a rename beside it.
  std::string target = file.path;
  struct stat lst;
  if (::lstat(file.path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(file.path.c_str(), resolved) != nullptr) target = resolved;
  }
  struct stat st;
  const bool haveTarget = ::stat(target.c_str(), &st) == 0;
  // A file with a second name would part from it in a rename: it is
  // rewritten in place, from a complete copy that outlives a kill.
  const bool inPlace = haveTarget && st.st_nlink > 1;
  struct stat owner = st;
  if (!haveTarget && ::fstat(directory, &owner) != 0) owner.st_uid = owner.st_gid = 0;

  // The copy of an in-place save is made in the prefix, where its pending
  // name is; otherwise beside the file it replaces.
  const size_t slash = target.rfind('/');
  const std::string folder = inPlace ? prefix_ : target.substr(0, slash);
  const std::string temp = folder + "/." + (inPlace ? kFileNames[hive] : target.substr(slash + 1)) +
                           "." + std::to_string(::getpid()) + ".tmp";
  const int out = ::open(temp.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
  if (out < 0) return ErrorFromErrno(errno);
  if (haveTarget) ::fchmod(out, st.st_mode & 07777);
  // Run as root on a user's prefix, the hive stays the user's.
  if (::geteuid() == 0 && owner.st_uid != 0 && ::fchown(out, owner.st_uid, owner.st_gid) != 0) {
    // Kept as root's: the save itself still stands.
  }

  const int in = file.identity.exists ? ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  FdSource source(in);
  FdSink sink(out);
  const memory::HiveWriteResult written =
      memory::WriteHive(hive_root(hive), kRootPaths[hive], win64() ? "win64" : "win32",
                        file.prologueLength, in >= 0 ? &source : nullptr, &sink);
  if (in >= 0) ::close(in);
  int error = written.ok ? 0 : (sink.error != 0 ? sink.error : EIO);
  if (error == 0 && ::fsync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0) error = errno;

  if (error == 0 && inPlace) {
    // Once complete and on disk, the copy takes the name that the next run
    // looks for: a kill during the rewrite is finished from it then.
    const std::string pending = RollForwardPath(prefix_, hive);
    if (::rename(temp.c_str(), pending.c_str()) != 0) error = errno;
    if (error == 0) {
      ::fsync(directory);
      error = CopyInto(pending, file.path);
      if (error == 0) {
        ::unlink(pending.c_str());
        ::fsync(directory);
      }
    }
  } else if (error == 0) {
    if (::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error == 0) {
      const int parent = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (parent >= 0) {
        ::fsync(parent);
        ::close(parent);
      }
    }
  }
  if (error != 0) {
    ::unlink(temp.c_str());
    return ErrorFromErrno(error);
  }

  memory::CommitWrite(hive_root(hive), written);
  file.prologueLength = written.prologueLength;
  file.journal.clear();
  if (::stat(file.path.c_str(), &st) == 0) file.identity = IdentityOf(st);
  return kRegSuccess;
}

}  // namespace platform::posix
