// Backup files byte for byte (sections, value forms, hex wrap, key trees) and the restore batch.
#include "modules/RegistryCleanerModule/dll/reg_backup_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

const uint8_t* Data(std::u16string_view t) { return reinterpret_cast<const uint8_t*>(t.data()); }

// Makes a tree of every type, quotes and backslashes in names, REG_SZ only hex carries and a dword
// of three bytes, and backs it up into folder\name.reg; the tree's export.
std::string BackUpTreeOfEveryValue(platform::Registry* reg, platform::HKey root,
                                   const std::u16string& path, uint32_t view,
                                   const std::u16string& folder, std::u16string_view name) {
  auto set = [&](const std::u16string& key, std::u16string_view name, uint32_t type,
                 std::u16string_view text, size_t bytes = 0) {
    platform::HKey handle;
    reg->RegCreateKeyExW(root, key, 0, platform::kKeyAllAccess | view, &handle, nullptr);
    if (type != platform::kRegNone || !name.empty())
      reg->RegSetValueExW(handle, name, type, Data(text),
                          static_cast<uint32_t>(bytes ? bytes : text.size() * 2));
    reg->RegCloseKey(handle);
  };
  set(path, u"", platform::kRegSz, std::u16string(u"default\0", 8));
  set(path, u"q\"uo\\te", platform::kRegSz, std::u16string(u"C:\\x \"y\"\0", 9));
  set(path, u"expand", platform::kRegExpandSz, std::u16string(u"%SystemRoot%\\a\0", 15));
  set(path, u"multi", platform::kRegMultiSz, std::u16string(u"a\0b\0\0", 5));
  set(path, u"dword", platform::kRegDword, u"\x00ff\0", 4);
  set(path, u"back\\slash", platform::kRegBinary, u"\x0201\x0003", 3);
  set(path, u"qword", platform::kRegQword, u"\x0201\x0403\x0605\x0807");
  set(path, u"none", platform::kRegNone, u"");
  set(path, u"Big", platform::kRegSz, std::u16string(524287, u'x') + u'\0');
  set(path, u"Zero", platform::kRegSz, std::u16string(u"ab\0cd\0", 6));
  set(path, u"Lines", platform::kRegSz, std::u16string(u"one\r\ntwo\nthree\0", 15));
  set(path, u"Short", platform::kRegDword, u"ab", 3);
  set(path + u"\\Sub Key", u"x", platform::kRegSz, std::u16string(u"\x00e9\0", 2));
  set(path + u"\\Sub Key\\Leaf", u"", platform::kRegNone, u"");  // a key without values
  const platform::RegExportResult tree = platform::ExportRegFile(reg, root, path, view);
  EXPECT_EQ(tree.error, 0u);
  EXPECT_TRUE(tree.problems.empty());
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder, name));
  EXPECT_GT(BackupKeyTree(root, path, ReadAccessMask(), file.get()), 0u);
  file->Close();
  return tree.bytes;
}

// Bytes from..to of a value of size bytes as a backup writes them.
std::u16string Hex(const uint8_t* bytes, int from, int to, int size) {
  const char16_t digits[] = u"0123456789abcdef";
  std::u16string text;
  for (int i = from; i < to; ++i)
    text +=
        std::u16string{digits[bytes[i] >> 4], digits[bytes[i] & 15]} + (i < size - 1 ? u"," : u"");
  return text;
}

