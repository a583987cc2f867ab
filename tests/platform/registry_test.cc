// The registry seam's contract: Win32's under wine64, natively the in-memory one.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry_paths.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/platform/registry_values.h"

namespace platform {
namespace {

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class RegistrySeam : public testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    reg_ = Registry::Default();
#else
    memory_ = std::make_unique<memory::MemoryRegistry>();
    // A Windows machine has these; the views need them.
    memory_->LoadHiveText(memory::kMachineHive,
                          "WINE REGISTRY Version 2\n[Software\\\\Wow6432Node]\n"
                          "[Software\\\\Classes\\\\Wow6432Node]\n");
    reg_ = memory_.get();
#endif
    path_ = u"Software\\RegcleanSeamTest-" +
            U16(testing::UnitTest::GetInstance()->current_test_info()->name());
    DeleteKeyTree(reg_, kHkeyCurrentUser, path_, 0);
    ASSERT_EQ(reg_->RegCreateKeyExW(kHkeyCurrentUser, path_, 0, kKeyAllAccess, &key_, nullptr),
              kRegSuccess);
  }

  void TearDown() override {
    reg_->RegCloseKey(key_);
    DeleteKeyTree(reg_, kHkeyCurrentUser, path_, 0);
  }

  void SetString(HKey key, std::u16string_view name, std::u16string_view text) {
    ASSERT_EQ(registry_test::SetString(reg_, key, u"", name, text), kRegSuccess);
  }
  std::vector<std::u16string> SubkeyNames(HKey key) {
    return registry_test::Names(reg_, key, u"", true);
  }

  std::unique_ptr<memory::MemoryRegistry> memory_;
  Registry* reg_ = nullptr;
  std::u16string path_;
  HKey key_{};
};

TEST_F(RegistrySeam, EnumValueBufferContract) {
  SetString(key_, u"Name", u"abcdef");
  // A string stored without its NUL: "xy" of "xyz" (a NUL right behind the
  // data would be counted in by Windows, which reads past the given size).
  const uint8_t raw[] = {'x', 0, 'y', 0, 'z', 0};
  ASSERT_EQ(reg_->RegSetValueExW(key_, u"Raw", kRegSz, raw, 4), kRegSuccess);

  char16_t name[8];
  uint8_t data[32];
  uint32_t chars, type = 0, bytes;
  const auto enumAt = [&](uint32_t index, uint32_t c, uint8_t* d, uint32_t b) {
    chars = c;
    bytes = b;
    return reg_->RegEnumValueW(key_, index, name, &chars, &type, d, &bytes);
  };
  EXPECT_EQ(enumAt(0, 4, data, sizeof(data)), kRegMoreData);  // "Name" needs 5 with the NUL
  EXPECT_EQ(chars, 4u);
  EXPECT_EQ(enumAt(0, 5, nullptr, 0), kRegSuccess);
  EXPECT_EQ(chars, 4u);
  EXPECT_EQ(std::u16string(name), u"Name");
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(bytes, 14u);
  EXPECT_EQ(enumAt(0, 8, data, 6), kRegMoreData);
  EXPECT_EQ(bytes, 14u);
  EXPECT_EQ(enumAt(0, 8, data, 14), kRegSuccess);
  EXPECT_EQ(std::memcmp(data, registry_test::Sz(u"abcdef").data(), 14), 0);
  std::memset(data, 0xAA, sizeof(data));
  EXPECT_EQ(enumAt(1, 8, data, sizeof(data)), kRegSuccess);
  EXPECT_EQ(bytes, 4u);             // the size stays that of the data
  EXPECT_EQ(data[4] + data[5], 0);  // but a NUL follows where there is room
  EXPECT_EQ(enumAt(2, 8, data, bytes), kRegNoMoreItems);
  bytes = 2;
  EXPECT_EQ(reg_->RegQueryValueExW(key_, u"Name", &type, data, &bytes), kRegMoreData);
  EXPECT_EQ(bytes, 14u);
  // A value read below a key in one call answers as the open and the read would.
  HKey sub;
  ASSERT_EQ(reg_->RegCreateKeyExW(key_, u"Sub\\Deeper", 0, kKeyAllAccess, &sub, nullptr),
            kRegSuccess);
  SetString(sub, u"", u"below");
  reg_->RegCloseKey(sub);
  constexpr uint32_t k64 = kKeyRead | kKeyWow64_64Key;
  const auto below = [&](std::u16string_view subKey, std::u16string_view value, uint32_t sam,
                         uint8_t* d, uint32_t b) {
    bytes = b;
    type = 0;
    return reg_->RegQueryValueBelow(key_, subKey, sam, value, &type, d, &bytes);
  };
  EXPECT_EQ(below(u"Sub\\Deeper", u"", k64, data, sizeof(data)), kRegSuccess);
  EXPECT_EQ(bytes, 12u);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::memcmp(data, registry_test::Sz(u"below").data(), 12), 0);
  EXPECT_EQ(below(u"sub\\DEEPER", u"", k64, data, 4), kRegMoreData);
  EXPECT_EQ(bytes, 12u);
  EXPECT_EQ(below(u"Sub\\Deeper", u"", k64, nullptr, 0), kRegSuccess);  // the size alone
  EXPECT_EQ(bytes, 12u);
  EXPECT_EQ(below(u"", u"Name", k64, data, sizeof(data)), kRegSuccess);  // the key's own
  EXPECT_EQ(bytes, 14u);
  EXPECT_EQ(below(u"Sub\\Gone", u"", k64, data, sizeof(data)), kRegFileNotFound);
  EXPECT_EQ(below(u"Sub\\Deeper", u"None", k64, data, sizeof(data)), kRegFileNotFound);
