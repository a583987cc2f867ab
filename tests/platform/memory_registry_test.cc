// What only the in-memory registry shows: the two views of a win64 machine
// seen by a 32-bit process, Wine's shared Classes key, links, volatile keys
// and the predefined roots as Wine lays them out.
#include "platform/wineprefix/memory_registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/platform/registry_values.h"

namespace platform::memory {
namespace {

// A link key's lines in hive text: target is the link's NT path.
std::string LinkTo(std::string_view target) {
  std::string out = "#link\n\"SymbolicLinkValue\"=hex(6):";
  char hex[8];
  for (char c : target) {
    std::snprintf(hex, sizeof(hex), "%02x,00,", c);
    out += hex;
  }
  out.back() = '\n';
  return out;
}

// A machine like a win64 prefix: Vendor in both views, the shared Classes
// key (Wine links the 32-bit Classes to it), and CurrentControlSet as a link.
const std::string kMachine =
    "WINE REGISTRY Version 2\n"
    "[Software\\\\Vendor]\n@=\"64\"\n"
    "[Software\\\\Wow6432Node\\\\Vendor]\n@=\"32\"\n"
    "[Software\\\\Wow6432Node\\\\Only32]\n@=\"32 only\"\n"
    "[Software\\\\Wow6432Node\\\\Classes]\n" +
    LinkTo("\\Registry\\Machine\\Software\\Classes\\Wow6432Node") +
    "[Software\\\\Classes\\\\.txt]\n@=\"txtfile\"\n"
    "[Software\\\\Classes\\\\CLSID\\\\{64}]\n@=\"64\"\n"
    "[Software\\\\Classes\\\\Wow6432Node\\\\CLSID\\\\{32}]\n@=\"32\"\n"
    "[System\\\\ControlSet001\\\\Control]\n\"Where\"=\"set one\"\n"
    "[System\\\\CurrentControlSet]\n" +
    LinkTo("\\Registry\\Machine\\System\\ControlSet001") + "[System\\\\Loop]\n" +
    LinkTo("\\Registry\\Machine\\System\\Loop");

class MemoryRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reg_.LoadHiveText(kMachineHive, kMachine).empty());
    ASSERT_TRUE(reg_.LoadHiveText(kCurrentUserHive,
                                  "WINE REGISTRY Version 2\n[Environment]\n\"TEMP\"=\"t\"\n")
                    .empty());
  }

  // The default value (or value) of root\path opened with sam.
  std::u16string Default(HKey root, std::u16string_view path, uint32_t sam,
                         std::u16string_view value = u"") {
    return registry_test::GetString(&reg_, root, path, value, sam);
  }

  MemoryRegistry reg_;
};

