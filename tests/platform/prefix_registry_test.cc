// The registry of a Wine prefix on disk: saving only what was touched, the
// wineserver's lock, two writers, hives that do not read cleanly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32

TEST(PrefixRegistry, PosixOnly) { GTEST_SKIP() << "hive files belong to the POSIX backend"; }

#else

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/wineprefix/prefix_registry.h"
#include "tests/platform/registry_values.h"
#include "tests/platform/temp_tree.h"
#include "tests/platform/wineserver_lock.h"

namespace platform::posix {
namespace {

namespace fs = std::filesystem;
using registry_test::GetString;
using registry_test::SetString;
using testing::HasSubstr;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Spit(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The prefix of a temporary tree holds the hives wineboot wrote.
class PrefixRegistryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tree_.ok()); }
  void TearDown() override { lock_.Release(); }

  std::unique_ptr<PrefixRegistry> Open() {
    auto reg = std::make_unique<PrefixRegistry>(prefix_.string());
    reg->SetProblemReporter([this](const std::string& problem) { reported_.push_back(problem); });
    return reg;
  }

  TempTree tree_;
  const fs::path prefix_ = tree_.prefix();
  WineserverLock lock_;
  std::vector<std::string> reported_;
};

TEST_F(PrefixRegistryTest, ASaveRewritesOnlyTheTouchedBlockAndKeepsAnEmptiedParent) {
  const std::string before = Slurp(prefix_ / "user.reg");
  auto reg = Open();
  ASSERT_EQ(SetString(reg.get(), kHkeyCurrentUser, u"Environment", u"Added", u"yes"), kRegSuccess);
  ASSERT_EQ(reg->Flush(), kRegSuccess);
  const std::string after = Slurp(prefix_ / "user.reg");
  // Everything outside the Environment block is as it was.
  const size_t start = before.find("\n[Environment]");
  ASSERT_NE(start, std::string::npos);
  const size_t end = before.find("\n\n[", start + 2);
  ASSERT_EQ(after.substr(0, start), before.substr(0, start));
  const size_t afterEnd = after.find("\n\n[", start + 2);
  EXPECT_EQ(after.substr(afterEnd), before.substr(end));
  EXPECT_THAT(after.substr(start, afterEnd + 1 - start), HasSubstr("\n\"Added\"=\"yes\"\n"));
  // A fresh reader sees the change.
  EXPECT_EQ(GetString(Open().get(), kHkeyCurrentUser, u"Environment", u"Added"), u"yes");
  // An emptied parent keeps its key.
  ASSERT_EQ(SetString(reg.get(), kHkeyCurrentUser, u"Software\\Gone\\Child", u"v", u"1"),
            kRegSuccess);
  ASSERT_EQ(reg->Flush(), kRegSuccess);
  ASSERT_EQ(reg->RegDeleteKeyW(kHkeyCurrentUser, u"Software\\Gone\\Child"), kRegSuccess);
  ASSERT_EQ(reg->Flush(), kRegSuccess);
  EXPECT_THAT(Slurp(prefix_ / "user.reg"), HasSubstr("\n[Software\\\\Gone] "));
  EXPECT_EQ(GetString(Open().get(), kHkeyCurrentUser, u"Software\\Gone", u""), u"<no value>");
}