class RegBackupFileTest : public testing::Test {
 protected:
  void SetUp() override {
    BackupValue(kHkeyLocalMachine, u"", nullptr, nullptr, 0, 0, nullptr);  // forget sections
  }
  std::u16string Path(std::u16string_view category) const {
    return folder_.path() + u"\\" + std::u16string(category) + u".reg";
  }
  // The restore batch written into folder; its bytes.
  std::string WriteBatch(const std::u16string& folder = {}) {
    RegCleanerEngine engine;
    engine.resourceModule = OwnResourceModule();
    engine.runBackupFolder = folder.empty() ? folder_.path() : folder;
    written_ = WriteRestoreBatch(engine);
    return ReadBytes(engine.runBackupFolder + u"\\Restore Function.bat");
  }
  std::u16string Header(std::u16string_view category) const {
    std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n; backup file: \"" + Path(category) + u"\"\r\n";
    if (Is64BitOs) text += u"; to restore this backup, please import the file in regedt32.exe\r\n";
    return text + u"; company: CORVANE product: Brightdeck module: RegCleanerDll build: 612\r\n";
  }

  // The engine's registry holding hive; by default a 64-bit machine seen by the 32-bit module.
  platform::memory::MemoryRegistry& Machine(const char* hive, bool wow64 = true) {
    EXPECT_TRUE(registry_.LoadHiveText(platform::memory::kMachineHive, hive).empty());
    SetEngineRegistry(&registry_);
    Is64BitOs = IsWow64 = wow64;
    return registry_;
  }

  TempFolder folder_;
  size_t written_ = 0;
  engine_test::FactsScope facts_{false, false, 2};
  platform::memory::MemoryRegistry registry_;
};

TEST_F(RegBackupFileTest, SectionsOfAncestorsOnceThenValueLines) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Values"));
  EXPECT_TRUE(file->headerWritten());
  const std::u16string path = u"C:\\Program Files\\Abc\\abc.dll";
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Abc", u"Path", Data(path),
              static_cast<int32_t>((path.size() + 1) * 2), platform::kRegSz, file.get());
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Abc", u"Count", Data(u"\x00ff\0"), 4,
              platform::kRegDword, file.get());
  // Another key of the same file: only its own section is new.
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Def", u"", Data(u"\x0001\0"), 4, platform::kRegDword,
              file.get());
  BackupValue(kHkeyLocalMachine, u"SOFTWARE\\Def", nullptr, nullptr, 0, platform::kRegDword,
              file.get());
  // The first key again: a repeated section. Text with a line break goes as exact bytes.
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

// The hexadecimal forms and their wrap; expandable and multi-strings get a readable comment.
TEST_F(RegBackupFileTest, HexadecimalFormsAndTheirWrap) {
  std::unique_ptr<RegBackupFile> file(OpenBackupFile(folder_.path(), u"Hex"));
  uint8_t bytes[50];
  for (int i = 0; i < 50; ++i) bytes[i] = static_cast<uint8_t>(i * 9);
  // "Data"=hex: takes 22 bytes, then wraps; each continuation line takes 25.
  file->WriteValue(u"Data", bytes, 50, platform::kRegBinary);
  // The default value's prefix is shorter ("@=hex:", 6 characters): 24 bytes.
  file->WriteValue(u"", bytes, 30, platform::kRegBinary);
  // A prefix of 77 characters or more never wraps.
  const std::u16string longName(80, u'n');
  file->WriteValue(longName.c_str(), bytes, 30, platform::kRegBinary);
  file->WriteValue(u"Nothing", nullptr, 0, platform::kRegBinary);
  file->WriteValue(u"Odd", bytes, 3, 0x12345);  // an unknown type
  file->WriteValue(u"None", bytes, 2, platform::kRegNone);
  file->WriteValue(u"Q", Data(u"\x0708\x0506\x0304\x0102"), 8, platform::kRegQword);
  const std::u16string expand = u"%TEMP%\\a";  // 18 bytes: one line
  file->WriteValue(u"E", Data(expand), 18, platform::kRegExpandSz);
  file->WriteValue(u"M", Data(std::u16string_view(u"a\0b\0", 5)), 10, platform::kRegMultiSz);
  file->WriteValue(u"C", Data(u"x\ty"), 8, platform::kRegMultiSz);
  file->Close();

  auto hex = [&](int from, int to, int size) { return Hex(bytes, from, to, size); };
  EXPECT_EQ(
      ReadBytes(Path(u"Hex")),
      Golden(Header(u"Hex") + u"\"Data\"=hex:" + hex(0, 22, 50) + u"\\\r\n  " + hex(22, 47, 50) +
             u"\\\r\n  " + hex(47, 50, 50) + u"\r\n@=hex:" + hex(0, 24, 30) + u"\\\r\n  " +
             hex(24, 30, 30) + u"\r\n\"" + longName + u"\"=hex:" + hex(0, 30, 30) + u"\r\n" +
             u"\"Nothing\"=hex:\r\n"
             u"\"Odd\"=hex(12345):00,09,12\r\n"
             u"\"None\"=hex(0):00,09\r\n"
             u"\"Q\"=hex(b):08,07,06,05,04,03,02,01\r\n"
             u"; expand: \"%TEMP%\\\\a\"\r\n\"E\"=hex(2):" +
             Hex(Data(expand), 0, 18, 18) +
             u"\r\n; multi: \"a; b; ; \"\r\n\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
             u"; multi: \"x.y; \"\r\n\"C\"=hex(7):78,00,09,00,79,00,00,00\r\n"));
}