#ifndef _WIN32  // Wine opens a key with both view bits
  EXPECT_EQ(below(u"Sub", u"", kKeyRead | kKeyWow64Res, data, sizeof(data)), kRegInvalidParameter);
#endif
  EXPECT_EQ(reg_->RegQueryValueBelow(key_, u"Sub\\Deeper", k64, u"", nullptr, data, nullptr),
            kRegInvalidParameter);
}

// Keys made as needed, deleted one level at a time; stale handles say so.
TEST_F(RegistrySeam, KeysAreMadeAsNeededAndDeletedOneLevelAtATime) {
  HKey key, gone;
  uint32_t disposition = 0;
  ASSERT_EQ(reg_->RegCreateKeyExW(key_, u"a\\b\\c", 0, kKeyAllAccess, &key, &disposition),
            kRegSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  reg_->RegCloseKey(key);
  ASSERT_EQ(reg_->RegCreateKeyExW(key_, u"A\\B", 0, kKeyAllAccess, &key, &disposition),
            kRegSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  EXPECT_EQ(SubkeyNames(key), std::vector<std::u16string>{u"c"});
  char16_t name[2];
  EXPECT_EQ(reg_->RegEnumKeyW(key, 0, name, 1), kRegMoreData);  // "c" needs 2
  EXPECT_EQ(reg_->RegEnumKeyW(key, 0, name, 2), kRegSuccess);
  EXPECT_EQ(reg_->RegEnumKeyW(key, 1, name, 2), kRegNoMoreItems);
  ASSERT_EQ(reg_->RegOpenKeyExW(key, u"c", 0, kKeyRead, &gone), kRegSuccess);
  reg_->RegCloseKey(key);
  EXPECT_EQ(reg_->RegDeleteKeyW(key_, u"a\\b"), kRegAccessDenied);
  EXPECT_EQ(SubkeyNames(key_), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(reg_->RegDeleteKeyExW(key_, u"a\\b\\C", kKeyWow64_64Key), kRegSuccess);
  RegKeyInfo info;
  EXPECT_EQ(reg_->RegQueryInfoKeyW(gone, &info), kRegKeyDeleted);
  uint32_t subKeys = 9, values = 9;
  EXPECT_EQ(reg_->RegQueryKeyCounts(gone, &subKeys, &values), kRegKeyDeleted);
  SetString(key_, u"Name", u"x");
  ASSERT_EQ(reg_->RegQueryKeyCounts(key_, &subKeys, &values), kRegSuccess);
  EXPECT_EQ(subKeys, 1u);  // "a"
  EXPECT_EQ(values, 1u);
  ASSERT_EQ(reg_->RegDeleteValueW(key_, u"Name"), kRegSuccess);
  EXPECT_EQ(reg_->RegCloseKey(gone), kRegSuccess);
#ifndef _WIN32  // Windows may reuse or trap a stale handle
  EXPECT_EQ(reg_->RegCloseKey(gone), kRegInvalidHandle);
  EXPECT_EQ(reg_->RegQueryInfoKeyW(gone, &info), kRegInvalidHandle);
#endif
  EXPECT_EQ(reg_->RegCloseKey(kHkeyLocalMachine), kRegSuccess);  // predefined: nothing to do
  EXPECT_EQ(reg_->RegQueryInfoKeyW(kHkeyLocalMachine, &info), kRegSuccess);
  EXPECT_EQ(reg_->RegDeleteKeyW(key_, u"a\\b"), kRegSuccess);
  EXPECT_EQ(reg_->RegDeleteKeyW(key_, u"a"), kRegSuccess);
  EXPECT_TRUE(SubkeyNames(key_).empty());
  EXPECT_EQ(reg_->RegDeleteKeyW(key_, u"a"), kRegFileNotFound);
}

}  // namespace
}  // namespace platform
