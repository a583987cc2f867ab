// "regclean reg" end to end on a temporary prefix of the test hives: output, exit status, what
// reaches the hive files (its refusal while a wineserver runs is tested with the host's).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "tests/tools/staged_regclean.h"

namespace {

using testing::HasSubstr;
using testing::MatchesRegex;
using testing::Not;

namespace fs = std::filesystem;

// What a change that went through prints.
constexpr char kDone[] = "0:The operation completed successfully.\n";

class RegcleanRegTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/regclean-host.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    prefix_ = dir_ / "prefix";
    fs::create_directories(prefix_);
    const fs::path data = fs::path(REGCLEAN_SOURCE_DIR) / "tests/data/wine-hives";
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
      fs::copy_file(data / name, prefix_ / name);
  }

  void TearDown() override { fs::remove_all(dir_); }

  // Runs the staged host with arguments (each single-quoted for the shell).
  RegcleanOutcome Regclean(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--prefix", prefix_.string()});
    return RunStagedRegclean(dir_, args, input);
  }
  // A run's exit status, then what it wrote to its output and its error stream.
  static std::string Shown(const RegcleanOutcome& run) {
    return std::to_string(run.status) + ":" + run.out +
           (run.err.empty() ? "" : "stderr: " + run.err);
  }
  std::string Shown(std::vector<std::string> args, const std::string& input = "") {
    return Shown(Regclean(std::move(args), input));
  }

  fs::path dir_;
  fs::path prefix_;
};

TEST_F(RegcleanRegTest, QueryPrintsKeysAndValuesAsRegExeDoes) {
  EXPECT_EQ(Shown({"reg", "query", "HKCU\\Environment"}),
            "0:\nHKEY_CURRENT_USER\\Environment\n"
            "    TEMP    REG_SZ    C:\\users\\root\\Temp\n"
            "    TMP    REG_SZ    C:\\users\\root\\Temp\n\n");
  EXPECT_EQ(Shown({"reg", "query", "HKEY_CURRENT_USER\\Software\\Wine\\Fonts", "/v", "LogPixels"}),
            "0:\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\n    LogPixels    REG_DWORD    0x60\n\n");
  // Without /s subkeys are listed by their paths; with /s they are shown.
  EXPECT_THAT(Shown({"reg", "query", "hkcu\\Software\\Wine\\Fonts"}),
              HasSubstr("\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts\n"));
  EXPECT_THAT(Shown({"reg", "query", "HKCU\\Software\\Wine\\Fonts", "/s"}),
              HasSubstr("\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts\n    "));
  // WINEPREFIX chooses the prefix without the option.
  EXPECT_EQ(
      Shown(RunStagedRegclean(dir_,
                              {"WINEPREFIX=" + prefix_.string(), REGCLEAN_STAGE_DIR "/regclean",
                               "reg", "query", "HKCU\\Environment", "/v", "TEMP"},
                              "", "/usr/bin/env")),
      "0:\nHKEY_CURRENT_USER\\Environment\n    TEMP    REG_SZ    C:\\users\\root\\Temp\n\n");
}

