// Backup files byte for byte: header, sections, every value form, the
// hexadecimal wrap; the key-tree export; and the restore batch.
#include "modules/RegistryCleanerModule/dll/reg_backup_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/system_services.h"
#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/delete_entries.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/module_resources.h"
#include "modules/RegistryCleanerModule/dll/problem_handling.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/reg_file.h"
#include "platform/registry_paths.h"
#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/engine/engine_test_support.h"

namespace {

using engine_test::ReadBytes;
using engine_test::TempFolder;
using platform::kHkeyLocalMachine;

// UTF-16 LE bytes of an ASCII golden text, with the byte-order mark.
std::string Golden(std::u16string_view text) {
  return engine_test::Utf16Le(u"\xFEFF") + engine_test::Utf16Le(text);
}

const uint8_t* Data(std::u16string_view text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// REG_SZ data that only the exact hex form carries: a megabyte of text, a
// NUL inside, line breaks. (Text without its final NUL goes as hex too, and
// an import gives it its NUL back, as every importer does.)
std::vector<std::pair<std::u16string, std::u16string>> AwkwardStrings() {
  std::u16string big(524288, u'x');
  big.back() = 0;
  return {{u"Big", big},
          {u"Zero", std::u16string(u"ab\0cd\0", 6)},
          {u"Lines", std::u16string(u"one\r\ntwo\nthree\0", 15)}};
}

class RegBackupFileTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = {Is64BitOs, IsWow64, OsLevel};
    Is64BitOs = false;
    IsWow64 = false;
    OsLevel = 2;
    BackupValue(kHkeyLocalMachine, u"", nullptr, nullptr, 0, 0, nullptr);  // forget sections
  }
  void TearDown() override {
    Is64BitOs = saved_.is64;
    IsWow64 = saved_.wow64;
    OsLevel = saved_.level;
    SetEngineRegistry(nullptr);
  }
  std::u16string Path(std::u16string_view category) const {
    return folder_.path() + u"\\" + std::u16string(category) + u".reg";
  }
  std::u16string Header(std::u16string_view category) const {
    std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n; backup file: \"" + Path(category) + u"\"\r\n";
    if (Is64BitOs) text += u"; to restore this backup, please import the file in regedt32.exe\r\n";
    return text + u"; company: CORVANE product: Brightdeck module: RegCleanerDll build: 612\r\n";
  }

  TempFolder folder_;
  struct {
    bool is64, wow64;
    int level;
  } saved_{};
};

TEST_F(RegBackupFileTest, HeaderOnBothKindsOfMachine) {
  for (bool is64 : {false, true}) {
    Is64BitOs = is64;
    const std::u16string category = is64 ? u"Wide" : u"Narrow";
    std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), category));
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->headerWritten());
    file->Close();
    EXPECT_EQ(ReadBytes(Path(category)), Golden(Header(category)));
  }
}

TEST_F(RegBackupFileTest, SectionsOfAncestorsOnceThenValueLines) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Values"));
  const std::u16string path = u"C:\\Program Files\\Abc\\abc.dll";
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Abc", u"Path", Data(path),
              static_cast<int32_t>((path.size() + 1) * 2), platform::kRegSz, file.get());
  const uint32_t dword = 255;
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Abc", u"Count",
              reinterpret_cast<const uint8_t*>(&dword), 4, platform::kRegDword, file.get());
  // Another key of the same file: only its own section is new.
  const uint32_t one = 1;
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Def", u"", reinterpret_cast<const uint8_t*>(&one), 4,
              platform::kRegDword, file.get());
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Def", nullptr, nullptr, 0, platform::kRegDword,
              file.get());
  // Back to the first key: its section again, marked as a repeat. Text with
  // a line break goes as exact bytes, and so does a dword without its four.
  BackupValue(kHkeyLocalMachine, u"software\\abc", u"Quote\"Back\\slash",
              Data(u"say \"hi\"\r\nnext"), 30, platform::kRegSz, file.get());
  // An unknown root writes no section; its value lands under the last one.
  BackupValue(platform::HKey{0x1234}, u"Whatever", u"Lost", Data(u"x"), 4, platform::kRegSz,
              file.get());
  file->Close();
  EXPECT_EQ(
      ReadBytes(Path(u"Values")),
      Golden(Header(u"Values") + u"\r\n[HKEY_LOCAL_MACHINE]\r\n"
                                 u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
                                 u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Abc]\r\n"
                                 u"\"Path\"=\"C:\\\\Program Files\\\\Abc\\\\abc.dll\"\r\n"
                                 u"\"Count\"=dword:000000ff\r\n"
                                 u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Def]\r\n"
                                 u"@=dword:00000001\r\n"
                                 u"@=hex(4):\r\n"
                                 u"\r\n[HKEY_LOCAL_MACHINE\\software\\abc]\r\n"
                                 u"; this is the second section with the same name!!!\r\n"
                                 u"\"Quote\\\"Back\\\\slash\"=hex(1):73,00,61,00,79,00,20,00,22,"
                                 u"00,68,00,69,00,22,00,0d,\\\r\n"
                                 u"  00,0a,00,6e,00,65,00,78,00,74,00,00,00\r\n"
                                 u"\"Lost\"=\"x\"\r\n"));
}

