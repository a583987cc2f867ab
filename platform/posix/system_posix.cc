// POSIX backend of the system seam. Thread handles are shared records, so that
// closing a handle of a running thread lets it run on untracked, as on Windows.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "platform/file_system.h"
#include "platform/posix/ipc_directory.h"
#include "platform/posix/processes_posix.h"
#include "platform/system.h"
#include "platform/unicode.h"
#include "platform/wineprefix/wine_prefix.h"

extern char** environ;

namespace platform {
namespace {

struct ThreadState {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  uint32_t exitCode = kStillActive;
};

struct Handle {
  std::shared_ptr<ThreadState> state;
};

struct PosixProcess {
  pid_t pid;
  bool child;  // started by us: its exit status can be collected
  bool ended = false;
  uint32_t exitCode = kStillActive;
  bool terminated = false;
  uint32_t terminateCode = 0;
};

std::string ReadSmallFile(const std::string& path, size_t limit = 65536) {
  std::ifstream in(path, std::ios::binary);
  std::string data;
  if (!in) return data;
  data.resize(limit);
  in.read(data.data(), static_cast<std::streamsize>(limit));
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

std::string Basename(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The executable name of a process as a Windows snapshot names it. A Wine
// program runs in a Wine loader, whose first argument is the program itself.
std::string ExecutableNameOf(const std::string& pidDir) {
  char target[PATH_MAX];
  const ssize_t n = readlink((pidDir + "/exe").c_str(), target, sizeof(target) - 1);
  std::string name;
  if (n > 0) {
    target[n] = 0;
    name = Basename(target);
    const std::string deleted = " (deleted)";
    if (name.size() > deleted.size() &&
        name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
      name.resize(name.size() - deleted.size());
  } else {
    name = ReadSmallFile(pidDir + "/comm", 256);
    while (!name.empty() && (name.back() == '\n' || name.back() == 0)) name.pop_back();
  }
  if (name.rfind("wine", 0) == 0) {
    const std::string cmdline = ReadSmallFile(pidDir + "/cmdline");
    const std::string first = cmdline.substr(0, cmdline.find('\0'));
    if (!first.empty() && Basename(first).rfind("wine", 0) != 0) name = Basename(first);
  }
  return name;
}

bool EnvironmentSays(const char* name, const char* value) {
  const char* set = getenv(name);
  return set != nullptr && std::strcmp(set, value) == 0;
}

// Resolves the program of a command line to a Unix file: a path through the
// prefix's drives (a ".exe" also found without it), a bare name on PATH.
std::string ProgramFile(const std::u16string& program) {
  if (program.find_first_of(u"\\/:") == std::u16string::npos) {
    const std::string name = U16ToUtf8(program);
    const char* path = getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
      const size_t end = folders.find(':', start);
      const std::string folder = folders.substr(start, end - start);
      for (const std::string& candidate :
           {folder + "/" + name,
            name.size() > 4 && AsciiEqualsIgnoreCase(program.substr(program.size() - 4), u".exe")
                ? folder + "/" + name.substr(0, name.size() - 4)
                : std::string()}) {
        if (!candidate.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return {};
  }
  posix::UnixPath unix = posix::ToUnixPath(program);
  if (!unix.found && program.size() > 4 &&
      AsciiEqualsIgnoreCase(program.substr(program.size() - 4), u".exe"))
    unix = posix::ToUnixPath(program.substr(0, program.size() - 4));
  return unix.found ? unix.path : std::string();
}

ProcessHandle Spawn(const std::vector<std::u16string>& arguments, std::u16string_view folder,
                    uint32_t* error) {
  if (arguments.empty()) {
    if (error != nullptr) *error = kErrorFileNotFound;
    return nullptr;
  }
  const std::string program = ProgramFile(arguments[0]);
  if (program.empty()) {
    if (error != nullptr) *error = kErrorFileNotFound;
    return nullptr;
  }
  std::vector<std::string> argv_storage;
  argv_storage.push_back(program);
  for (size_t i = 1; i < arguments.size(); ++i) argv_storage.push_back(U16ToUtf8(arguments[i]));
  std::vector<char*> argv;
  for (std::string& a : argv_storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) {
    const posix::UnixPath dir = posix::ToUnixPath(folder);
    if (dir.found) posix_spawn_file_actions_addchdir_np(&actions, dir.path.c_str());
  }
  // A program the host starts leads a process group of its own: its
  // descendants stay recognisable after it ends, and a Ctrl-C meant for the
  // host spares it. A program started from such a program stays in its group
  // (the environment marks the group as ours).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  std::vector<char*> environment;
  static char kGroupMark[] = "REGCLEAN_PGROUP=1";
  const bool newGroup = getenv("REGCLEAN_PGROUP") == nullptr;
  for (char** e = environ; *e != nullptr; ++e) environment.push_back(*e);
  if (newGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    environment.push_back(kGroupMark);
  }
  environment.push_back(nullptr);
  pid_t pid = 0;
  const int result =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environment.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    if (error != nullptr) *error = result == ENOENT ? kErrorFileNotFound : kErrorAccessDenied;
    return nullptr;
  }
  return new (std::nothrow) PosixProcess{pid, true};
}

uint64_t MonotonicNanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// Guarded routines: a fault raised in a thread that runs one jumps back to
// its guard; a fault anywhere else goes to whatever handled it before (the
// default: the process ends).
struct GuardFrame {
  sigjmp_buf jump;
};
thread_local GuardFrame* t_guard = nullptr;
constexpr size_t kAltStackBytes = 64 * 1024;
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction g_previousActions[std::size(kFaultSignals)];

void OnFault(int signal, siginfo_t* info, void* context) {
  if (GuardFrame* frame = t_guard) {
    t_guard = nullptr;
    siglongjmp(frame->jump, 1);
  }
  for (size_t i = 0; i < std::size(kFaultSignals); ++i) {
    if (kFaultSignals[i] != signal) continue;
    const struct sigaction& previous = g_previousActions[i];
    if (previous.sa_flags & SA_SIGINFO) {
      previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
      previous.sa_handler(signal);
    } else {
      // Back to the default: the faulting instruction runs again and ends
      // the process as it would have.
      sigaction(signal, &previous, nullptr);
    }
    return;
  }
}

// The fault handler runs on a stack of its own, so that a stack overflow is
// caught too: the thread's own (a sanitizer's) when it has one, else one made
// for the guarded call and given back after it.
class AlternateStack {
 public:
  AlternateStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
    memory_.reset(new (std::nothrow) char[kAltStackBytes]);
    if (memory_ == nullptr) return;
    stack_t own{};
    own.ss_sp = memory_.get();
    own.ss_size = kAltStackBytes;
    installed_ = sigaltstack(&own, &previous_) == 0;
  }
  ~AlternateStack() {
    if (installed_) sigaltstack(&previous_, nullptr);
  }
  AlternateStack(const AlternateStack&) = delete;
  AlternateStack& operator=(const AlternateStack&) = delete;

 private:
  std::unique_ptr<char[]> memory_;
  stack_t previous_{};
  bool installed_ = false;
};

void InstallFaultHandlers() {
  struct sigaction action {};
  action.sa_sigaction = &OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kFaultSignals); ++i)
    sigaction(kFaultSignals[i], &action, &g_previousActions[i]);
}

class PosixSystem final : public System {
 public:
  bool QueryPerformanceFrequency(uint64_t* frequency) override {
    *frequency = 1000000000ull;
    return true;
  }
  uint64_t QueryPerformanceCounter() override { return MonotonicNanoseconds(); }
  uint32_t GetTickCount() override { return static_cast<uint32_t>(GetTickCount64()); }
  uint64_t GetTickCount64() override {
    // CLOCK_BOOTTIME counts from boot like the Windows tick count.
    timespec ts;
    if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000ull +
           static_cast<uint64_t>(ts.tv_nsec) / 1000000ull;
  }
  LocalTime GetLocalTime() override { return FileTimeToLocalTime(GetSystemTimeAsFileTime()); }
  uint64_t GetSystemTimeAsFileTime() override {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    constexpr uint64_t kEpochDifference = 116444736000000000ull;  // 1601 -> 1970 in 100 ns
    return kEpochDifference + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
           static_cast<uint64_t>(ts.tv_nsec) / 100ull;
  }
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  struct ThreadStart {
    std::shared_ptr<ThreadState> state;
    ThreadProc proc;
    void* argument;
  };
  static void* ThreadMain(void* raw) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
    const uint32_t code = start->proc(start->argument);
    std::lock_guard<std::mutex> lock(start->state->mutex);
    start->state->exitCode = code;
    start->state->done = true;
    start->state->ended.notify_all();
    return nullptr;
  }
  ThreadHandle CreateThread(ThreadProc proc, void* argument, uint32_t stackReserve) override {
    auto* handle = new (std::nothrow) Handle{std::make_shared<ThreadState>()};
    if (handle == nullptr) return nullptr;
    auto* start = new (std::nothrow) ThreadStart{handle->state, proc, argument};
    pthread_attr_t attributes;
    bool started = false;
    if (start != nullptr && pthread_attr_init(&attributes) == 0) {
      // The system's default (the stack limit, commonly 8 MiB) is kept when
      // it is larger than the reserve asked for.
      size_t size = 0;
      if (stackReserve != 0 && pthread_attr_getstacksize(&attributes, &size) == 0 &&
          size < stackReserve)
        pthread_attr_setstacksize(&attributes, stackReserve);
      pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
      pthread_t thread;
      started = pthread_create(&thread, &attributes, &ThreadMain, start) == 0;
      pthread_attr_destroy(&attributes);
    }
    if (!started) {
      delete start;
      delete handle;
      return nullptr;
    }
    return handle;
  }
  uint32_t RunGuarded(ThreadProc proc, void* argument, bool* faulted) override {
    static std::once_flag installed;
    std::call_once(installed, InstallFaultHandlers);
    // Undone however proc ends, also when it throws.
    AlternateStack alternate;
    struct Unguard {
      ~Unguard() { t_guard = nullptr; }
    } unguard;
    GuardFrame frame;
    if (sigsetjmp(frame.jump, 1) != 0) {
      *faulted = true;
      return 0xFFFFFFFFu;
    }
    t_guard = &frame;
    return proc(argument);
  }
  bool WaitForThread(ThreadHandle thread, uint32_t timeoutMs) override {
    auto& state = *static_cast<Handle*>(thread)->state;
    std::unique_lock<std::mutex> lock(state.mutex);
    if (timeoutMs == kInfinite) {
      state.ended.wait(lock, [&] { return state.done; });
      return true;
    }
    return state.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return state.done; });
  }
  uint32_t GetExitCodeThread(ThreadHandle thread) override {
    auto& state = *static_cast<Handle*>(thread)->state;
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.exitCode;
  }
  bool CloseThreadHandle(ThreadHandle thread) override {
    delete static_cast<Handle*>(thread);
    return true;
  }
  bool SetThreadPriority(ThreadHandle, int) override {
    // Linux lets an unprivileged process only lower a thread's priority; the
    // engine's threads run at normal priority, so the request is accepted.
    return true;
  }

