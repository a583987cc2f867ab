// Win32 backend of the file-system seam: the real calls.
#include "platform/win32/win32.h"
// clang-format off
#include <string>

#include "platform/file_system.h"
#include "platform/lookup_round.h"
// clang-format on

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

std::wstring W(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string U(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

// Runs a Win32 call that fills a buffer and returns the length it needs when
// the buffer is too small (GetFullPathNameW and friends), growing the buffer
// until the text fits. Empty when the call fails.
template <typename Call>
std::u16string GrowingBuffer(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return U(std::wstring_view(buffer.data(), n));
    buffer.assign(n + 1, L'\0');
  }
  return {};
}

// The drive of a path ("D:\..." or "\\?\D:\...") is there: its letter is
// assigned, and a drive that can be absent (removable or optical media, a
// network drive) answers at its root; a share answers at its root. Other
// paths answer.
bool DriveAnswers(std::u16string_view path) {
  if (path.size() >= 4 && (path.substr(0, 4) == u"\\\\?\\" || path.substr(0, 4) == u"\\??\\"))
    path.remove_prefix(4);
  if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\') {
    // A share answers at "\\server\share\".
    size_t end = path.find(u'\\', 2);
    if (end != std::u16string_view::npos) end = path.find(u'\\', end + 1);
    std::wstring share = W(path.substr(0, end));
    share += L'\\';
    return ::GetFileAttributesW(share.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  if (path.size() < 2 || path[1] != u':' || !((path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z'))
    return true;
  const wchar_t root[] = {static_cast<wchar_t>(path[0]), L':', L'\\', 0};
  switch (::GetDriveTypeW(root)) {
    case DRIVE_UNKNOWN:
    case DRIVE_NO_ROOT_DIR:
      return false;
    case DRIVE_FIXED:
      return true;
    default: {
      const UINT mode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
      const bool answers = ::GetFileAttributesW(root) != INVALID_FILE_ATTRIBUTES;
      ::SetErrorMode(mode);
      return answers;
    }
  }
}

class Win32FileSystem final : public FileSystem {
 public:
  uint32_t GetLastError() override { return ::GetLastError(); }
  void SetLastError(uint32_t error) override { ::SetLastError(error); }

  uint32_t GetFileAttributes(std::u16string_view path) override {
    const DWORD attributes = ::GetFileAttributesW(W(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return attributes;
    DWORD error = ::GetLastError();
    // "Not found" on a drive that is not there says nothing about the file;
    // a share that cannot be reached is such a drive.
    if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && !DriveAnswers(path))
      error = ERROR_NOT_READY;
    if (error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME || error == ERROR_BAD_DEV_TYPE ||
        error == ERROR_NO_NETWORK || error == ERROR_NETWORK_UNREACHABLE ||
        error == ERROR_HOST_UNREACHABLE)
      error = ERROR_NOT_READY;
    ::SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  bool CreateDirectory(std::u16string_view path) override {
    return ::CreateDirectoryW(W(path).c_str(), nullptr) != 0;
  }
  bool RemoveDirectory(std::u16string_view path) override {
    return ::RemoveDirectoryW(W(path).c_str()) != 0;
  }
  bool DeleteFile(std::u16string_view path) override { return ::DeleteFileW(W(path).c_str()) != 0; }
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
      DirectoryEntry entry;
      entry.name = U(name);
      entry.attributes = data.dwFileAttributes;
      entry.shortName = U(data.cAlternateFileName);
      entries->push_back(std::move(entry));
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
    return GrowingBuffer(
        [](wchar_t* buffer, DWORD size) { return ::GetCurrentDirectoryW(size, buffer); });
  }
  bool SetCurrentDirectory(std::u16string_view path) override {
    return ::SetCurrentDirectoryW(W(path).c_str()) != 0;
  }

  std::u16string GetFullPathName(std::u16string_view path) override {
    const std::wstring wide = W(path);
    return GrowingBuffer([&wide](wchar_t* buffer, DWORD size) {
      return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
    });
  }
  bool GetLongPathName(std::u16string_view path, std::u16string* longPath) override {
    const std::wstring wide = W(path);
    *longPath = GrowingBuffer([&wide](wchar_t* buffer, DWORD size) {
      return ::GetLongPathNameW(wide.c_str(), buffer, size);
    });
    return !longPath->empty();
  }
  bool SearchPath(std::u16string_view folders, std::u16string_view fileName,
                  std::u16string_view extension, std::u16string* found) override {
    const std::wstring list = W(folders);
    const std::wstring name = W(fileName);
    const std::wstring ext = W(extension);
    *found = GrowingBuffer([&](wchar_t* buffer, DWORD size) {
      return ::SearchPathW(list.empty() ? nullptr : list.c_str(), name.c_str(),
                           ext.empty() ? nullptr : ext.c_str(), size, buffer, nullptr);
    });
    return !found->empty();
  }

  std::u16string GetSystemDirectory() override {
    return GrowingBuffer([](wchar_t* buffer, DWORD size) {
      return ::GetSystemDirectoryW(buffer, static_cast<UINT>(size));
    });
  }
  std::u16string GetWindowsDirectory() override {
    return GrowingBuffer([](wchar_t* buffer, DWORD size) {
      return ::GetWindowsDirectoryW(buffer, static_cast<UINT>(size));
    });
  }
  uint32_t GetLogicalDrives() override { return ::GetLogicalDrives(); }
};

}  // namespace

FileSystem* FileSystem::Default() {
  static Win32FileSystem instance;
  return &instance;
}

// Windows looks every path up itself: a round changes nothing there.
LookupRound::LookupRound() = default;
LookupRound::~LookupRound() = default;

}  // namespace platform