TEST_F(RegBackupFileTest, HexadecimalFormsAndTheirWrap) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Hex"));
  uint8_t bytes[30];
  for (int i = 0; i < 30; ++i) bytes[i] = static_cast<uint8_t>(i * 9);
  // "Data"=hex: has 11 characters: the line takes 22 bytes, then wraps.
  file->WriteValue(u"Data", bytes, 30, platform::kRegBinary);
  // The default value's prefix is shorter ("@=hex:", 6 characters): 24 bytes.
  file->WriteValue(u"", bytes, 30, platform::kRegBinary);
  // A prefix of 77 characters or more never wraps.
  const std::u16string longName(80, u'n');
  file->WriteValue(longName.c_str(), bytes, 30, platform::kRegBinary);
  file->WriteValue(u"Nothing", nullptr, 0, platform::kRegBinary);
  file->WriteValue(u"Odd", bytes, 3, 0x12345);  // an unknown type
  file->WriteValue(u"None", bytes, 2, platform::kRegNone);
  const uint64_t qword = 0x0102030405060708ull;
  file->WriteValue(u"Q", reinterpret_cast<const uint8_t*>(&qword), 8, platform::kRegQword);
  file->Close();

  std::u16string data22, data8, all30, default24, default6;
  auto hex = [](uint8_t b) {
    const char16_t digits[] = u"0123456789abcdef";
    return std::u16string{digits[b >> 4], digits[b & 15]};
  };
  for (int i = 0; i < 30; ++i) {
    const std::u16string item = hex(bytes[i]) + (i < 29 ? u"," : u"");
    (i < 22 ? data22 : data8) += item;
    (i < 24 ? default24 : default6) += item;
    all30 += item;
  }
  EXPECT_EQ(ReadBytes(Path(u"Hex")),
            Golden(Header(u"Hex") + u"\"Data\"=hex:" + data22 + u"\\\r\n  " + data8 + u"\r\n" +
                   u"@=hex:" + default24 + u"\\\r\n  " + default6 + u"\r\n" + u"\"" + longName +
                   u"\"=hex:" + all30 + u"\r\n" +
                   u"\"Nothing\"=hex:\r\n"
                   u"\"Odd\"=hex(12345):00,09,12\r\n"
                   u"\"None\"=hex(0):00,09\r\n"
                   u"\"Q\"=hex(b):08,07,06,05,04,03,02,01\r\n"));
}

TEST_F(RegBackupFileTest, ContinuationLinesHold25Bytes) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Long"));
  std::vector<uint8_t> bytes(22 + 25 + 25 + 3, 0xCD);
  file->WriteValue(u"Data", bytes.data(), static_cast<int32_t>(bytes.size()), platform::kRegBinary);
  file->Close();
  const std::string text = ReadBytes(Path(u"Long"));
  std::u16string body;
  for (size_t i = Golden(Header(u"Long")).size(); i + 1 < text.size(); i += 2)
    body.push_back(static_cast<char16_t>(static_cast<uint8_t>(text[i]) |
                                         static_cast<uint8_t>(text[i + 1]) << 8));
  std::vector<size_t> perLine;
  size_t start = 0;
  for (size_t end; (end = body.find(u"\r\n", start)) != std::u16string::npos; start = end + 2) {
    const std::u16string line = body.substr(start, end - start);
    perLine.push_back(std::count(line.begin(), line.end(), u'c'));
    EXPECT_LE(line.size(), 80u) << "no line passes column 80";
  }
  EXPECT_EQ(perLine, (std::vector<size_t>{22, 25, 25, 3}));
}

