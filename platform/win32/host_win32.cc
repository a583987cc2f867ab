// Win32 backend of the host seam: the Windows files, environment and
// programs of the computer regclean runs on. Paths are UTF-8 here.
// win32.h first: it includes <windows.h> and then removes the A/W macros
// whose names the seams use, which a later Windows header would bring back.
#include "platform/win32/win32.h"
// clang-format off
#include <algorithm>
#include <thread>

// clang-format on
#include "platform/host.h"
#include "platform/unicode.h"

namespace platform {
namespace {

std::wstring W(std::string_view utf8) {
  const std::u16string text = Utf8ToU16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const wchar_t* text, size_t length) {
  return U16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

class Handle {
 public:
  Handle() = default;
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* put() { return &handle_; }
  void Close() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// One argument quoted as the C runtime's command-line reader takes it apart.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

void Drain(HANDLE pipe, std::string* target) {
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0)
    target->append(buffer, read);
}

}  // namespace

bool ListHostFolder(const std::string& folder, std::vector<HostEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((W(folder) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    const std::string name = Utf8(data.cFileName, wcslen(data.cFileName));
    if (name == "." || name == "..") continue;
    HostEntry entry;
    entry.name = name;
    entry.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries->push_back(std::move(entry));
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(entries->begin(), entries->end(),
            [](const HostEntry& a, const HostEntry& b) { return a.name < b.name; });
  return true;
}

HostFileKind HostFileKindOf(const std::string& path, uint64_t* size) {
  if (size != nullptr) *size = 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !::GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &data))
    return HostFileKind::kNone;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return HostFileKind::kFolder;
  if (size != nullptr)
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return HostFileKind::kFile;
}

bool ReadHostFile(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  Handle file;
  *file.put() = ::CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD read = 0;
  for (;;) {
    if (!::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) return false;
    if (read == 0) return true;
    if (bytes->size() + read > limit) return false;
    bytes->append(buffer, read);
  }
}

std::string HostRealPath(const std::string& path) {
  if (HostFileKindOf(path) == HostFileKind::kNone) return {};
  wchar_t full[32768];
  const DWORD length = ::GetFullPathNameW(W(path).c_str(), 32768, full, nullptr);
  return length > 0 && length < 32768 ? Utf8(full, length) : std::string();
}

std::string HostEnvironmentVariable(std::string_view name) {
  wchar_t value[32767];
  const DWORD length = ::GetEnvironmentVariableW(W(name).c_str(), value, 32767);
  return length > 0 && length < 32767 ? Utf8(value, length) : std::string();
}

std::string HostHomeFolder() { return HostEnvironmentVariable("USERPROFILE"); }

unsigned HostProcessorCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1u;
}

std::string HostProgramFile() {
  wchar_t path[32768];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
  return length > 0 && length < 32768 ? Utf8(path, length) : std::string();
}

bool RunHostProgram(const std::vector<std::string>& arguments, HostRun* run, std::string* error) {
  *run = HostRun();
  if (arguments.empty()) {
    *error = "no program";
    return false;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  Handle outRead, outWrite, errRead, errWrite, input;
  if (!::CreatePipe(outRead.put(), outWrite.put(), &inherit, 0) ||
      !::CreatePipe(errRead.put(), errWrite.put(), &inherit, 0)) {
    *error = "cannot make a pipe (error " + std::to_string(::GetLastError()) + ")";
    return false;
  }
  ::SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead.get(), HANDLE_FLAG_INHERIT, 0);
  *input.put() = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
  std::wstring line;
  for (const std::string& argument : arguments)
    line += (line.empty() ? L"" : L" ") + Quoted(W(argument));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = outWrite.get();
  startup.hStdError = errWrite.get();
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(W(arguments[0]).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
    *error = "cannot start " + arguments[0] + " (error " + std::to_string(::GetLastError()) + ")";
    return false;
  }
  outWrite.Close();
  errWrite.Close();
  // Standard error on a thread of its own, so that neither pipe fills up and
  // stops the program while the other is read.
  std::thread errReader(Drain, errRead.get(), &run->err);
  Drain(outRead.get(), &run->out);
  errReader.join();
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  run->exitCode = ::GetExitCodeProcess(process.hProcess, &code) ? static_cast<int>(code) : -1;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

}  // namespace platform
