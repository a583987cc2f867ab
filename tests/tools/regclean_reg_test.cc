// "regclean reg" end to end: the staged program on a temporary prefix made
// of the test hives; its output, its exit status, what reaches the hive
// files. (Its refusal while a wineserver runs is tested with the host's.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/tools/staged_regclean.h"

namespace {

using testing::HasSubstr;
using testing::Not;

namespace fs = std::filesystem;

using Outcome = RegcleanOutcome;

class RegcleanRegTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/regclean-host.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    prefix_ = dir_ / "prefix";
    fs::create_directories(prefix_);
    const fs::path data = fs::path(REGCLEAN_SOURCE_DIR) / "tests/data/wine-hives";
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
      fs::copy_file(data / name, prefix_ / name);
    }
  }

  void TearDown() override { fs::remove_all(dir_); }

  // Runs the staged host with arguments (each single-quoted for the shell).
  Outcome Regclean(std::vector<std::string> args, const std::string& input = "",
                   bool withPrefixOption = true) {
    if (withPrefixOption) args.insert(args.begin(), {"--prefix", prefix_.string()});
    return RunStagedRegclean(dir_, args, input);
  }

  fs::path dir_;
  fs::path prefix_;
};

TEST_F(RegcleanRegTest, QueryPrintsKeysAndValuesAsRegExeDoes) {
  Outcome run = Regclean({"reg", "query", "HKCU\\Environment"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "\nHKEY_CURRENT_USER\\Environment\n"
            "    TEMP    REG_SZ    C:\\users\\root\\Temp\n"
            "    TMP    REG_SZ    C:\\users\\root\\Temp\n\n");

  run = Regclean({"reg", "query", "HKEY_CURRENT_USER\\Software\\Wine\\Fonts", "/v", "LogPixels"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\n"
            "    LogPixels    REG_DWORD    0x60\n\n");

  // Without /s subkeys are listed by their paths; with /s they are shown.
  run = Regclean({"reg", "query", "hkcu\\Software\\Wine\\Fonts"});
  EXPECT_THAT(run.out, HasSubstr("\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts\n"));
  run = Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts", "/s"});
  EXPECT_THAT(run.out,
              HasSubstr("\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts\n    "));
  // WINEPREFIX chooses the prefix without the option.
  run = RunStagedRegclean(dir_,
                          {"WINEPREFIX=" + prefix_.string(), REGCLEAN_STAGE_DIR "/regclean", "reg",
                           "query", "HKCU\\Environment", "/v", "TEMP"},
                          "", "/usr/bin/env");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("C:\\users\\root\\Temp"));
}

TEST_F(RegcleanRegTest, ErrorsExitWithOne) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"reg", "query", "HKCU\\Software\\NoSuchKey"}, "unable to find"},
      {{"reg", "query", "HKCU\\Environment", "/v", "NoSuchValue"}, "unable to find"},
      {{"reg", "query", "HKXX\\Software"}, "Invalid key name"},
      {{"reg", "query"}, "Usage"},
      {{"reg", "query", "HKCU", "/q"}, "Usage"},
      {{"reg", "frobnicate", "HKCU"}, "Invalid operation"},
      {{"reg", "delete", "HKCU", "/f"}, "root key"},
      {{"reg", "delete", "HKCU\\Software\\NoSuchKey", "/f"}, "unable to find"},
      {{"reg", "import", "/nonexistent/file.reg"}, "cannot read"},
  };
  for (const Case& c : cases) {
    const Outcome run = Regclean(c.args);
    EXPECT_EQ(run.status, 1) << c.args.back();
    EXPECT_THAT(run.err, HasSubstr(c.message)) << c.args.back() << ": " << run.err;
  }
  // A command regclean does not know is an error of the host: status 2.
  const Outcome unknown = Regclean({"nonsense"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_THAT(unknown.err, HasSubstr("unknown command nonsense"));
  const Outcome missing =
      Regclean({"--prefix", (dir_ / "none").string(), "reg", "query", "HKCU"}, "", false);
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("no Wine prefix"));
}

TEST_F(RegcleanRegTest, ExportDeleteImportAndDeleteValues) {
  const std::string file = (dir_ / "fonts.reg").string();
  const Outcome before = Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts", "/s"});
  ASSERT_EQ(before.status, 0);
  ASSERT_EQ(Regclean({"reg", "export", "HKCU\\Software\\Wine\\Fonts", file}).status, 0);
  EXPECT_EQ(ReadFileText(file).substr(0, 2), "\xFF\xFE");
  // An existing file is kept unless /y says otherwise.
  Outcome run = Regclean({"reg", "export", "HKCU\\Software\\Wine\\Fonts", file});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("/y"));
  EXPECT_EQ(Regclean({"reg", "export", "HKCU\\Software\\Wine\\Fonts", file, "/y"}).status, 0);

  // Without /f the question is asked; "n" keeps the key.
  run = Regclean({"reg", "delete", "HKCU\\Software\\Wine\\Fonts"}, "n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("(Yes/No)?"));
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts"}).status, 0);

  ASSERT_EQ(Regclean({"reg", "delete", "HKCU\\Software\\Wine\\Fonts"}, "yes\n").status, 0);
  EXPECT_THAT(ReadFileText(prefix_ / "user.reg"), Not(HasSubstr("[Software\\\\Wine\\\\Fonts]")));
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts"}).status, 1);

  run = Regclean({"reg", "import", file});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(ReadFileText(prefix_ / "user.reg"), HasSubstr("[Software\\\\Wine\\\\Fonts]"));
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts", "/s"}).out, before.out);
  // One value, then all of them.
  ASSERT_EQ(Regclean({"reg", "delete", "HKCU\\Environment", "/v", "TMP", "/f"}).status, 0);
  run = Regclean({"reg", "query", "HKCU\\Environment"});
  EXPECT_EQ(run.out,
            "\nHKEY_CURRENT_USER\\Environment\n    TEMP    REG_SZ    C:\\users\\root\\Temp\n\n");
  ASSERT_EQ(Regclean({"reg", "delete", "HKCU\\Environment", "/va", "/f"}).status, 0);
  run = Regclean({"reg", "query", "HKCU\\Environment"});
  EXPECT_EQ(run.out, "\nHKEY_CURRENT_USER\\Environment\n\n");
}

TEST_F(RegcleanRegTest, ImportReportsBadFilesAndLines) {
  const fs::path bad = dir_ / "bad.reg";
  std::ofstream(bad) << "not a registry file\n";
  Outcome run = Regclean({"reg", "import", bad.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("not a registry file"));

  const fs::path partly = dir_ / "partly.reg";
  std::ofstream(partly) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Partly]\n\"a\"=dword:xyz\n"
                           "\"b\"=\"kept\"\n";
  run = Regclean({"reg", "import", partly.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr(partly.string() + ":4: malformed dword data"));
  run = Regclean({"reg", "query", "HKCU\\Software\\Partly"});
  EXPECT_EQ(run.out, "\nHKEY_CURRENT_USER\\Software\\Partly\n    b    REG_SZ    kept\n\n");
}

}  // namespace

#endif
