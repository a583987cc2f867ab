// The registry toolkit in memory: facts, masks, string values, walker, deletion, redirection.
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "platform/environment.h"
#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/engine/engine_test_support.h"

namespace {

using platform::HKey;
using platform::kHkeyCurrentUser;
using platform::memory::MemoryRegistry;

constexpr uint32_t kSam = platform::kKeyRead | platform::kKeyWow64_64Key;

// HKCU\Software\Tree: children, grandchildren, values, and a Wow6432Node the walker skips.
constexpr std::string_view kUserHive =
    "WINE REGISTRY Version 2\n[Software\\\\Tree]\n\"v1\"=\"one\"\n\"v2\"=dword:00000002\n"
    "[Software\\\\Tree\\\\A]\n\"a\"=\"x\"\n[Software\\\\Tree\\\\A\\\\A1]\n"
    "[Software\\\\Tree\\\\A\\\\A2]\n[Software\\\\Tree\\\\B]\n"
    "[Software\\\\Tree\\\\B\\\\B1]\n\"b\"=\"y\"\n[Software\\\\Tree\\\\wOW6432nODE\\\\Hidden]\n"
    "\"h\"=\"no\"\n[Software\\\\Plain\\\\One]\n[Software\\\\Plain\\\\Two]\n"
    "[Software\\\\Values]\n\"Sz\"=\"plain\"\n\"Dword\"=dword:0000002a\n"
    "\"Multi\"=str(7):\"a\\0b\\0\"\n\"MultiPercent\"=str(7):\"%SystemRoot%\\0%SystemRoot%\\0\"\n"
    "\"Percent\"=\"%SystemRoot%\\\\x\"\n\"Later\"=\"C:\\\\%SystemRoot%\"\n"
    "\"Expand\"=str(2):\"%SystemRoot%\\\\y\"\n\"Empty\"=\"\"\n";

class RegistryAccessTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reg_.LoadHiveText(platform::memory::kCurrentUserHive, kUserHive).empty());
    AbortRequested = 0;
  }
  void TearDown() override { AbortRequested = 0; }

  MemoryRegistry reg_;
  engine_test::FactsScope facts_{true, true, 2, &reg_};
};

// Every callback as one readable line, joined in call order.
struct Trace {
  std::string lines{};             // the paths without "Software\", joined by '|'
  size_t count = 0;                // the callbacks so far
  std::string throwAt = "<none>";  // a key path whose key event throws
  size_t abortAfter = 0;           // the number of callbacks after which to abort
};

uint32_t Record(HKey, const char16_t* keyPath, const char16_t* valueName, const uint8_t*, uint32_t,
                uint32_t, uint32_t flags, void* context) {
  auto* trace = static_cast<Trace*>(context);
  std::string line = platform::U16ToUtf8(keyPath);
  if (line.starts_with("Software\\")) line.erase(0, 9);
  if (valueName != nullptr) line += " =" + platform::U16ToUtf8(valueName);
  if (flags & WALK_KEY_EVENT) line += " [key]";
  if (flags & WALK_VALUE_EVENT) line += " [value]";
  if (flags & WALK_CHILD_EVENT) line += " [child]";
  if (valueName == nullptr && platform::U16ToUtf8(keyPath) == trace->throwAt)
    throw std::runtime_error("fault in this subtree");
  trace->lines += (trace->lines.empty() ? "" : "|") + line;
  if (++trace->count == trace->abortAfter) AbortRequested = 1;
  return 1;
}

