// The black list and the ignore list as the scanners see them.
#include "modules/RegistryCleanerModule/dll/exclusion.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "modules/RegistryCleanerModule/dll/ignore_record.h"
#include "platform/unicode.h"
#include "tests/engine/log_capture.h"

namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr uint64_t kMinute = 600000000ull;
constexpr uint64_t kDay = 1440 * kMinute;

// The lists, and a machine whose clock and uptime a test moves.
class ExclusionTest : public testing::Test {
 protected:
  void SetUp() override {
    engine_.blackList = std::make_unique<BufferedStringListW>("BlackList", 64);
    engine_.ignoreList = std::make_unique<BufferedStringListW>("IgnoreList", 256);
    machine_.now = 150000 * kDay + 9 * 60 * kMinute;  // 09:00 on some day, up for an hour
    machine_.uptimeMs = 3600 * 1000;
  }
  void Reboot() {
    machine_.now += 10 * kMinute;
    machine_.uptimeMs = 60 * 1000;
  }
  int Excluded(std::u16string_view key, std::u16string_view value = u"") {
    return IsExcluded(&engine_, kHkeyCurrentUser, key, value, &machine_);
  }
  void Clean(std::u16string_view key, std::u16string_view value = u"") {
    EXPECT_EQ(RecordCleaned(&engine_, kHkeyCurrentUser, key, value, &machine_), 0);
  }
  void Black(std::u16string_view entry, std::u16string_view parameter) {
    engine_.blackList->Add(entry, 0);
    if (!parameter.empty()) engine_.blackList->Add(parameter, 0);
  }
  IgnoreRecord RecordOf(std::u16string_view entry) {
    const int32_t i = engine_.ignoreList->Find(entry);
    IgnoreRecord record;
    EXPECT_GE(i, 0);
    EXPECT_TRUE(ParseIgnoreRecord(engine_.ignoreList->At(i + 1), &record));
    return record;
  }

  RegCleanerEngine engine_;
  engine_test::Uptime machine_;
};

// Items match the same length ignoring case, with their wildcards; the parameter says how.
TEST_F(ExclusionTest, BlackListEntriesAndTheirParameters) {
  Black(u"HKEY_CURRENT_USER\\Software\\Abc", u"NOOP");
  Black(u"HKEY_CURRENT_USER\\Software\\A?c Val:*", u"NOOP");
  Black(u"HKEY_CURRENT_USER\\Software\\Odd", u"-weird");
  Black(u"HKEY_CURRENT_USER\\Software\\Cased", u"-case");
  Black(u"HKEY_CURRENT_USER\\Software\\W?ld", u"-case");
  engine_.blackList->Add(u"HKEY_CURRENT_USER\\Software\\Last", 0);  // no parameter after it
  engine_test::CapturedLog log(15);
  const struct {
    const char16_t *key, *value;
    int excluded;
  } rows[] = {
      {u"software\\abc", u"", 1},
      {u"software\\abc\\Sub", u"", 0},  // subkeys are not covered
      {u"software\\abc", u"Value", 0},  // nor values
      {u"Software\\Abc", u"x", 1},      // "?" and "*" in the item
      {u"Software\\Abc", u"longer name", 0},
      {u"Software\\A?c", u"", 0},  // wildcards belong to the items, not to the text
      {u"Software\\Odd", u"", 1},
      // "-case": the second lookup compares without wildcards, ignoring case.
      {u"Software\\CASED", u"", 1},
      {u"Software\\Wild", u"", 0},  // only the wildcard matched: the ignore list decides
      {u"Software\\Last", u"", 1},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Excluded(row.key, row.value), row.excluded) << platform::U16ToUtf8(row.key);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{
                "14 BlackList match and \"NOOP\", HKEY_CURRENT_USER\\software\\abc",
                "14 BlackList match and \"NOOP\", HKEY_CURRENT_USER\\Software\\Abc Val:x",
                "11 BlackList match but Unknown Parameter, HKEY_CURRENT_USER\\Software\\Odd",
                "14 BlackList CASE match, HKEY_CURRENT_USER\\Software\\CASED",
                "11 BlackList match but no Parameter String, HKEY_CURRENT_USER\\Software\\Last"}));
  Clean(u"Software\\Wild");
  EXPECT_EQ(Excluded(u"Software\\Wild"), 1) << "same session";
}