  // A Wine prefix reports itself as Windows 8 (6.2), an NT workstation.
  bool GetOsVersion(OsVersion* version) override {
    version->major = 6;
    version->minor = 2;
    version->build = 9200;
    version->platformId = 2;
    version->productType = 1;
    version->safeMode = false;
    return true;
  }
  // The prefix's architecture, from the "#arch=" line of its system hive;
  // a prefix without one is a 64-bit prefix, Wine's default.
  uint16_t GetNativeArchitecture() override {
    const std::string head = ReadSmallFile(posix::PrefixDirectory() + "/system.reg", 4096);
    return head.find("\n#arch=win32") != std::string::npos ? kArchitectureIntel
                                                           : kArchitectureAmd64;
  }
  // The module is a 32-bit program: on a 64-bit prefix it runs under WOW64.
  bool IsWow64Process() override { return GetNativeArchitecture() == kArchitectureAmd64; }

  // Nothing redirects file-system access here: both calls succeed and change
  // nothing.
  int Wow64DisableWow64FsRedirection(void** oldValue) override {
    if (oldValue != nullptr) *oldValue = nullptr;
    return 1;
  }
  int Wow64RevertWow64FsRedirection(void* /*oldValue*/) override { return 1; }
  LocalTime FileTimeToLocalTime(uint64_t fileTime) override {
    constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970-01-01 as a FILETIME
    const int64_t units = static_cast<int64_t>(fileTime - kUnixEpoch);
    time_t seconds = static_cast<time_t>(units / 10000000);
    int64_t rest = units % 10000000;
    if (rest < 0) {
      --seconds;
      rest += 10000000;
    }
    // Every log line asks for the time: the fields of its second are worked
    // out once (a second's local time is that second's whatever the
    // milliseconds), per thread, as plain data.
    thread_local time_t t_lastSeconds;
    thread_local tm t_lastParts;
    thread_local bool t_lastKnown;
    tm parts;
    if (t_lastKnown && t_lastSeconds == seconds) {
      parts = t_lastParts;
    } else {
      if (localtime_r(&seconds, &parts) == nullptr) return {};
      t_lastSeconds = seconds;
      t_lastParts = parts;
      t_lastKnown = true;
    }
    LocalTime t;
    t.year = static_cast<uint16_t>(parts.tm_year + 1900);
    t.month = static_cast<uint16_t>(parts.tm_mon + 1);
    t.dayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    t.day = static_cast<uint16_t>(parts.tm_mday);
    t.hour = static_cast<uint16_t>(parts.tm_hour);
    t.minute = static_cast<uint16_t>(parts.tm_min);
    t.second = static_cast<uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    t.milliseconds = static_cast<uint16_t>(rest / 10000);
    return t;
  }