TEST_F(RegBackupFileTest, KeyTreeExportWithItsSubkeysSkippingWow6432Node) {
  Machine(
      "WINE REGISTRY Version 2\n[Software\\\\Abc]\n@=\"default\"\n\"N\"=dword:00000007\n"
      "[Software\\\\Abc\\\\Sub]\n\"B\"=hex:01,02\n"
      "[Software\\\\Abc\\\\Wow6432Node\\\\Hidden]\n\"H\"=\"h\"\n");
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

TEST_F(RegBackupFileTest, FlushPutsTheBackupOnDiskBeforeTheDeleteAndDiscardWritesNothing) {
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
  // A discarded file, or one that cannot be opened, writes nothing.
  file.reset(OpenBackupFile(folder_.path(), u"Empty"));
  file->Discard();
  EXPECT_EQ(ReadBytes(Path(u"Empty")), "<missing>");
  EXPECT_EQ(file->WriteValue(u"x", nullptr, 0, platform::kRegBinary), 0u);
  file.reset(OpenBackupFile(folder_.path() + u"\\no\\such\\folder", u"Lost"));
  EXPECT_EQ(ReadBytes(Path(u"Empty")), "<missing>") << "nor when it ends";
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(file->isOpen());
  EXPECT_EQ(file->WriteValue(u"x", Data(u"y"), 4, platform::kRegSz), 0u);
  EXPECT_FALSE(file->Flush());
  file->Close();
}

TEST_F(RegBackupFileTest, RestoreBatchOfEachOsLevelAndBitness) {
  // From Vista on the batch asks first; it picks the command processor when it runs.
  const std::string prompt =
      "CHOICE /T 28 /D N /M \"Start restore function?\"\r\n\r\nIF ERRORLEVEL 2 GOTO END\r\n\r\n";
  const std::string rest =
      "DATE /T >> Result.txt\r\nTIME /T >> Result.txt\r\n"
      "SET \"RESTORE_CMD=%SystemRoot%\\System32\\cmd.exe\"\r\n"
      "IF EXIST \"%SystemRoot%\\sysnative\\cmd.exe\" "
      "SET \"RESTORE_CMD=%SystemRoot%\\sysnative\\cmd.exe\"\r\n"
      "\"%RESTORE_CMD%\" /D /C \"FOR /R %%G IN (*.reg) DO reg import \"%%G\"\" >> "
      "Result.txt\r\n\r\n:END\r\n\r\n@ECHO on\r\n\r\n";
  // An earlier, longer batch is replaced whole.
  engine_test::WriteBytes(folder_.File(u"Restore Function.bat"), std::string(5000, 'x'));
  for (int level = 0; level <= 4; ++level) {
    for (bool is64 : {false, true}) {
      OsLevel = level;
      Is64BitOs = is64;
      const std::string expected = "@ECHO off\r\n" + (level >= 3 ? prompt : "") + rest;
      EXPECT_EQ(WriteBatch(), expected) << "level " << level << (is64 ? " 64-bit" : " 32-bit");
      EXPECT_EQ(written_, expected.size());
    }
  }
}

// Run by Windows' own cmd and reg from its run folder (a blank in its name): the tree is back.
TEST_F(RegBackupFileTest, RestoreBatchRunByCmdRestoresTheBackup) {
#ifndef _WIN32
  GTEST_SKIP() << "needs Windows' cmd.exe and reg.exe: runs under wine64 only";
#else
  platform::Registry* reg = platform::Registry::Default();
  const std::u16string path = u"Software\\RegcleanBatchWineTest";
  platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0);
  const std::u16string run = folder_.path() + u"\\2026-12-06 05-45-08";
  ASSERT_TRUE(platform::FileSystem::Default()->CreateDirectory(run));
  const std::string before = BackUpTreeOfEveryValue(reg, platform::kHkeyCurrentUser, path, 0, run,
                                                    u"UninstallInvalidProblems");
  ASSERT_GT(WriteBatch(run).size(), 0u);
  ASSERT_EQ(platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0), 0u);

  // The batch imports what it finds below the folder it runs in.
  platform::System* system = platform::System::Default();
  uint32_t code = 0;
  platform::ProcessHandle process = system->CreateProcess(
      u"cmd.exe /D /C \"\"" + run + u"\\Restore Function.bat\"\"", run, true, false, &code);
  ASSERT_NE(process, nullptr) << code;
  code = platform::kStillActive;
  for (int i = 0;
       i < 600 && system->GetExitCodeProcess(process, &code) && code == platform::kStillActive; ++i)
    system->Sleep(100);
  system->CloseProcessHandle(process);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(platform::ExportRegFile(reg, platform::kHkeyCurrentUser, path, 0).bytes, before)
      << ReadBytes(run + u"\\Result.txt");
  platform::DeleteKeyTree(reg, platform::kHkeyCurrentUser, path, 0);