TEST_F(RegBackupFileTest, ExpandableAndMultiStringsGetAReadableComment) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Strings"));
  const std::u16string expand = u"%TEMP%\\a";  // 18 bytes: one line
  file->WriteValue(u"E", Data(expand), static_cast<int32_t>((expand.size() + 1) * 2),
                   platform::kRegExpandSz);
  const char16_t multi[] = {u'a', 0, u'b', 0, 0};
  file->WriteValue(u"M", reinterpret_cast<const uint8_t*>(multi), 10, platform::kRegMultiSz);
  const char16_t control[] = {u'x', 9, u'y', 0};
  file->WriteValue(u"C", reinterpret_cast<const uint8_t*>(control), 8, platform::kRegMultiSz);
  file->Close();

  std::u16string expandHex;
  for (size_t i = 0; i <= expand.size(); ++i) {
    const char16_t digits[] = u"0123456789abcdef";
    const char16_t c = i < expand.size() ? expand[i] : 0;
    expandHex += std::u16string{digits[(c >> 4) & 15], digits[c & 15]} + u",00";
    if (i < expand.size()) expandHex += u",";
  }
  EXPECT_EQ(ReadBytes(Path(u"Strings")),
            Golden(Header(u"Strings") + u"; expand: \"%TEMP%\\\\a\"\r\n\"E\"=hex(2):" + expandHex +
                   u"\r\n"
                   u"; multi: \"a; b; ; \"\r\n"
                   u"\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                   u"; multi: \"x.y; \"\r\n"
                   u"\"C\"=hex(7):78,00,09,00,79,00,00,00\r\n"));
}

TEST_F(RegBackupFileTest, KeyTreeExportWithItsSubkeysSkippingWow6432Node) {
  platform::memory::MemoryRegistry registry;
  ASSERT_TRUE(registry
                  .LoadHiveText(platform::memory::kMachineHive,
                                "WINE REGISTRY Version 2\n"
                                "[Software\\\\Abc]\n@=\"default\"\n\"N\"=dword:00000007\n"
                                "[Software\\\\Abc\\\\Sub]\n\"B\"=hex:01,02\n"
                                "[Software\\\\Abc\\\\Wow6432Node\\\\Hidden]\n\"H\"=\"h\"\n")
                  .empty());
  SetEngineRegistry(&registry);
  Is64BitOs = true;
  IsWow64 = true;
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Tree"));
  const size_t written =
      BackupKeyTree(kHkeyLocalMachine, u"Software\\Abc", ReadAccessMask(), file.get());
  // The same key again in the same file: a repeated section.
  BackupKeyTree(kHkeyLocalMachine, u"Software\\Abc\\Sub", ReadAccessMask(), file.get());
  file->Close();
  const std::u16string body =
      u"\r\n[HKEY_LOCAL_MACHINE]\r\n"
      u"\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"
      u"\r\n[HKEY_LOCAL_MACHINE\\Software\\Abc]\r\n"
      u"@=\"default\"\r\n"
      u"\"N\"=dword:00000007\r\n"
      u"\r\n[HKEY_LOCAL_MACHINE\\Software\\Abc\\Sub]\r\n"
      u"\"B\"=hex:01,02\r\n";
  EXPECT_EQ(written, body.size());
  EXPECT_EQ(ReadBytes(Path(u"Tree")),
            Golden(Header(u"Tree") + body +
                   u"\r\n[HKEY_LOCAL_MACHINE\\Software\\Abc\\Sub]\r\n"
                   u"; this is the second section with the same name!!!\r\n"
                   u"\"B\"=hex:01,02\r\n"));
  EXPECT_EQ(BackupKeyTree(kHkeyLocalMachine, u"Software\\Abc", ReadAccessMask(), nullptr), 0u);
}

TEST_F(RegBackupFileTest, FlushPutsTheBackupOnDiskBeforeTheDelete) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Early"));
  BackupValue(kHkeyLocalMachine, u"A", u"v", Data(u"1"), 4, platform::kRegSz, file.get());
  EXPECT_EQ(ReadBytes(Path(u"Early")), "") << "still in the buffer";
  EXPECT_TRUE(file->Flush());
  const std::u16string expected =
      Header(u"Early") +
      u"\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"\r\n";
  EXPECT_EQ(ReadBytes(Path(u"Early")), Golden(expected));
  file->Close();
  EXPECT_EQ(ReadBytes(Path(u"Early")), Golden(expected)) << "nothing written twice";
}