TEST_F(ExclusionTest, CleaningAddsAPairThenCountsInPlace) {
  Clean(u"Software\\Gone", u"Path");
  ASSERT_EQ(engine_.ignoreList->Count(), 2);
  EXPECT_EQ(std::u16string(engine_.ignoreList->At(0)),
            u"HKEY_CURRENT_USER\\Software\\Gone Val:Path");
  const IgnoreRecord first = RecordOf(u"HKEY_CURRENT_USER\\Software\\Gone Val:Path");
  EXPECT_EQ(first.cleanCount, 1u);
  EXPECT_EQ(first.cleanDay, CurrentDayNumber(&machine_));
  // The session: the minute of the boot, counted in FILETIME minutes.
  EXPECT_EQ(first.session, (machine_.now - machine_.uptimeMs * 10000) / kMinute);
  EXPECT_EQ(engine_.ignoreList->LengthAt(1), 35u);  // "0x%08X, 0x%08X, 0x%08X" and its NUL
  Reboot();
  EXPECT_EQ(Excluded(u"Software\\Gone", u"Path"), 0) << "cleaned once, back after a reboot";

  const uint32_t changes = engine_.ignoreList->ChangeCount();
  machine_.now += kDay;  // the next day
  machine_.uptimeMs += 1440 * 60 * 1000;
  Clean(u"software\\gone", u"path");
  EXPECT_EQ(engine_.ignoreList->Count(), 2);
  EXPECT_EQ(engine_.ignoreList->LengthAt(1), 35u);
  EXPECT_GT(engine_.ignoreList->ChangeCount(), changes) << "the save must see the change";
  const IgnoreRecord second = RecordOf(u"HKEY_CURRENT_USER\\Software\\Gone Val:Path");
  EXPECT_EQ(second.cleanCount, 2u);
  EXPECT_EQ(second.cleanDay, first.cleanDay + 1);
}

TEST_F(ExclusionTest, AfterFourteenDaysThePairIsForgotten) {
  for (int i = 0; i < 6; ++i) Clean(u"Software\\Old");
  Clean(u"Software\\Other");
  Reboot();
  machine_.now += 15 * kDay;
  engine_test::CapturedLog log(15);
  EXPECT_EQ(Excluded(u"Software\\Old"), 0);
  EXPECT_EQ(engine_.ignoreList->Count(), 2) << "only the other pair stays";
  EXPECT_EQ(std::u16string(engine_.ignoreList->At(0)), u"HKEY_CURRENT_USER\\Software\\Other");
  // Sessions 69 minutes (boot to boot) and 15 days apart.
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"14 IgnoreList match, HKEY_CURRENT_USER\\Software\\Old",
                                      "15 CleaningAge: 15, CleanCount 6, Session(21669)"}));
  // Cleaned again, it starts over at 1.
  Clean(u"Software\\Old");
  EXPECT_EQ(RecordOf(u"HKEY_CURRENT_USER\\Software\\Old").cleanCount, 1u);
}

TEST_F(ExclusionTest, MalformedRecordsAndMissingListsNeverExclude) {
  engine_.ignoreList->Add(u"HKEY_CURRENT_USER\\Software\\Bad", 0);
  engine_.ignoreList->Add(u"0x00000001 0x00000005", 0);  // no separators, and short
  Reboot();
  EXPECT_EQ(Excluded(u"Software\\Bad"), 0);
  Clean(u"Software\\Bad");
  EXPECT_EQ(RecordOf(u"HKEY_CURRENT_USER\\Software\\Bad").cleanCount, 1u);

  // An entry whose record is missing (the list's last item).
  engine_.ignoreList->Add(u"HKEY_CURRENT_USER\\Software\\Lonely", 0);
  EXPECT_EQ(Excluded(u"Software\\Lonely"), 0);
  Clean(u"Software\\Lonely");
  EXPECT_EQ(engine_.ignoreList->Count(), 4);
  EXPECT_EQ(RecordOf(u"HKEY_CURRENT_USER\\Software\\Lonely").cleanCount, 1u);
  // Without lists nothing is excluded or recorded.
  engine_.blackList.reset();
  engine_.ignoreList.reset();
  EXPECT_EQ(Excluded(u"Software\\Any"), 0);
  Clean(u"Software\\Any");
  EXPECT_EQ(IsExcluded(&engine_, kHkeyLocalMachine, u"Software\\Any", u"", &machine_), 0);
}

}  // namespace
