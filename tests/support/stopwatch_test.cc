#include "support/stopwatch.h"

#include <gtest/gtest.h>

namespace {

// A clock the test moves by hand; with highResolution false it serves the
// tick count only.
class ManualClock : public platform::SystemWrapper {
 public:
  explicit ManualClock(bool highResolution)
      : SystemWrapper(platform::System::Default()), highResolution_(highResolution) {}
  bool QueryPerformanceFrequency(uint64_t* frequency) override {
    if (!highResolution_) return false;
    *frequency = 10'000'000;  // 100 ns counts
    return true;
  }
  uint64_t QueryPerformanceCounter() override { return counter; }
  uint32_t GetTickCount() override { return ticks; }

  uint64_t counter = 0;
  uint32_t ticks = 0;

 private:
  bool highResolution_;
};

TEST(Stopwatch, CountsRunningPeriodsOnlyAndSurvivesTheTickWrap) {
  ManualClock clock(true);
  Stopwatch watch = Stopwatch::StartNew(&clock);
  EXPECT_TRUE(watch.highResolution());
  clock.counter += 2'500'000;  // 250 ms
  watch.Stop();
  clock.counter += 50'000'000;  // stopped: not counted
  EXPECT_EQ(watch.ElapsedMilliseconds(), 250u);
  watch.Restart();
  clock.counter += 9'999;  // below a millisecond: truncated
  EXPECT_EQ(watch.ElapsedMilliseconds(), 0u);

  ManualClock ticks(false);
  ticks.ticks = 0xFFFFFF00u;  // 256 ms before the wrap
  Stopwatch tick = Stopwatch::StartNew(&ticks);
  EXPECT_FALSE(tick.highResolution());
  ticks.ticks = 0x00000100u;  // 256 ms after it
  EXPECT_EQ(tick.ElapsedMilliseconds(), 512u);
}

}  // namespace
