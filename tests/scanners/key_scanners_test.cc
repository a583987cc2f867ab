// Uninstall, COM server and installer scanners in every mode: lines, links, failed backups.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/reg_list_file.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "tests/engine/log_capture.h"
#include "tests/scanners/scanner_fixture.h"
#ifndef _WIN32
#include <unistd.h>

#include <filesystem>
#endif

namespace {

using namespace scanner_test;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr char16_t kUninstall[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char16_t kUninstall32[] =
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char16_t kClsid[] = u"SOFTWARE\\Classes\\CLSID";
constexpr char16_t kClsid32[] = u"SOFTWARE\\Wow6432Node\\Classes\\CLSID";
constexpr char16_t kComponents[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
constexpr char16_t kComponents32[] =
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-21-"
    u"7\\Components";
constexpr char16_t kFolders[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";

class KeyScanners : public ScannerFixture {
 protected:
  void SetUp() override {
    ScannerFixture::SetUp();
    for (const char16_t* file : {u"Present\\app.exe", u"Present\\lib.dll", u"Present\\key.txt"})
      ASSERT_TRUE(tree_.MakeFile(file));
    engine_.blackList->Add(ListEntryText(u"HKEY_LOCAL_MACHINE", Join(kUninstall, u"RcListed"), u""),
                           0);
    // What the machine itself holds (a booted prefix, or Wine's registry).
    for (const Case& c : kAll) Baseline(c.scan);
    cleanup_ += "[HKEY_LOCAL_MACHINE\\" + Utf8(kFolders) + "]\r\n\"" + Reg(u"Present\\") +
                "\"=-\r\n\"" + Reg(u"Gone\\") + "\"=-\r\n\"C:\\\\x\"=-\r\n";
    ImportOwned(Fixture());
  }

  std::string Fixture() {
    std::string r;
    auto key = [&r](const std::u16string& path, const std::string& values) {
      r += "[HKEY_LOCAL_MACHINE\\" + Utf8(path) + "]\r\n" + values;
    };
    auto uninstall = [&](const char16_t* name, const std::string& command) {
      key(Join(kUninstall, name), "\"UninstallString\"=\"" + command + "\"\r\n");
    };
    auto server = [&](const char16_t* clsid, const std::string& data) {
      key(Join(kClsid, clsid) + u"\\InprocServer32", "@=" + data + "\r\n");
    };
    const std::string rundll = "C:\\\\windows\\\\system32\\\\rundll32.exe ";
    // Uninstall entries: four gone (one under Wow6432Node).
    uninstall(u"RcQuoted", "\\\"" + Reg(u"Present\\app.exe") + "\\\" /uninstall");
    uninstall(u"RcNoDrive", "msiexec.exe /x {0A1B2C3D}");
    uninstall(u"RcGoneFirst", Reg(u"Gone\\uninst.exe") + " " + Reg(u"Present\\app.exe"));
    uninstall(u"RcPresentFirst", Reg(u"Present\\app.exe") + " " + Reg(u"Gone\\data.bin"));
    uninstall(u"RcResource", Reg(u"Present\\app.exe") + ",1");
    uninstall(u"RcRundll", rundll + Reg(u"Gone\\setup.dll") + ",Uninstall");
    uninstall(u"RcRundllKeep", rundll + Reg(u"Present\\lib.dll") + ",Uninstall");
    uninstall(u"RcListed", Reg(u"Gone\\listed.exe"));
    uninstall(u"RcGone", Reg(u"Gone\\gone.exe"));
    key(Join(kUninstall, u"RcGone\\Details"), "\"Size\"=dword:00000010\r\n");
    key(Join(kUninstall32, u"RcOld32"),
        "\"UninstallString\"=\"" + Reg(u"Gone\\old32.exe") + "\"\r\n");
    // COM classes: five servers gone, one under the user's key.
    server(u"{RC000001}", "\"" + Reg(u"Present\\lib.dll") + "\"");
    key(Join(kClsid, u"{RC000002}"), "@=\"Gone class\"\r\n");
    key(Join(kClsid, u"{RC000002}\\ProgID"), "@=\"Rc.Gone\"\r\n");
    server(u"{RC000002}", "\"" + Reg(u"Gone\\gone.dll") + "\"");
    server(u"{RC000003}", HexText(2, u"%SystemRoot%\\system32\\rcgone.dll"));
    server(u"{RC000004}", "\"rcbare.dll\"");
    key(Join(kClsid, u"{RC000005}\\ProgID"), "@=\"Rc.NoServer\"\r\n");
    server(u"{RC000006}", HexText(7, tree_.Path(u"Gone\\multi.dll") + std::u16string(1, 0) + u"x"));
    r += "[HKEY_CURRENT_USER\\" + Utf8(kClsid) + "\\{RC000007}\\InprocServer32]\r\n@=\"" +
         Reg(u"Gone\\user.dll") + "\"\r\n";
    key(Join(kClsid32, u"{RC000008}\\InprocServer32"), "@=\"" + Reg(u"Gone\\wow.dll") + "\"\r\n");
    // Components: two gone (one under Wow6432Node); registry references are not files.
    key(Join(kComponents, u"RCC0001"), "\"P1\"=\"" + Reg(u"Present\\key.txt") + "\"\r\n");
    key(Join(kComponents, u"RCC0002"),
        "\"P1\"=\"" + Reg(u"Gone\\a.txt") + "\"\r\n\"P2\"=\"" + Reg(u"Gone\\b.txt") + "\"\r\n");
    key(Join(kComponents, u"RCC0003"), "\"P1\"=\"01:\\\\Software\\\\RcSomething\\\\Value\"\r\n");
    key(Join(kComponents, u"RCC0004"),
        "\"P1\"=" + HexText(7, tree_.Path(u"Gone\\m.txt")) + "\r\n\"P2\"=dword:00000001\r\n");
    key(Join(kComponents32, u"RCC0005"), "\"P1\"=\"" + Reg(u"Gone\\c.txt") + "\"\r\n");
    // Installer folders: an existing one with its backslash, a gone one.
    key(kFolders, "\"" + Reg(u"Present\\") + "\"=\"\"\r\n\"" + Reg(u"Gone\\") +
                      "\"=\"\"\r\n\"C:\\\\x\"=\"\"\r\n");
    key(u"SOFTWARE\\RcTarget", "\"keep\"=\"yes\"\r\n");
    return "Windows Registry Editor Version 5.00\r\n" + r;
  }
  using Keys = std::vector<std::pair<platform::HKey, std::u16string>>;
  struct Case {
    Scanner scan;
    const char16_t* category;
    uint32_t counted, found, cleaned;  // the fixture's entries counted; problems found, cleaned
    Keys stale;                        // gone after a clean; every other entry stays
  };
  static constexpr platform::HKey kLm = kHkeyLocalMachine;
  const Keys kStaleUninstall = {{kLm, Join(kUninstall, u"RcGoneFirst")},
                                {kLm, Join(kUninstall, u"RcRundll")},
                                {kLm, Join(kUninstall, u"RcGone")},
                                {kLm, Join(kUninstall32, u"RcOld32")}};
  const Keys kStaleClasses = {{kLm, Join(kClsid, u"{RC000002}")},
                              {kLm, Join(kClsid, u"{RC000003}")},
                              {kLm, Join(kClsid, u"{RC000006}")},
                              {kHkeyCurrentUser, Join(kClsid, u"{RC000007}")},
                              {kLm, Join(kClsid32, u"{RC000008}")}};
  const Case kAll[4] = {
      {ScanUninstallEntries, kUninstallCategory, 10, 4, 4, kStaleUninstall},
      {ScanInprocServers, kInprocServerCategory, 8, 5, 5, kStaleClasses},
      {ScanInstallerUserData, kInstallerUserDataCategory, 5, 3, 2,
       Keys{{kLm, Join(kComponents, u"RCC0002")}, {kLm, Join(kComponents32, u"RCC0005")}}},
      {ScanInstallerFolders, kInstallerFolderCategory, 3, 1, 1, {}},
  };
};

TEST(FirstUninstallPath, CutsTheProgramOutOfTheCommand) {
  const struct {
    const char16_t* command;
    const char16_t* path;
  } rows[] = {
      {u"\"C:\\App\\un.exe\" /x", u"C:\\App\\un.exe\" /x"},
      {u"msiexec /x {1}", u""},
      {u"C:\\App\\un.exe C:\\Data\\log.txt", u"C:\\App\\un.exe "},
      {u"C:\\App\\un.exe,0 /q", u"C:\\App\\un.exe"},
      {u"C:\\Win\\rundll32.exe C:\\App\\x.dll,Remove", u"C:\\Win\\rundll32.exe "},
      // rundll32 by its full path is judged by its library, on whatever drive.
      {u"C:\\windows\\system32\\rundll32.exe C:\\Program Files\\Keep\\keep.dll,Uninstall",
       u"C:\\windows\\system32\\rundll32.exe C:\\Program Files\\Keep\\keep.dll"},
      {u":\\odd.exe", u":\\odd.exe"},
      {u"C:\\App\\un.exe , /q", u"C:\\App\\un.exe"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(FirstUninstallPath(row.command), row.path) << platform::U16ToUtf8(row.command);
}

TEST_F(KeyScanners, EveryModeCountsFindsBacksUpAndRemovesExactlyTheStaleEntries) {
  for (const Case& c : kAll) {
    SCOPED_TRACE(Utf8(c.category));
    EXPECT_EQ(Run(c.scan, KeyCount), c.counted);
    EXPECT_EQ(Run(c.scan, Scan), c.found);
    EXPECT_EQ(Run(c.scan, Backup), c.found);
    EXPECT_NE(BackupText(c.category).find("Windows Registry Editor Version 5.00"),
              std::string::npos);
    for (const auto& [root, path] : c.stale) EXPECT_TRUE(Exists(root, path)) << Utf8(path);
    EXPECT_EQ(Run(c.scan, BackupAndClean), c.cleaned);
    for (const auto& [root, path] : c.stale) {
      EXPECT_FALSE(Exists(root, path)) << Utf8(path);
      EXPECT_NE(BackupText(c.category).find("\\" + Utf8(path.substr(path.rfind(u'\\') + 1)) + "]"),
                std::string::npos)
          << Utf8(path);
    }
    EXPECT_EQ(Run(c.scan, KeyCount), c.counted - c.cleaned);
    EXPECT_EQ(Run(c.scan, Scan), 0u);
    EXPECT_EQ(Run(c.scan, Clean), 0u);
  }
  // Each removed entry is remembered: entry and record.
  EXPECT_EQ(engine_.ignoreList->Count(), 2 * (4 + 5 + 2 + 1));
}

TEST_F(KeyScanners, CleanWithoutBackupRemovesAComponentOnceAndTheRestQuietly) {
  EXPECT_EQ(Run(ScanInstallerUserData, Clean), 2u);
  EXPECT_FALSE(Exists(kHkeyLocalMachine, Join(kComponents, u"RCC0002")));
}

TEST_F(KeyScanners, LogLinesNameTheRootOnceThenTheShortForm) {
  engine_test::CapturedLog log;
  Run(ScanUninstallEntries, Scan);
  Run(ScanInprocServers, Scan);
  Run(ScanInstallerFolders, Scan);
  const std::vector<std::string> lines = log.Lines();
  const std::string uninstall = Utf8(kUninstall), clsid = Utf8(kClsid);
  // Entries are visited from the last to the first.
  for (const std::string& line :
       {"08 Key: HKEY_LOCAL_MACHINE\\" + uninstall + "\\RcRundll - Value: UninstallString",
        "08 Key: .\\" + uninstall + "\\RcGoneFirst - Value: UninstallString",
        "07 Missing: " + Utf8(tree_.Path(u"Gone\\uninst.exe")) + " " +
            Utf8(tree_.Path(u"Present\\app.exe")),
        "08 Key: HKEY_LOCAL_MACHINE\\" + clsid + "\\{RC000006}\\InprocServer32 - Value: (default)",
        "08 Key: ...\\" + clsid + "\\{RC000003}\\InprocServer32 - Value: (default)",
        // Expanded before the test, and shown expanded.
        std::string("07 Missing: C:\\windows\\system32\\rcgone.dll"),
        "07 Missing: " + Utf8(tree_.Path(u"Gone\\multi.dll")),
        "08 Key: HKEY_CURRENT_USER\\" + clsid + "\\{RC000007}\\InprocServer32 - Value: (default)",
        "08 in Key: HKEY_LOCAL_MACHINE\\" + Utf8(kFolders),
        "07 Missing: " + Utf8(tree_.Path(u"Gone\\"))})
    EXPECT_TRUE(Has(lines, line)) << line;
  EXPECT_FALSE(Has(lines, "07 Missing: " + Utf8(tree_.Path(u"Gone\\listed.exe"))));
  for (const std::string& line : lines) EXPECT_EQ(line.find("rcbare"), std::string::npos) << line;
}

// The stop line counts uninstall entries as the counting pass does, classes with a server value.
TEST_F(KeyScanners, ScannedCountsWhatIsTested) {
  auto scanned = [&](Scanner scanner) {
    engine_test::CapturedLog log;
    Run(scanner, Scan);
    const std::string stop = log.Lines().back();
    return std::stoul(stop.substr(stop.find("scanned: ") + 9));
  };
  engine_.mode = KeyCount;
  const uint32_t entries = ScanUninstallEntries(&engine_);
  EXPECT_EQ(scanned(ScanUninstallEntries), entries);
  const uint32_t classes = scanned(ScanInprocServers);
  ImportOwned("[HKEY_LOCAL_MACHINE\\" + Utf8(kClsid) +
              "\\{RC000009}\\InprocServer32]\r\n@=\"\"\r\n");
  EXPECT_EQ(scanned(ScanInprocServers), classes);
}

// A stale class a .reg file cannot give back (a link, a NUL name) stays, said at level 11.
TEST_F(KeyScanners, AProblemKeyThatItsBackupCannotHoldWholeStays) {
  const std::u16string linked = Join(kClsid, u"{RC000002}");
  const std::u16string nulName = Join(kClsid, u"{RC000006}");
  // A key of HKLM (created with options) holding one value.
  auto make = [](const std::u16string& path, uint32_t options, std::u16string_view name,
                 uint32_t type, std::u16string_view data) {
    platform::Registry* registry = EngineRegistry();
    platform::HKey key;
    ASSERT_EQ(registry->RegCreateKeyExW(kHkeyLocalMachine, path, options, k64, &key, nullptr), 0u);
    ASSERT_EQ(
        registry->RegSetValueExW(key, name, type, reinterpret_cast<const uint8_t*>(data.data()),
                                 static_cast<uint32_t>(data.size() * 2)),
        0u);
    registry->RegCloseKey(key);
  };
  make(linked + u"\\Shortcut", 2 /* create link */, u"SymbolicLinkValue", platform::kRegLink,
       u"\\Registry\\Machine\\SOFTWARE\\RcTarget");
#ifdef _WIN32
  constexpr bool kNulNames = false;  // the Win32 calls take a name up to its first NUL
#else
  constexpr bool kNulNames = true;
  make(nulName, 0, std::u16string(u"a\0b", 3), platform::kRegSz, std::u16string_view(u"x", 2));
#endif

  engine_test::CapturedLog log;
  EXPECT_EQ(Run(ScanInprocServers, BackupAndClean), 5u);
  EXPECT_TRUE(Exists(kHkeyLocalMachine, linked + u"\\InprocServer32"));
  EXPECT_EQ(Exists(kHkeyLocalMachine, nulName + u"\\InprocServer32"), kNulNames);
  EXPECT_FALSE(Exists(kHkeyLocalMachine, Join(kClsid, u"{RC000003}")));
  EXPECT_TRUE(Exists(kHkeyLocalMachine, u"SOFTWARE\\RcTarget", u"keep"));
  EXPECT_EQ(engine_.runFailures, kNulNames ? 2u : 1u);
  const std::vector<std::string> lines = log.Lines();
  std::vector<std::string> logged = {
      "11 Backup: HKEY_LOCAL_MACHINE\\" + Utf8(linked) +
          "\\Shortcut is a registry link, which a .reg file cannot hold; the entry stays",
      "11 Not deleted, a .reg file cannot hold it whole (a name, a value or a registry link "
      "below it): HKEY_LOCAL_MACHINE\\" +
          Utf8(linked)};
  if (kNulNames)
    logged.push_back("11 Backup: a value of HKEY_LOCAL_MACHINE\\" + Utf8(nulName) +
                     " could not be read whole (a NUL in its name, or it changed meanwhile); "
                     "the entry stays");
  for (const std::string& line : logged)
    EXPECT_TRUE(Has(lines, line)) << line << "\n" << testing::PrintToString(lines);
}

TEST_F(KeyScanners, NothingIsRemovedOrRememberedWhenItsBackupCannotBeWritten) {
  std::vector<std::u16string> folders = {backups_.path() + u"\\missing"};
#ifndef _WIN32
  // A real full disk: writes to /dev/full fail with "no space left".
  std::string unixFolder = Utf8(backups_.path()).substr(2);  // below Z:
  std::replace(unixFolder.begin(), unixFolder.end(), '\\', '/');
  ASSERT_EQ(symlink("/dev/full", (unixFolder + "/" + Utf8(kUninstallCategory) + ".reg").c_str()),
            0);
  folders.push_back(backups_.path());
#endif
  for (const std::u16string& folder : folders) {
    engine_.runBackupFolder = folder;
    engine_.runFailures = 0;
    engine_test::CapturedLog log;
    EXPECT_EQ(Run(ScanUninstallEntries, BackupAndClean), 4u);
    EXPECT_EQ(engine_.runFailures, 4u);
    for (const auto& [root, path] : kAll[0].stale) EXPECT_TRUE(Exists(root, path)) << Utf8(path);
    EXPECT_EQ(engine_.ignoreList->Count(), 0);
    int notDeleted = 0;
    for (const std::string& line : log.Lines())
      notDeleted += line.starts_with("11 Not deleted, its backup could not be written to");
    EXPECT_EQ(notDeleted, 4);
  }
}

// A registry that refuses every deletion (a wineserver started meanwhile): nothing remembered.
TEST_F(KeyScanners, ADeletionTheRegistryRefusesIsNeitherRememberedNorHidden) {
  struct Refusing : platform::RegistryWrapper {
    using RegistryWrapper::RegistryWrapper;
    uint32_t RegDeleteKeyW(platform::HKey, std::u16string_view) override { return 5; }
    uint32_t RegDeleteKeyExW(platform::HKey, std::u16string_view, uint32_t) override { return 5; }
    uint32_t RegDeleteValueW(platform::HKey, std::u16string_view) override { return 5; }
  } refusing(EngineRegistry());
  SetEngineRegistry(&refusing);
  EXPECT_EQ(Run(ScanUninstallEntries, BackupAndClean), 4u);
  EXPECT_EQ(Run(ScanInstallerFolders, Clean), 1u);
  EXPECT_EQ(engine_.runFailures, 5u);
  EXPECT_EQ(engine_.ignoreList->Count(), 0);
  for (const auto& [root, path] : kAll[0].stale) EXPECT_TRUE(Exists(root, path)) << Utf8(path);
  SetEngineRegistry(refusing.target());
}

#ifndef _WIN32
// An empty mount, an absent share, a path over 2048, a Framework64 twin: only the gone is found.
TEST_F(KeyScanners, WhatCannotBeSeenGivesNoFindingsOnlyWhatIsMissingDoes) {
  const std::string prefix = tree_.prefix();
  std::filesystem::create_directories(prefix + "/media/usb");
  std::filesystem::create_directory_symlink(prefix + "/media/usb", prefix + "/dosdevices/g:");
  std::u16string deep;
  while (deep.size() < 2192) deep += std::u16string(200, u'd') + u"\\";
  ASSERT_TRUE(tree_.MakeFile(deep + u"server.dll"));
  ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\Microsoft.NET\\Framework64\\v4.0\\tool.msc"));
  Baseline(ScanSharedDlls);

  std::string r =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n";
  for (const std::string& name :
       {std::string("G:\\\\Game\\\\game.dll"), std::string("\\\\\\\\offline\\\\share\\\\x.dll"),
        Reg(deep + u"server.dll"), Reg(u"Gone\\really.dll")})
    r += "\"" + name + "\"=dword:00000001\r\n";
  const std::string u = "[HKEY_LOCAL_MACHINE\\" + Utf8(kUninstall) + "\\";
  r += u +
       "RcFramework]\r\n\"UninstallString\"=\"C:\\\\windows\\\\Microsoft.NET\\\\Framework\\\\"
       "v4.0\\\\tool.msc /x\"\r\n";
  r += u + "RcUsb]\r\n\"UninstallString\"=\"\\\"G:\\\\Game\\\\unins.exe\\\" /S\"\r\n";
  r += u + "RcReally]\r\n\"UninstallString\"=\"" + Reg(u"Gone\\really.exe") + " /x\"\r\n";
  const std::string c = "[HKEY_LOCAL_MACHINE\\" + Utf8(kClsid) + "\\{RC0000";
  r += c + "0A}\\InprocServer32]\r\n@=\"" + Reg(deep + u"server.dll") + "\"\r\n";
  r += c + "0C}\\InprocServer32]\r\n@=\"\\\\\\\\offline\\\\share\\\\lib.dll\"\r\n";
  Import(r);  // into the test's own prefix, which goes with it

  engine_test::CapturedLog log;
  EXPECT_EQ(Run(ScanSharedDlls, Scan), 1u);
  EXPECT_EQ(Run(ScanUninstallEntries, Scan), kAll[0].found + 1);
  EXPECT_EQ(Run(ScanInprocServers, Scan), kAll[1].found);
  for (const std::string& line : {"07 Missing: " + Utf8(tree_.Path(u"Gone\\really.dll")),
                                  "07 Missing: " + Utf8(tree_.Path(u"Gone\\really.exe")) + " /x",
                                  std::string("10 Drive not available: G:\\"),
                                  std::string("10 Drive not available: \\\\offline\\share\\")})
    EXPECT_TRUE(Has(log.Lines(), line)) << line;
}
#endif

}  // namespace
