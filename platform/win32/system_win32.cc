// Win32 backend of the system seam: the kernel calls themselves.
#include "platform/win32/win32.h"

#include <new>

#include "platform/system.h"


namespace platform {
namespace {

struct Start {
  ThreadProc proc;
  void* argument;
};

DWORD WINAPI Trampoline(LPVOID parameter) {
  Start start = *static_cast<Start*>(parameter);
  delete static_cast<Start*>(parameter);
  return start.proc(start.argument);
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
  uint64_t GetTickCount64() override { return ::GetTickCount64(); }
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

  ThreadHandle CreateThread(ThreadProc proc, void* argument) override {
    // The routine has the C calling convention; the system calls __stdcall
    // procedures on 32-bit Windows, so a small trampoline sits between them.
    auto* start = new (std::nothrow) Start{proc, argument};
    if (start == nullptr) return nullptr;
    HANDLE handle = ::CreateThread(nullptr, 0, &Trampoline, start, 0, nullptr);
    if (handle == nullptr) delete start;
    return handle;
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
};

}  // namespace

System* System::Default() {
  static Win32System instance;
  return &instance;
}

}  // namespace platform
