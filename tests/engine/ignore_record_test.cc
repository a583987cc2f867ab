#include "modules/RegistryCleanerModule/dll/ignore_record.h"

#include <gtest/gtest.h>

#include "tests/engine/engine_test_support.h"

namespace {

constexpr uint64_t kFileTimePerDay = 864000000000ull;

TEST(IgnoreRecord, DayNumbersHexadecimalNumbersAndRecordText) {
  engine_test::FixedClock clock;
  clock.fileTime = 150875 * kFileTimePerDay + kFileTimePerDay - 1;  // 2014-01-31 23:59:59 UTC
  EXPECT_EQ(CurrentDayNumber(&clock), 150875u);
  const std::pair<const char16_t*, uint32_t> cases[] = {{u"", 0},
                                                        {u"  \t0X1f", 31},
                                                        {u"1fZ9", 31},
                                                        {u"x10", 16},
                                                        {u"1x0", 16},
                                                        {u"0x0x1", 0},
                                                        {u"-1", 0},
                                                        {u"g", 0},
                                                        {u"abcdef", 0xABCDEF},
                                                        {u"FFFFFFFFF", 0xFFFFFFFF},
                                                        {u"123456789", 0x23456789}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ReadHexNumber(text), value);
  const std::u16string text = FormatIgnoreRecord(IgnoreRecord{0x24D5B, 2, 0x01234567});
  EXPECT_EQ(text, u"0x00024D5B, 0x00000002, 0x01234567");
  IgnoreRecord parsed;
  ASSERT_TRUE(ParseIgnoreRecord(text, &parsed));
  EXPECT_EQ(FormatIgnoreRecord(parsed), text);
  EXPECT_EQ(ReadCleanCount(text), 2u);
  EXPECT_FALSE(ParseIgnoreRecord(u"0x00024D5B, 0x00000002", &parsed));
  EXPECT_FALSE(ParseIgnoreRecord(u"0x00024D5B,0x00000002,0x1", &parsed));
  EXPECT_EQ(ReadCleanCount(u"HKEY_CURRENT_USER\\Software\\Abc"), 0u);
  ASSERT_TRUE(ParseIgnoreRecord(u"junk, , ", &parsed));
  EXPECT_EQ(parsed.cleanCount, 0u);
}

TEST(IgnoreRecord, AnEntryThatComesBackIsLeftAloneForAWhile) {
  constexpr uint32_t kCleaned = 150875;
  constexpr uint32_t kSession = 1000;
  constexpr uint32_t kLaterSession = 2000;
  using enum IgnoreVerdict;
  struct Case {
    uint32_t count;
    int32_t age;
    bool sameSession;
    IgnoreVerdict verdict;
  } cases[] = {// Back within the boot session of the clean: always left alone; after
               // a reboot, by how often it was cleaned; forgotten after 14 days; a
               // clock set back makes the age negative: still recent.
               {1, 0, true, kExclude},   {0, 30, true, kExclude},    {0, 0, false, kReport},
               {1, 0, false, kReport},   {2, 0, false, kExclude},    {2, 1, false, kReport},
               {3, 1, false, kExclude},  {3, 2, false, kReport},     {4, 3, false, kExclude},
               {4, 4, false, kReport},   {5, 7, false, kExclude},    {5, 8, false, kReport},
               {6, 14, false, kExclude}, {100, 14, false, kExclude}, {6, 15, false, kForget},
               {2, 400, false, kForget}, {2, -3, false, kExclude}};
  for (const Case& c : cases) {
    const IgnoreRecord record{kCleaned, c.count, kSession};
    EXPECT_EQ(JudgeIgnoreRecord(record, kCleaned + c.age, c.sameSession ? kSession : kLaterSession),
              c.verdict)
        << "count " << c.count << " age " << c.age << " same session " << c.sameSession;
  }
}

}  // namespace
