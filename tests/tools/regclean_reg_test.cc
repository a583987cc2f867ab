// "regclean reg" end to end: the staged program on a temporary prefix made
// of the test hives; its output, its exit status, what reaches the hive
// files, and its refusal while a wineserver holds the prefix.
#include <gtest/gtest.h>

#ifdef _WIN32

TEST(RegcleanReg, PosixOnly) { GTEST_SKIP() << "runs the POSIX host on a Wine prefix"; }

#else

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/platform/wineserver_lock.h"
#include "tests/tools/staged_regclean.h"

namespace {

namespace fs = std::filesystem;

using Outcome = RegcleanOutcome;

std::string Slurp(const fs::path& path) { return ReadFileText(path); }

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

  void TearDown() override {
    StopLockHolder();
    fs::remove_all(dir_);
  }

  // Runs the staged host with arguments (each single-quoted for the shell).
  Outcome Regclean(std::vector<std::string> args, const std::string& input = "",
                   bool withPrefixOption = true) {
    if (withPrefixOption) args.insert(args.begin(), {"--prefix", prefix_.string()});
    return RunStagedRegclean(dir_, args, input);
  }

  void StartLockHolder() { ASSERT_TRUE(lock_.Hold(prefix_)); }
  void StopLockHolder() { lock_.Release(); }

  fs::path dir_;
  fs::path prefix_;
  WineserverLock lock_;
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
  EXPECT_NE(run.out.find("\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts\n"),
            std::string::npos);
  run = Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts", "/s"});
  EXPECT_NE(run.out.find("\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts\n    "),
            std::string::npos);
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
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args.back() << ": " << run.err;
  }
  // A command regclean does not know is an error of the host: status 2.
  const Outcome unknown = Regclean({"nonsense"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command nonsense"), std::string::npos);
  const Outcome missing =
      Regclean({"--prefix", (dir_ / "none").string(), "reg", "query", "HKCU"}, "", false);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no Wine prefix"), std::string::npos);
}

TEST_F(RegcleanRegTest, ExportDeleteImportRestoresTheKeyInTheHive) {
  const std::string file = (dir_ / "fonts.reg").string();
  const Outcome before = Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts", "/s"});
  ASSERT_EQ(before.status, 0);
  ASSERT_EQ(Regclean({"reg", "export", "HKCU\\Software\\Wine\\Fonts", file}).status, 0);
  EXPECT_EQ(Slurp(file).substr(0, 2), "\xFF\xFE");
  // An existing file is kept unless /y says otherwise.
  Outcome run = Regclean({"reg", "export", "HKCU\\Software\\Wine\\Fonts", file});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/y"), std::string::npos);
  EXPECT_EQ(Regclean({"reg", "export", "HKCU\\Software\\Wine\\Fonts", file, "/y"}).status, 0);

  // Without /f the question is asked; "n" keeps the key.
  run = Regclean({"reg", "delete", "HKCU\\Software\\Wine\\Fonts"}, "n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("(Yes/No)?"), std::string::npos);
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts"}).status, 0);

  ASSERT_EQ(Regclean({"reg", "delete", "HKCU\\Software\\Wine\\Fonts"}, "yes\n").status, 0);
  EXPECT_EQ(Slurp(prefix_ / "user.reg").find("[Software\\\\Wine\\\\Fonts]"), std::string::npos);
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts"}).status, 1);

  run = Regclean({"reg", "import", file});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Slurp(prefix_ / "user.reg").find("[Software\\\\Wine\\\\Fonts]"), std::string::npos);
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Software\\Wine\\Fonts", "/s"}).out, before.out);
}

TEST_F(RegcleanRegTest, DeleteOneValueOrAllOfThem) {
  ASSERT_EQ(Regclean({"reg", "delete", "HKCU\\Environment", "/v", "TMP", "/f"}).status, 0);
  Outcome run = Regclean({"reg", "query", "HKCU\\Environment"});
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
  EXPECT_NE(run.err.find("not a registry file"), std::string::npos);

  const fs::path partly = dir_ / "partly.reg";
  std::ofstream(partly) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Partly]\n\"a\"=dword:xyz\n"
                           "\"b\"=\"kept\"\n";
  run = Regclean({"reg", "import", partly.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(partly.string() + ":4: malformed dword data"), std::string::npos)
      << run.err;
  run = Regclean({"reg", "query", "HKCU\\Software\\Partly"});
  EXPECT_EQ(run.out, "\nHKEY_CURRENT_USER\\Software\\Partly\n    b    REG_SZ    kept\n\n");
}

TEST_F(RegcleanRegTest, WineprefixChoosesThePrefixWithoutTheOption) {
  const std::string saved = getenv("WINEPREFIX") != nullptr ? getenv("WINEPREFIX") : "";
  setenv("WINEPREFIX", prefix_.c_str(), 1);
  const Outcome run = Regclean({"reg", "query", "HKCU\\Environment", "/v", "TEMP"}, "", false);
  if (saved.empty()) {
    unsetenv("WINEPREFIX");
  } else {
    setenv("WINEPREFIX", saved.c_str(), 1);
  }
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("C:\\users\\root\\Temp"), std::string::npos);
}

TEST_F(RegcleanRegTest, ARunningWineserverIsRefused) {
  SKIP_WITHOUT_WINESERVER();
  const std::string file = (dir_ / "env.reg").string();
  ASSERT_EQ(Regclean({"reg", "export", "HKCU\\Environment", file}).status, 0);
  const std::string hive = Slurp(prefix_ / "user.reg");
  StartLockHolder();
  // Reading still works.
  EXPECT_EQ(Regclean({"reg", "query", "HKCU\\Environment"}).status, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"reg", "import", file},
        std::vector<std::string>{"reg", "delete", "HKCU\\Environment", "/f"},
        std::vector<std::string>{"reg", "delete", "HKCU\\Environment", "/v", "TMP", "/f"}}) {
    const Outcome run = Regclean(args);
    EXPECT_EQ(run.status, 1) << args[1];
    EXPECT_NE(run.err.find("wineserver is running"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("wineserver -k"), std::string::npos);
  }
  EXPECT_EQ(Slurp(prefix_ / "user.reg"), hive);
}

}  // namespace

#endif
