// Mode names and the version record.
#include "modules/RegistryCleanerModule/dll/engine_state.h"

#include <gtest/gtest.h>

#include "platform/system.h"
#include "platform/unicode.h"
#include "tests/engine/engine_test_support.h"

namespace {

TEST(ModeNameTest, EveryModeAndOthers) {
  const std::pair<uint32_t, const char16_t*> cases[] = {
      {Scan, u"Scan"},         {Clean, u"Clean"},
      {Backup, u"Backup"},     {BackupAndClean, u"Backup & Clean"},
      {KeyCount, u"KeyCount"}, {5, u"Unknown"},
      {7, u"Unknown"},         {0xFFFFFFFFu, u"Unknown"}};
  for (const auto& [mode, name] : cases) EXPECT_EQ(std::u16string(ModeName(mode)), name) << mode;
}

TEST(FileVersionRecordTest, OurOwnBinaryCarriesItsVersion) {
  FileVersionRecord record;
  record.path = platform::System::Default()->GetModuleFileName(
      reinterpret_cast<const void*>(&ReadFileVersionRecord));
  ASSERT_FALSE(record.path.empty());
  const int found = ReadFileVersionRecord(&record);
  EXPECT_EQ(found, 9) << platform::U16ToUtf8(record.path);
  // The description and version the init line shows are pinned by the module's test.
  EXPECT_EQ(record.productName, u"Registry Cleaner");
  EXPECT_GE(record.lastWrite.year, 2020);
  EXPECT_FALSE(record.valid) << "the caller decides";
}

TEST(FileVersionRecordTest, AFileWithoutVersionDataGivesNothing) {
  FileVersionRecord record;
  record.path = u"Z:\\no\\such\\file.dll";
  record.productName = u"stale";
  EXPECT_EQ(ReadFileVersionRecord(&record), 0);
  EXPECT_EQ(record.productName, u"");
  EXPECT_EQ(record.major, 0);
}

}  // namespace
