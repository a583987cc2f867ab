// POSIX backend of the file-system seam: Windows paths looked up in the Wine
// prefix, errno turned into Win32 error codes. Share modes are advisory here:
// Linux has no mandatory sharing, so every open succeeds as far as the file's
// permissions allow.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/lookup_round.h"
#include "platform/unicode.h"
#include "platform/wineprefix/dos_path.h"
#include "platform/wineprefix/wine_prefix.h"

namespace platform {
namespace {

// Run as root on a user's prefix, what the module makes belongs to the owner
// of the folder it is made in, or the user's next run could not write it.
void KeepFolderOwner(int fd, const std::string& path) {
  if (geteuid() != 0) return;
  struct stat own, folder;
  const std::string parent = path.substr(0, path.find_last_of('/') + 1);
  if (fstat(fd, &own) != 0 || stat(parent.empty() ? "." : parent.c_str(), &folder) != 0) return;
  if (own.st_uid != 0 || folder.st_uid == 0) return;
  if (fchown(fd, folder.st_uid, folder.st_gid) != 0) {
    // Left as it is: the file works for this run, as any other file would.
  }
}

thread_local uint32_t t_lastError = 0;
// The last path whose attributes a thread found, and where: a long-name
// query of the same path right after needs no second lookup. (Not a
// thread_local object: one with a destructor would keep a loaded module in
// memory after it was freed.)
struct FoundPath {
  std::mutex lock;
  std::thread::id thread;
  std::u16string path;
  std::string unix;

  void Remember(std::u16string_view windows, const std::string& found) {
    std::lock_guard<std::mutex> hold(lock);
    thread = std::this_thread::get_id();
    path.assign(windows);
    unix = found;
  }
  bool Recall(std::u16string_view windows, std::string* found) {
    std::lock_guard<std::mutex> hold(lock);
    if (thread != std::this_thread::get_id() || path != windows) return false;
    *found = unix;
    return true;
  }
};

uint32_t FromErrno(int error, bool parentMissing) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return parentMissing ? kErrorPathNotFound : kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case ENOSPC:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EBUSY:
      return kErrorSharingViolation;
    default:
      return kErrorAccessDenied;
  }
}

// The error of a lookup that cannot tell whether its path exists.
uint32_t LookupError(int error) {
  switch (error) {
    case ENODEV:
      return kErrorNotReady;
    case EIO:
      return kErrorReadFault;
    case ELOOP:
      return kErrorCantResolveFilename;
    case ETIMEDOUT:
      return kErrorTimeout;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    default:
      return kErrorAccessDenied;
  }
}

struct PosixFile {
  int fd;
};

int Fd(FileHandle file) { return static_cast<PosixFile*>(file)->fd; }

uint64_t FileTimeOf(const struct timespec& ts) {
  constexpr uint64_t kEpochDifference = 116444736000000000ull;
  return kEpochDifference + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
         static_cast<uint64_t>(ts.tv_nsec) / 100ull;
}

class PosixFileSystem final : public FileSystem {
 public:
  uint32_t GetLastError() override { return t_lastError; }
  void SetLastError(uint32_t error) override { t_lastError = error; }

  uint32_t GetFileAttributes(std::u16string_view path) override {
    const posix::UnixPath unix = posix::ToUnixPath(path);
    struct stat st;
    st.st_mode = unix.mode;
    if (!unix.found) {
      t_lastError = unix.error != 0    ? LookupError(unix.error)
                    : unix.parentFound ? kErrorFileNotFound
                                       : kErrorPathNotFound;
      return kInvalidFileAttributes;
    }
    if (unix.mode == 0 && stat(unix.path.c_str(), &st) != 0) {
      // A link to nothing is no file; a loop of links cannot be told.
      t_lastError = errno == ENOENT ? kErrorFileNotFound : LookupError(errno);
      return kInvalidFileAttributes;
    }
    lastFound_.Remember(path, unix.path);
    uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= kFileAttributeDirectory;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= kFileAttributeReadOnly;
    return attributes == 0 ? kFileAttributeNormal : attributes;
  }