  // Wine runs every program as an elevated administrator; REGCLEAN_ELEVATED=0
  // in the environment plays a user without those rights.
  bool GetTokenElevation(bool* elevated) override {
    *elevated = !EnvironmentSays("REGCLEAN_ELEVATED", "0");
    return true;
  }
  int CheckBuiltinGroupMembership(uint32_t rid) override {
    if (rid == 544) return EnvironmentSays("REGCLEAN_ELEVATED", "0") ? 0 : 1;
    return 0;
  }
  bool GetTokenElevationType(uint32_t* type) override {
    *type = EnvironmentSays("REGCLEAN_ELEVATED", "0") ? 3 : 2;
    return true;
  }
  // Linux has no token privileges to switch; there is nothing to restore.
  bool EnableAllPrivileges(std::vector<uint8_t>* previousState) override {
    previousState->clear();
    return true;
  }
  bool RestorePrivileges(const std::vector<uint8_t>&) override { return true; }

  // A named mutex is a file in the user's private channel folder, named for
  // the mutex and the prefix; its holder keeps an exclusive flock on it. A
  // mutex nobody holds does not exist, as a Windows mutex whose last handle
  // was closed: the last to close it removes its file.
  struct NamedMutex {
    int fd;
    std::string path;
  };
  static std::string MutexPath(std::u16string_view name) {
    return posix::PrefixScopedPath(name) + ".mutex";
  }
  MutexHandle OpenMutex(std::u16string_view name) override {
    const int fd = open(MutexPath(name).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {  // nobody holds it
      close(fd);
      return nullptr;
    }
    return new (std::nothrow) NamedMutex{fd, MutexPath(name)};
  }
  MutexHandle CreateMutex(std::u16string_view name, bool initialOwner) override {
    std::string error;
    if (!posix::EnsureIpcDirectory(&error)) return nullptr;
    const std::string path = MutexPath(name);
    int fd = -1;
    for (int tries = 0; tries < 100; ++tries) {
      // Inherited by children, as the Windows handle is.
      fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
      if (fd < 0) return nullptr;
      if (!initialOwner || flock(fd, LOCK_EX | LOCK_NB) != 0) break;  // held elsewhere: opened
      // Owned: the file must still be at its path (its last user may have
      // removed it just before the lock was taken).
      struct stat locked;
      struct stat current;
      if (fstat(fd, &locked) == 0 && lstat(path.c_str(), &current) == 0 &&
          locked.st_dev == current.st_dev && locked.st_ino == current.st_ino)
        break;
      close(fd);
      fd = -1;
    }
    if (fd < 0) return nullptr;
    auto* mutex = new (std::nothrow) NamedMutex{fd, path};
    if (mutex == nullptr) close(fd);
    return mutex;
  }
  bool CloseMutex(MutexHandle mutex) override {
    if (mutex == nullptr) return false;
    auto* named = static_cast<NamedMutex*>(mutex);
    close(named->fd);
    posix::RemoveUnheldFile(named->path);
    delete named;
    return true;
  }

  uint32_t GetCurrentProcessId() override { return static_cast<uint32_t>(getpid()); }
  // Windows keeps a process's parent id after the parent has ended; Linux
  // hands an orphan to another parent at once. Programs we start lead a
  // process group of their own, so an orphan whose group leader has ended
  // (and whose new parent is outside the group) is reported as the child of
  // that leader, as Windows would still report it.
  bool ListProcesses(std::vector<ProcessEntry>* processes) override {
    processes->clear();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    struct Raw {
      ProcessEntry entry;
      unsigned long group;
    };
    std::vector<Raw> raw;
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      const unsigned long pid = strtoul(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != 0) continue;
      const std::string dir = std::string("/proc/") + entry->d_name;
      const std::string stat = ReadSmallFile(dir + "/stat", 1024);
      const size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;  // gone meanwhile
      char state = 0;
      unsigned long parent = 0, group = 0;
      if (sscanf(stat.c_str() + close + 1, " %c %lu %lu", &state, &parent, &group) != 3) continue;
      if (state == 'Z') continue;  // ended, not yet collected
      raw.push_back(Raw{ProcessEntry{static_cast<uint32_t>(pid), static_cast<uint32_t>(parent),
                                     Utf8ToU16(ExecutableNameOf(dir))},
                        group});
    }
    closedir(proc);
    auto find = [&raw](unsigned long pid) -> const Raw* {
      for (const Raw& r : raw)
        if (r.entry.pid == pid) return &r;
      return nullptr;
    };
    for (Raw& r : raw) {
      if (r.group == 0 || r.group == r.entry.pid || find(r.group) != nullptr) continue;
      const Raw* parent = find(r.entry.parentPid);
      if (parent == nullptr || parent->group != r.group)
        r.entry.parentPid = static_cast<uint32_t>(r.group);
    }
    for (Raw& r : raw) processes->push_back(std::move(r.entry));
    return true;
  }
  std::u16string GetProcessImagePath(uint32_t pid) override {
    char target[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
    if (n <= 0) return {};
    target[n] = 0;
    return posix::ToWindowsPath(target);
  }
  ProcessHandle CreateProcess(std::u16string_view commandLine, std::u16string_view workingFolder,
                              bool, bool, uint32_t* error) override {
    // Linux cannot start a process suspended; it starts at once and the
    // resume that follows has nothing to do.
    return Spawn(posix::SplitCommandLine(commandLine), workingFolder, error);
  }
  bool ResumeProcess(ProcessHandle process) override { return process != nullptr; }
  uint32_t WaitForInputIdle(ProcessHandle, uint32_t) override { return 0; }
  bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) override {
    auto* p = static_cast<PosixProcess*>(process);
    if (!p->ended) {
      if (p->child) {
        int status = 0;
        const pid_t result = waitpid(p->pid, &status, WNOHANG);
        if (result == p->pid) {
          p->ended = true;
          if (p->terminated)
            p->exitCode = p->terminateCode;
          else if (WIFEXITED(status))
            p->exitCode = static_cast<uint32_t>(WEXITSTATUS(status));
          else
            p->exitCode = 0xC000013Au;  // ended by a signal, as by Ctrl-C
        } else if (result < 0) {
          p->ended = true;
          p->exitCode = p->terminated ? p->terminateCode : 0;
        }
      } else {
        const std::string stat = ReadSmallFile("/proc/" + std::to_string(p->pid) + "/stat", 512);
        const size_t close = stat.rfind(')');
        if (stat.empty() ||
            (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z')) {
          p->ended = true;
          p->exitCode = p->terminated ? p->terminateCode : 0;
        }
      }
    }
    *code = p->ended ? p->exitCode : kStillActive;
    return true;
  }
  uint32_t GetProcessId(ProcessHandle process) override {
    return static_cast<uint32_t>(static_cast<PosixProcess*>(process)->pid);
  }
  ProcessHandle OpenProcess(uint32_t pid) override {
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return nullptr;
    return new (std::nothrow) PosixProcess{static_cast<pid_t>(pid), false};
  }
  bool TerminateProcess(ProcessHandle process, uint32_t exitCode) override {
    auto* p = static_cast<PosixProcess*>(process);
    if (p->ended) return false;
    if (kill(p->pid, SIGKILL) != 0) return false;
    p->terminated = true;
    p->terminateCode = exitCode;
    return true;
  }
  bool CloseProcessHandle(ProcessHandle process) override {
    auto* p = static_cast<PosixProcess*>(process);
    if (p == nullptr) return false;
    // A child that has ended is collected; one still running is left to run.
    if (p->child && !p->ended) waitpid(p->pid, nullptr, WNOHANG);
    delete p;
    return true;
  }
  bool ShellExecute(std::u16string_view, std::u16string_view file, std::u16string_view parameters,
                    std::u16string_view folder, int) override {
    std::vector<std::u16string> arguments{std::u16string(file)};
    for (std::u16string& a : posix::SplitCommandLine(parameters)) arguments.push_back(std::move(a));
    ProcessHandle process = Spawn(arguments, folder, nullptr);
    if (process == nullptr) return false;
    CloseProcessHandle(process);
    return true;
  }

  // A Wine prefix has no service manager to start services through and no
  // restore points: both answer as absent, at once.
  bool StartService(std::u16string_view) override { return false; }
  bool SetRestorePoint(uint32_t, uint32_t, int64_t*, std::u16string_view) override { return false; }

  uint16_t GetUserDefaultLangID() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = getenv(name);
      if (value != nullptr && value[0] != 0) return posix::LangIdOfLocale(value);
    }
    return 0x0409;
  }
  std::u16string GetTempPath() override {
    const char* tmp = getenv("TMPDIR");
    std::string folder = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::u16string path = posix::ToWindowsPath(folder);
    if (path.back() != u'\\') path.push_back(u'\\');
    return path;
  }
  std::u16string GetModuleFileName(const void* address) override {
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    // The main program is named as it was started, which a later change of
    // the current folder makes useless; the kernel knows its real path.
    if (info.dli_fname[0] != '/') return GetHostFileName();
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) == nullptr) return {};
    return posix::ToWindowsPath(resolved);
  }
  std::u16string GetHostFileName() override {
    char target[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", target, sizeof(target) - 1);
    if (n <= 0) return {};
    target[n] = 0;
    return posix::ToWindowsPath(target);
  }
};

}  // namespace

System* System::Default() {
  static PosixSystem instance;
  return &instance;
}

}  // namespace platform
