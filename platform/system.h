// The system seam: clocks, local time, sleeping and threads. The engine speaks
// Win32's language through it (tick counts, the performance counter, thread
// handles with exit codes), and a backend under win32/ or posix/ supplies it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Calendar time as GetLocalTime gives it.
struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1..12
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;        // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

// Opaque handle of a started thread; null means none.
using ThreadHandle = void*;
using ThreadProc = uint32_t (*)(void* argument);

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// The exit code a thread reports while it is still running.
constexpr uint32_t kStillActive = 259;

// What GetVersionExW reports, plus the clean-boot (safe mode) metric.
struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t platformId = 0;  // 2: NT
  uint8_t productType = 0;  // 1: workstation
  bool safeMode = false;
};

constexpr uint16_t kArchitectureIntel = 0;
constexpr uint16_t kArchitectureAmd64 = 9;

// One process of a snapshot.
struct ProcessEntry {
  uint32_t pid = 0;
  uint32_t parentPid = 0;
  std::u16string exeName;  // file name of its executable, e.g. "ServiceProvider.exe"
};

using ProcessHandle = void*;  // null: none
using MutexHandle = void*;    // null: none

class System {
 public:
  virtual ~System() = default;

  // The backend of this platform. Never null; lives for the process.
  static System* Default();

  // Performance counter. Returns false when no high-resolution counter exists.
  virtual bool QueryPerformanceFrequency(uint64_t* frequency) = 0;
  virtual uint64_t QueryPerformanceCounter() = 0;
  // Milliseconds since boot, wrapping at 2^32 as GetTickCount does.
  virtual uint32_t GetTickCount() = 0;
  // Milliseconds since boot without the wrap.
  virtual uint64_t GetTickCount64() = 0;
  virtual LocalTime GetLocalTime() = 0;
  // UTC now, as 100 ns units since 1601-01-01 (a FILETIME).
  virtual uint64_t GetSystemTimeAsFileTime() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;

  // Starts proc(argument) on a new thread at once, with a stack of at least
  // stackReserve bytes (0: the system's default). Returns null on failure.
  virtual ThreadHandle CreateThread(ThreadProc proc, void* argument, uint32_t stackReserve) = 0;
  // Runs proc(argument) on the calling thread, a thread that CreateThread
  // started, and returns its result. A hardware fault inside proc (an access
  // violation, a bus error, a division by zero: on Windows a structured
  // exception nothing else handles, on POSIX SIGSEGV, SIGBUS, SIGFPE or SIGILL
  // raised in this thread) abandons proc: *faulted becomes true and the
  // thread's exit code is 0xFFFFFFFF (POSIX returns it here; Windows ends the
  // thread with it). Whatever proc held stays held. Elsewhere a fault stays
  // the process's end, as before.
  virtual uint32_t RunGuarded(ThreadProc proc, void* argument, bool* faulted) = 0;
  // Waits up to timeoutMs (kInfinite: forever). True when the thread has ended.
  virtual bool WaitForThread(ThreadHandle thread, uint32_t timeoutMs) = 0;
  // The thread's result, or kStillActive while it runs.
  virtual uint32_t GetExitCodeThread(ThreadHandle thread) = 0;
  // Releases the handle; a running thread goes on untracked. True on success.
  virtual bool CloseThreadHandle(ThreadHandle thread) = 0;
  // Win32 priorities: -2 lowest .. 2 highest, 15 time-critical, -15 idle.
  virtual bool SetThreadPriority(ThreadHandle thread, int priority) = 0;

  // Operating system facts. False when the version cannot be read.
  virtual bool GetOsVersion(OsVersion* version) = 0;
  // The native processor architecture (kArchitectureAmd64 on a 64-bit OS).
  virtual uint16_t GetNativeArchitecture() = 0;
  // Whether this process runs under WOW64 (a 32-bit process on a 64-bit OS).
  virtual bool IsWow64Process() = 0;
  // WOW64 file-system redirection for the calling thread. Each returns the
  // call's result (nonzero on success) and -1 when the system lacks the call.
  // Where nothing redirects (POSIX) both succeed and change nothing.
  virtual int Wow64DisableWow64FsRedirection(void** oldValue) = 0;
  virtual int Wow64RevertWow64FsRedirection(void* oldValue) = 0;
  // A FILETIME (UTC) as local calendar time.
  virtual LocalTime FileTimeToLocalTime(uint64_t fileTime) = 0;