#endif
}

// What a backup writes, imported again, gives back the tree exactly.
TEST_F(RegBackupFileTest, ImportingTheBackupRestoresTheDeletedTree) {
  platform::memory::MemoryRegistry& registry = Machine("WINE REGISTRY Version 2\n");
  const std::string before = BackUpTreeOfEveryValue(&registry, kHkeyLocalMachine, u"Software\\Gone",
                                                    0x100, folder_.path(), u"RoundTrip");
  DeleteKeyTree(kHkeyLocalMachine, u"Software\\Gone", ReadAccessMask());
  platform::HKey gone;
  ASSERT_NE(registry.RegOpenKeyExW(kHkeyLocalMachine, u"Software\\Gone", 0, 0x20119, &gone), 0u);

  const platform::RegImportResult imported =
      platform::ImportRegFile(&registry, ReadBytes(Path(u"RoundTrip")), 0x100);
  EXPECT_TRUE(imported.recognized);
  for (const auto& problem : imported.problems)
    ADD_FAILURE() << "line " << problem.line << ": " << problem.message;
  const platform::RegExportResult after =
      platform::ExportRegFile(&registry, kHkeyLocalMachine, u"Software\\Gone", 0x100);
  ASSERT_EQ(after.error, 0u);
  EXPECT_EQ(after.bytes, before);
}

// A name a .reg file cannot carry keeps its entry: a restore could not bring it back.
TEST_F(RegBackupFileTest, ANameTheFormatCannotCarryKeepsItsEntry) {
  platform::memory::MemoryRegistry& registry = Machine(
      "WINE REGISTRY Version 2\n[Software\\\\Odd]\n\"line\\nbreak\"=\"v\"\n\"plain\"=\"v\"\n"
      "[Software\\\\Odd\\\\a\\rb]\n\"x\"=\"y\"\n",
      false);
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
