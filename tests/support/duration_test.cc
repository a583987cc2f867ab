#include "support/duration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

std::string Duration(int32_t value, uint32_t flags, size_t size = 128) {
  char buffer[128];
  std::memset(buffer, 'x', sizeof(buffer));
  FormatDuration(buffer, size, value, flags);
  // Everything past the text up to bufferSize is zero.
  for (size_t i = std::strlen(buffer); i < size; ++i) EXPECT_EQ(buffer[i], 0) << "byte " << i;
  return buffer;
}

constexpr int32_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;

TEST(FormatDuration, EveryRow) {
  constexpr uint32_t kMs = kDurationMilliseconds;
  const std::tuple<int32_t, uint32_t, const char*> cases[] = {
      {1 * kHour + 2 * kMinute + 3 * kSecond + 4, kMs, "01:02:03,004"},
      {1 * kMinute, kMs, "   01:00,000"},
      {59 * kMinute + 59 * kSecond + 999, kMs, "   59:59,999"},
      {1 * kDay + 1 * kHour + 1 * kMinute + 1 * kSecond + 1, kMs, "01:01:01,001  days: 1"},
      {8 * kDay, kMs, "00:00:00,000  days: 1  weeks: 1"},
      {7 * kDay, kMs, "00:00:00,000  days: 0  weeks: 1"},
      // In seconds.
      {45 * kSecond, kMs, "      45,000"},
      {59, 0, "      59"},
      {61, 0, "   01:01"},
      {3600 + 62, 0, "01:01:02"},
      {86400 + 3, 0, "00:00:03  days: 1"},
      {15 * 86400, 0, "00:00:00  days: 1  weeks: 2"},
      {0x7FFFFFFF, 0, "03:14:07  days: 5  weeks: 3550"},  // every field still printed
  };
  for (const auto& [value, flags, text] : cases) EXPECT_EQ(Duration(value, flags), text) << value;
  // A buffer too short stays empty; a text longer than it is cut.
  EXPECT_EQ(Duration(59, 0, 31), "");
  EXPECT_EQ(Duration(59, 0, 32), "      59");
  EXPECT_EQ(Duration(8 * kDay, kMs, 32), "00:00:00,000  days: 1  weeks: 1");
  FormatDuration(nullptr, 128, 5, 0);  // no buffer, no write
}

TEST(FormatTimestampForFileName, UsesDashesThroughout) {
  struct FixedClock : platform::SystemWrapper {
    FixedClock() : SystemWrapper(platform::System::Default()) {}
    platform::LocalTime GetLocalTime() override { return {2014, 1, 5, 31, 9, 5, 7, 123}; }
  } clock;
  EXPECT_STREQ(FormatTimestampForFileName(&clock), "2014-01-31 09-05-07");
}

}  // namespace