TEST_F(RegcleanRegTest, ErrorsExitWithOne) {
  const std::string bad = (dir_ / "bad.reg").string(), partly = (dir_ / "partly.reg").string();
  std::ofstream(bad) << "not a registry file\n";
  std::ofstream(partly) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Partly]\n\"a\"=dword:xyz\n"
                           "\"b\"=\"kept\"\n";
  const std::tuple<std::vector<std::string>, std::string> cases[] = {
      {{"reg", "query", "HKCU\\Software\\NoSuchKey"}, "unable to find"},
      {{"reg", "query", "HKCU\\Environment", "/v", "NoSuchValue"}, "unable to find"},
      {{"reg", "query", "HKXX\\Software"}, "Invalid key name"},
      {{"reg", "query"}, "Usage"},
      {{"reg", "query", "HKCU", "/q"}, "Usage"},
      {{"reg", "frobnicate", "HKCU"}, "Invalid operation"},
      {{"reg", "delete", "HKCU", "/f"}, "root key"},
      {{"reg", "delete", "HKCU\\Software\\NoSuchKey", "/f"}, "unable to find"},
      {{"reg", "import", "/nonexistent/file.reg"}, "cannot read"},
      {{"reg", "import", bad}, "not a registry file"},
      {{"reg", "import", partly}, partly + ":4: malformed dword data"},
  };
  for (const auto& [args, message] : cases)
    EXPECT_THAT(Shown(args), MatchesRegex("1:\n?stderr: .*" + message + ".*"));
  // A bad line fails the import; the good lines of its file are still imported.
  EXPECT_EQ(Shown({"reg", "query", "HKCU\\Software\\Partly"}),
            "0:\nHKEY_CURRENT_USER\\Software\\Partly\n    b    REG_SZ    kept\n\n");
  // A command regclean does not know is an error of the host: status 2.
  EXPECT_THAT(Shown({"nonsense"}), MatchesRegex("2:\n?stderr: .*unknown command nonsense.*"));
  EXPECT_THAT(Shown(RunStagedRegclean(
                  dir_, {"--prefix", (dir_ / "none").string(), "reg", "query", "HKCU"})),
              MatchesRegex("1:\n?stderr: .*no Wine prefix.*"));
}

TEST_F(RegcleanRegTest, ExportDeleteImportAndDeleteValues) {
  const std::string file = (dir_ / "fonts.reg").string(), fonts = "HKCU\\Software\\Wine\\Fonts";
  const std::string before = Shown({"reg", "query", fonts, "/s"});
  ASSERT_EQ(Shown({"reg", "export", fonts, file}), kDone);
  EXPECT_EQ(ReadFileText(file).substr(0, 2), "\xFF\xFE");
  // An existing file is kept unless /y says otherwise.
  EXPECT_THAT(Shown({"reg", "export", fonts, file}), MatchesRegex("1:\n?stderr: .*/y.*"));
  EXPECT_EQ(Shown({"reg", "export", fonts, file, "/y"}), kDone);
  // Without /f the question is asked; "n" keeps the key.
  EXPECT_THAT(Shown({"reg", "delete", fonts}, "n\n"), MatchesRegex("0:.*\\(Yes/No\\)\\?.*"));
  EXPECT_EQ(Regclean({"reg", "query", fonts}).status, 0);

  ASSERT_EQ(Regclean({"reg", "delete", fonts}, "yes\n").status, 0);
  EXPECT_THAT(ReadFileText(prefix_ / "user.reg"), Not(HasSubstr("[Software\\\\Wine\\\\Fonts]")));
  EXPECT_EQ(Regclean({"reg", "query", fonts}).status, 1);

  EXPECT_EQ(Shown({"reg", "import", file}), kDone);
  EXPECT_THAT(ReadFileText(prefix_ / "user.reg"), HasSubstr("[Software\\\\Wine\\\\Fonts]"));
  EXPECT_EQ(Shown({"reg", "query", fonts, "/s"}), before);
  // One value, then all of them.
  ASSERT_EQ(Shown({"reg", "delete", "HKCU\\Environment", "/v", "TMP", "/f"}), kDone);
  EXPECT_EQ(Shown({"reg", "query", "HKCU\\Environment"}),
            "0:\nHKEY_CURRENT_USER\\Environment\n    TEMP    REG_SZ    C:\\users\\root\\Temp\n\n");
  ASSERT_EQ(Shown({"reg", "delete", "HKCU\\Environment", "/va", "/f"}), kDone);
  EXPECT_EQ(Shown({"reg", "query", "HKCU\\Environment"}), "0:\nHKEY_CURRENT_USER\\Environment\n\n");
}

}  // namespace

#endif
