// POSIX backend of the system seam. Thread handles are shared records, so that
// closing a handle of a running thread lets it run on untracked, as on Windows.
#include <pthread.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "platform/system.h"

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

uint64_t MonotonicNanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
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
    return static_cast<uint64_t>(ts.tv_sec) * 1000ull + static_cast<uint64_t>(ts.tv_nsec) / 1000000ull;
  }
  LocalTime GetLocalTime() override {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts;
    localtime_r(&ts.tv_sec, &parts);
    LocalTime t;
    t.year = static_cast<uint16_t>(parts.tm_year + 1900);
    t.month = static_cast<uint16_t>(parts.tm_mon + 1);
    t.dayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    t.day = static_cast<uint16_t>(parts.tm_mday);
    t.hour = static_cast<uint16_t>(parts.tm_hour);
    t.minute = static_cast<uint16_t>(parts.tm_min);
    t.second = static_cast<uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    t.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
    return t;
  }
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

  ThreadHandle CreateThread(ThreadProc proc, void* argument) override {
    auto* handle = new (std::nothrow) Handle{std::make_shared<ThreadState>()};
    if (handle == nullptr) return nullptr;
    try {
      std::thread([state = handle->state, proc, argument] {
        uint32_t code = proc(argument);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->exitCode = code;
        state->done = true;
        state->ended.notify_all();
      }).detach();
    } catch (...) {
      delete handle;
      return nullptr;
    }
    return handle;
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
};

}  // namespace

System* System::Default() {
  static PosixSystem instance;
  return &instance;
}

}  // namespace platform
