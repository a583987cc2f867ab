// Win32 backend of the file-system seam: the real calls.
#include "platform/win32/win32.h"

#include <string>

#include "platform/file_system.h"

namespace platform {
namespace {

std::wstring W(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

class Win32FileSystem final : public FileSystem {
 public:
  uint32_t GetLastError() override { return ::GetLastError(); }
  void SetLastError(uint32_t error) override { ::SetLastError(error); }

  uint32_t GetFileAttributes(std::u16string_view path) override {
    return ::GetFileAttributesW(W(path).c_str());
  }
  bool CreateDirectory(std::u16string_view path) override {
    return ::CreateDirectoryW(W(path).c_str(), nullptr) != 0;
  }
  bool RemoveDirectory(std::u16string_view path) override {
    return ::RemoveDirectoryW(W(path).c_str()) != 0;
  }
  bool DeleteFile(std::u16string_view path) override {
    return ::DeleteFileW(W(path).c_str()) != 0;
  }
  bool MoveFile(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
    DWORD how = MOVEFILE_COPY_ALLOWED;
    if (flags & kMoveFileReplaceExisting) how |= MOVEFILE_REPLACE_EXISTING;
    return ::MoveFileExW(W(from).c_str(), W(to).c_str(), how) != 0;
  }
  bool ListDirectory(std::u16string_view path, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    std::wstring pattern = W(path);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      entries->push_back(
          DirectoryEntry{std::u16string(name.begin(), name.end()), data.dwFileAttributes});
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return true;
  }

  FileHandle CreateFile(std::u16string_view path, uint32_t access, uint32_t share,
                        uint32_t disposition) override {
    HANDLE h = ::CreateFileW(W(path).c_str(), access, share, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
  }
  bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* read) override {
    DWORD n = 0;
    const bool ok = ::ReadFile(file, buffer, size, &n, nullptr) != 0;
    *read = n;
    return ok;
  }
  bool WriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* written) override {
    DWORD n = 0;
    const bool ok = ::WriteFile(file, data, size, &n, nullptr) != 0;
    *written = n;
    return ok;
  }
  bool FlushFileBuffers(FileHandle file) override { return ::FlushFileBuffers(file) != 0; }
  int64_t SetFilePointer(FileHandle file, int64_t offset, uint32_t origin) override {
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(file, distance, &position, origin)) return -1;
    return position.QuadPart;
  }
  bool SetEndOfFile(FileHandle file) override { return ::SetEndOfFile(file) != 0; }
  bool GetFileSize(FileHandle file, uint64_t* size) override {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(file, &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
  }
  bool GetFileTime(FileHandle file, uint64_t* lastWrite) override {
    FILETIME ft;
    if (!::GetFileTime(file, nullptr, nullptr, &ft)) return false;
    *lastWrite = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
  }
  bool CloseHandle(FileHandle file) override { return ::CloseHandle(file) != 0; }

  std::u16string GetCurrentDirectory() override {
    DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(n, L'\0');
    n = ::GetCurrentDirectoryW(n, buffer.data());
    buffer.resize(n);
    return std::u16string(buffer.begin(), buffer.end());
  }
};

}  // namespace

FileSystem* FileSystem::Default() {
  static Win32FileSystem instance;
  return &instance;
}

}  // namespace platform
