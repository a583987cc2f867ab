// Deleting key trees and values, and the error texts of the log.
#include "modules/RegistryCleanerModule/dll/delete_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/file_system.h"
#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/engine/log_capture.h"

namespace {

using Lines = std::vector<std::string>;  // log lines, key paths

using platform::HKey;
using platform::kHkeyCurrentUser;

constexpr uint32_t kSam = 0x2011F;  // write access, 64-bit view

// Records deletions in order with their views; can protect keys and report reflection.
class WatchedRegistry : public platform::RegistryWrapper {
 public:
  explicit WatchedRegistry(platform::Registry* target) : RegistryWrapper(target) {}
  Lines deleted;
  std::u16string protectedKey;
  bool reflecting = false;
  int reflectionDisabled = 0;

  uint32_t RegDeleteKeyExW(HKey key, std::u16string_view path, uint32_t sam) override {
    const uint32_t error = RegistryWrapper::RegDeleteKeyExW(key, path, sam);
    const char* view = sam & platform::kKeyWow64_32Key   ? " (32)"
                       : sam & platform::kKeyWow64_64Key ? " (64)"
                                                         : "";
    if (error == 0) deleted.push_back(platform::U16ToUtf8(path) + view);
    return error;
  }
  uint32_t SfcIsKeyProtected(HKey, std::u16string_view path, uint32_t) override {
    return path == protectedKey ? 1 : 0;
  }
  uint32_t RegQueryReflectionKey(HKey, bool* disabled) override {
    *disabled = !reflecting;
    return 0;
  }
  uint32_t RegDisableReflectionKey(HKey) override {
    ++reflectionDisabled;
    return 0;
  }
};

class DeleteEntriesTest : public testing::Test {
 protected:
  void SetUp() override {
    const char hive[] =
        "WINE REGISTRY Version 2\n[Software\\\\Gone]\n\"v\"=\"1\"\n"
        "[Software\\\\Gone\\\\A\\\\A1]\n\"w\"=\"2\"\n"
        "[Software\\\\Gone\\\\B]\n[Software\\\\Gone\\\\wow6432node\\\\Kept]\n"
        "[Software\\\\Other]\n\"Stay\"=\"x\"\n";
    ASSERT_TRUE(memory_.LoadHiveText(platform::memory::kCurrentUserHive, hive).empty());
  }
  bool Exists(std::u16string_view path) {
    HKey key;
    return memory_.RegOpenKeyExW(kHkeyCurrentUser, path, 0, kSam, &key) == 0 &&
           memory_.RegCloseKey(key) == 0;
  }