TEST_F(RegBackupFileTest, SmallBufferWritesOutAsItFills) {
  RegBackupFile file(Path(u"Small"), 64);
  file.WriteHeader();
  for (int i = 0; i < 20; ++i)
    file.WriteValue(u"Name", Data(u"a longer text than the buffer holds at once"), 88,
                    platform::kRegSz);
  file.Close();
  std::u16string expected = Header(u"Small");
  for (int i = 0; i < 20; ++i)
    expected += u"\"Name\"=\"a longer text than the buffer holds at once\"\r\n";
  EXPECT_EQ(ReadBytes(Path(u"Small")), Golden(expected));
}

TEST_F(RegBackupFileTest, DiscardLeavesNoFile) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Empty"));
  file->Discard();
  EXPECT_EQ(ReadBytes(Path(u"Empty")), "<missing>");
  // Writes after that do nothing.
  EXPECT_EQ(file->WriteValue(u"x", nullptr, 0, platform::kRegBinary), 0u);
  file.reset();
  EXPECT_EQ(ReadBytes(Path(u"Empty")), "<missing>");
}

TEST_F(RegBackupFileTest, AFileThatCannotBeOpenedWritesNothing) {
  std::unique_ptr<RegBackupFile> file(
      OpenBackupFile(folder_.path() + u"\\no\\such\\folder", u"Lost"));
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(file->isOpen());
  EXPECT_EQ(file->WriteValue(u"x", Data(u"y"), 4, platform::kRegSz), 0u);
  EXPECT_FALSE(file->Flush());
  file->Close();
}

TEST(ChainedStringListWTest, FindsTheFirstEqualTextIgnoringCase) {
  ChainedStringListW list;
  list.Add(u"HKEY_LOCAL_MACHINE\\Software", 1);
  list.Add(u"HKEY_LOCAL_MACHINE\\SOFTWARE", 2);
  EXPECT_EQ(list.Find(u"hkey_local_machine\\software"), 0);
  EXPECT_EQ(list.Find(u"HKEY_LOCAL_MACHINE\\Softwar"), -1);
  list.Clear();
  EXPECT_EQ(list.Find(u"HKEY_LOCAL_MACHINE\\Software"), -1);
}

// The restore batch for each kind of machine.
class RestoreBatchTest : public RegBackupFileTest {
 protected:
  std::string Write() {
    RegCleanerEngine engine;
    engine.resourceModule = OwnResourceModule();
    engine.runBackupFolder = folder_.path();
    written_ = WriteRestoreBatch(engine);
    return ReadBytes(folder_.File(u"Restore Function.bat"));
  }
  size_t written_ = 0;
};

TEST_F(RestoreBatchTest, EachOsLevelAndBitness) {
  const std::string prompt =
      "CHOICE /T 28 /D N /M \"Start restore function?\"\r\n\r\n"
      "IF ERRORLEVEL 2 GOTO END\r\n\r\n";
  const std::string start = "@ECHO off\r\n";
  const std::string dates = "DATE /T >> Result.txt\r\nTIME /T >> Result.txt\r\n";
  const std::string end = ":END\r\n\r\n@ECHO on\r\n\r\n";
  // The same on every machine: the batch picks the command processor.
  const std::string import =
      "SET \"RESTORE_CMD=%SystemRoot%\\System32\\cmd.exe\"\r\n"
      "IF EXIST \"%SystemRoot%\\sysnative\\cmd.exe\" "
      "SET \"RESTORE_CMD=%SystemRoot%\\sysnative\\cmd.exe\"\r\n"
      "\"%RESTORE_CMD%\" /D /C \"FOR /R %%G IN (*.reg) DO reg import \"%%G\"\" >> "
      "Result.txt\r\n\r\n";
  struct Case {
    int level;
    bool is64;
    bool prompts;
  } cases[] = {{0, false, false}, {1, false, false}, {2, false, false}, {2, true, false},
               {3, false, true},  {3, true, true},   {4, false, true},  {4, true, true}};
  for (const Case& c : cases) {
    OsLevel = c.level;
    Is64BitOs = c.is64;
    const std::string expected = start + (c.prompts ? prompt : "") + dates + import + end;
    EXPECT_EQ(Write(), expected) << "level " << c.level << (c.is64 ? " 64-bit" : " 32-bit");
    EXPECT_EQ(written_, expected.size());
  }
}

