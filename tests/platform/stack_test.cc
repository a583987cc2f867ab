// The stack measure that keeps deep recursions from overflowing: it must
// shrink as the stack grows and never promise more than there is.
#include "platform/stack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

// Recurses with 4 KB frames until the measure says 64 KB are left. Were the
// measure too generous, this would run off the stack's end and crash.
__attribute__((noinline)) int DescendUntilLow(int depth, size_t* lastRemaining) {
  // alloca: always on the thread's own stack, also where a sanitizer keeps
  // local arrays elsewhere.
  char* frame = static_cast<char*>(__builtin_alloca(4096));
  std::memset(frame, depth & 0xFF, 4096);
  const size_t remaining = platform::RemainingStackBytes();
  EXPECT_LT(remaining, *lastRemaining) << "depth " << depth;
  *lastRemaining = remaining;
  if (remaining <= 64 * 1024) return depth;
  return DescendUntilLow(depth + 1, lastRemaining) + (frame[4095] & 0);
}

TEST(StackTest, LimitsAreKnownAndTheMeasureShrinksToTheEnd) {
  uintptr_t low = 0, high = 0;
  ASSERT_TRUE(platform::GetCurrentThreadStackLimits(&low, &high));
  EXPECT_LT(low, high);
  const uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  EXPECT_GT(here, low);
  EXPECT_LT(here, high);

  // On a thread of its own, so that the whole stack is this test's.
  int depth = 0;
  std::thread worker([&] {
    size_t last = SIZE_MAX;
    depth = DescendUntilLow(0, &last);
  });
  worker.join();
  EXPECT_GT(depth, 10) << "a thread's stack holds more than a few frames";
}

}  // namespace
