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

TEST(Stopwatch, AccumulatesRunningPeriodsOnly) {
  ManualClock clock(true);
  clock.counter = 5'000'000;
  Stopwatch watch(&clock);
  EXPECT_TRUE(watch.highResolution());
  EXPECT_TRUE(watch.stopped());
  EXPECT_EQ(watch.ElapsedMilliseconds(), 0u);

  watch.Restart();
  clock.counter += 2'500'000;  // 250 ms
  EXPECT_EQ(watch.ElapsedMilliseconds(), 250u);
  watch.Stop();
  clock.counter += 50'000'000;  // stopped: not counted
  EXPECT_EQ(watch.ElapsedMilliseconds(), 250u);
  watch.Stop();  // a second stop changes nothing
  EXPECT_EQ(watch.ElapsedMilliseconds(), 250u);

  watch.Restart();
  EXPECT_EQ(watch.ElapsedMilliseconds(), 0u);
  clock.counter += 9'999;  // below a millisecond: truncated
  EXPECT_EQ(watch.ElapsedMilliseconds(), 0u);
}

TEST(Stopwatch, TickFallbackSurvivesTheWrap) {
  ManualClock clock(false);
  clock.ticks = 0xFFFFFF00u;  // 256 ms before the wrap
  Stopwatch watch = Stopwatch::StartNew(&clock);
  EXPECT_FALSE(watch.highResolution());
  EXPECT_FALSE(watch.stopped());
  clock.ticks = 0x00000100u;  // 256 ms after it
  EXPECT_EQ(watch.ElapsedMilliseconds(), 512u);
  watch.Stop();
  EXPECT_EQ(watch.ElapsedMilliseconds(), 512u);
}

}  // namespace
