// "regclean prefixes" and "--all" on a HOME tree with every kind of prefix; the file readers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/regclean/lutris_config.h"
#include "tools/regclean/vdf_text.h"

TEST(PrefixFiles, ReadWhatTheyCanOfDamagedInput) {
  regclean::VdfNode root;
  std::string error;
  EXPECT_TRUE(regclean::ParseVdf(
      "// comment\n\"libraryfolders\" { \"0\" { \"path\" \"C:\\\\Steam \\\"x\\\"\" } "
      "\"1\" [$LINUX] \"/old/form\" }",
      &root, &error));
  const regclean::VdfNode* folders = root.Find("LibraryFolders");
  ASSERT_NE(folders, nullptr);
  EXPECT_EQ(folders->Find("0")->Find("path")->value, "C:\\Steam \"x\"");
  EXPECT_EQ(folders->Find("1")->value, "/old/form");
  // Cut short: an error with its line, what came before kept. Too deep: an error.
  regclean::VdfNode partial;
  EXPECT_FALSE(regclean::ParseVdf("\"a\" { \"b\" \"c\"\n\"d\" \"unclosed", &partial, &error));
  EXPECT_EQ(partial.Find("a")->Find("b")->value, "c");
  EXPECT_EQ(error, "line 2: a quoted text is not closed");
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "\"k\" {";
  EXPECT_FALSE(regclean::ParseVdf(deep, &partial, &error));

  EXPECT_EQ(regclean::LutrisPrefix("system:\n  prefix: /not/this\ngame:\n  exe: a.exe\n"
                                   "  prefix: '/games/it''s # here' # comment\n",
                                   "/home/u"),
            "/games/it's # here");
  EXPECT_EQ(regclean::LutrisPrefix("game:\n  prefix: ~/Games/x #c\r\n", "/home/u"),
            "/home/u/Games/x");
  EXPECT_EQ(regclean::LutrisPrefix("game:\n  prefix: \"/a\\\"b\"\n", "/h"), "/a\"b");
  EXPECT_EQ(regclean::LutrisPrefix("game:\n  prefix: \"/unclosed\n  prefix:\n", "/h"), "");
}

#ifndef _WIN32

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/platform/demo_prefix.h"
#include "tests/platform/wineserver_lock.h"
#include "tests/tools/staged_regclean.h"

namespace {

using testing::HasSubstr;

namespace fs = std::filesystem;

// Text with every run of blanks made one: the tables' columns without their widths.
std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' || out.empty() || out.back() != ' ') out += c;
  return out;
}

class AllPrefixesTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/regclean-all.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = fs::canonical(pattern);
    home_ = dir_ / "home";
    const fs::path steam = home_ / ".local/share/Steam";
    const fs::path library = dir_ / "disk2/SteamLibrary";
    Write(steam / "steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steam.string() +
              "\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + library.string() +
              "\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"730\"\t\t\"1\"\n\t\t}\n\t}\n}\n");
    Write(steam / "steamapps/appmanifest_220.acf",
          "\"AppState\"\n{\n\t\"appid\"\t\t\"220\"\n\t\"name\"\t\t\"Half-Life 2\"\n}\n");
    Write(library / "steamapps/appmanifest_730.acf", "\"AppState\" { \"name\" \"Counter-Strike\" ");
    fs::create_directories(home_ / ".steam");
    fs::create_directory_symlink(steam, home_ / ".steam/steam");  // the same installation
    prefixes_ = {{Demo(steam / "steamapps/compatdata/220/pfx"), "Half-Life 2 (proton)"},
                 {Demo(library / "steamapps/compatdata/730/pfx"), "Counter-Strike (proton)"},
                 {Demo(library / "steamapps/compatdata/999/pfx"), ""},
                 {Demo(home_ / "Games/the-witcher"), "the-witcher (lutris)"},
                 {Demo(home_ / ".local/share/bottles/bottles/Office"), "Office (bottles)"}};
    prefixes_[2].second = prefixes_[2].first.string();  // no name: the table shows its path
    Write(home_ / ".config/lutris/games/the-witcher-1712345678.yml",
          "game:\n  exe: witcher.exe\n  prefix: ~/Games/the-witcher\nwine:\n  version: x\n");
    Write(home_ / ".config/lutris/games/broken.yml", "game:\n  prefix: \"/nowhere\n");
    Write(home_ / ".local/share/bottles/bottles/Office/bottle.yml", "Name: Office\n");
    // ~/.wine is damaged: a hive line that is not Wine's.
    damaged_ = Demo(home_ / ".wine");
    std::string user = ReadFileText(damaged_ / "user.reg");
    user.insert(user.find("[Environment]"), "this is not a registry line\n");
    Write(damaged_ / "user.reg", user);
  }

  void TearDown() override {
    lock_.Release();
    fs::remove_all(dir_);
  }

  static void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }

  fs::path Demo(const fs::path& prefix) { return test_prefix::CopyDemoPrefix(prefix); }

  // The staged regclean with HOME at the tree and no WINEPREFIX.
  RegcleanOutcome Regclean(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> all = {"-u", "WINEPREFIX", "HOME=" + home_.string(),
                                    REGCLEAN_STAGE_DIR "/regclean"};
    all.insert(all.end(), args.begin(), args.end());
    return RunStagedRegclean(dir_, all, input, "/usr/bin/env");
  }

  fs::path dir_, home_, damaged_;
  std::vector<std::pair<fs::path, std::string>> prefixes_;  // with their table labels
  WineserverLock lock_;
};