  // The process token. False when the elevation cannot be read.
  virtual bool GetTokenElevation(bool* elevated) = 0;
  // Membership of the calling thread's or process's token in the built-in
  // group with the given RID (544: Administrators): 1 member, 0 not, -1 when
  // the membership test is unavailable.
  virtual int CheckBuiltinGroupMembership(uint32_t rid) = 0;
  // The process token's elevation type: 1 default (no split token), 2 full,
  // 3 limited. False when it cannot be read.
  virtual bool GetTokenElevationType(uint32_t* type) = 0;
  // Marks every privilege of the thread's token (the process token when the
  // thread has none) enabled and keeps the previous state in previousState.
  // False when the token cannot be adjusted; true with nothing to restore
  // where the system has no privileges (POSIX).
  virtual bool EnableAllPrivileges(std::vector<uint8_t>* previousState) = 0;
  // Puts back what EnableAllPrivileges saved.
  virtual bool RestorePrivileges(const std::vector<uint8_t>& previousState) = 0;

  // Named mutexes, seen by every process of the machine (on POSIX: of this
  // user and Wine prefix). OpenMutex gives null when no process holds one of
  // that name. CreateMutex creates it, or opens the existing one without
  // taking it; with initialOwner a new mutex is held by the caller until
  // CloseMutex. The handle is inherited by child processes.
  virtual MutexHandle OpenMutex(std::u16string_view name) = 0;
  virtual MutexHandle CreateMutex(std::u16string_view name, bool initialOwner) = 0;
  virtual bool CloseMutex(MutexHandle mutex) = 0;

  // Processes.
  virtual uint32_t GetCurrentProcessId() = 0;
  // A snapshot of all processes. False when it cannot be taken.
  virtual bool ListProcesses(std::vector<ProcessEntry>* processes) = 0;
  // Full path of a process's main module (Windows form); empty when unknown.
  virtual std::u16string GetProcessImagePath(uint32_t pid) = 0;
  // Starts a program from a Windows command line (the program first, quoted
  // when it holds blanks). Null on failure, with *error the Win32 code.
  virtual ProcessHandle CreateProcess(std::u16string_view commandLine,
                                      std::u16string_view workingFolder, bool hidden,
                                      bool suspended, uint32_t* error) = 0;
  virtual bool ResumeProcess(ProcessHandle process) = 0;
  // 0 when the process is ready for input, 258 on time-out, else an error.
  virtual uint32_t WaitForInputIdle(ProcessHandle process, uint32_t timeoutMs) = 0;
  // kStillActive while the process runs. False when it cannot be read.
  virtual bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) = 0;
  virtual uint32_t GetProcessId(ProcessHandle process) = 0;
  virtual ProcessHandle OpenProcess(uint32_t pid) = 0;
  virtual bool TerminateProcess(ProcessHandle process, uint32_t exitCode) = 0;
  virtual bool CloseProcessHandle(ProcessHandle process) = 0;
  // ShellExecuteEx of file with parameters in folder; verb may be empty. Never
  // shows an error dialog (SEE_MASK_FLAG_NO_UI): failing returns false.
  virtual bool ShellExecute(std::u16string_view verb, std::u16string_view file,
                            std::u16string_view parameters, std::u16string_view folder,
                            int show) = 0;

  // Services and restore points: absent where the machine has none.
  // Starts the named service unless it runs; true when it runs afterwards.
  virtual bool StartService(std::u16string_view name) = 0;
  // SRSetRestorePointW: eventType 102 begin / 103 end, restorePointType 12;
  // a begin first initialises COM (multithreaded) on the calling thread.
  // The description is cut to 255 units. False when COM, the restore-point
  // library or its function is missing, or when the call refuses.
  virtual bool SetRestorePoint(uint32_t eventType, uint32_t restorePointType,
                               int64_t* sequenceNumber, std::u16string_view description) = 0;

  // The user's default language identifier (LANGID).
  virtual uint16_t GetUserDefaultLangID() = 0;
  // The user's temporary folder, with a trailing backslash.
  virtual std::u16string GetTempPath() = 0;
  // Full path of the module (library or program) containing address;
  // empty when unknown.
  virtual std::u16string GetModuleFileName(const void* address) = 0;
  // Full path of the host program.
  virtual std::u16string GetHostFileName() = 0;
};

// Whether a running program's executable name is the program wanted,
// ignoring case. On POSIX a program "X.exe" may also run as "X".
bool SameProgramName(std::u16string_view running, std::u16string_view wanted);

// Forwards every call to another System; a test derives from it and overrides
// the one call it wants to fake or fail.
class SystemWrapper : public System {
 public:
  explicit SystemWrapper(System* target) : target_(target) {}
  System* target() const { return target_; }

