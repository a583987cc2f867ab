// Win32 backend of the system seam: the kernel calls themselves.
// win32.h first: it includes <windows.h> and then removes the A/W macros
// whose names the seam uses, which a later Windows header would bring back.
#include "platform/win32/win32.h"
// clang-format off
#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winsvc.h>

#include <new>
#include <string>

// clang-format on
#include "platform/system.h"
#include "platform/win32/late_bound.h"

namespace platform {
namespace {

std::wstring W(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string U(const wchar_t* text) {
  std::u16string out;
  while (*text) out.push_back(static_cast<char16_t>(*text++));
  return out;
}

struct Win32Process {
  HANDLE process;
  HANDLE thread;
  DWORD pid;
};

// The restore-point records of SrClient.dll.
#pragma pack(push, 1)
struct RestorePointInfo {
  DWORD eventType;
  DWORD restorePointType;
  INT64 sequenceNumber;
  WCHAR description[256];
};
struct StateManagerStatus {
  DWORD status;
  INT64 sequenceNumber;
};
#pragma pack(pop)

struct Start {
  ThreadProc proc;
  void* argument;
};

DWORD WINAPI Trampoline(LPVOID parameter) {
  Start start = *static_cast<Start*>(parameter);
  delete static_cast<Start*>(parameter);
  return start.proc(start.argument);
}

// The fault flag of the guarded routine running on this thread, if any.
thread_local bool* t_faulted = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;

// Every floating-point and integer exception counts: an emulated processor
// may report an integer division by zero as an invalid floating-point
// operation (qemu gives 0xC0000090 for it).
bool IsHardwareFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case 0xC00002B4u:  // STATUS_FLOAT_MULTIPLE_FAULTS
    case 0xC00002B5u:  // STATUS_FLOAT_MULTIPLE_TRAPS
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return false;
  }
}

// A stack overflow leaves the filter only the guard page's few kilobytes:
// the thread keeps more below its guard page where the system has
// SetThreadStackGuarantee (Vista and later), so the filter can run.
void ReserveStackForFaults() {
  using Guarantee = BOOL(WINAPI*)(PULONG);
  static const auto guarantee = LateBound<Guarantee>(L"kernel32.dll", "SetThreadStackGuarantee");
  ULONG bytes = 64 * 1024;
  if (guarantee != nullptr) guarantee(&bytes);
}

LONG WINAPI GuardFilter(EXCEPTION_POINTERS* info) {
  if (t_faulted != nullptr && info != nullptr && info->ExceptionRecord != nullptr &&
      IsHardwareFault(info->ExceptionRecord->ExceptionCode)) {
    *t_faulted = true;
    t_faulted = nullptr;
    ::ExitThread(0xFFFFFFFFu);
  }
  return g_previousFilter != nullptr ? g_previousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

class Win32System final : public System {
 public:
  bool QueryPerformanceFrequency(uint64_t* frequency) override {
    LARGE_INTEGER value;
    if (!::QueryPerformanceFrequency(&value) || value.QuadPart <= 0) return false;
    *frequency = static_cast<uint64_t>(value.QuadPart);
    return true;
  }
  uint64_t QueryPerformanceCounter() override {
    LARGE_INTEGER value;
    ::QueryPerformanceCounter(&value);
    return static_cast<uint64_t>(value.QuadPart);
  }
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  uint64_t GetTickCount64() override { return TickCount64(); }
  LocalTime GetLocalTime() override {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                     st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
  }
  uint64_t GetSystemTimeAsFileTime() override {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  }
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

  ThreadHandle CreateThread(ThreadProc proc, void* argument, uint32_t stackReserve) override {
    // The routine has the C calling convention; the system calls __stdcall
    // procedures on 32-bit Windows, so a small trampoline sits between them.
    auto* start = new (std::nothrow) Start{proc, argument};
    if (start == nullptr) return nullptr;
    HANDLE handle =
        ::CreateThread(nullptr, stackReserve, &Trampoline, start,
                       stackReserve != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (handle == nullptr) delete start;
    return handle;
  }
  uint32_t RunGuarded(ThreadProc proc, void* argument, bool* faulted) override {
    // MinGW-built code has no __try: an exception that nothing handles
    // reaches the process's unhandled-exception filter, which ends a guarded
    // thread instead of the process.
    static const bool installed = [] {
      g_previousFilter = ::SetUnhandledExceptionFilter(&GuardFilter);
      return true;
    }();
    (void)installed;
    ReserveStackForFaults();
    t_faulted = faulted;
    const uint32_t result = proc(argument);
    t_faulted = nullptr;
    return result;
  }
  bool WaitForThread(ThreadHandle thread, uint32_t timeoutMs) override {
    return ::WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
  }
  uint32_t GetExitCodeThread(ThreadHandle thread) override {
    DWORD code = 0;
    if (!::GetExitCodeThread(thread, &code)) return 0;
    return code;
  }
  bool CloseThreadHandle(ThreadHandle thread) override { return ::CloseHandle(thread) != 0; }
  bool SetThreadPriority(ThreadHandle thread, int priority) override {
    return ::SetThreadPriority(thread, priority) != 0;
  }

  bool GetOsVersion(OsVersion* version) override {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);  // 156
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
      info = {};
      info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);  // 148
      if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
    }
    version->major = info.dwMajorVersion;
    version->minor = info.dwMinorVersion;
    version->build = info.dwBuildNumber;
    version->platformId = info.dwPlatformId;
    version->productType = info.wProductType;
    version->safeMode = ::GetSystemMetrics(SM_CLEANBOOT) != 0;
    return true;
  }
  uint16_t GetNativeArchitecture() override {
    using Fn = void(WINAPI*)(LPSYSTEM_INFO);
    static Fn native = LateBound<Fn>(L"kernel32.dll", "GetNativeSystemInfo");
    if (native == nullptr) return 0xFFFF;
    SYSTEM_INFO info = {};
    native(&info);
    return info.wProcessorArchitecture;
  }
  bool IsWow64Process() override {
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    static Fn isWow64 = LateBound<Fn>(L"kernel32.dll", "IsWow64Process");
    BOOL result = FALSE;
    if (isWow64 == nullptr || !isWow64(::GetCurrentProcess(), &result)) return false;
    return result != FALSE;
  }

