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

struct DirectoryEntry {
  std::u16string name;
  uint32_t attributes = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The backend of this platform. Never null; lives for the process.
  static FileSystem* Default();

  // The calling thread's last error, as GetLastError.
  virtual uint32_t GetLastError() = 0;
  virtual void SetLastError(uint32_t error) = 0;

  // kInvalidFileAttributes when the path does not exist.
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
};

// Reads a whole file. False (with the last error set) when it cannot be read.
bool ReadWholeFile(FileSystem* fs, std::u16string_view path, std::string* bytes);
// Creates or replaces a file with bytes.
bool WriteWholeFile(FileSystem* fs, std::u16string_view path, std::string_view bytes);

}  // namespace platform