TEST_F(AllPrefixesTest, FindsEveryKindAndChecksThemInParallelAsOneByOne) {
  // Six prefixes, each once (~/.steam/steam is the same installation), in the order of places.
  const std::string head = "Path Kind Hives Wineserver\n", size = " 6.1 KiB -\n";
  std::vector<std::string> rows;  // the table's rows in the order of prefixes_
  for (const char* kind : {" proton \"Half-Life 2\"", " proton \"Counter-Strike\"", " proton",
                           " lutris \"the-witcher\"", " bottles \"Office\""})
    rows.push_back(prefixes_[rows.size()].first.string() + kind + size);
  RegcleanOutcome run = Regclean({"prefixes"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Squeezed(run.out), head + damaged_.string() + " wine" + size + rows[0] + rows[1] +
                                   rows[2] + rows[3] + rows[4]);
  // A folder given is searched; the kind comes from where a prefix lies.
  run = Regclean({"prefixes", (dir_ / "disk2").string(), (home_ / ".local").string()});
  EXPECT_EQ(Squeezed(run.out), head + rows[1] + rows[2] + rows[0] + rows[4]);

  run = Regclean({"check", "--all", (dir_ / "none").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "regclean: no folder " + (dir_ / "none").string() + "\n");

  run = Regclean({"check", "--all", "-j", "2", "--json"});
  EXPECT_EQ(run.status, 2) << run.err;  // the damaged prefix
  EXPECT_THAT(run.err, HasSubstr("progress: 100%"));
  JsonValue all;
  ASSERT_TRUE(ReadJson(run.out, &all)) << run.out;
  EXPECT_EQ(all[u"problemCount"].integer(), 5 * 12);
  EXPECT_EQ(all[u"failed"].integer(), 1);
  ASSERT_EQ(all[u"prefixes"].array()->size(), 6u);
  for (JsonValue& entry : *all[u"prefixes"].array()) {
    const fs::path prefix = Ansi(*entry[u"prefix"].string());
    EXPECT_EQ(*entry[u"state"].string(), prefix == damaged_ ? u"failed" : u"done") << prefix;
    if (prefix == damaged_) {
      EXPECT_TRUE(Ansi(*entry[u"reason"].string()).starts_with("damaged hive: "));
      continue;
    }
    EXPECT_EQ(entry[u"counts"].ChildCount(), 7u);
    // As a check of the demo on its own finds them.
    EXPECT_EQ(CategoryCounts(entry[u"outcome"]), kDemoCounts) << prefix;
  }

  run = Regclean({"check", "--all", "-j", "3"});
  EXPECT_EQ(run.status, 2);
  const std::string table = Squeezed(run.out);
  EXPECT_TRUE(
      table.starts_with("Prefix Uninstall SharedDLLs FileTypes Explorer InstFolders "
                        "InstComps COM Total Time\n~/.wine failed: damaged hive: " +
                        (damaged_ / "user.reg").string() + ":6:"))
      << run.out;
  for (const auto& [prefix, label] : prefixes_)
    EXPECT_THAT(table, HasSubstr("\n" + label + " 2 3 1 2 1 1 2 12 ")) << label;
  EXPECT_THAT(table, HasSubstr("\n60 problems found in 5 of 6 prefixes.\nNot checked:\n " +
                               damaged_.string() + ": damaged hive: "));
}

TEST_F(AllPrefixesTest, ResolveAsksOnceAndSkipsABusyPrefix) {
  SKIP_WITHOUT_WINESERVER();
  fs::remove_all(damaged_);
  const fs::path busy = prefixes_[0].first;
  ASSERT_TRUE(lock_.Hold(busy));
  const std::string systemBefore = ReadFileText(busy / "system.reg");

  RegcleanOutcome run = Regclean({"prefixes"});
  EXPECT_THAT(Squeezed(run.out),
              HasSubstr(busy.string() + " proton \"Half-Life 2\" 6.1 KiB running\n"));

  run = Regclean({"resolve", "--all"}, "n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("  skipped (a wineserver runs on it): " + busy.string() + "\n"));
  EXPECT_THAT(run.out, HasSubstr("registries of these 4 Wine prefixes?"));
  EXPECT_THAT(run.out, HasSubstr("Nothing was changed.\n"));

  run = Regclean({"resolve", "--all", "-j", "2"}, "y\n");
  EXPECT_EQ(run.status, 2) << run.err;  // one was skipped
  EXPECT_THAT(run.out, HasSubstr("48 problems removed in 4 of 5 prefixes.\n"));
  EXPECT_THAT(Squeezed(run.out),
              HasSubstr("\nHalf-Life 2 (proton) skipped: a wineserver is running on it\n"));
  EXPECT_EQ(ReadFileText(busy / "system.reg"), systemBefore);
  const size_t restores = run.out.find("To put the removed entries back:\n");
  ASSERT_NE(restores, std::string::npos) << run.out;
  for (size_t i = 1; i < prefixes_.size(); ++i) {
    const std::string prefix = prefixes_[i].first.string();
    EXPECT_THAT(run.out.substr(restores),
                HasSubstr("  regclean --prefix '" + prefix + "' restore '" + prefix +
                          "/drive_c/ProgramData/RegClean/RegCleanerDll/Backups/"));
  }
  lock_.Release();
  run = Regclean({"check", "--all", "--json", prefixes_[1].first.parent_path().string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;  // nothing left where it was resolved
}

}  // namespace

#endif