  bool QueryPerformanceFrequency(uint64_t* frequency) override {
    return target_->QueryPerformanceFrequency(frequency);
  }
  uint64_t QueryPerformanceCounter() override { return target_->QueryPerformanceCounter(); }
  uint32_t GetTickCount() override { return target_->GetTickCount(); }
  uint64_t GetTickCount64() override { return target_->GetTickCount64(); }
  LocalTime GetLocalTime() override { return target_->GetLocalTime(); }
  uint64_t GetSystemTimeAsFileTime() override { return target_->GetSystemTimeAsFileTime(); }
  void Sleep(uint32_t milliseconds) override { target_->Sleep(milliseconds); }
  ThreadHandle CreateThread(ThreadProc proc, void* argument, uint32_t stackReserve) override {
    return target_->CreateThread(proc, argument, stackReserve);
  }
  uint32_t RunGuarded(ThreadProc proc, void* argument, bool* faulted) override {
    return target_->RunGuarded(proc, argument, faulted);
  }
  bool WaitForThread(ThreadHandle thread, uint32_t timeoutMs) override {
    return target_->WaitForThread(thread, timeoutMs);
  }
  uint32_t GetExitCodeThread(ThreadHandle thread) override {
    return target_->GetExitCodeThread(thread);
  }
  bool CloseThreadHandle(ThreadHandle thread) override {
    return target_->CloseThreadHandle(thread);
  }
  bool SetThreadPriority(ThreadHandle thread, int priority) override {
    return target_->SetThreadPriority(thread, priority);
  }
  bool GetOsVersion(OsVersion* version) override { return target_->GetOsVersion(version); }
  uint16_t GetNativeArchitecture() override { return target_->GetNativeArchitecture(); }
  bool IsWow64Process() override { return target_->IsWow64Process(); }
  int Wow64DisableWow64FsRedirection(void** oldValue) override {
    return target_->Wow64DisableWow64FsRedirection(oldValue);
  }
  int Wow64RevertWow64FsRedirection(void* oldValue) override {
    return target_->Wow64RevertWow64FsRedirection(oldValue);
  }
  LocalTime FileTimeToLocalTime(uint64_t fileTime) override {
    return target_->FileTimeToLocalTime(fileTime);
  }
  bool GetTokenElevation(bool* elevated) override { return target_->GetTokenElevation(elevated); }
  int CheckBuiltinGroupMembership(uint32_t rid) override {
    return target_->CheckBuiltinGroupMembership(rid);
  }
  bool GetTokenElevationType(uint32_t* type) override {
    return target_->GetTokenElevationType(type);
  }
  bool EnableAllPrivileges(std::vector<uint8_t>* previousState) override {
    return target_->EnableAllPrivileges(previousState);
  }
  bool RestorePrivileges(const std::vector<uint8_t>& previousState) override {
    return target_->RestorePrivileges(previousState);
  }
  MutexHandle OpenMutex(std::u16string_view name) override { return target_->OpenMutex(name); }
  MutexHandle CreateMutex(std::u16string_view name, bool initialOwner) override {
    return target_->CreateMutex(name, initialOwner);
  }
  bool CloseMutex(MutexHandle mutex) override { return target_->CloseMutex(mutex); }
  uint32_t GetCurrentProcessId() override { return target_->GetCurrentProcessId(); }
  bool ListProcesses(std::vector<ProcessEntry>* processes) override {
    return target_->ListProcesses(processes);
  }
  std::u16string GetProcessImagePath(uint32_t pid) override {
    return target_->GetProcessImagePath(pid);
  }
  ProcessHandle CreateProcess(std::u16string_view commandLine, std::u16string_view workingFolder,
                              bool hidden, bool suspended, uint32_t* error) override {
    return target_->CreateProcess(commandLine, workingFolder, hidden, suspended, error);
  }
  bool ResumeProcess(ProcessHandle process) override { return target_->ResumeProcess(process); }
  uint32_t WaitForInputIdle(ProcessHandle process, uint32_t timeoutMs) override {
    return target_->WaitForInputIdle(process, timeoutMs);
  }
  bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) override {
    return target_->GetExitCodeProcess(process, code);
  }
  uint32_t GetProcessId(ProcessHandle process) override { return target_->GetProcessId(process); }
  ProcessHandle OpenProcess(uint32_t pid) override { return target_->OpenProcess(pid); }
  bool TerminateProcess(ProcessHandle process, uint32_t exitCode) override {
    return target_->TerminateProcess(process, exitCode);
  }
  bool CloseProcessHandle(ProcessHandle process) override {
    return target_->CloseProcessHandle(process);
  }
  bool ShellExecute(std::u16string_view verb, std::u16string_view file,
                    std::u16string_view parameters, std::u16string_view folder, int show) override {
    return target_->ShellExecute(verb, file, parameters, folder, show);
  }
  bool StartService(std::u16string_view name) override { return target_->StartService(name); }
  bool SetRestorePoint(uint32_t eventType, uint32_t restorePointType, int64_t* sequenceNumber,
                       std::u16string_view description) override {
    return target_->SetRestorePoint(eventType, restorePointType, sequenceNumber, description);
  }
  uint16_t GetUserDefaultLangID() override { return target_->GetUserDefaultLangID(); }
  std::u16string GetTempPath() override { return target_->GetTempPath(); }
  std::u16string GetModuleFileName(const void* address) override {
    return target_->GetModuleFileName(address);
  }
  std::u16string GetHostFileName() override { return target_->GetHostFileName(); }

 private:
  System* target_;
};

}  // namespace platform
