#include "framework/system_services.h"

#include <algorithm>
#include <set>
#include <vector>

#include "platform/library.h"
#include "platform/unicode.h"
#include "support/stopwatch.h"

namespace {

constexpr uint32_t kAdministratorsRid = 544;
constexpr uint32_t kPlatformNt = 2;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorProcessAborted = 1067;
constexpr uint32_t kTerminatedExitCode = 0xFFFFFFFFu;

bool NtVersion(platform::System* system, platform::OsVersion* version) {
  return system->GetOsVersion(version) && version->platformId == kPlatformNt;
}

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = platform::AsciiLower(c);
  return out;
}

// Ends a followed process and waits, 100 ms at a time, until it has.
void EndAndWait(platform::System* system, platform::ProcessHandle process) {
  system->TerminateProcess(process, kTerminatedExitCode);
  uint32_t code = 0;
  while (system->GetExitCodeProcess(process, &code) && code == platform::kStillActive)
    system->Sleep(100);
}

}  // namespace

bool IsProcessElevated(platform::System* system) {
  if (IsVistaOrLater(system)) {
    bool elevated = false;
    return system->GetTokenElevation(&elevated) && elevated;
  }
  return IsUserInGroup(kAdministratorsRid, system) == 1;
}

int IsUserInGroup(uint32_t rid, platform::System* system) {
  const int member = system->CheckBuiltinGroupMembership(rid);
  // Without the membership test (Windows before 2000) everyone counts as a member.
  if (member < 0) return 1;
  return member == 1 ? 1 : 0;
}

bool IsXpOrLater(platform::System* system) {
  platform::OsVersion v;
  if (!NtVersion(system, &v)) return false;
  return v.major > 5 || (v.major == 5 && v.minor != 0) ||
         (v.major == 5 && v.minor == 0 && v.build >= 2196);
}

bool IsVistaOrLater(platform::System* system) {
  platform::OsVersion v;
  return NtVersion(system, &v) && v.major >= 6;
}

bool IsWin8OrLater(platform::System* system) {
  platform::OsVersion v;
  return NtVersion(system, &v) && v.major >= 6 && v.minor >= 2;
}

bool IsProcessRunning(std::u16string_view exeName, std::u16string_view modulePath, bool excludeSelf,
                      platform::System* system) {
  std::vector<platform::ProcessEntry> processes;
  if (!system->ListProcesses(&processes)) return false;
  const uint32_t self = system->GetCurrentProcessId();
  for (const platform::ProcessEntry& process : processes) {
    if (!platform::SameProgramName(process.exeName, exeName)) continue;
    if (excludeSelf && process.pid == self) continue;
    if (modulePath.empty()) return true;
    if (platform::AsciiEqualsIgnoreCase(system->GetProcessImagePath(process.pid), modulePath))
      return true;
  }
  return false;
}

uint32_t RunProcess(std::u16string_view path, std::u16string_view arguments, uint32_t idleWaitMs,
                    bool hidden, uint32_t exitWaitMs, const std::atomic<bool>* cancel,
                    platform::System* system) {
  if (path.empty() || platform::FindProgramFile(path).empty()) return kErrorFileNotFound;
  // The program is quoted when its path holds a blank, so that it stays one
  // argument on every platform.
  const bool quote = path.find(u' ') != std::u16string_view::npos;
  std::u16string commandLine;
  if (quote) commandLine.push_back(u'"');
  commandLine.append(path);
  if (quote) commandLine.push_back(u'"');
  if (!arguments.empty()) {
    commandLine.push_back(u' ');
    commandLine.append(arguments);
  }
  const size_t slash = path.find_last_of(u"\\/");
  const std::u16string_view folder =
      slash == std::u16string_view::npos ? std::u16string_view() : path.substr(0, slash);

  uint32_t error = 0;
  platform::ProcessHandle process =
      system->CreateProcess(commandLine, folder, hidden, false, &error);
  if (process == nullptr) return error;
  uint32_t result = system->WaitForInputIdle(process, idleWaitMs);
  if (result == 0 && exitWaitMs != 0) {
    Stopwatch waited = Stopwatch::StartNew(system);
    uint32_t code = platform::kStillActive;
    for (;;) {
      if (!system->GetExitCodeProcess(process, &code) || code != platform::kStillActive) break;
      if (cancel != nullptr && cancel->load()) break;
      if (waited.ElapsedMilliseconds() >= exitWaitMs) break;
      system->Sleep(1);
    }
    if (code == platform::kStillActive) {
      system->TerminateProcess(process, kTerminatedExitCode);
      result = kErrorProcessAborted;
    }
  }
  system->CloseProcessHandle(process);
  return result;
}

