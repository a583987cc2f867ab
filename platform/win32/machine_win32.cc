#include "platform/machine.h"
#include "platform/system_text.h"
#include "platform/win32/win32.h"

namespace platform {

uint32_t SelectMachine(std::string_view prefixDirectory) {
  return prefixDirectory.empty() ? 0 : 120;
}

std::string MachineName() { return {}; }

bool MachineRegistryLocked() { return false; }

bool PrefixRegistryLocked(const std::string&) { return false; }

namespace {
HANDLE g_writerMutex = nullptr;
}  // namespace

uint32_t HoldMachineWriter(uint32_t waitMs) {
  if (g_writerMutex != nullptr) return 0;
  // One writer per session's machine; the system releases an abandoned
  // mutex when its holder dies, and the next waiter gets it.
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"Local\\RegCleanMachineWriter");
  if (mutex == nullptr) return ::GetLastError();
  const DWORD waited = ::WaitForSingleObject(mutex, waitMs);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    g_writerMutex = mutex;
    return 0;
  }
  ::CloseHandle(mutex);
  return 33;
}

void ReleaseMachineWriter() {
  if (g_writerMutex == nullptr) return;
  ::ReleaseMutex(g_writerMutex);
  ::CloseHandle(g_writerMutex);
  g_writerMutex = nullptr;
}

bool MachineExists() { return true; }

std::vector<std::string> MachineRegistryProblems() { return {}; }

std::string HostPath(std::u16string_view machinePath) { return U16ToAnsi(machinePath); }

}  // namespace platform
