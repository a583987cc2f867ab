// The system seam: clocks, local time, sleeping and threads. The engine speaks
// Win32's language through it (tick counts, the performance counter, thread
// handles with exit codes), and a backend under win32/ or posix/ supplies it.
#pragma once

#include <cstdint>

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

  // Starts proc(argument) on a new thread at once. Returns null on failure.
  virtual ThreadHandle CreateThread(ThreadProc proc, void* argument) = 0;
  // Waits up to timeoutMs (kInfinite: forever). True when the thread has ended.
  virtual bool WaitForThread(ThreadHandle thread, uint32_t timeoutMs) = 0;
  // The thread's result, or kStillActive while it runs.
  virtual uint32_t GetExitCodeThread(ThreadHandle thread) = 0;
  // Releases the handle; a running thread goes on untracked. True on success.
  virtual bool CloseThreadHandle(ThreadHandle thread) = 0;
  // Win32 priorities: -2 lowest .. 2 highest, 15 time-critical, -15 idle.
  virtual bool SetThreadPriority(ThreadHandle thread, int priority) = 0;
};

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
  ThreadHandle CreateThread(ThreadProc proc, void* argument) override {
    return target_->CreateThread(proc, argument);
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

 private:
  System* target_;
};

}  // namespace platform