  platform::memory::MemoryRegistry memory_;
  WatchedRegistry registry_{&memory_};
  engine_test::FactsScope facts_{true, true, 2, &registry_};
};

std::string Text(const char16_t* text) { return platform::U16ToUtf8(text); }

// Deepest keys first, from the last index, the given key last.
TEST_F(DeleteEntriesTest, TheWow6432NodeChildIsLeftAndItsParentFails) {
  engine_test::CapturedLog log;
  DeleteKeyTree(kHkeyCurrentUser, u"Software\\Gone", kSam);
  EXPECT_EQ(registry_.deleted, (Lines{"Software\\Gone\\B (64)", "Software\\Gone\\A\\A1 (64)",
                                      "Software\\Gone\\A (64)"}));
  EXPECT_TRUE(Exists(u"Software\\Gone\\Wow6432Node\\Kept"));
  EXPECT_EQ(log.Lines(), (Lines{"03 DeleteRegKey failed: HKEY_CURRENT_USER\\Software\\Gone",
                                "04 Error: " + Text(ErrorText(5))}));
}

TEST_F(DeleteEntriesTest, AProtectedKeyStaysWithTwoLogLines) {
  registry_.protectedKey = u"Software\\Gone\\A";
  OsLevel = 3;
  engine_test::CapturedLog log;
  DeleteKeyTree(kHkeyCurrentUser, u"Software\\Gone\\A", kSam);
  EXPECT_EQ(registry_.deleted, (Lines{"Software\\Gone\\A\\A1 (64)"}));
  EXPECT_TRUE(Exists(u"Software\\Gone\\A"));
  EXPECT_EQ(log.Lines(), (Lines{"03 DeleteRegKey failed: HKEY_CURRENT_USER\\Software\\Gone\\A",
                                "04 Error: Key is protected by SFC"}));
  // Before Vista the protection is not asked for.
  OsLevel = 2;
  DeleteKeyTree(kHkeyCurrentUser, u"Software\\Gone\\A", kSam);
  EXPECT_FALSE(Exists(u"Software\\Gone\\A"));
}

// Vista on 64 bits switches reflection off per key; a 64-bit process passes the 32-bit view on.
TEST_F(DeleteEntriesTest, ReflectionAndViewBitsFollowTheMachine) {
  registry_.reflecting = true;
  OsLevel = 3;
  DeleteKeyTree(kHkeyCurrentUser, u"Software\\Gone\\A", kSam);
  EXPECT_EQ(registry_.reflectionDisabled, 2);
  OsLevel = 4;
  IsWow64 = false;
  DeleteKeyTree(kHkeyCurrentUser, u"Software\\Other", 0x2021F);
  EXPECT_EQ(registry_.reflectionDisabled, 2);
  EXPECT_EQ(registry_.deleted.back(), "Software\\Other (32)");
}

TEST_F(DeleteEntriesTest, DeleteValueReportsAMissingValue) {
  HKey key;
  ASSERT_EQ(memory_.RegOpenKeyExW(kHkeyCurrentUser, u"Software\\Other", 0, kSam, &key), 0u);
  engine_test::CapturedLog log;
  EXPECT_EQ(DeleteValue(kHkeyCurrentUser, u"Software\\Other", key, u"Stay"), 1);
  EXPECT_EQ(DeleteValue(kHkeyCurrentUser, u"Software\\Other", key, u"Stay"), 0);
  memory_.RegCloseKey(key);
  EXPECT_EQ(log.Lines(), (Lines{"03 DeleteRegValue failed: HKEY_CURRENT_USER\\Software\\Other - "
                                "Value: Stay",
                                "04 Error: " + Text(ErrorText(2))}));
}

TEST(ErrorTextTest, SystemTextWithItsSuffixAsOneTrimmedLineAndLoggedWithAMessage) {
  EXPECT_EQ(Text(ErrorText(1234567)), "Unknown Error (1234567 [0x0012D687])");
  const std::string denied = Text(ErrorText(0xC0000022u));
  EXPECT_TRUE(denied.ends_with(" (34 [0xC0000022])")) << denied;
  const std::string notFound = Text(ErrorText(2));
  EXPECT_FALSE(notFound.starts_with("Unknown Error")) << notFound;
  for (char c : notFound) EXPECT_TRUE(c != '\r' && c != '\n' && c != '%');
#ifndef _WIN32
  // The POSIX machine's own table holds Windows' English texts.
  EXPECT_EQ(notFound, "The system cannot find the file specified. (2 [0x00000002])");
  EXPECT_EQ(Text(ErrorText(5)), "Access is denied. (5 [0x00000005])");
  EXPECT_EQ(denied,
            "{Access Denied}  A process has requested access to an object, but has not been "
            "granted those access rights. (34 [0xC0000022])");
#endif
  char16_t out[16];
  const uint32_t n = SystemMessageText(2, out, sizeof(out), nullptr, 0);
  EXPECT_TRUE(n > 0 && n < 16 && out[n] == 0 && out[0] != u' ') << n;
  char16_t none[8] = {u'#'};
  EXPECT_EQ(SystemMessageText(1234567, none, sizeof(none), nullptr, 0), 0u);
  EXPECT_EQ(none[0], 0);
  // The message and the last error's text in the log.
  engine_test::CapturedLog log;
  platform::FileSystem::Default()->SetLastError(2);
  EXPECT_EQ(LogLastError(u"Cannot open %ls (%d)", u"C:\\x.txt", 7), 2u);
  platform::FileSystem::Default()->SetLastError(0);
  EXPECT_EQ(LogLastError(u"Nothing wrong"), 0u);
  EXPECT_EQ(log.Lines(), (Lines{"03 Cannot open C:\\x.txt (7)",
                                "04 Last Error: " + Text(ErrorText(2)), "03 Nothing wrong"}));
}

}  // namespace