TEST_F(MemoryRegistryTest, AnAccessWithoutViewBitsIsThe32BitView) {
  const struct {
    std::u16string_view path;
    uint32_t sam;
    std::u16string expected;
  } cases[] = {
      {u"Software\\Vendor", kKeyRead, u"32"},
      {u"Software\\Vendor", kKeyRead | kKeyWow64_32Key, u"32"},
      {u"Software\\Vendor", kKeyRead | kKeyWow64_64Key, u"64"},
      {u"SOFTWARE\\vendor", kKeyRead, u"32"},
      {u"Software\\Wow6432Node\\Vendor", kKeyRead, u"32"},  // named outright: no second step
      {u"Software\\Wow6432Node\\Vendor", kKeyRead | kKeyWow64_64Key, u"32"},
      {u"Software\\Only32", kKeyRead, u"32 only"},
      {u"Software\\Only32", kKeyRead | kKeyWow64_64Key, u"<no key>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Default(kHkeyLocalMachine, c.path, c.sam), c.expected)
        << std::string(c.path.begin(), c.path.end()) << " " << c.sam;
  }
  // Opened in the 32-bit view, Software is its Wow6432Node.
  HKey software;
  ASSERT_EQ(reg_.RegOpenKeyExW(kHkeyLocalMachine, u"Software", 0, kKeyRead, &software),
            kRegSuccess);
  RegKeyInfo info;
  reg_.RegQueryInfoKeyW(software, &info);
  EXPECT_EQ(info.subKeys, 3u);  // Classes, Only32 and Vendor
  reg_.RegCloseKey(software);
  EXPECT_EQ(
      reg_.RegOpenKeyExW(kHkeyLocalMachine, u"Software", 0, kKeyRead | kKeyWow64Res, &software),
      kRegInvalidParameter);
  // A create lands there too.
  HKey key;
  ASSERT_EQ(
      reg_.RegCreateKeyExW(kHkeyLocalMachine, u"Software\\New", 0, kKeyAllAccess, &key, nullptr),
      kRegSuccess);
  reg_.RegCloseKey(key);
  EXPECT_EQ(Default(kHkeyLocalMachine, u"Software\\Wow6432Node\\New", kKeyRead | kKeyWow64_64Key),
            u"<no value>");
  EXPECT_EQ(reg_.RegDeleteKeyW(kHkeyLocalMachine, u"Software\\New"), kRegSuccess);
  // A win32 machine has no views.
  reg_.set_win64(false);
  EXPECT_EQ(Default(kHkeyLocalMachine, u"Software\\Vendor", kKeyRead), u"64");
  EXPECT_EQ(Default(kHkeyLocalMachine, u"Software\\Vendor", kKeyRead | kKeyWow64_32Key), u"64");
}

TEST_F(MemoryRegistryTest, ClassesRootIsTheMachinesClassesShared32BitKey) {
  EXPECT_EQ(Default(kHkeyClassesRoot, u".txt", kKeyRead), u"txtfile");  // from the 64-bit key
  EXPECT_EQ(Default(kHkeyClassesRoot, u"CLSID\\{32}", kKeyRead), u"32");
  EXPECT_EQ(Default(kHkeyClassesRoot, u"CLSID\\{32}", kKeyRead | kKeyWow64_64Key), u"<no key>");
  EXPECT_EQ(Default(kHkeyClassesRoot, u"CLSID\\{64}", kKeyRead | kKeyWow64_64Key), u"64");
  EXPECT_EQ(Default(kHkeyClassesRoot, u"\\.txt", kKeyRead | kKeyWow64_64Key), u"txtfile");
  EXPECT_EQ(Default(kHkeyLocalMachine, u"Software\\Classes\\.txt", kKeyRead), u"txtfile");
  EXPECT_EQ(Default(kHkeyCurrentUser, u"Environment", kKeyRead, u"TEMP"), u"t");
  EXPECT_EQ(Default(kHkeyUsers, u"S-1-5-21-0-0-0-1000\\Environment", kKeyRead, u"TEMP"), u"t");
  HKey key;
  EXPECT_EQ(reg_.RegOpenKeyExW(kHkeyPerformanceData, u"", 0, kKeyRead, &key), kRegInvalidHandle);
}

TEST_F(MemoryRegistryTest, LinksAreFollowedOnOpenAndListedAsKeys) {
  EXPECT_EQ(Default(kHkeyLocalMachine, u"System\\CurrentControlSet\\Control", kKeyRead, u"Where"),
            u"set one");
  EXPECT_EQ(Default(kHkeyLocalMachine, u"System\\Loop", kKeyRead), u"<no key>");
  HKey system;
  ASSERT_EQ(reg_.RegOpenKeyExW(kHkeyLocalMachine, u"System", 0, kKeyRead, &system), kRegSuccess);
  char16_t name[32];
  std::vector<std::u16string> names;
  for (uint32_t i = 0; reg_.RegEnumKeyW(system, i, name, 32) == kRegSuccess; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"ControlSet001", u"CurrentControlSet", u"Loop"}));
  // Opening the link itself (REG_OPTION_OPEN_LINK) shows its target value.
  HKey link;
  ASSERT_EQ(reg_.RegOpenKeyExW(system, u"CurrentControlSet", 8, kKeyRead, &link), kRegSuccess);
  uint32_t type = 0;
  EXPECT_EQ(reg_.RegQueryValueExW(link, u"SymbolicLinkValue", &type, nullptr, nullptr),
            kRegSuccess);
  EXPECT_EQ(type, kRegLink);
  const uint8_t data[] = {'x', 0, 0, 0};
  EXPECT_EQ(reg_.RegSetValueExW(link, u"Other", kRegSz, data, 4), kRegAccessDenied);
  reg_.RegCloseKey(link);
  reg_.RegCloseKey(system);
}