// Versions as {major, minor, build, platform, product type, safe mode}.
TEST(OsLevelTest, VersionReportsGiveTheDocumentedLevels) {
  const struct {
    bool read;
    platform::OsVersion version;
    int level;
  } cases[] = {
      {false, {6, 1, 0, 2, 1, false}, 0},  // no version at all
      {true, {3, 10, 0, 1, 0, false}, 0},  // 9x below 4
      {true, {4, 10, 0, 1, 0, false}, 1},  // 9x
      {true, {4, 90, 0, 1, 0, true}, 0},   // 9x in safe mode
      {true, {4, 0, 0, 2, 1, true}, 2},    // NT 4 even in safe mode
      {true, {5, 1, 0, 2, 1, false}, 2},   // XP
      {true, {5, 1, 0, 2, 1, true}, 0},    // XP in safe mode
      {true, {6, 0, 0, 2, 1, false}, 3},   // Vista workstation
      {true, {6, 0, 0, 2, 3, false}, 2},   // Server 2008
      {true, {6, 1, 0, 2, 1, false}, 4},   // 7 workstation
      {true, {6, 1, 0, 2, 3, false}, 2},   // Server 2008 R2
      {true, {6, 2, 0, 2, 1, false}, 2},   // 8 and everything that reports 6.2
      {true, {10, 0, 0, 2, 1, false}, 2},
      {true, {6, 1, 0, 3, 1, false}, 0},  // a platform other than 9x and NT
  };
  for (const auto& c : cases)
    EXPECT_EQ(ComputeOsLevel(c.read, c.version), c.level)
        << c.version.major << "." << c.version.minor;
}

TEST_F(RegistryAccessTest, AccessMasksCarryTheViewOfEachMachine) {
  const struct {
    bool is64, wow64;
    uint32_t read, write;
  } cases[] = {{false, false, 0x20019, 0x2001F},
               {true, true, 0x20119, 0x2011F},
               {true, false, 0x20219, 0x2021F}};
  for (const auto& c : cases) {
    Is64BitOs = c.is64;
    IsWow64 = c.wow64;
    EXPECT_EQ(ReadAccessMask(), c.read);
    EXPECT_EQ(WriteAccessMask(), c.write);
  }
}

TEST(RootKeyNameTest, PredefinedRootsAndOthers) {
  const char* names[] = {
      "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
      "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",      "..."};
  for (uint32_t i = 0; i < 8; ++i) {
    const HKey root{0x80000000u + i};
    EXPECT_STREQ(RootKeyNameA(root), names[i]);
    EXPECT_EQ(platform::U16ToUtf8(RootKeyNameW(root)), names[i]);
  }
  EXPECT_EQ(std::u16string(RootKeyNameW(HKey{0x1234})), u"...");
  EXPECT_EQ(std::u16string(RootKeyNameW(platform::kNullKey)), u"...");
}

TEST_F(RegistryAccessTest, ReadStringValueTakesStringsOnly) {
  char16_t buffer[256];
  auto read = [&](std::u16string_view name, uint32_t bytes = sizeof(buffer)) {
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    const uint32_t n =
        ReadStringValue(kHkeyCurrentUser, u"Software\\Values", name, kSam, buffer, bytes);
    EXPECT_EQ(n, platform::U16Length(buffer)) << platform::U16ToUtf8(name);
    return std::u16string(buffer, n);
  };
  const std::u16string root = platform::ExpandEnvironmentStrings(u"%SystemRoot%");
  ASSERT_NE(root, u"%SystemRoot%") << "the machine sets SystemRoot";

  EXPECT_EQ(read(u"Sz"), u"plain");
  // Two strings read as one line, with a blank after each.
  EXPECT_EQ(read(u"Multi"), u"a b ");
  // Expanded before it is joined: only the first string, as one text.
  const std::u16string multi = read(u"MultiPercent");
  EXPECT_TRUE(multi.starts_with(root) && multi.ends_with(u" %SystemRoot% "))
      << platform::U16ToUtf8(multi);
  // A leading "%" is expanded even in REG_SZ; a reference further on is not.
  EXPECT_EQ(read(u"Percent"), root + u"\\x");
  EXPECT_EQ(read(u"Later"), u"C:\\%SystemRoot%");
  EXPECT_EQ(read(u"Expand"), root + u"\\y");

  // Nothing usable: 0 and a buffer of zeros.
  for (std::u16string_view name : {u"Dword", u"Missing", u"Empty"}) {
    EXPECT_EQ(read(name), u"") << platform::U16ToUtf8(name);
    for (char16_t c : buffer) ASSERT_EQ(c, 0) << platform::U16ToUtf8(name);
  }
  // A value larger than the buffer is not read at all.
  EXPECT_EQ(read(u"Sz", 6), u"");
  EXPECT_EQ(ReadStringValue(kHkeyCurrentUser, u"Software\\Values", u"Sz", kSam, nullptr, 10), 0u);
  EXPECT_EQ(
      ReadStringValue(kHkeyCurrentUser, u"Software\\Nowhere", u"Sz", kSam, buffer, sizeof(buffer)),
      0u);
  // Room not cleared first ends its text behind the data (an odd last byte is a unit of its
  // own), and never past the room.
  for (auto [bytes, room, after] :
       {std::tuple{4u, 4u, u"\u2323\u2323\0\u2323"}, std::tuple{3u, 4u, u"\u2323\u0023\0\u2323"},
        std::tuple{7u, 4u, u"\u2323\u2323\u2323\u0023"}}) {
    std::fill(std::begin(buffer), std::end(buffer), u'\u2323');
    EndTextAfterData(buffer, room, bytes);
    EXPECT_EQ(std::u16string(buffer, 4), std::u16string(after, 4)) << bytes;
  }
}

