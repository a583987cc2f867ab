// POSIX backend of the file-system seam: Windows paths looked up in the Wine
// prefix, errno turned into Win32 error codes. Share modes are advisory here:
// Linux has no mandatory sharing, so every open succeeds as far as the file's
// permissions allow.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/file_system.h"
#include "platform/posix/wine_prefix.h"
#include "platform/unicode.h"

namespace platform {
namespace {

thread_local uint32_t t_lastError = 0;

uint32_t FromErrno(int error, bool parentMissing) {
  switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: return parentMissing ? kErrorPathNotFound : kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kErrorAccessDenied;
    case EEXIST: return kErrorAlreadyExists;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENOSPC: return kErrorDiskFull;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EBUSY: return kErrorSharingViolation;
    default: return kErrorAccessDenied;
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
    if (!unix.found || stat(unix.path.c_str(), &st) != 0) {
      t_lastError = unix.parentFound ? kErrorFileNotFound : kErrorPathNotFound;
      return kInvalidFileAttributes;
    }
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
    if (rename(source.path.c_str(), target.path.c_str()) != 0)
      return Fail(FromErrno(errno, false));
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
      entries->push_back(DirectoryEntry{Utf8ToU16(name), attributes});
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
      case kCreateNew: flags |= O_CREAT | O_EXCL; break;
      case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
      case kOpenExisting: break;
      case kOpenAlways: flags |= O_CREAT; break;
      case kTruncateExisting: flags |= O_TRUNC; break;
      default: t_lastError = kErrorInvalidParameter; return nullptr;
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
    const int whence = origin == kFileBegin ? SEEK_SET : origin == kFileCurrent ? SEEK_CUR : SEEK_END;
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

  std::u16string GetCurrentDirectory() override {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return u"Z:\\";
    return posix::ToWindowsPath(cwd);
  }

 private:
  static bool Fail(uint32_t error) {
    t_lastError = error;
    return false;
  }
};

}  // namespace

FileSystem* FileSystem::Default() {
  static PosixFileSystem instance;
  return &instance;
}

}  // namespace platform
