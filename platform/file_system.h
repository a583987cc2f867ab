// The file-system seam. Paths are Windows paths in UTF-16 ("C:\dir\file"),
// on every platform: the POSIX backend looks them up in the Wine prefix the
// machine is (drives from its dosdevices links). Failures set the calling
// thread's last error to a Win32 code (2 not found, 3 path not found, 5
// access denied, 32 sharing violation, 80 exists, 183 already exists ...).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using FileHandle = void*;  // null: no file

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeNormal = 0x80;

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;

constexpr uint32_t kFileShareRead = 1;
constexpr uint32_t kFileShareWrite = 2;
constexpr uint32_t kFileShareDelete = 4;

constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;

constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kFileCurrent = 1;
constexpr uint32_t kFileEnd = 2;

constexpr uint32_t kMoveFileReplaceExisting = 1;

// Win32 error codes the seam reports.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorFilenameExcedRange = 206;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorTimeout = 1460;
constexpr uint32_t kErrorCantResolveFilename = 1921;

// The error of a failed lookup says that nothing of that name exists (no
// such file or folder, or a name no file can have). Any other failure (no
// access, a drive that is not there, an I/O error, a timeout) leaves it
// unknown whether it exists.
inline bool IsNoSuchFile(uint32_t error) {
  return error == kErrorFileNotFound || error == kErrorPathNotFound || error == kErrorInvalidName ||
         error == kErrorBadPathname;
}

struct DirectoryEntry {
  std::u16string name;
  uint32_t attributes = 0;
  std::u16string shortName;  // the 8.3 alias; empty when name itself is 8.3
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The backend of this platform. Never null; lives for the process.
  static FileSystem* Default();

  // The calling thread's last error, as GetLastError.
  virtual uint32_t GetLastError() = 0;
  virtual void SetLastError(uint32_t error) = 0;

  // kInvalidFileAttributes when the path does not exist, or when it cannot
  // be told: the last error then says which (see IsNoSuchFile). A drive or
  // share that is not there (no drive link, a dangling one, an empty mount
  // point, an unreachable share; on Windows an unassigned letter, no medium,
  // a disconnected network drive) gives kErrorNotReady.
  virtual uint32_t GetFileAttributes(std::u16string_view path) = 0;
  virtual bool CreateDirectory(std::u16string_view path) = 0;
  virtual bool RemoveDirectory(std::u16string_view path) = 0;
  virtual bool DeleteFile(std::u16string_view path) = 0;
  virtual bool MoveFile(std::u16string_view from, std::u16string_view to, uint32_t flags) = 0;
  // The names in a folder, without "." and "..". False when it cannot be read.
  virtual bool ListDirectory(std::u16string_view path, std::vector<DirectoryEntry>* entries) = 0;

  // Files, as CreateFileW and friends. A share mode without kFileShareWrite
  // keeps other writers out while the handle is open.
  virtual FileHandle CreateFile(std::u16string_view path, uint32_t access, uint32_t share,
                                uint32_t disposition) = 0;
  virtual bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* read) = 0;
  virtual bool WriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* written) = 0;
  virtual bool FlushFileBuffers(FileHandle file) = 0;
  // Moves the file pointer; returns the new position, or -1 on failure.
  virtual int64_t SetFilePointer(FileHandle file, int64_t offset, uint32_t origin) = 0;
  virtual bool SetEndOfFile(FileHandle file) = 0;
  virtual bool GetFileSize(FileHandle file, uint64_t* size) = 0;
  // Last write time as a FILETIME (100 ns since 1601, UTC).
  virtual bool GetFileTime(FileHandle file, uint64_t* lastWrite) = 0;
  virtual bool CloseHandle(FileHandle file) = 0;

  // The current folder as a Windows path.
  virtual std::u16string GetCurrentDirectory() = 0;
  // Makes path the current folder. False (2 or 3) when it is not a folder.
  virtual bool SetCurrentDirectory(std::u16string_view path) = 0;

  // GetFullPathNameW: path made absolute against the current folder, with
  // "." and ".." resolved (see FullPathName in dos_path.h). The file need not
  // exist. Empty, with the last error set, for an empty path.
  virtual std::u16string GetFullPathName(std::u16string_view path) = 0;
  // GetLongPathNameW as Wine does it: every component that is a valid 8.3
  // name is replaced by the name of the entry it stands for (so short names
  // become long ones, with their case on disk); longer names, the drive, a
  // relative start and a trailing separator stay as written. False with
  // error 2 when a component does not exist.
  virtual bool GetLongPathName(std::u16string_view path, std::u16string* longPath) = 0;
  // SearchPathW: looks for fileName in each folder of the ";"-separated list
  // folders, in order, and returns the first full path that exists. The
  // extension (".dll") is added only to a name without one. A name with a
  // drive, a root, or beginning with ".\" or "..\" is only checked where it
  // points. Empty folders: the Win32 backend uses SearchPathW's own order
  // and PATH; the POSIX one DefaultSearchPath(this, u""). False with error 2
  // when nothing is found.
  virtual bool SearchPath(std::u16string_view folders, std::u16string_view fileName,
                          std::u16string_view extension, std::u16string* found) = 0;

  // GetSystemDirectoryW and GetWindowsDirectoryW ("C:\windows\system32",
  // "C:\windows" in a Wine prefix).
  virtual std::u16string GetSystemDirectory() = 0;
  virtual std::u16string GetWindowsDirectory() = 0;
  // The drives that exist, bit 0 for A: (GetLogicalDrives).
  virtual uint32_t GetLogicalDrives() = 0;
};