TEST_F(MemoryRegistryTest, VolatileKeysRootsAndReflection) {
  HKey key, child;
  ASSERT_EQ(reg_.RegCreateKeyExW(kHkeyCurrentUser, u"Volatile Environment", kRegOptionVolatile,
                                 kKeyAllAccess, &key, nullptr),
            kRegSuccess);
  // A volatile key has only volatile children.
  EXPECT_EQ(reg_.RegCreateKeyExW(key, u"Child", 0, kKeyAllAccess, &child, nullptr), 1021u);
  EXPECT_EQ(reg_.RegCreateKeyExW(key, u"Child", kRegOptionVolatile, kKeyAllAccess, &child, nullptr),
            kRegSuccess);
  reg_.RegCloseKey(child);
  reg_.RegCloseKey(key);
  EXPECT_EQ(reg_.RegDeleteKeyW(kHkeyCurrentUser, u""), kRegAccessDenied);
  EXPECT_EQ(reg_.RegDeleteKeyW(kHkeyUsers, u".Default"), kRegAccessDenied);
  bool disabled = false;
  EXPECT_EQ(reg_.RegQueryReflectionKey(kHkeyLocalMachine, &disabled), kRegSuccess);
  EXPECT_TRUE(disabled);
  EXPECT_EQ(reg_.RegDisableReflectionKey(kHkeyLocalMachine), kRegSuccess);
  EXPECT_EQ(reg_.OpenHandleCount(), 0u);
}

// Enumerating a large key by index touches each entry once: the index is a
// position, never a search from the start.
TEST_F(MemoryRegistryTest, ManyEntriesEnumerateInOrder) {
  HKey key;
  ASSERT_EQ(reg_.RegCreateKeyExW(kHkeyCurrentUser, u"Big", 0, kKeyAllAccess, &key, nullptr),
            kRegSuccess);
  const uint32_t dw = 1;
  for (int i = 999; i >= 0; --i) {
    const std::string name = "v" + std::to_string(1000 + i);
    const std::u16string wide(name.begin(), name.end());
    ASSERT_EQ(reg_.RegSetValueExW(key, wide, kRegDword, reinterpret_cast<const uint8_t*>(&dw), 4),
              kRegSuccess);
  }
  char16_t name[16];
  uint32_t chars = 16;
  ASSERT_EQ(reg_.RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, nullptr), kRegSuccess);
  EXPECT_EQ(std::u16string(name), u"v1999");  // insertion order
  EXPECT_EQ(reg_.RegQueryValueExW(key, u"V1500", nullptr, nullptr, nullptr), kRegSuccess);
  EXPECT_EQ(reg_.RegDeleteValueW(key, u"v1500"), kRegSuccess);
  EXPECT_EQ(reg_.RegQueryValueExW(key, u"v1500", nullptr, nullptr, nullptr), kRegFileNotFound);
  EXPECT_EQ(reg_.RegQueryValueExW(key, u"v1000", nullptr, nullptr, nullptr), kRegSuccess);
  // Deleted while walked down, as a resolve does: v1000, v1002 .. v1396 go.
  for (uint32_t i = 998; i > 600; i -= 2) {
    chars = 16;
    ASSERT_EQ(reg_.RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr), kRegSuccess);
    ASSERT_EQ(reg_.RegDeleteValueW(key, name), kRegSuccess);
  }
  RegKeyInfo info;
  ASSERT_EQ(reg_.RegQueryInfoKeyW(key, &info), kRegSuccess);
  EXPECT_EQ(info.values, 800u);
  EXPECT_EQ(reg_.RegQueryValueExW(key, u"v1396", nullptr, nullptr, nullptr), kRegFileNotFound);
  EXPECT_EQ(reg_.RegSetValueExW(key, u"v1002", kRegDword, reinterpret_cast<const uint8_t*>(&dw), 4),
            kRegSuccess);
  for (const auto& [at, expected] : {std::pair{799u, u"v1001"}, {800u, u"v1002"}}) {
    chars = 16;
    ASSERT_EQ(reg_.RegEnumValueW(key, at, name, &chars, nullptr, nullptr, nullptr), kRegSuccess);
    EXPECT_EQ(std::u16string(name), expected);
  }
  EXPECT_EQ(reg_.RegQueryValueExW(key, u"v1397", nullptr, nullptr, nullptr), kRegSuccess);
  reg_.RegCloseKey(key);
}

}  // namespace
}  // namespace platform::memory
