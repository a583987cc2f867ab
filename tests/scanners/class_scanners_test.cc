// Class checks, the file type and Explorer extension scanners: what is usable, lines, what goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/class_checks.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "tests/engine/log_capture.h"
#include "tests/scanners/scanner_fixture.h"

namespace {

using namespace scanner_test;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr uint32_t kRead = platform::kKeyRead | platform::kKeyWow64_64Key;
constexpr char16_t kClasses[] = u"SOFTWARE\\Classes";
constexpr char16_t kFileExts[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

class ClassScanners : public ScannerFixture {
 protected:
  void SetUp() override {
    ScannerFixture::SetUp();
    ASSERT_TRUE(tree_.MakeFile(u"Present\\rcapp.exe"));
    // A program known only to the search path.
    ASSERT_TRUE(tree_.MakeFileAt(u"C:\\windows\\system32\\rcsearch.exe"));
    Baseline(ScanFileTypes);
    Baseline(ScanExplorerFileExtensions);
    const std::string app = "\"\\\"" + Reg(u"Present\\rcapp.exe") + "\\\" \\\"%1\\\"\"\r\n";
    const std::string gone = "\"\\\"" + Reg(u"Gone\\rcgone.exe") + "\\\" \\\"%1\\\"\"\r\n";
    std::string r;
    auto cls = [&r](const std::string& key, const std::string& values = "") {
      r += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + key + "]\r\n" + values;
    };
    auto ext = [&r](const std::string& key, const std::string& values = "") {
      r += "[HKEY_CURRENT_USER\\" + Utf8(kFileExts) + "\\" + key + "]\r\n" + values;
    };
    auto dde = [&](const std::string& owner, const std::string& program) {
      cls(owner + "\\shell\\open\\ddeexec\\Application", "@=\"" + program + "\"\r\n");
    };
    // Second: the default verb has no program, the next has. Dde: its program in App Paths.
    cls("RcProg.Friendly", "\"FriendlyTypeName\"=\"Rc document\"\r\n");
    cls("RcProg.NoOpen", "\"NoOpen\"=\"\"\r\n");
    cls("RcProg.Gone\\shell\\open\\command", "@=" + gone);
    cls("RcProg.Second\\shell", "@=\"edit\"\r\n");
    cls("RcProg.Second\\shell\\edit\\command", "@=" + gone);
    cls("RcProg.Second\\shell\\open\\command", "@=" + app);
    dde("RcProg.Dde", "rcapp.exe");
    // Longer than the text buffer: read whole, cut it would look unused.
    cls("RcProg.Long\\shell\\open\\command",
        "@=\"\\\"" + Reg(u"Present\\rcapp.exe") + "\\\" " + std::string(3000, 'x') + "\"\r\n");
    cls("RcProg.Icon\\DefaultIcon", "@=\"" + Reg(u"Present\\rcapp.exe") + ",0\"\r\n");
    cls("RcProg.Icon\\Extra");
    r += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
         "Paths\\rcapp.exe]\r\n@=\"" +
         Reg(u"Present\\rcapp.exe") + "\"\r\n";
    cls("Applications\\rcfriend.exe", "\"FriendlyAppName\"=\"@rcfriend.exe,-1\"\r\n");
    cls("Applications\\rcnoopen.exe", "\"NoOpenWith\"=\"\"\r\n");
    cls("Applications\\rchost.exe", "\"IsHostApp\"=\"\"\r\n");
    // A number is no empty flag value, whatever it holds.
    cls("Applications\\rcdword.exe", "\"NoOpenWith\"=dword:00000000\r\n");
    // Registrations that lead back to themselves: the walk ends there.
    dde("Applications\\rcself.exe", "rcself.exe");
    dde("Applications\\rcping.exe", "rcpong.exe");
    dde("Applications\\rcpong.exe", "RCPING.exe");
    dde("RcProg.Loop", "rcself.exe");
    // A content type whose class is registered for the machine only.
    cls("MIME\\Database\\Content Type\\application/x-rccom", "\"CLSID\"=\"{RC0000C1}\"\r\n");
    cls("CLSID\\{RC0000C1}\\InprocServer32", "@=\"" + Reg(u"Present\\rcapp.exe") + "\"\r\n");
    cls("MIME\\Database\\Content Type\\application/x-rc", "\"Extension\"=\".rcsub\"\r\n");
    r += "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\MIME\\Database\\Content Type\\application/"
         "x-rc]\r\n\"Extension\"=\".rcuser\"\r\n";
    // Extensions: three stale (.rcnoopen, .rcempty, .rcgone).
    cls(".rcfriendly", "@=\"RcProg.Friendly\"\r\n");
    cls(".rcnoopen", "@=\"RcProg.NoOpen\"\r\n");
    cls(".rcempty");
    cls(".rctwo", "@=\"RcProg.Gone\"\r\n\"Content Type\"=\"x/unknown\"\r\n");
    cls(".rcsub\\OpenWithProgids");
    cls(".rcpng", "\"Content Type\"=\"IMAGE/png\"\r\n");
    cls(".rcmime", "\"Content Type\"=\"application/x-rc\"\r\n");
    cls(".rcdoc", "\"PerceivedType\"=\"DOCUMENT\"\r\n");
    cls(".rcgone", "@=\"RcProg.Gone\"\r\n");
    cls(".rccom", "\"Content Type\"=\"application/x-rccom\"\r\n");
    // Explorer lists: three stale (.rcmruone, .rcprogids, .rcnone).
    ext(".rcmru\\OpenWithList",
        "\"a\"=\"rcgone.exe\"\r\n\"b\"=\"rcapp.exe\"\r\n\"MRUList\"=\"ab\"\r\n");
    ext(".rcmruone\\OpenWithList", "\"MRUList\"=\"a\"\r\n");
    ext(".rcchoice\\UserChoice", "\"Progid\"=\"Applications\\\\rcapp.exe\"\r\n");
    ext(".rcclass\\UserChoice", "\"Progid\"=\"RcProg.Friendly\"\r\n");
    ext(".rcprogids\\OpenWithProgids", "\"RcProg.Gone\"=hex(0):\r\n");
    ext(".rcnone\\Other");
    ext(".");
    ImportOwned(r);
  }
};

TEST_F(ClassScanners, ClassChecksReadVerbsIconsNamesAndPrograms) {
  std::vector<uint32_t> flags, apps;
  for (const char16_t* name :
       {u"RcProg.Friendly", u"RcProg.NoOpen", u"RcProg.Gone", u"RcProg.Second", u"RcProg.Dde",
        u"RcProg.Long", u"RcProg.Icon", u"RcProg.Nowhere", u"RcProg.Loop"})
    flags.push_back(CheckClass(kRead, name));
  EXPECT_EQ(flags, (std::vector<uint32_t>{kClassFriendlyName, kClassOtherValues, 0, kClassVerbRuns,
                                          kClassVerbRuns, kClassVerbRuns,
                                          kClassIconExists | kClassOtherSubkeys, 0, 0}));
  EXPECT_NE(ResolveAppName(kRead, u"rcapp.exe"), 0u);
  EXPECT_NE(ResolveAppName(kRead, u"rcsearch.exe"), 0u);
  for (const char16_t* name : {u"rcfriend.exe", u"rcnoopen.exe", u"rchost.exe", u"rcdword.exe",
                               u"rcgone.exe", u"rcself.exe", u"rcping.exe"})
    apps.push_back(ResolveAppName(kRead, name));
  EXPECT_EQ(apps, (std::vector<uint32_t>{42, 17, 34, 0, 0, 0, 0}));

  EXPECT_EQ(IsKnownContentType(u"application/x-msdownload"), 35);
  EXPECT_EQ(IsKnownPerceivedType(u"images/video"), 21);
  EXPECT_EQ(IsKnownContentType(u"image/png "), 0);
  // The machine's classes come last and win.
  EXPECT_EQ(std::u16string(MimeExtension(kClassRoots, kRead, u"application/x-rc")), u".rcsub");
  EXPECT_EQ(std::u16string(MimeClsid(kClassRoots, kRead, u"application/x-rc")), u"");
  // A class registered for the machine has its server found too.
  EXPECT_EQ(std::u16string(InprocServerOf(kClassRoots, kRead, u"{RC0000C1}")),
            tree_.Path(u"Present\\rcapp.exe"));
}

TEST_F(ClassScanners, FileTypesWithNothingUsableAreReportedWithTheLastTextRead) {
  engine_test::CapturedLog log;
  EXPECT_EQ(Run(ScanFileTypes, Scan), 3u);
  // Extensions are visited from the last to the first: the root is named once.
  for (const char* line :
       {"07 Missing valid: RcProg.NoOpen", "07 Missing valid: RcProg.Gone",
        "07 Missing Default Value", "08 Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.rcnoopen",
        "08 Key: ...\\SOFTWARE\\Classes\\.rcgone"})
    EXPECT_TRUE(Has(log.Lines(), line)) << line;
  EXPECT_GE(Run(ScanFileTypes, KeyCount), 9u + 6u);  // the ProgIDs count too

  EXPECT_EQ(Run(ScanFileTypes, BackupAndClean), 3u);
  for (const char16_t* stale : {u".rcnoopen", u".rcempty", u".rcgone"})
    EXPECT_FALSE(Exists(kHkeyLocalMachine, Join(kClasses, stale))) << Utf8(stale);
  for (const char16_t* valid : {u".rcfriendly", u".rctwo", u".rcsub", u".rcpng", u".rcmime",
                                u".rcdoc", u".rccom", u"RcProg.Gone"})
    EXPECT_TRUE(Exists(kHkeyLocalMachine, Join(kClasses, valid))) << Utf8(valid);
  EXPECT_NE(BackupText(kFileTypeCategory).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.rcgone]"),
            std::string::npos);
  engine_.mode = Scan;
  EXPECT_EQ(ScanFileTypes(&engine_), 0u);
}

TEST_F(ClassScanners, ExplorerExtensionsWithoutAUsableListAreReported) {
  std::vector<uint32_t> exts;
  for (const char16_t* ext : {u".rcmru", u".rcmruone", u".rcprogids"})
    exts.push_back(CheckFileExtEntry(kHkeyCurrentUser, kRead, Join(kFileExts, ext)));
  EXPECT_EQ(exts, (std::vector<uint32_t>{kExtEntryValid | kExtEntryInvalid, 0, kExtEntryInvalid}));

  engine_test::CapturedLog log;
  EXPECT_EQ(Run(ScanExplorerFileExtensions, Clean), 3u);
  const std::vector<std::string> lines = log.Lines();
  EXPECT_TRUE(Has(lines, "07 Unused FileExt: \".rcnone\""));
  for (const char16_t* stale : {u".rcmruone", u".rcprogids", u".rcnone"})
    EXPECT_FALSE(Exists(kHkeyCurrentUser, Join(kFileExts, stale))) << Utf8(stale);
  for (const char16_t* valid : {u".rcmru", u".rcchoice", u".rcclass", u"."})
    EXPECT_TRUE(Exists(kHkeyCurrentUser, Join(kFileExts, valid))) << Utf8(valid);
  // "." alone is neither counted nor judged.
  EXPECT_NE(lines.back().find("problems here, scanned: "), std::string::npos);
  engine_.mode = Scan;
  EXPECT_EQ(ScanExplorerFileExtensions(&engine_), 0u);
}

// A "shell" key that fails its information query, or ends its first verb with "no more items".
struct FailingShell : platform::RegistryWrapper {
  FailingShell(platform::Registry* target, bool query) : RegistryWrapper(target), query_(query) {}
  uint32_t RegOpenKeyExW(platform::HKey key, std::u16string_view subKey, uint32_t options,
                         uint32_t sam, platform::HKey* result) override {
    const uint32_t error = RegistryWrapper::RegOpenKeyExW(key, subKey, options, sam, result);
    if (error == 0 && subKey.ends_with(u"RcProg.Second")) classKey_ = *result;
    if (error == 0 && key == classKey_ && subKey == u"shell") shell_ = *result;
    return error;
  }
  uint32_t RegQueryInfoKeyW(platform::HKey key, platform::RegKeyInfo* info) override {
    if (query_ && key == shell_) return 5;
    return RegistryWrapper::RegQueryInfoKeyW(key, info);
  }
  uint32_t RegEnumKeyW(platform::HKey key, uint32_t index, char16_t* name,
                       uint32_t chars) override {
    if (key == shell_ && index == 0) return platform::kRegNoMoreItems;
    return RegistryWrapper::RegEnumKeyW(key, index, name, chars);
  }
  bool query_;
  platform::HKey classKey_ = platform::kNullKey;
  platform::HKey shell_ = platform::kNullKey;
};

// Each failure of the shell verbs check has its line; an enumeration error skips only its index.
TEST_F(ClassScanners, ShellVerbFailuresAreLoggedAndSkipped) {
  const struct {
    bool query;
    uint32_t flags;
    std::string line;
  } rows[] = {
      {false, kClassVerbRuns, "03 Error: RegEnumKey SOFTWARE\\Classes\\RcProg.Second\\Shell (0)"},
      {true, 0, "03 Error: RegQueryInfoKey SOFTWARE\\Classes\\RcProg.Second\\Shell"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    FailingShell failing(EngineRegistry(), row.query);
    SetEngineRegistry(&failing);
    engine_test::CapturedLog log;
    const uint32_t flags = CheckClass(kRead, u"RcProg.Second");
    SetEngineRegistry(failing.target());
    EXPECT_EQ(flags & kClassVerbRuns, row.flags);
    EXPECT_TRUE(Has(log.Lines(), row.line));
  }
}

// The host's stop, asked when the check opens a key below RcProg.Gone.
struct StopWhenOpened : platform::RegistryWrapper {
  using RegistryWrapper::RegistryWrapper;
  uint32_t RegOpenKeyExW(platform::HKey key, std::u16string_view subKey, uint32_t options,
                         uint32_t sam, platform::HKey* result) override {
    if (subKey.find(u"RcProg.Gone") != std::u16string_view::npos) AbortRequested = 1;
    return RegistryWrapper::RegOpenKeyExW(key, subKey, options, sam, result);
  }
};

TEST_F(ClassScanners, TheEntryInHandWhenAStopComesIsNoProblem) {
  const struct {
    Scanner scan;
    platform::HKey root;
    std::u16string entry;  // checked when the stop comes: its class is RcProg.Gone
  } rows[] = {
      {ScanFileTypes, kHkeyLocalMachine, Join(kClasses, u".rcgone")},
      {ScanExplorerFileExtensions, kHkeyCurrentUser, Join(kFileExts, u".rcprogids")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Utf8(row.entry));
    StopWhenOpened stopping(EngineRegistry());
    SetEngineRegistry(&stopping);
    AbortRequested = 0;
    engine_.runFailures = 0;
    engine_test::CapturedLog log;
    Run(row.scan, BackupAndClean);
    SetEngineRegistry(stopping.target());
    const std::string name = Utf8(row.entry.substr(row.entry.rfind(u'\\') + 1));
    for (const std::string& line : log.Lines())
      EXPECT_FALSE(line.ends_with(name) || line.find(name + "\"") != std::string::npos ||
                   line.find("RcProg.Gone") != std::string::npos)
          << line;
    EXPECT_TRUE(Exists(row.root, row.entry));
    EXPECT_EQ(engine_.runFailures, 0u);
    // The stopped walk still writes its stop line.
    EXPECT_NE(log.Lines().back().find(" problems here, scanned: "), std::string::npos);
  }
}

}  // namespace