// The batch run as a person runs it, from its run folder (whose name holds a
// blank), by Windows' own cmd and reg: the backed-up tree comes back whole.
TEST_F(RestoreBatchTest, RunByCmdItRestoresTheBackup) {
#ifndef _WIN32
  GTEST_SKIP() << "needs Windows' cmd.exe and reg.exe: runs under wine64 only";
#else
  platform::Registry* reg = platform::Registry::Default();
  platform::FileSystem* fs = platform::FileSystem::Default();
  const std::u16string path = u"Software\\RegcleanBatchWineTest";
  platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0);
  for (const std::u16string& key : {path, path + u"\\Sub Key"}) {
    platform::HKey handle;
    ASSERT_EQ(reg->RegCreateKeyExW(platform::kHkeyCurrentUser, key, 0, platform::kKeyAllAccess,
                                   &handle, nullptr),
              0u);
    const std::u16string data = u"C:\\Program Files\\x y\\z.dll";
    reg->RegSetValueExW(handle, u"a value", platform::kRegSz,
                        reinterpret_cast<const uint8_t*>(data.c_str()),
                        static_cast<uint32_t>(data.size() + 1) * 2);
    reg->RegCloseKey(handle);
  }
  const platform::RegExportResult before =
      platform::ExportRegFile(reg, platform::kHkeyCurrentUser, path, 0);
  ASSERT_EQ(before.error, 0u);
  const std::u16string run = folder_.path() + u"\\2026-12-06 05-45-08";
  ASSERT_TRUE(fs->CreateDirectory(run));
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(run, u"UninstallInvalidProblems"));
  ASSERT_GT(BackupKeyTree(platform::kHkeyCurrentUser, path, ReadAccessMask(), file.get()), 0u);
  file->Close();
  RegCleanerEngine engine;
  engine.resourceModule = OwnResourceModule();
  engine.runBackupFolder = run;
  ASSERT_GT(WriteRestoreBatch(engine), 0u);
  ASSERT_EQ(platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0), 0u);

  platform::System* system = platform::System::Default();
  uint32_t error = 0;
  platform::ProcessHandle process = system->CreateProcess(
      u"cmd.exe /D /C \"\"" + run + u"\\Restore Function.bat\"\"", run, true, false, &error);
  ASSERT_NE(process, nullptr) << error;
  uint32_t code = platform::kStillActive;
  for (int i = 0;
       i < 600 && system->GetExitCodeProcess(process, &code) && code == platform::kStillActive; ++i)
    system->Sleep(100);
  system->CloseProcessHandle(process);
  EXPECT_EQ(code, 0u);
  const platform::RegExportResult after =
      platform::ExportRegFile(reg, platform::kHkeyCurrentUser, path, 0);
  EXPECT_EQ(after.bytes, before.bytes) << ReadBytes(run + u"\\Result.txt");
  platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0);
#endif
}

TEST_F(RestoreBatchTest, AnEarlierLongerBatchIsReplacedWhole) {
  engine_test::WriteBytes(folder_.File(u"Restore Function.bat"), std::string(5000, 'x'));
  OsLevel = 2;
  const std::string text = Write();
  EXPECT_TRUE(text.starts_with("@ECHO off\r\n"));
  EXPECT_EQ(text.find("xx"), std::string::npos);
  EXPECT_EQ(text.size(), written_);
}

}  // namespace