TEST_F(PrefixRegistryTest, NothingIsWrittenWhileAWineserverRuns) {
  SKIP_WITHOUT_WINESERVER();
  auto reg = Open();
  ASSERT_EQ(SetString(reg.get(), kHkeyCurrentUser, u"Environment", u"Before", u"1"), kRegSuccess);
  const std::string before = Slurp(prefix_ / "user.reg");
  EXPECT_FALSE(WineServerRunning(prefix_.string()));
  ASSERT_TRUE(lock_.Hold(prefix_));
  EXPECT_TRUE(WineServerRunning(prefix_.string()));
  EXPECT_EQ(SetString(reg.get(), kHkeyCurrentUser, u"Environment", u"During", u"1"),
            kRegAccessDenied);
  EXPECT_EQ(reg->RegDeleteValueW(kHkeyCurrentUser, u"Before"), kRegFileNotFound);
  EXPECT_EQ(reg->Flush(), kRegAccessDenied);
  EXPECT_EQ(Slurp(prefix_ / "user.reg"), before);
  // An unknown layout (no pointer to Debian's server folder): found by its working folder.
  std::error_code none;
  fs::rename(prefix_ / "wineserver", prefix_ / "wineserver.away", none);
  EXPECT_TRUE(WineServerRunning(prefix_.string()));
  EXPECT_EQ(reg->Flush(), kRegAccessDenied);
  fs::rename(prefix_ / "wineserver.away", prefix_ / "wineserver", none);
  lock_.Release();
  EXPECT_FALSE(WineServerRunning(prefix_.string()));
  EXPECT_EQ(reg->Flush(), kRegSuccess);
  EXPECT_EQ(GetString(Open().get(), kHkeyCurrentUser, u"Environment", u"Before"), u"1");
}

TEST_F(PrefixRegistryTest, TwoWritersLoseNeithersChanges) {
  auto first = Open();
  auto second = Open();
  ASSERT_EQ(SetString(first.get(), kHkeyCurrentUser, u"Software\\First", u"v", u"1"), kRegSuccess);
  ASSERT_EQ(SetString(second.get(), kHkeyCurrentUser, u"Software\\Second", u"v", u"2"),
            kRegSuccess);
  HKey open;  // a handle open across the other writer's save still works
  ASSERT_EQ(second->RegOpenKeyExW(kHkeyCurrentUser, u"Software\\Second", 0, kKeyRead, &open),
            kRegSuccess);
  ASSERT_EQ(second->RegDeleteKeyW(kHkeyCurrentUser, u"Environment"), kRegSuccess);
  ASSERT_EQ(first->Flush(), kRegSuccess);
  ASSERT_EQ(second->Flush(), kRegSuccess);
  EXPECT_EQ(GetString(second.get(), open, u"", u"v"), u"2");
  EXPECT_EQ(GetString(second.get(), kHkeyCurrentUser, u"Software\\First", u"v"), u"1");
  second->RegCloseKey(open);
  auto third = Open();
  EXPECT_EQ(GetString(third.get(), kHkeyCurrentUser, u"Software\\First", u"v"), u"1");
  EXPECT_EQ(GetString(third.get(), kHkeyCurrentUser, u"Software\\Second", u"v"), u"2");
  EXPECT_EQ(GetString(third.get(), kHkeyCurrentUser, u"Environment", u"TEMP"), u"<no key>");
}

TEST_F(PrefixRegistryTest, AHiveWithAMalformedLineIsNeverWritten) {
  std::string text = Slurp(prefix_ / "userdef.reg");
  text.insert(text.find("\n[") + 1, "this is not a registry line\n");
  Spit(prefix_ / "userdef.reg", text);
  auto reg = Open();
  ASSERT_EQ(SetString(reg.get(), kHkeyCurrentUser, u"Environment", u"Fine", u"1"), kRegSuccess);
  EXPECT_TRUE(reported_.empty());  // userdef.reg is read when first reached
  EXPECT_EQ(SetString(reg.get(), kHkeyUsers, u".Default\\Environment", u"Refused", u"1"),
            kRegAccessDenied);
  ASSERT_EQ(reported_.size(), 1u);
  EXPECT_EQ(reported_[0], (prefix_ / "userdef.reg").string() +
                              ":6: Unrecognized input 'this is not a registry line'");
  EXPECT_EQ(reg->Flush(), kRegSuccess);
  EXPECT_EQ(Slurp(prefix_ / "userdef.reg"), text);
  EXPECT_EQ(GetString(Open().get(), kHkeyCurrentUser, u"Environment", u"Fine"), u"1");
}

