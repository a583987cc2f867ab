#include "support/duration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Duration(int32_t value, uint32_t flags, size_t size = 128) {
  char buffer[128];
  std::memset(buffer, 'x', sizeof(buffer));
  FormatDuration(buffer, size, value, flags);
  // Everything past the text up to bufferSize is zero.
  const size_t length = std::strlen(buffer);
  for (size_t i = length; i < size; ++i) EXPECT_EQ(buffer[i], 0) << "byte " << i;
  return buffer;
}

constexpr int32_t kSecond = 1000;
constexpr int32_t kMinute = 60 * kSecond;
constexpr int32_t kHour = 60 * kMinute;
constexpr int32_t kDay = 24 * kHour;

TEST(FormatDuration, EveryRowWithMilliseconds) {
  struct Case {
    int32_t ms;
    const char* text;
  } cases[] = {
      {1 * kHour + 2 * kMinute + 3 * kSecond + 4, "01:02:03,004"},
      {45 * kSecond, "      45,000"},
      {0, "      00,000"},
      {999, "      00,999"},
      {1 * kMinute, "   01:00,000"},
      {59 * kMinute + 59 * kSecond + 999, "   59:59,999"},
      {1 * kDay + 1 * kHour + 1 * kMinute + 1 * kSecond + 1, "01:01:01,001  days: 1"},
      {8 * kDay, "00:00:00,000  days: 1  weeks: 1"},
      {7 * kDay, "00:00:00,000  days: 0  weeks: 1"},
      {23 * kHour, "23:00:00,000"},
  };
  for (const Case& c : cases) EXPECT_EQ(Duration(c.ms, kDurationMilliseconds), c.text) << c.ms;
}

TEST(FormatDuration, EveryRowInSeconds) {
  EXPECT_EQ(Duration(59, 0), "      59");
  EXPECT_EQ(Duration(61, 0), "   01:01");
  EXPECT_EQ(Duration(3600 + 62, 0), "01:01:02");
  EXPECT_EQ(Duration(86400 + 3, 0), "00:00:03  days: 1");
  EXPECT_EQ(Duration(15 * 86400, 0), "00:00:00  days: 1  weeks: 2");
  // The largest count still prints every field.
  EXPECT_EQ(Duration(0x7FFFFFFF, 0), "03:14:07  days: 5  weeks: 3550");
}

TEST(FormatDuration, ShortBufferStaysEmpty) {
  EXPECT_EQ(Duration(59, 0, 31), "");
  EXPECT_EQ(Duration(59, 0, 32), "      59");
  // A text longer than the buffer is cut, never overrun.
  EXPECT_EQ(Duration(8 * kDay, kDurationMilliseconds, 32), "00:00:00,000  days: 1  weeks: 1");
  FormatDuration(nullptr, 128, 5, 0);  // no buffer, no write
}

TEST(FormatTimestampForFileName, UsesDashesThroughout) {
  class FixedClock : public platform::SystemWrapper {
   public:
    FixedClock() : SystemWrapper(platform::System::Default()) {}
    platform::LocalTime GetLocalTime() override { return {2014, 1, 5, 31, 9, 5, 7, 123}; }
  } clock;
  EXPECT_STREQ(FormatTimestampForFileName(&clock), "2014-01-31 09-05-07");
}

}  // namespace
