// The in-memory registry: win64 views, shared Classes, links, volatile keys, roots.
#include "platform/wineprefix/memory_registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/platform/registry_values.h"

namespace platform::memory {
namespace {

using registry_test::GetString;

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

// A win64 prefix's machine: Vendor in both views, Classes shared, links.
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

  MemoryRegistry reg_;
};

// No view bits: the 32-bit view; HKCR: the machine's shared Classes; links followed.
TEST_F(MemoryRegistryTest, ViewsClassesRootAndLinksAsWineLaysThemOut) {
  constexpr uint32_t k32 = kKeyRead | kKeyWow64_32Key, k64 = kKeyRead | kKeyWow64_64Key;
  const HKey hklm = kHkeyLocalMachine, hkcr = kHkeyClassesRoot;
  const struct {
    HKey root;
    std::u16string_view path;
    uint32_t sam;
    std::u16string expected;
    std::u16string_view value = u"";
  } cases[] = {
      {hklm, u"Software\\Vendor", kKeyRead, u"32"},
      {hklm, u"Software\\Vendor", k32, u"32"},
      {hklm, u"Software\\Vendor", k64, u"64"},
      {hklm, u"SOFTWARE\\vendor", kKeyRead, u"32"},
      {hklm, u"Software\\Wow6432Node\\Vendor", kKeyRead, u"32"},  // named outright: no second step
      {hklm, u"Software\\Wow6432Node\\Vendor", k64, u"32"},
      {hklm, u"Software\\Only32", kKeyRead, u"32 only"},
      {hklm, u"Software\\Only32", k64, u"<no key>"},
      {hkcr, u".txt", kKeyRead, u"txtfile"},  // from the 64-bit key
      {hkcr, u"CLSID\\{32}", kKeyRead, u"32"},
      {hkcr, u"CLSID\\{32}", k64, u"<no key>"},
      {hkcr, u"CLSID\\{64}", k64, u"64"},
      {hkcr, u"\\.txt", k64, u"txtfile"},
      {hklm, u"Software\\Classes\\.txt", kKeyRead, u"txtfile"},
      {kHkeyCurrentUser, u"Environment", kKeyRead, u"t", u"TEMP"},
      {kHkeyUsers, u"S-1-5-21-0-0-0-1000\\Environment", kKeyRead, u"t", u"TEMP"},
      {hklm, u"System\\CurrentControlSet\\Control", kKeyRead, u"set one", u"Where"},
      {hklm, u"System\\Loop", kKeyRead, u"<no key>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetString(&reg_, c.root, c.path, c.value, c.sam), c.expected)
        << std::string(c.path.begin(), c.path.end()) << " " << c.sam;
  }
  HKey key;
  EXPECT_EQ(reg_.RegOpenKeyExW(kHkeyPerformanceData, u"", 0, kKeyRead, &key), kRegInvalidHandle);
  // Opened in the 32-bit view, Software is its Wow6432Node.
  HKey software;
  ASSERT_EQ(reg_.RegOpenKeyExW(hklm, u"Software", 0, kKeyRead, &software), kRegSuccess);
  RegKeyInfo info;
  reg_.RegQueryInfoKeyW(software, &info);
  EXPECT_EQ(info.subKeys, 3u);  // Classes, Only32 and Vendor
  reg_.RegCloseKey(software);
  EXPECT_EQ(reg_.RegOpenKeyExW(hklm, u"Software", 0, kKeyRead | kKeyWow64Res, &software),
            kRegInvalidParameter);
  // A create lands there too.
  ASSERT_EQ(reg_.RegCreateKeyExW(hklm, u"Software\\New", 0, kKeyAllAccess, &key, nullptr),
            kRegSuccess);
  reg_.RegCloseKey(key);
  EXPECT_EQ(GetString(&reg_, hklm, u"Software\\Wow6432Node\\New", u"", k64), u"<no value>");
  EXPECT_EQ(reg_.RegDeleteKeyW(hklm, u"Software\\New"), kRegSuccess);
  // A name too long anywhere in a path is told before anything is made, and
  // before a missing key on the way.
  const std::u16string tooLong(256, u'x');
  EXPECT_EQ(reg_.RegCreateKeyExW(hklm, u"Software\\Made\\" + tooLong, 0, kKeyAllAccess, &key,
                                 nullptr),
            kRegInvalidParameter);
  EXPECT_EQ(reg_.RegOpenKeyExW(hklm, u"Software\\Made", 0, k64, &key), kRegFileNotFound);
  EXPECT_EQ(reg_.RegOpenKeyExW(hklm, u"Software\\Gone\\" + tooLong, 0, k64, &key),
            kRegInvalidParameter);
  EXPECT_EQ(reg_.RegOpenKeyExW(hklm, tooLong.substr(1) + u"\\" + tooLong, 0, k64, &key),
            kRegInvalidParameter);
  // A key of many children, searched name after name (each search starts
  // where the last ended), then after its children moved.
  auto many = [](int i) {
    std::u16string name = u"Software\\Many\\K000";
    for (size_t at = name.size(); i != 0; i /= 10) name[--at] = static_cast<char16_t>(u'0' + i % 10);
    return name;
  };
  auto opens = [&](const std::u16string& path) {
    HKey opened;
    const bool found = reg_.RegOpenKeyExW(hklm, path, 0, k64, &opened) == kRegSuccess;
    if (found) reg_.RegCloseKey(opened);
    return found;
  };
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(reg_.RegCreateKeyExW(hklm, many(i), 0, kKeyAllAccess | kKeyWow64_64Key, &key, nullptr),
              kRegSuccess);
    reg_.RegCloseKey(key);
  }
  for (int i = 99; i >= 0; --i) EXPECT_TRUE(opens(many(i))) << i;
  EXPECT_EQ(reg_.RegDeleteKeyExW(hklm, many(50), kKeyWow64_64Key), kRegSuccess);
  EXPECT_FALSE(opens(many(50)));
  EXPECT_TRUE(opens(many(49)));
  EXPECT_TRUE(opens(many(51)));
  ASSERT_EQ(reg_.RegCreateKeyExW(hklm, many(50) + u"x", 0, kKeyAllAccess | kKeyWow64_64Key, &key,
                                 nullptr),
            kRegSuccess);
  reg_.RegCloseKey(key);
  for (int i = 48; i <= 52; ++i) EXPECT_EQ(opens(many(i)), i != 50) << i;
  EXPECT_TRUE(opens(many(50) + u"X"));
  EXPECT_FALSE(opens(many(100)));
  // An open starts where the last walk of its folder ended, and a folder
  // found missing stays missing, only until the tree changes.
  EXPECT_FALSE(opens(u"Software\\Gone\\Away"));
  EXPECT_FALSE(opens(u"Software\\Gone\\Away"));
  EXPECT_EQ(reg_.RegOpenKeyExW(hklm, u"Software\\Gone\\" + tooLong, 0, k64, &key),
            kRegInvalidParameter);
  ASSERT_EQ(reg_.RegCreateKeyExW(hklm, u"Software\\Gone\\Away", 0, kKeyAllAccess | kKeyWow64_64Key,
                                 &key, nullptr),
            kRegSuccess);
  reg_.RegCloseKey(key);
  EXPECT_TRUE(opens(u"Software\\Gone\\Away"));
  EXPECT_TRUE(opens(u"SOFTWARE\\gone\\AWAY"));
  EXPECT_EQ(reg_.RegDeleteKeyExW(hklm, u"Software\\Gone\\Away", kKeyWow64_64Key), kRegSuccess);
  EXPECT_EQ(reg_.RegDeleteKeyExW(hklm, u"Software\\Gone", kKeyWow64_64Key), kRegSuccess);
  EXPECT_FALSE(opens(u"Software\\Gone\\Away"));
  EXPECT_EQ(GetString(&reg_, hklm, u"System\\CurrentControlSet\\Control", u"Where", k64),
            u"set one");
  // A link is listed as a key; opened itself it shows its target and takes no value.
  EXPECT_EQ(registry_test::Names(&reg_, hklm, u"System", true),
            (std::vector<std::u16string>{u"ControlSet001", u"CurrentControlSet", u"Loop"}));
  HKey link;
  ASSERT_EQ(reg_.RegOpenKeyExW(hklm, u"System\\CurrentControlSet", 8, kKeyRead, &link),
            kRegSuccess);
  uint32_t type = 0;
  EXPECT_EQ(reg_.RegQueryValueExW(link, u"SymbolicLinkValue", &type, nullptr, nullptr),
            kRegSuccess);
  EXPECT_EQ(type, kRegLink);
  const uint8_t data[] = {'x', 0, 0, 0};
  EXPECT_EQ(reg_.RegSetValueExW(link, u"Other", kRegSz, data, 4), kRegAccessDenied);
  // Pointed elsewhere, the link leads there at once, also for a folder opened before.
  ASSERT_EQ(reg_.RegCreateKeyExW(hklm, u"System\\ControlSet002\\Control", 0, kKeyAllAccess, &key,
                                 nullptr),
            kRegSuccess);
  reg_.RegCloseKey(key);
  const std::u16string target = u"\\Registry\\Machine\\System\\ControlSet002";
  ASSERT_EQ(reg_.RegSetValueExW(link, u"SymbolicLinkValue", kRegLink,
                                reinterpret_cast<const uint8_t*>(target.data()),
                                static_cast<uint32_t>(target.size() * 2)),
            kRegSuccess);
  EXPECT_EQ(GetString(&reg_, hklm, u"System\\CurrentControlSet\\Control", u"Where", k64),
            u"<no value>");
  reg_.RegCloseKey(link);
  // A win32 machine has no views.
  reg_.set_win64(false);
  EXPECT_EQ(GetString(&reg_, hklm, u"Software\\Vendor", u"", kKeyRead), u"64");
  EXPECT_EQ(GetString(&reg_, hklm, u"Software\\Vendor", u"", k32), u"64");
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

// Enumerating a large key by index is a position, never a search from the start.
TEST_F(MemoryRegistryTest, ManyEntriesEnumerateInOrder) {
  HKey key;
  ASSERT_EQ(reg_.RegCreateKeyExW(kHkeyCurrentUser, u"Big", 0, kKeyAllAccess, &key, nullptr),
            kRegSuccess);
  const uint32_t dw = 1;
  const auto set = [&](std::u16string_view name) {
    return reg_.RegSetValueExW(key, name, kRegDword, reinterpret_cast<const uint8_t*>(&dw), 4);
  };
  const auto has = [&](std::u16string_view name) {
    return reg_.RegQueryValueExW(key, name, nullptr, nullptr, nullptr) == kRegSuccess;
  };
  const auto nameAt = [&](uint32_t index) {
    char16_t name[16];
    uint32_t chars = 16;
    return reg_.RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr) == kRegSuccess
               ? std::u16string(name)
               : u"<none>";
  };
  for (int i = 1999; i >= 1000; --i) {
    const std::string name = "v" + std::to_string(i);
    ASSERT_EQ(set(std::u16string(name.begin(), name.end())), kRegSuccess);
  }
  EXPECT_EQ(nameAt(0), u"v1999");  // insertion order
  EXPECT_TRUE(has(u"V1500"));
  EXPECT_EQ(reg_.RegDeleteValueW(key, u"v1500"), kRegSuccess);
  EXPECT_FALSE(has(u"v1500"));
  // Deleted while walked down, as a resolve does: v1000, v1002 .. v1396 go.
  for (uint32_t i = 998; i > 600; i -= 2)
    ASSERT_EQ(reg_.RegDeleteValueW(key, nameAt(i)), kRegSuccess);
  RegKeyInfo info;
  ASSERT_EQ(reg_.RegQueryInfoKeyW(key, &info), kRegSuccess);
  EXPECT_EQ(info.values, 800u);
  EXPECT_FALSE(has(u"v1396"));
  EXPECT_EQ(set(u"v1002"), kRegSuccess);
  EXPECT_EQ(nameAt(799) + u" " + nameAt(800), u"v1001 v1002");
  EXPECT_TRUE(has(u"v1397"));
  reg_.RegCloseKey(key);
}

}  // namespace
}  // namespace platform::memory