  int Wow64DisableWow64FsRedirection(void** oldValue) override {
    using Fn = BOOL(WINAPI*)(PVOID*);
    static Fn disable = LateBound<Fn>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
    if (disable == nullptr) return -1;
    return disable(oldValue) ? 1 : 0;
  }
  int Wow64RevertWow64FsRedirection(void* oldValue) override {
    using Fn = BOOL(WINAPI*)(PVOID);
    static Fn revert = LateBound<Fn>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
    if (revert == nullptr) return -1;
    return revert(oldValue) ? 1 : 0;
  }
  LocalTime FileTimeToLocalTime(uint64_t fileTime) override {
    FILETIME utc, local;
    utc.dwLowDateTime = static_cast<DWORD>(fileTime);
    utc.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME st = {};
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) return {};
    return LocalTime{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                     st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
  }

  bool GetTokenElevation(bool* elevated) override {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool ok =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) != 0;
    ::CloseHandle(token);
    if (!ok) return false;
    *elevated = elevation.TokenIsElevated != 0;
    return true;
  }
  bool GetTokenElevationType(uint32_t* type) override {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION_TYPE elevationType = TokenElevationTypeDefault;
    DWORD size = 0;
    const bool ok = ::GetTokenInformation(token, TokenElevationType, &elevationType,
                                          sizeof(elevationType), &size) != 0;
    ::CloseHandle(token);
    if (!ok) return false;
    *type = static_cast<uint32_t>(elevationType);
    return true;
  }

  // The previous state is kept in a buffer of 580 bytes, room for 72
  // privileges; the adjustment is repeated while the system reports that not
  // all of them were assigned, at most 128 times.
  static constexpr DWORD kPrivilegeStateBytes = 580;
  static HANDLE OpenAdjustableToken() {
    HANDLE token = nullptr;
    if (::OpenThreadToken(::GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, TRUE,
                          &token))
      return token;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
      return token;
    return nullptr;
  }
  static bool AdjustRepeatedly(HANDLE token, TOKEN_PRIVILEGES* wanted,
                               std::vector<uint8_t>* previous) {
    for (int attempt = 0; attempt < 128; ++attempt) {
      DWORD length = 0;
      if (previous != nullptr) previous->assign(kPrivilegeStateBytes, 0);
      const BOOL done = ::AdjustTokenPrivileges(
          token, FALSE, wanted, previous != nullptr ? kPrivilegeStateBytes : 0,
          previous != nullptr ? reinterpret_cast<TOKEN_PRIVILEGES*>(previous->data()) : nullptr,
          previous != nullptr ? &length : nullptr);
      if (!done) return false;
      if (::GetLastError() != ERROR_NOT_ALL_ASSIGNED) return true;
    }
    return true;
  }
  bool EnableAllPrivileges(std::vector<uint8_t>* previousState) override {
    previousState->clear();
    HANDLE token = OpenAdjustableToken();
    if (token == nullptr) return false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size + sizeof(TOKEN_PRIVILEGES));
    bool ok = ::GetTokenInformation(token, TokenPrivileges, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), &size) != 0;
    if (ok) {
      auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
      for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
        privileges->Privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
      ok = AdjustRepeatedly(token, privileges, previousState);
      if (!ok) previousState->clear();
    }
    ::CloseHandle(token);
    return ok;
  }
  bool RestorePrivileges(const std::vector<uint8_t>& previousState) override {
    if (previousState.size() < sizeof(TOKEN_PRIVILEGES)) return true;
    HANDLE token = OpenAdjustableToken();
    if (token == nullptr) return false;
    std::vector<uint8_t> state = previousState;
    const bool ok =
        AdjustRepeatedly(token, reinterpret_cast<TOKEN_PRIVILEGES*>(state.data()), nullptr);
    ::CloseHandle(token);
    return ok;
  }

  MutexHandle OpenMutex(std::u16string_view name) override {
    const std::wstring wide = W(name);
    return ::OpenMutexW(MUTANT_QUERY_STATE, FALSE, wide.c_str());
  }
  MutexHandle CreateMutex(std::u16string_view name, bool initialOwner) override {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, TRUE};
    const std::wstring wide = W(name);
    return ::CreateMutexW(&attributes, initialOwner ? TRUE : FALSE, wide.c_str());
  }
  bool CloseMutex(MutexHandle mutex) override {
    return mutex != nullptr && ::CloseHandle(mutex) != 0;
  }

  int CheckBuiltinGroupMembership(uint32_t rid) override {
    HMODULE advapi = ::LoadLibraryW(L"advapi32.dll");
    if (advapi == nullptr) return -1;
    using Allocate = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD,
                                   DWORD, DWORD, DWORD, DWORD, PSID*);
    using Check = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
    using Free = PVOID(WINAPI*)(PSID);
    auto allocate = reinterpret_cast<Allocate>(
        reinterpret_cast<void*>(::GetProcAddress(advapi, "AllocateAndInitializeSid")));
    auto check = reinterpret_cast<Check>(
        reinterpret_cast<void*>(::GetProcAddress(advapi, "CheckTokenMembership")));
    auto free =
        reinterpret_cast<Free>(reinterpret_cast<void*>(::GetProcAddress(advapi, "FreeSid")));
    int result = -1;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (allocate && check && free &&
        allocate(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid)) {
      BOOL member = FALSE;
      result = check(nullptr, sid, &member) && member ? 1 : 0;
      free(sid);
    }
    ::FreeLibrary(advapi);
    return result;
  }

  uint32_t GetCurrentProcessId() override { return ::GetCurrentProcessId(); }
  bool ListProcesses(std::vector<ProcessEntry>* processes) override {
    processes->clear();
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
      processes->push_back(
          ProcessEntry{entry.th32ProcessID, entry.th32ParentProcessID, U(entry.szExeFile)});
    }
    ::CloseHandle(snapshot);
    return true;
  }
  std::u16string GetProcessImagePath(uint32_t pid) override {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) return {};
    MODULEENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    std::u16string path;
    if (::Module32FirstW(snapshot, &entry)) path = U(entry.szExePath);
    ::CloseHandle(snapshot);
    return path;
  }
  ProcessHandle CreateProcess(std::u16string_view commandLine, std::u16string_view workingFolder,
                              bool hidden, bool suspended, uint32_t* error) override {
    std::wstring line = W(commandLine);
    std::wstring folder = W(workingFolder);
    STARTUPINFOW startup = {};
    ::GetStartupInfoW(&startup);
    startup.cb = sizeof(startup);
    startup.lpReserved = nullptr;
    startup.lpDesktop = nullptr;
    startup.lpTitle = nullptr;
    if (hidden) {
      startup.dwFlags |= STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
    }
    DWORD flags = CREATE_DEFAULT_ERROR_MODE;
    if (hidden) flags |= CREATE_NO_WINDOW;
    if (suspended) flags |= CREATE_SUSPENDED;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
      if (error != nullptr) *error = ::GetLastError();
      return nullptr;
    }
    return new Win32Process{info.hProcess, info.hThread, info.dwProcessId};
  }
  bool ResumeProcess(ProcessHandle process) override {
    auto* p = static_cast<Win32Process*>(process);
    return p->thread != nullptr && ::ResumeThread(p->thread) != static_cast<DWORD>(-1);
  }
  uint32_t WaitForInputIdle(ProcessHandle process, uint32_t timeoutMs) override {
    const DWORD result =
        ::WaitForInputIdle(static_cast<Win32Process*>(process)->process, timeoutMs);
    if (result == WAIT_FAILED) return ::GetLastError();
    return result;
  }
  bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) override {
    DWORD value = 0;
    if (!::GetExitCodeProcess(static_cast<Win32Process*>(process)->process, &value)) return false;
    *code = value;
    return true;
  }
  uint32_t GetProcessId(ProcessHandle process) override {
    return static_cast<Win32Process*>(process)->pid;
  }
  ProcessHandle OpenProcess(uint32_t pid) override {
    HANDLE handle =
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (handle == nullptr) return nullptr;
    return new Win32Process{handle, nullptr, pid};
  }
  bool TerminateProcess(ProcessHandle process, uint32_t exitCode) override {
    return ::TerminateProcess(static_cast<Win32Process*>(process)->process, exitCode) != 0;
  }
  bool CloseProcessHandle(ProcessHandle process) override {
    auto* p = static_cast<Win32Process*>(process);
    if (p == nullptr) return false;
    if (p->thread != nullptr) ::CloseHandle(p->thread);
    const bool ok = ::CloseHandle(p->process) != 0;
    delete p;
    return ok;
  }
  bool ShellExecute(std::u16string_view verb, std::u16string_view file,
                    std::u16string_view parameters, std::u16string_view folder, int show) override {
    const std::wstring v = W(verb), f = W(file), p = W(parameters), d = W(folder);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error dialog: a program that is missing or refused is a result for
    // the caller (the host's check runs on), never a box for the user.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = v.empty() ? nullptr : v.c_str();
    info.lpFile = f.c_str();
    info.lpParameters = p.empty() ? nullptr : p.c_str();
    info.lpDirectory = d.empty() ? nullptr : d.c_str();
    info.nShow = show;
    const bool ok = ::ShellExecuteExW(&info) != 0;
    if (info.hProcess != nullptr) ::CloseHandle(info.hProcess);
    return ok;
  }

  bool StartService(std::u16string_view name) override {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    const std::wstring service_name = W(name);
    SC_HANDLE service = ::OpenServiceW(manager, service_name.c_str(), SERVICE_ALL_ACCESS);
    bool running = false;
    if (service != nullptr) {
      SERVICE_STATUS status = {};
      if (::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING)
        running = true;
      else
        running = ::StartServiceW(service, 0, nullptr) != 0;
      ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return running;
  }
  bool SetRestorePoint(uint32_t eventType, uint32_t restorePointType, int64_t* sequenceNumber,
                       std::u16string_view description) override {
    // Beginning a restore point needs COM on the calling thread, which
    // stays initialised afterwards.
    if (eventType == 102 && FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;
    HMODULE library = ::LoadLibraryW(L"SrClient.dll");
    if (library == nullptr) return false;
    using Fn = BOOL(WINAPI*)(RestorePointInfo*, StateManagerStatus*);
    auto set = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(library, "SRSetRestorePointW")));
    bool ok = false;
    if (set != nullptr) {
      RestorePointInfo info = {};
      info.eventType = eventType;
      info.restorePointType = restorePointType;
      info.sequenceNumber = *sequenceNumber;
      const size_t n = description.size() < 255 ? description.size() : 255;
      for (size_t i = 0; i < n; ++i) info.description[i] = description[i];
      StateManagerStatus status = {};
      ok = set(&info, &status) != 0;
      if (ok) *sequenceNumber = status.sequenceNumber;
    }
    ::FreeLibrary(library);
    return ok;
  }

  uint16_t GetUserDefaultLangID() override { return ::GetUserDefaultLangID(); }
  std::u16string GetTempPath() override {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH + 1) return u"C:\\";
    return U(buffer);
  }
  std::u16string GetModuleFileName(const void* address) override {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module))
      return {};
    return ModulePath(module);
  }
  std::u16string GetHostFileName() override { return ModulePath(nullptr); }

 private:
  static std::u16string ModulePath(HMODULE module) {
    std::wstring buffer(32780, L'\0');
    const DWORD n = ::GetModuleFileNameW(module, buffer.data(), 32780);
    if (n == 0 || n >= 32780) return {};
    return std::u16string(buffer.begin(), buffer.begin() + n);
  }
};

}  // namespace

bool SameProgramName(std::u16string_view running, std::u16string_view wanted) {
  const std::wstring a = W(running), b = W(wanted);
  return CompareOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                        static_cast<int>(b.size()), true) == CSTR_EQUAL;
}

System* System::Default() {
  static Win32System instance;
  return &instance;
}

}  // namespace platform