// A linked hive keeps its names; a rewrite a kill cut short (the complete copy
// left as ".<hive>.rollforward") is finished by the next load, a killed save's
// temporary file goes with the next save.
TEST_F(PrefixRegistryTest, LinkedHivesKeepTheirNamesAndACutRewriteIsFinished) {
  fs::create_directory(prefix_ / "elsewhere");
  fs::rename(prefix_ / "user.reg", prefix_ / "elsewhere/user.reg");
  fs::create_symlink("elsewhere/user.reg", prefix_ / "user.reg");
  fs::create_hard_link(prefix_ / "system.reg", prefix_ / "elsewhere/system.reg");
  {
    auto reg = Open();
    ASSERT_EQ(SetString(reg.get(), kHkeyCurrentUser, u"Environment", u"Linked", u"1"), kRegSuccess);
    ASSERT_EQ(SetString(reg.get(), kHkeyLocalMachine, u"Software\\T", u"Named", u"2"), kRegSuccess);
    ASSERT_EQ(reg->Flush(), kRegSuccess);
  }
  EXPECT_TRUE(fs::is_symlink(prefix_ / "user.reg"));
  EXPECT_THAT(Slurp(prefix_ / "elsewhere/user.reg"), HasSubstr("\"Linked\"=\"1\""));
  EXPECT_EQ(fs::hard_link_count(prefix_ / "system.reg"), 2u);
  EXPECT_THAT(Slurp(prefix_ / "elsewhere/system.reg"), HasSubstr("\"Named\"=\"2\""));

  const std::string whole = Slurp(prefix_ / "system.reg");
  Spit(prefix_ / ".system.reg.rollforward", whole);
  std::ofstream(prefix_ / "system.reg", std::ios::binary | std::ios::in) << std::string(9, '?');
  fs::resize_file(prefix_ / "system.reg", whole.size() / 2);
  Spit(prefix_ / ".system.reg.4242.tmp", "half");
  {
    auto reg = Open();
    EXPECT_EQ(GetString(reg.get(), kHkeyLocalMachine, u"Software\\T", u"Named"), u"2");
    EXPECT_TRUE(reported_.empty()) << reported_[0];
    EXPECT_EQ(Slurp(prefix_ / "elsewhere/system.reg"), whole);
    EXPECT_FALSE(fs::exists(prefix_ / ".system.reg.rollforward"));
    ASSERT_EQ(SetString(reg.get(), kHkeyLocalMachine, u"Software\\T", u"Again", u"3"), kRegSuccess);
    ASSERT_EQ(reg->Flush(), kRegSuccess);
  }
  EXPECT_FALSE(fs::exists(prefix_ / ".system.reg.4242.tmp"));
  EXPECT_EQ(fs::hard_link_count(prefix_ / "system.reg"), 2u);
}

// A hive made anew gets Wine's header; volatile keys are not saved.
TEST_F(PrefixRegistryTest, AnEmptyPrefixGetsWineHeadersAndNoVolatileKeys) {
  fs::remove(prefix_ / "user.reg");
  auto reg = Open();
  ASSERT_EQ(SetString(reg.get(), kHkeyCurrentUser, u"Software\\Caf\u00e9", u"", u"x"), kRegSuccess);
  HKey key;
  ASSERT_EQ(reg->RegCreateKeyExW(kHkeyCurrentUser, u"Regclean Volatile", kRegOptionVolatile,
                                 kKeyAllAccess, &key, nullptr),
            kRegSuccess);
  reg->RegCloseKey(key);
  ASSERT_EQ(reg->Flush(), kRegSuccess);
  const std::string text = Slurp(prefix_ / "user.reg");
  EXPECT_EQ(text.substr(0, text.find("\n[")),
            "WINE REGISTRY Version 2\n"
            ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
            "\n#arch=win64\n");
  EXPECT_THAT(text, HasSubstr("\n[Software\\\\Caf\\xe9] "));
  EXPECT_THAT(text, HasSubstr("\n@=\"x\"\n"));
  EXPECT_EQ(text.find("Regclean Volatile"), std::string::npos);
}

}  // namespace
}  // namespace platform::posix

#endif