// Forwards every call to another FileSystem; a test derives from it and
// overrides the one call it wants to fake or fail.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* target) : target_(target) {}
  FileSystem* target() const { return target_; }

  uint32_t GetLastError() override { return target_->GetLastError(); }
  void SetLastError(uint32_t error) override { target_->SetLastError(error); }
  uint32_t GetFileAttributes(std::u16string_view path) override {
    return target_->GetFileAttributes(path);
  }
  bool CreateDirectory(std::u16string_view path) override { return target_->CreateDirectory(path); }
  bool RemoveDirectory(std::u16string_view path) override { return target_->RemoveDirectory(path); }
  bool DeleteFile(std::u16string_view path) override { return target_->DeleteFile(path); }
  bool MoveFile(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
    return target_->MoveFile(from, to, flags);
  }
  bool ListDirectory(std::u16string_view path, std::vector<DirectoryEntry>* entries) override {
    return target_->ListDirectory(path, entries);
  }
  FileHandle CreateFile(std::u16string_view path, uint32_t access, uint32_t share,
                        uint32_t disposition) override {
    return target_->CreateFile(path, access, share, disposition);
  }
  bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* read) override {
    return target_->ReadFile(file, buffer, size, read);
  }
  bool WriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* written) override {
    return target_->WriteFile(file, data, size, written);
  }
  bool FlushFileBuffers(FileHandle file) override { return target_->FlushFileBuffers(file); }
  int64_t SetFilePointer(FileHandle file, int64_t offset, uint32_t origin) override {
    return target_->SetFilePointer(file, offset, origin);
  }
  bool SetEndOfFile(FileHandle file) override { return target_->SetEndOfFile(file); }
  bool GetFileSize(FileHandle file, uint64_t* size) override {
    return target_->GetFileSize(file, size);
  }
  bool GetFileTime(FileHandle file, uint64_t* lastWrite) override {
    return target_->GetFileTime(file, lastWrite);
  }
  bool CloseHandle(FileHandle file) override { return target_->CloseHandle(file); }
  std::u16string GetCurrentDirectory() override { return target_->GetCurrentDirectory(); }
  bool SetCurrentDirectory(std::u16string_view path) override {
    return target_->SetCurrentDirectory(path);
  }
  std::u16string GetFullPathName(std::u16string_view path) override {
    return target_->GetFullPathName(path);
  }
  bool GetLongPathName(std::u16string_view path, std::u16string* longPath) override {
    return target_->GetLongPathName(path, longPath);
  }
  bool SearchPath(std::u16string_view folders, std::u16string_view fileName,
                  std::u16string_view extension, std::u16string* found) override {
    return target_->SearchPath(folders, fileName, extension, found);
  }
  std::u16string GetSystemDirectory() override { return target_->GetSystemDirectory(); }
  std::u16string GetWindowsDirectory() override { return target_->GetWindowsDirectory(); }
  uint32_t GetLogicalDrives() override { return target_->GetLogicalDrives(); }

 private:
  FileSystem* target_;
};

// The folders SearchPathW looks in when it is given none, in its order: the
// host's folder, the current folder, the system folders (system32, system,
// the Windows folder), then the entries of pathVariable (a PATH value), as a
// ";"-separated list for SearchPath.
std::u16string DefaultSearchPath(FileSystem* fs, std::u16string_view pathVariable);

// Reads a whole file. False (with the last error set) when it cannot be read.
bool ReadWholeFile(FileSystem* fs, std::u16string_view path, std::string* bytes);
// Creates or replaces a file with bytes.
bool WriteWholeFile(FileSystem* fs, std::u16string_view path, std::string_view bytes);

}  // namespace platform