  bool CreateDirectory(std::u16string_view path) override {
    const posix::UnixPath unix = posix::ToUnixPath(path);
    if (unix.found) return Fail(kErrorAlreadyExists);
    if (!unix.parentFound) return Fail(kErrorPathNotFound);
    if (mkdir(unix.path.c_str(), 0777) != 0) return Fail(FromErrno(errno, false));
    const int fd = open(unix.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      KeepFolderOwner(fd, unix.path);
      close(fd);
    }
    return true;
  }
  bool RemoveDirectory(std::u16string_view path) override {
    const posix::UnixPath unix = posix::ToUnixPath(path);
    if (!unix.found) return Fail(unix.parentFound ? kErrorFileNotFound : kErrorPathNotFound);
    if (rmdir(unix.path.c_str()) != 0) return Fail(FromErrno(errno, false));
    return true;
  }
  bool DeleteFile(std::u16string_view path) override {
    const posix::UnixPath unix = posix::ToUnixPath(path);
    if (!unix.found) return Fail(unix.parentFound ? kErrorFileNotFound : kErrorPathNotFound);
    if (unlink(unix.path.c_str()) != 0) return Fail(FromErrno(errno, false));
    return true;
  }
  bool MoveFile(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
    const posix::UnixPath source = posix::ToUnixPath(from);
    const posix::UnixPath target = posix::ToUnixPath(to);
    if (!source.found) return Fail(source.parentFound ? kErrorFileNotFound : kErrorPathNotFound);
    if (!target.parentFound) return Fail(kErrorPathNotFound);
    if (target.found && !(flags & kMoveFileReplaceExisting)) return Fail(kErrorAlreadyExists);
    if (rename(source.path.c_str(), target.path.c_str()) != 0) return Fail(FromErrno(errno, false));
    return true;
  }
  bool ListDirectory(std::u16string_view path, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    const posix::UnixPath unix = posix::ToUnixPath(path);
    if (!unix.found) return Fail(unix.parentFound ? kErrorFileNotFound : kErrorPathNotFound);
    DIR* dir = opendir(unix.path.c_str());
    if (dir == nullptr) return Fail(FromErrno(errno, false));
    while (dirent* entry = readdir(dir)) {
      std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      const std::string full = unix.path + (unix.path == "/" ? "" : "/") + std::string(name);
      uint32_t attributes = kFileAttributeNormal;
      if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) attributes = kFileAttributeDirectory;
      DirectoryEntry found;
      found.name = Utf8ToU16(name);
      found.attributes = attributes;
      if (!IsLegal8Dot3Name(found.name)) found.shortName = HashShortFileName(found.name);
      entries->push_back(std::move(found));
    }
    closedir(dir);
    return true;
  }

  FileHandle CreateFile(std::u16string_view path, uint32_t access, uint32_t,
                        uint32_t disposition) override {
    const posix::UnixPath unix = posix::ToUnixPath(path);
    if (!unix.parentFound) {
      t_lastError = kErrorPathNotFound;
      return nullptr;
    }
    int flags = O_CLOEXEC;
    const bool read = (access & kGenericRead) != 0;
    const bool write = (access & kGenericWrite) != 0;
    flags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (disposition) {
      case kCreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
      case kCreateAlways:
        flags |= O_CREAT | O_TRUNC;
        break;
      case kOpenExisting:
        break;
      case kOpenAlways:
        flags |= O_CREAT;
        break;
      case kTruncateExisting:
        flags |= O_TRUNC;
        break;
      default:
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    if ((disposition == kOpenExisting || disposition == kTruncateExisting) && !unix.found) {
      t_lastError = kErrorFileNotFound;
      return nullptr;
    }
    const int fd = open(unix.path.c_str(), flags, 0666);
    if (fd < 0) {
      t_lastError = errno == EEXIST ? kErrorFileExists : FromErrno(errno, false);
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd);
      t_lastError = kErrorAccessDenied;
      return nullptr;
    }
    if ((flags & O_CREAT) != 0) KeepFolderOwner(fd, unix.path);
    auto* file = new (std::nothrow) PosixFile{fd};
    if (file == nullptr) {
      close(fd);
      t_lastError = kErrorNotEnoughMemory;
      return nullptr;
    }
    // Like Windows: opening an existing file with OPEN_ALWAYS/CREATE_ALWAYS
    // reports ERROR_ALREADY_EXISTS while succeeding.
    t_lastError = (unix.found && (disposition == kOpenAlways || disposition == kCreateAlways))
                      ? kErrorAlreadyExists
                      : kErrorSuccess;
    return file;
  }
  bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* read) override {
    *read = 0;
    ssize_t n;
    do {
      n = ::read(Fd(file), buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(FromErrno(errno, false));
    *read = static_cast<uint32_t>(n);
    return true;
  }
  bool WriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* written) override {
    *written = 0;
    const char* bytes = static_cast<const char*>(data);
    while (*written < size) {
      const ssize_t n = ::write(Fd(file), bytes + *written, size - *written);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(FromErrno(errno, false));
      }
      *written += static_cast<uint32_t>(n);
    }
    return true;
  }
  bool FlushFileBuffers(FileHandle file) override {
    if (fsync(Fd(file)) != 0) return Fail(FromErrno(errno, false));
    return true;
  }
  int64_t SetFilePointer(FileHandle file, int64_t offset, uint32_t origin) override {
    const int whence = origin == kFileBegin     ? SEEK_SET
                       : origin == kFileCurrent ? SEEK_CUR
                                                : SEEK_END;
    const off_t position = lseek(Fd(file), offset, whence);
    if (position < 0) {
      t_lastError = kErrorInvalidParameter;
      return -1;
    }
    return position;
  }
  bool SetEndOfFile(FileHandle file) override {
    const off_t position = lseek(Fd(file), 0, SEEK_CUR);
    if (position < 0 || ftruncate(Fd(file), position) != 0) return Fail(FromErrno(errno, false));
    return true;
  }
  bool GetFileSize(FileHandle file, uint64_t* size) override {
    struct stat st;
    if (fstat(Fd(file), &st) != 0) return Fail(FromErrno(errno, false));
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }
  bool GetFileTime(FileHandle file, uint64_t* lastWrite) override {
    struct stat st;
    if (fstat(Fd(file), &st) != 0) return Fail(FromErrno(errno, false));
    *lastWrite = FileTimeOf(st.st_mtim);
    return true;
  }
  bool CloseHandle(FileHandle file) override {
    if (file == nullptr) return Fail(kErrorInvalidHandle);
    const int result = close(Fd(file));
    delete static_cast<PosixFile*>(file);
    if (result != 0) return Fail(FromErrno(errno, false));
    return true;
  }

  std::u16string GetCurrentDirectory() override { return posix::CurrentDirectory(); }

  bool SetCurrentDirectory(std::u16string_view path) override {
    const posix::UnixPath unix = posix::ToUnixPath(path);
    if (!unix.found) return Fail(unix.parentFound ? kErrorFileNotFound : kErrorPathNotFound);
    if (chdir(unix.path.c_str()) != 0) return Fail(FromErrno(errno, false));
    return true;
  }

  std::u16string GetFullPathName(std::u16string_view path) override {
    if (path.empty()) {
      t_lastError = kErrorInvalidName;
      return {};
    }
    return FullPathName(path, posix::CurrentDirectory());
  }

  // Walks the path as written, one component at a time, as Wine's
  // GetLongPathNameW does.
  bool GetLongPathName(std::u16string_view path, std::u16string* longPath) override {
    longPath->clear();
    if (path.empty()) return Fail(kErrorInvalidParameter);
    std::u16string text(path);
    if (FoundLongName(text, longPath)) return true;
    size_t position = 0;
    if (text.rfind(u"\\\\?\\", 0) == 0 || text.rfind(u"\\??\\", 0) == 0) position = 4;
    if (text.size() >= position + 2 && text[position + 1] == u':') position += 2;
    std::u16string out = text.substr(0, position);
    while (position < text.size()) {
      if (IsPathSeparator(text[position])) {
        out += text[position++];
        continue;
      }
      size_t end = position;
      while (end < text.size() && !IsPathSeparator(text[end])) ++end;
      const std::u16string part = text.substr(position, end - position);
      if (part == u"." || part == u"..") {
        out += part;
      } else {
        const posix::UnixPath unix = posix::ToUnixPath(out + part);
        if (!unix.found) return Fail(kErrorFileNotFound);
        // Only what may be a short name is replaced; a longer name stays as
        // written, whatever its case.
        out += IsLegal8Dot3Name(part) ? Utf8ToU16(unix.path.substr(unix.path.find_last_of('/') + 1))
                                      : part;
      }
      position = end;
    }
    if (GetFileAttributes(out) == kInvalidFileAttributes) return Fail(kErrorFileNotFound);
    *longPath = std::move(out);
    return true;
  }

  // The long name of a full path that exists, without a walk: each component
  // that may be a short name takes its name on disk, the others stay as
  // written, whatever their case (as the walk makes it). No lookup when the
  // attributes of the same path were just found (the scanners ask for both,
  // one right after the other), else one.
  bool FoundLongName(std::u16string_view text, std::u16string* longPath) {
    // A trailing separator keeps its form through the walk.
    if (text.size() < 4 || text[1] != u':' || text[2] != u'\\' || text.back() == u'\\')
      return false;
    std::vector<std::u16string_view> parts;
    for (size_t start = 3; start < text.size();) {
      size_t end = text.find(u'\\', start);
      if (end == std::u16string_view::npos) end = text.size();
      const std::u16string_view part = text.substr(start, end - start);
      if (part.empty() || part == u"." || part == u".." || part.find(u'/') != part.npos)
        return false;
      parts.push_back(part);
      start = end + 1;
    }
    std::string found;
    if (!lastFound_.Recall(text, &found)) {
      const posix::UnixPath unix = posix::ToUnixPath(text);
      if (!unix.found) return false;
      found = unix.path;
    }
    // The found path's last components, one per part.
    std::vector<std::string_view> names(parts.size());
    size_t end = found.size();
    for (size_t i = parts.size(); i-- > 0;) {
      const size_t slash = end == 0 ? std::string::npos : found.rfind('/', end - 1);
      if (slash == std::string::npos) return false;
      names[i] = std::string_view(found).substr(slash + 1, end - slash - 1);
      end = slash;
    }
    std::u16string out(text.substr(0, 2));
    for (size_t i = 0; i < parts.size(); ++i) {
      out += u'\\';
      if (IsLegal8Dot3Name(parts[i])) {
        out += Utf8ToU16(names[i]);
      } else {
        out += parts[i];
      }
    }
    *longPath = std::move(out);
    return true;
  }

  bool SearchPath(std::u16string_view folders, std::u16string_view fileName,
                  std::u16string_view extension, std::u16string* found) override {
    found->clear();
    if (fileName.empty()) return Fail(kErrorInvalidParameter);
    std::u16string name(fileName);
    const size_t lastSeparator = name.find_last_of(u"\\/");
    const size_t dot = name.find(u'.', lastSeparator == std::u16string::npos ? 0 : lastSeparator);
    if (dot == std::u16string::npos) name += extension;
    if (NameHasPath(name)) return Found(GetFullPathName(name), found) || Fail(kErrorFileNotFound);
    std::u16string path;
    if (folders.empty()) GetEnvironmentVariable(u"PATH", &path);
    const std::u16string list =
        folders.empty() ? DefaultSearchPath(this, path) : std::u16string(folders);
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(u';', start);
      if (end == std::u16string::npos) end = list.size();
      std::u16string folder = list.substr(start, end - start);
      start = end + 1;
      if (folder.empty()) continue;
      if (!IsPathSeparator(folder.back())) folder += u'\\';
      if (Found(GetFullPathName(folder + name), found)) return true;
    }
    return Fail(kErrorFileNotFound);
  }

  std::u16string GetSystemDirectory() override { return u"C:\\windows\\system32"; }
  std::u16string GetWindowsDirectory() override { return u"C:\\windows"; }
  uint32_t GetLogicalDrives() override { return posix::DriveMask(); }

 private:
  static bool Fail(uint32_t error) {
    t_lastError = error;
    return false;
  }
  // SearchPathW checks a name that has a drive, a root or a leading ".\" or
  // "..\" only where it points.
  static bool NameHasPath(std::u16string_view name) {
    if (name.size() >= 2 && name[1] == u':') return true;
    if (IsPathSeparator(name[0])) return true;
    if (name[0] != u'.') return false;
    if (name.size() >= 2 && IsPathSeparator(name[1])) return true;
    return name.size() >= 3 && name[1] == u'.' && IsPathSeparator(name[2]);
  }
  bool Found(const std::u16string& candidate, std::u16string* found) {
    if (GetFileAttributes(candidate) == kInvalidFileAttributes) return false;
    *found = candidate;
    return true;
  }

  FoundPath lastFound_;
};

}  // namespace

FileSystem* FileSystem::Default() {
  static PosixFileSystem instance;
  return &instance;
}

LookupRound::LookupRound() { posix::BeginLookupRound(); }
LookupRound::~LookupRound() { posix::EndLookupRound(); }

}  // namespace platform
