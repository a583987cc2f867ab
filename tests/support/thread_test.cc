#include "support/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <stdexcept>

#ifdef _WIN32
#include <float.h>
#endif

namespace {

uint32_t ReturnArgument(void* argument) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument));
}

uint32_t Throw(void*) { throw std::runtime_error("routine failed"); }

// Counts its runs and returns 7 once released.
std::atomic<bool> release;
std::atomic<int> runs;
uint32_t WaitForRelease(void*) {
  runs++;
  while (!release) platform::System::Default()->Sleep(1);
  return 7;
}

TEST(Thread, JoinReturnsTheExitCodeOrThrowsAfterCollection) {
  Thread thread(&ReturnArgument, reinterpret_cast<void*>(uintptr_t{42}));
  thread.Start();
  EXPECT_EQ(thread.Join(), 42u);
  EXPECT_EQ(thread.Join(), 42u);  // collected: nothing to wait for, the code kept
  EXPECT_FALSE(thread.failed());
  Thread none(nullptr, nullptr);  // no routine: exit code -1
  none.Start();
  EXPECT_EQ(none.Join(), 0xFFFFFFFFu);
  Thread throwing(&Throw, nullptr);
  for (int run = 0; run < 2; ++run) {  // a new start runs again, and fails again
    throwing.Start();
    EXPECT_THROW(throwing.Join(), std::exception);
    EXPECT_TRUE(throwing.failed());
    EXPECT_EQ(throwing.exitCode(), 0xFFFFFFFFu);
    EXPECT_FALSE(throwing.IsRunning());  // already collected
  }
}

// Faulting routines (kept from the undefined-behaviour sanitizer, which would stop first).
__attribute__((no_sanitize("undefined"))) uint32_t WriteThroughNull(void* argument) {
  *static_cast<volatile int*>(argument) = 1;
  return 0;
}
__attribute__((no_sanitize("undefined"))) uint32_t DivideByZero(void* argument) {
  const volatile int zero = static_cast<int>(reinterpret_cast<uintptr_t>(argument));
  return static_cast<uint32_t>(7 / zero);
}

// An invalid floating-point operation with its trap on (0xC0000090 on Windows);
// qemu does not trap x87 faults: the routine then returns kNoFloatTrap.
constexpr uint32_t kNoFloatTrap = 90;
__attribute__((no_sanitize("undefined"))) uint32_t InvalidFloatOperation(void* argument) {
#ifdef _WIN32
  unsigned int control;
  _controlfp_s(&control, _MCW_EM & ~_EM_INVALID, _MCW_EM);
#else
  feenableexcept(FE_INVALID);
#endif
  const volatile double zero = static_cast<double>(reinterpret_cast<uintptr_t>(argument));
  const volatile double result = zero / zero;
  (void)result;
  return kNoFloatTrap;
}

// A fault ends only its own thread (failed, exit code -1), a second one too; the host goes on.
TEST(WorkerFault, AFaultingRoutineFailsItsThreadOnly) {
  for (Thread::Routine routine :
       {&WriteThroughNull, &DivideByZero, &InvalidFloatOperation, &WriteThroughNull}) {
    Thread thread(routine, nullptr);
    thread.Start();
    try {
      if (thread.Join() == kNoFloatTrap && routine == &InvalidFloatOperation) continue;
      ADD_FAILURE() << "the fault did not fail the thread";
    } catch (const std::exception&) {
    }
    EXPECT_TRUE(thread.failed());
    EXPECT_EQ(thread.exitCode(), 0xFFFFFFFFu);
  }
  Thread healthy(&ReturnArgument, reinterpret_cast<void*>(uintptr_t{5}));
  healthy.Start();
  EXPECT_EQ(healthy.Join(), 5u);
}

TEST(Thread, IsRunningCollectsAFinishedThread) {
  runs = 0;
  Thread thread(&WaitForRelease, nullptr);
  EXPECT_FALSE(thread.IsRunning());     // not started
  EXPECT_FALSE(thread.SetPriority(0));  // no thread to set
  for (int run = 1; run <= 2; ++run) {
    release = false;
    thread.Start();
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_TRUE(thread.SetPriority(0));
    thread.Start();  // already held: no second thread
    release = true;
    while (thread.IsRunning()) platform::System::Default()->Sleep(1);
    // The handle is gone, so the routine may run once more.
    EXPECT_EQ(thread.exitCode(), 7u);
    EXPECT_EQ(runs.load(), run);
  }
}

}  // namespace