// Keys, values, children (as backups show); children first from the last; a fault costs a subtree.
TEST_F(RegistryAccessTest, WalkOrderForEachSetOfFlags) {
  constexpr uint32_t kAll = WALK_VALUES | WALK_KEYS | WALK_RECURSE;
  const struct {
    uint32_t flags;
    const char *throwAt, *path, *lines;
  } rows[] = {
      {kAll | WALK_CHILDREN_FIRST, "", "Software\\Tree",
       "Tree\\B\\B1 =b [value]|Tree\\B\\B1 [key]|Tree\\B [key]|Tree\\A\\A2 [key]|"
       "Tree\\A\\A1 [key]|Tree\\A =a [value]|Tree\\A [key]|Tree =v2 [value]|Tree =v1 [value]|"
       "Tree [key]"},
      {WALK_KEYS, "", "Software\\Tree", "Tree [key]|Tree\\A [child]|Tree\\B [child]"},
      {kAll, "Software\\Tree\\A", "Software\\Tree",
       "Tree [key]|Tree =v1 [value]|Tree =v2 [value]|Tree\\B [key]|Tree\\B\\B1 [key]|"
       "Tree\\B\\B1 =b [value]"},
      {kAll, "", "Software\\Gone", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lines);
    Trace trace{.throwAt = row.throwAt};
    const uint32_t total = WalkKeyTree(kHkeyCurrentUser, platform::Utf8ToU16(row.path), kSam,
                                       Record, row.flags, &trace);
    EXPECT_EQ(trace.lines, row.lines);
    if (row.flags & WALK_RECURSE) {
      EXPECT_EQ(total, trace.count);
    }
  }
  // Values alone: no key callbacks and no descent.
  Trace values;
  EXPECT_EQ(EnumValues(kHkeyCurrentUser, u"Software\\Tree", kSam, Record, WALK_VALUES, &values),
            2u);
  EXPECT_EQ(values.lines, "Tree =v1|Tree =v2");
  // An empty path walks the given handle and leaves it open.
  HKey b;
  ASSERT_EQ(reg_.RegOpenKeyExW(kHkeyCurrentUser, u"Software\\Tree\\B", 0, kSam, &b), 0u);
  const size_t handles = reg_.OpenHandleCount();
  Trace handle;
  WalkKeyTree(b, u"", kSam, Record, kAll, &handle);
  EXPECT_EQ(handle.lines, " [key]|B1 [key]|B1 =b [value]");
  EXPECT_EQ(reg_.OpenHandleCount(), handles);
  EXPECT_EQ(reg_.RegCloseKey(b), 0u) << "the walked handle is still open";
}

TEST_F(RegistryAccessTest, AbortStopsEveryLoop) {
  Trace trace{.abortAfter = 2};
  EXPECT_EQ(WalkKeyTree(kHkeyCurrentUser, u"Software\\Tree", kSam, Record,
                        WALK_VALUES | WALK_KEYS | WALK_RECURSE, &trace),
            2u);
  trace.lines.clear();
  EXPECT_EQ(WalkKeyTree(kHkeyCurrentUser, u"Software\\Tree", kSam, Record, WALK_KEYS, &trace), 0u);
  EXPECT_EQ(EnumValues(kHkeyCurrentUser, u"Software\\Tree", kSam, Record, 0, &trace), 0u);
  EXPECT_TRUE(trace.lines.empty());
}