namespace {

// What a backup writes, imported again, gives back the tree exactly: every
// value type, default values, names with quotes and backslashes. (The backup
// format writes a REG_SZ as text up to its first NUL and a REG_DWORD as
// dword:, so only malformed strings and DWORDs of another length than 4
// bytes come back changed.)
TEST_F(RegBackupFileTest, ImportingTheBackupRestoresTheDeletedTree) {
  platform::memory::MemoryRegistry registry;
  ASSERT_TRUE(
      registry
          .LoadHiveText(
              platform::memory::kMachineHive,
              "WINE REGISTRY Version 2\n"
              "[Software\\\\Gone]\n@=\"default text\"\n"
              "\"Quote\\\"d\"=\"a \\\"b\\\" c\\\\d\"\n"
              "\"Expand\"=str(2):\"%SystemRoot%\\\\x.dll\"\n"
              "\"Multi\"=str(7):\"one\\0two\\0\"\n"
              "\"Count\"=dword:0000002a\n"
              "\"Big\"=hex(b):01,02,03,04,05,06,07,08\n"
              "\"Bin\"=hex:00,ff,10\n"
              "\"None\"=hex(0):\n"
              "\"Back\\\\slash\"=dword:00000201\n"
              "[Software\\\\Gone\\\\Child]\n\"Path\"=\"C:\\\\Program Files\\\\Gone\\\\gone.exe\"\n"
              "[Software\\\\Gone\\\\Child\\\\Leaf]\n")
          .empty());
  SetEngineRegistry(&registry);
  Is64BitOs = true;
  IsWow64 = true;
  // Data the quoted forms would change: a megabyte of text, a NUL inside,
  // line breaks, no final NUL; a dword of three bytes.
  platform::HKey gone;
  ASSERT_EQ(registry.RegOpenKeyExW(kHkeyLocalMachine, u"Software\\Gone", 0, 0xF003F | 0x100, &gone),
            0u);
  for (const auto& [name, text] : AwkwardStrings())
    ASSERT_EQ(registry.RegSetValueExW(gone, name, platform::kRegSz, Data(text),
                                      static_cast<uint32_t>(text.size() * 2)),
              0u);
  ASSERT_EQ(registry.RegSetValueExW(gone, u"Short", platform::kRegDword, Data(u"ab"), 3), 0u);
  registry.RegCloseKey(gone);
  const platform::RegExportResult before =
      platform::ExportRegFile(&registry, kHkeyLocalMachine, u"Software\\Gone", 0x100);
  ASSERT_EQ(before.error, 0u);
  ASSERT_TRUE(before.problems.empty());

  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"RoundTrip"));
  ASSERT_GT(BackupKeyTree(kHkeyLocalMachine, u"Software\\Gone", ReadAccessMask(), file.get()), 0u);
  file->Close();
  DeleteKeyTree(kHkeyLocalMachine, u"Software\\Gone", ReadAccessMask());
  ASSERT_NE(registry.RegOpenKeyExW(kHkeyLocalMachine, u"Software\\Gone", 0, 0x20119, &gone), 0u);

  const platform::RegImportResult imported =
      platform::ImportRegFile(&registry, ReadBytes(Path(u"RoundTrip")), 0x100);
  EXPECT_TRUE(imported.recognized);
  for (const auto& problem : imported.problems)
    ADD_FAILURE() << "line " << problem.line << ": " << problem.message;
  const platform::RegExportResult after =
      platform::ExportRegFile(&registry, kHkeyLocalMachine, u"Software\\Gone", 0x100);
  ASSERT_EQ(after.error, 0u);
  EXPECT_EQ(after.bytes, before.bytes);
}

}  // namespace