bool RunAndFollow(std::u16string_view commandLine, int32_t timeoutMs,
                  std::u16string_view childFilter, bool hidden, const std::atomic<bool>* cancel,
                  platform::System* system) {
  platform::ProcessHandle followed =
      system->CreateProcess(commandLine, std::u16string_view(), hidden, true, nullptr);
  if (followed == nullptr) return false;
  if (!system->ResumeProcess(followed)) {
    system->CloseProcessHandle(followed);
    return false;
  }
  if (timeoutMs < 0) {
    system->CloseProcessHandle(followed);
    return true;
  }
  const std::u16string filter = Lower(childFilter);
  Stopwatch running = Stopwatch::StartNew(system);
  // Every process followed so far, and the children seen under them while
  // they ran: where an ended parent's children are handed to another parent
  // (POSIX), they are still known as its children.
  std::set<uint32_t> followedIds{system->GetProcessId(followed)};
  std::set<uint32_t> children;

  for (;;) {
    if (cancel != nullptr && cancel->load()) {
      EndAndWait(system, followed);
      break;
    }
    // The end is looked at before the listing: a child started just before
    // the followed process ended is then in the listing that decides whether
    // anything is left to follow.
    uint32_t code = platform::kStillActive;
    const bool ended =
        !system->GetExitCodeProcess(followed, &code) || code != platform::kStillActive;
    std::vector<platform::ProcessEntry> processes;
    system->ListProcesses(&processes);
    for (const platform::ProcessEntry& p : processes)
      if (followedIds.count(p.parentPid) != 0 && followedIds.count(p.pid) == 0)
        children.insert(p.pid);

    if (ended) {
      // Ended: follow a child it left running, if any.
      platform::ProcessHandle next = nullptr;
      for (const platform::ProcessEntry& p : processes) {
        if (followedIds.count(p.pid) != 0) continue;
        if (followedIds.count(p.parentPid) == 0 && children.count(p.pid) == 0) continue;
        if (!filter.empty() && Lower(p.exeName).find(filter) == std::u16string::npos) continue;
        next = system->OpenProcess(p.pid);
        if (next != nullptr) {
          followedIds.insert(p.pid);
          break;
        }
      }
      system->CloseProcessHandle(followed);
      followed = next;
      if (followed == nullptr) return true;
      continue;
    }
    if (timeoutMs > 0 && running.ElapsedMilliseconds() > static_cast<uint64_t>(timeoutMs)) {
      system->TerminateProcess(followed, kTerminatedExitCode);
      break;
    }
    system->Sleep(50);
  }
  system->CloseProcessHandle(followed);
  return true;
}

std::u16string ScheduledTaskCommandLine(std::u16string_view taskName) {
  std::u16string_view name = taskName;
  while (!name.empty() && name.front() == u'"') name.remove_prefix(1);
  while (!name.empty() && name.back() == u'"') name.remove_suffix(1);
  return u"schtasks.exe /RUN /TN \"" + std::u16string(name) + u"\"";
}

bool RunScheduledTask(std::u16string_view taskName, platform::System* system) {
  const std::atomic<bool> neverCancel{false};
  return RunAndFollow(ScheduledTaskCommandLine(taskName), 10000, u"", true, &neverCancel, system);
}

std::u16string ReadRunKeyCommand(std::u16string_view valueName, platform::Registry* registry) {
  platform::HKey key = platform::kNullKey;
  if (registry->RegOpenKeyExW(platform::kHkeyLocalMachine,
                              u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                              platform::kKeyRead, &key) != platform::kRegSuccess)
    return {};
  std::u16string command;
  uint32_t type = 0;
  uint32_t bytes = 0;
  if (registry->RegQueryValueExW(key, valueName, &type, nullptr, &bytes) == platform::kRegSuccess &&
      (type == platform::kRegSz || type == platform::kRegExpandSz) && bytes >= 2) {
    std::vector<char16_t> data(bytes / 2 + 1, 0);
    uint32_t size = bytes;
    if (registry->RegQueryValueExW(key, valueName, &type, reinterpret_cast<uint8_t*>(data.data()),
                                   &size) == platform::kRegSuccess)
      command = std::u16string(data.data());  // up to the terminator
  }
  registry->RegCloseKey(key);
  // The quotes around the program's path go; a value of one character is empty then.
  if (command.size() <= 2) return {};
  return command.substr(1, command.size() - 2);
}

void StartServiceProvider(platform::System* system, platform::Registry* registry) {
  constexpr char16_t kName[] = u"corvane Service Provider";
  if (IsXpOrLater(system) && !IsVistaOrLater(system)) {
    const std::u16string command = ReadRunKeyCommand(kName, registry);
    if (!command.empty()) RunProcess(command, u"", 5000, false, 0, nullptr, system);
    return;
  }
  RunScheduledTask(kName, system);
}

bool StartServiceByName(std::u16string_view serviceName, platform::System* system) {
  return system->StartService(serviceName);
}

std::u16string GetModuleFilePath(platform::System* system) {
  return system->GetModuleFileName(reinterpret_cast<const void*>(&GetModuleFilePath));
}

std::u16string GetHostFilePath(platform::System* system) { return system->GetHostFileName(); }