// A chain far deeper than any real registry ends at the stack guard, not in an overflow.
TEST_F(RegistryAccessTest, DeepChainEndsWithoutExhaustingTheStack) {
  std::u16string path = u"Software\\Deep";
  HKey key;
  for (int i = 0; i < 1500; ++i) path += u"\\k";
  ASSERT_EQ(reg_.RegCreateKeyExW(kHkeyCurrentUser, path, 0, platform::kKeyAllAccess, &key, nullptr),
            0u);
  reg_.RegCloseKey(key);
  Trace trace;
  const uint32_t total = WalkKeyTree(kHkeyCurrentUser, u"Software\\Deep", kSam, Record,
                                     WALK_KEYS | WALK_RECURSE, &trace);
  EXPECT_GT(total, 100u);
  EXPECT_LE(total, 1501u);
}

// A registry without the view-aware delete: the plain one is used.
TEST_F(RegistryAccessTest, DeleteKeyViewFallsBackWithoutTheViewAwareCall) {
  struct NoDeleteEx : platform::RegistryWrapper {
    using RegistryWrapper::RegistryWrapper;
    int plain = 0, ex = 0;
    uint32_t RegDeleteKeyExW(HKey, std::u16string_view, uint32_t) override {
      ++ex;
      return platform::kRegCallNotImplemented;
    }
    uint32_t RegDeleteKeyW(HKey key, std::u16string_view path) override {
      ++plain;
      return RegistryWrapper::RegDeleteKeyW(key, path);
    }
  } old(&reg_);
  SetEngineRegistry(&old);
  EXPECT_EQ(DeleteKeyView(kHkeyCurrentUser, u"Software\\Plain\\One", kSam), 0u);
  EXPECT_EQ(DeleteKeyView(kHkeyCurrentUser, u"Software\\Plain\\Two", kSam), 0u);
  EXPECT_EQ(old.plain, 2);
  EXPECT_EQ(old.ex, 1) << "the missing call is looked up once";
  HKey gone;
  EXPECT_EQ(reg_.RegOpenKeyExW(kHkeyCurrentUser, u"Software\\Plain\\Two", 0, kSam, &gone),
            platform::kErrorFileNotFound);
}

// In memory there is no reflection to switch off and no protection.
TEST_F(RegistryAccessTest, ReflectionAndProtectionAreAbsentInMemory) {
  HKey key;
  ASSERT_EQ(reg_.RegOpenKeyExW(kHkeyCurrentUser, u"Software\\Tree", 0, kSam, &key), 0u);
  EXPECT_FALSE(IsReflectionEnabled(key));
  EXPECT_TRUE(DisableReflection(key));
  reg_.RegCloseKey(key);
  OsLevel = 3;
  EXPECT_EQ(IsKeyProtectedBySfc(kHkeyCurrentUser, u"Software\\Tree", kSam), 0u);
}

TEST(FsRedirectionSwitchTest, DisablesAtOnceAndRevertsAtTheEnd) {
  struct Redirection : platform::SystemWrapper {
    Redirection() : SystemWrapper(platform::System::Default()) {}
    int disables = 0, reverts = 0, result = 1;  // -1: the system has no such call
    int Wow64DisableWow64FsRedirection(void** old) override {
      *old = this;
      disables += result > 0;
      return result;
    }
    int Wow64RevertWow64FsRedirection(void* old) override {
      EXPECT_EQ(old, this) << "the saved state goes back";
      reverts += result > 0;
      return result;
    }
  } system;
  EXPECT_TRUE(FsRedirectionSwitch(true, &system).disabled());
  { FsRedirectionSwitch later(false, &system); }
  EXPECT_EQ(system.disables, 1);
  EXPECT_EQ(system.reverts, 1) << "only what was switched off is switched back";
  system.result = -1;
  FsRedirectionSwitch none(true, &system);
  EXPECT_FALSE(none.available());
  EXPECT_EQ(none.Revert(), 0);
}

TEST(FsRedirectionSwitchTest, TheMachinesOwnSwitchWorks) {
  FsRedirectionSwitch redirection(false);
  const int disabled = redirection.Disable();
  if (!redirection.available()) GTEST_SKIP() << "this system has no file-system redirection";
  // A 64-bit process under Windows may be refused; what was switched off must switch back on.
  EXPECT_TRUE(disabled == 0 || redirection.Revert() != 0);
  EXPECT_FALSE(redirection.disabled());
}

}  // namespace