namespace {

// Windows' own importer (reg.exe, under wine64) reads a backup back too.
TEST_F(RegBackupFileTest, RegExeRestoresABackup) {
#ifndef _WIN32
  GTEST_SKIP() << "needs Windows' reg.exe: runs under wine64 only";
#else
  platform::Registry* reg = platform::Registry::Default();
  const std::u16string path = u"Software\\RegcleanBackupWineTest";
  platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0);
  auto set = [&](const std::u16string& key, std::u16string_view name, uint32_t type,
                 std::string_view bytes) {
    platform::HKey handle;
    uint32_t disposition = 0;
    ASSERT_EQ(reg->RegCreateKeyExW(platform::kHkeyCurrentUser, key, 0, platform::kKeyAllAccess,
                                   &handle, &disposition),
              0u);
    reg->RegSetValueExW(handle, name, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                        static_cast<uint32_t>(bytes.size()));
    reg->RegCloseKey(handle);
  };
  auto units = [](std::u16string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  };
  set(path, u"", platform::kRegSz, units(std::u16string(u"default\0", 8)));
  set(path, u"q\"uo\\te", platform::kRegSz, units(std::u16string(u"C:\\x \"y\"\0", 9)));
  set(path, u"expand", platform::kRegExpandSz, units(std::u16string(u"%SystemRoot%\\a\0", 15)));
  set(path, u"multi", 7, units(std::u16string(u"a\0b\0\0", 5)));
  set(path, u"dword", platform::kRegDword, std::string("\xff\x00\x00\x00", 4));
  set(path, u"bin", 3, std::string("\x01\x02\x03", 3));
  set(path + u"\\Sub", u"x", platform::kRegSz, units(std::u16string(u"\x00e9\0", 2)));
  for (const auto& [name, text] : AwkwardStrings()) set(path, name, platform::kRegSz, units(text));
  set(path, u"Short", platform::kRegDword, std::string("\x01\x02\x03", 3));
  const platform::RegExportResult before =
      platform::ExportRegFile(reg, platform::kHkeyCurrentUser, path, 0);
  ASSERT_EQ(before.error, 0u);

  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"WineRoundTrip"));
  ASSERT_GT(BackupKeyTree(platform::kHkeyCurrentUser, path, ReadAccessMask(), file.get()), 0u);
  file->Close();
  ASSERT_EQ(platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0), 0u);
  const uint32_t run =
      RunProcess(platform::FileSystem::Default()->GetSystemDirectory() + u"\\reg.exe",
                 u"import \"" + Path(u"WineRoundTrip") + u"\"", 0, true, 30000, nullptr);
  EXPECT_EQ(run, 0u);
  const platform::RegExportResult after =
      platform::ExportRegFile(reg, platform::kHkeyCurrentUser, path, 0);
  EXPECT_EQ(after.bytes, before.bytes);
  platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0);
#endif
}

}  // namespace

namespace {

// A name a .reg file cannot carry keeps its entry: nothing is deleted that a
// restore would bring back under another name, or not at all.
TEST_F(RegBackupFileTest, ANameTheFormatCannotCarryKeepsItsEntry) {
  platform::memory::MemoryRegistry registry;
  ASSERT_TRUE(registry
                  .LoadHiveText(platform::memory::kMachineHive,
                                "WINE REGISTRY Version 2\n"
                                "[Software\\\\Odd]\n\"line\\nbreak\"=\"v\"\n\"plain\"=\"v\"\n"
                                "[Software\\\\Odd\\\\a\\rb]\n\"x\"=\"y\"\n")
                  .empty());
  SetEngineRegistry(&registry);
  RegCleanerEngine engine;
  engine.ignoreList = std::make_unique<BufferedStringListW>("IgnoreList", 16);
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Odd"));
  platform::HKey odd;
  ASSERT_EQ(registry.RegOpenKeyExW(kHkeyLocalMachine, u"Software\\Odd", 0, 0xF003F, &odd), 0u);
  EXPECT_FALSE(ActOnProblemValue(&engine, kHkeyLocalMachine, u"Software\\Odd", odd, u"line\nbreak",
                                 Data(u"v"), 4, platform::kRegSz, BackupAndClean, file.get()));
  EXPECT_FALSE(ActOnProblemKey(&engine, kHkeyLocalMachine, u"Software\\Odd\\a\rb", 0xF003F, 0xF003F,
                               BackupAndClean, file.get()));
  EXPECT_TRUE(ActOnProblemValue(&engine, kHkeyLocalMachine, u"Software\\Odd", odd, u"plain",
                                Data(u"v"), 4, platform::kRegSz, BackupAndClean, file.get()));
  EXPECT_EQ(engine.runFailures, 2u);
  EXPECT_EQ(registry.RegQueryValueExW(odd, u"line\nbreak", nullptr, nullptr, nullptr), 0u);
  EXPECT_NE(registry.RegQueryValueExW(odd, u"plain", nullptr, nullptr, nullptr), 0u);
  platform::HKey child;
  EXPECT_EQ(registry.RegOpenKeyExW(odd, u"a\rb", 0, 0x20019, &child), 0u);
  registry.RegCloseKey(child);
  registry.RegCloseKey(odd);
  file->Close();
  // Only the value that went is in the backup.
  const std::string backup = ReadBytes(Path(u"Odd"));
  EXPECT_NE(backup.find(engine_test::Utf16Le(u"\"plain\"=\"v\"")), std::string::npos);
  EXPECT_EQ(backup.find(engine_test::Utf16Le(u"\"x\"")), std::string::npos);
}

}  // namespace
