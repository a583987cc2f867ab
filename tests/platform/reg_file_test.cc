// .reg files: exact export, import rules and malformed lines, and Wine's reg.exe importing them.
#include "platform/reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/system_services.h"
#include "platform/file_system.h"
#include "platform/registry_paths.h"
#include "platform/system.h"
#include "platform/system_text.h"
#include "platform/unicode.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/engine/engine_test_support.h"
#include "tests/platform/registry_values.h"

namespace platform {
namespace {

std::vector<uint8_t> Units(std::u16string_view text) {
  const std::string bytes = engine_test::Utf16Le(text);
  return {bytes.begin(), bytes.end()};
}

// A UTF-16 LE file with its byte-order mark.
std::string Utf16File(std::u16string_view text) { return "\xFF\xFE" + engine_test::Utf16Le(text); }

std::u16string Utf16Text(const std::string& file) {
  if (!file.starts_with("\xFF\xFE")) return u"<no byte-order mark>";
  return std::u16string(reinterpret_cast<const char16_t*>(file.data() + 2), (file.size() - 2) / 2);
}

std::string HexOf(const std::vector<uint8_t>& bytes) {
  const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) out.append({digits[b >> 4], digits[b & 15]});
  return out;
}

void Set(Registry* reg, HKey root, std::u16string_view path, std::u16string_view name,
         uint32_t type, const std::vector<uint8_t>& data) {
  ASSERT_EQ(registry_test::SetValue(reg, root, path, name, type, data), kRegSuccess);
}

// The tree below a key as text, depth first: a line per key and per value (type and bytes).
std::string Dump(Registry* reg, HKey root, std::u16string_view path) {
  HKey key;
  if (reg->RegOpenKeyExW(root, path, 0, kKeyRead, &key) != kRegSuccess) return "<missing>";
  std::string out = "[" + U16ToUtf8(path) + "]\n";
  RegValue value;
  for (uint32_t i = 0; EnumValue(reg, key, i, &value) == kRegSuccess; ++i)
    out += "  " + U16ToUtf8(value.name) + " " + std::to_string(value.type) + ":" +
           HexOf(value.data) + "\n";
  std::u16string name;
  for (uint32_t i = 0; EnumKey(reg, key, i, &name) == kRegSuccess; ++i) out += Dump(reg, key, name);
  reg->RegCloseKey(key);
  return out;
}

// Fills HKCU\<t> with one value of every kind the format knows (but an odd-sized string).
void FillEveryType(Registry* reg, std::u16string_view t, bool oddString = true) {
  const HKey cu = kHkeyCurrentUser;
  Set(reg, cu, t, u"", kRegSz, Units(std::u16string(u"def\0", 4)));
  Set(reg, cu, t, u"none", kRegNone, {1, 2});
  Set(reg, cu, t, u"sz", kRegSz, Units(std::u16string(u"a\"b\\c\r\n\0", 8)));
  if (oddString) Set(reg, cu, t, u"sz-odd", kRegSz, {0x61, 0, 0x62});
  Set(reg, cu, t, u"sz-inner-nul", kRegSz, Units(std::u16string(u"a\0b\0", 4)));
  Set(reg, cu, t, u"sz-empty", kRegSz, {});
  Set(reg, cu, t, u"expand", kRegExpandSz, Units(std::u16string(u"%a%\0", 4)));
  std::vector<uint8_t> thirty;
  for (int i = 0; i < 30; ++i) thirty.push_back(static_cast<uint8_t>(i));
  Set(reg, cu, t, u"bin", kRegBinary, thirty);
  Set(reg, cu, t, u"bin-odd", kRegBinary, {0xab, 0xcd, 0xef});
  Set(reg, cu, t, u"dword", kRegDword, {0xff, 0, 0, 0});
  Set(reg, cu, t, u"dword-short", kRegDword, {1, 2});
  Set(reg, cu, t, u"big-endian", kRegDwordBigEndian, {0, 0, 1, 2});
  Set(reg, cu, t, u"multi", kRegMultiSz, Units(std::u16string(u"a\0b\0\0", 5)));
  Set(reg, cu, t, u"qword", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  Set(reg, cu, t, u"@", kRegSz, Units(std::u16string(u"at\0", 3)));
  Set(reg, cu, t, u"q\"uo\\te", kRegDword, {1, 0, 0, 0});
  Set(reg, cu, std::u16string(t) + u"\\Sub [1]", u"x", kRegSz,
      Units(std::u16string(u"\x00e9\x4e2d\0", 3)));
  HKey empty;
  ASSERT_EQ(
      reg->RegCreateKeyExW(cu, std::u16string(t) + u"\\Empty", 0, kKeyAllAccess, &empty, nullptr),
      kRegSuccess);
  reg->RegCloseKey(empty);
}

class RegFileTest : public testing::Test {
 protected:
  RegFileTest() {
    reg_.LoadHiveText(memory::kMachineHive, "WINE REGISTRY Version 2\n[Software\\\\Wow6432Node]\n");
  }

  RegImportResult Import(const std::string& bytes) { return ImportRegFile(&reg_, bytes, 0); }

  // Software\T, emptied, after a file that must read cleanly is imported.
  std::string ImportedTree(const std::string& bytes) {
    DeleteKeyTree(&reg_, kHkeyCurrentUser, u"Software\\T", 0);
    EXPECT_TRUE(Import(bytes).problems.empty());
    return Dump(&reg_, kHkeyCurrentUser, u"Software\\T");
  }

  memory::MemoryRegistry reg_;
};

TEST_F(RegFileTest, ExportWritesEveryTypeInTheEditorsForm) {
  FillEveryType(&reg_, u"Software\\T");
  const RegExportResult exported = ExportRegFile(&reg_, kHkeyCurrentUser, u"Software\\T", 0);
  ASSERT_EQ(exported.error, kRegSuccess);
  EXPECT_TRUE(exported.problems.empty());
  const std::u16string golden =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"[HKEY_CURRENT_USER\\Software\\T]\r\n"
      u"@=\"def\"\r\n"
      u"\"none\"=hex(0):01,02\r\n"
      u"\"sz\"=\"a\\\"b\\\\c\\r\\n\"\r\n"
      u"\"sz-odd\"=hex(1):61,00,62\r\n"
      u"\"sz-inner-nul\"=hex(1):61,00,00,00,62,00,00,00\r\n"
      u"\"sz-empty\"=hex(1):\r\n"
      u"\"expand\"=hex(2):25,00,61,00,25,00,00,00\r\n"
      u"\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
      u"  17,18,19,1a,1b,1c,1d\r\n"
      u"\"bin-odd\"=hex:ab,cd,ef\r\n"
      u"\"dword\"=dword:000000ff\r\n"
      u"\"dword-short\"=hex(4):01,02\r\n"
      u"\"big-endian\"=hex(5):00,00,01,02\r\n"
      u"\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      u"\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
      u"\"@\"=\"at\"\r\n"
      u"\"q\\\"uo\\\\te\"=dword:00000001\r\n"
      u"\r\n"
      u"[HKEY_CURRENT_USER\\Software\\T\\Empty]\r\n"
      u"\r\n"
      u"[HKEY_CURRENT_USER\\Software\\T\\Sub [1]]\r\n"
      u"\"x\"=\"\x00e9\x4e2d\"\r\n"
      u"\r\n";
  EXPECT_EQ(U16ToUtf8(Utf16Text(exported.bytes)), U16ToUtf8(golden));
}

// As Wine exports: a link key holds its target (a circle cut), REG_LINK is hex(6); NUL names fail.
TEST_F(RegFileTest, ExportFollowsLinksAndRefusesOnlyNulNames) {
  Set(&reg_, kHkeyCurrentUser, u"Software\\L", u"ok", kRegDword, {1, 0, 0, 0});
  Set(&reg_, kHkeyCurrentUser, u"Software\\L", u"link-value", kRegLink, Units(u"\\R"));
  Set(&reg_, kHkeyCurrentUser, u"Software\\L", std::u16string(u"nul\0name", 8), kRegDword,
      {1, 0, 0, 0});
  Set(&reg_, kHkeyLocalMachine, u"System\\Target\\Sub", u"t", kRegDword, {2, 0, 0, 0});
  auto makeLink = [&](std::u16string_view at, std::u16string_view to) {
    HKey link;
    ASSERT_EQ(reg_.RegCreateKeyExW(kHkeyCurrentUser, at, 2 /* create link */, kKeyAllAccess, &link,
                                   nullptr),
              kRegSuccess);
    const std::vector<uint8_t> target = Units(to);
    ASSERT_EQ(reg_.RegSetValueExW(link, u"SymbolicLinkValue", kRegLink, target.data(),
                                  static_cast<uint32_t>(target.size())),
              kRegSuccess);
    reg_.RegCloseKey(link);
  };
  makeLink(u"Software\\L\\Link", u"\\Registry\\Machine\\System\\Target");

  // The 64-bit view, as regclean reg exports.
  RegExportResult exported =
      ExportRegFile(&reg_, kHkeyCurrentUser, u"Software\\L", kKeyWow64_64Key);
  ASSERT_EQ(exported.error, kRegSuccess);
  ASSERT_EQ(exported.problems.size(), 1u);
  EXPECT_NE(exported.problems[0].find("containing NUL"), std::string::npos);
  EXPECT_EQ(U16ToUtf8(Utf16Text(exported.bytes)),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\L]\r\n"
            "\"ok\"=dword:00000001\r\n\"link-value\"=hex(6):5c,00,52,00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\L\\Link]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\L\\Link\\Sub]\r\n\"t\"=dword:00000002\r\n\r\n");
  // A link back to its own parent ends after a few rounds.
  makeLink(u"Software\\L\\Loop", u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\L");
  exported = ExportRegFile(&reg_, kHkeyCurrentUser, u"Software\\L", kKeyWow64_64Key);
  ASSERT_FALSE(exported.problems.empty());
  EXPECT_NE(exported.problems.back().find("symbolic links on the way"), std::string::npos)
      << exported.problems.back();
  EXPECT_EQ(ExportRegFile(&reg_, kHkeyCurrentUser, u"Software\\Missing", 0).error,
            kRegFileNotFound);
}

TEST_F(RegFileTest, LineEndsContinuationsAndFileVersionsReadAlike) {
  const std::string expected = "[Software\\T]\n  a 1:78000d000000\n  b 4:0a000000\n  c 3:010203\n";
  for (const char* end : {"\r\n", "\n", "\r"}) {
    const std::string e = end;
    const std::string text = "Windows Registry Editor Version 5.00" + e + e +
                             "[HKEY_CURRENT_USER\\Software\\T]" + e + "\"a\"=\"x\\r\"" + e +
                             "\"b\"=dword:a" + e + "\"c\"=hex:01,\\" + e + "  02,03" + e;
    EXPECT_EQ(ImportedTree(Utf16File(Utf8ToU16(text))), expected) << "UTF-16, end " << e;
    EXPECT_EQ(ImportedTree("REGEDIT4" + text.substr(36)), expected) << "REGEDIT4, end " << e;
  }
  // Continuations skip blank and comment lines; one cut off by the file's end keeps what it has.
  EXPECT_EQ(ImportedTree("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"a\"=hex:01, 02,\\ ; more\n"
                         "\n; a comment\n   03,\\\n  04\n\"b\"=hex:05,\\"),
            "[Software\\T]\n  a 3:01020304\n  b 3:05\n");
}

TEST_F(RegFileTest, StringTypesInHexFollowTheFilesEncoding) {
  // UTF-16: the bytes get their NUL; REGEDIT4: ANSI bytes, terminated and converted.
  EXPECT_EQ(ImportedTree(Utf16File(u"Windows Registry Editor Version 5.00\n[HKCU\\Software\\T]\n"
                                   u"\"e\"=hex(2):25,00,61,00\n\"m\"=hex(7):61,00,00,00,00,00\n"
                                   u"\"s\"=hex(1):\n")),
            "[Software\\T]\n  e 2:250061000000\n  m 7:610000000000\n  s 1:\n");
  // c3 a9 is one character in UTF-8 (POSIX) and two in a Windows code page.
  const std::string e = HexOf(Units(AnsiToU16(std::string("%a\xc3\xa9\0", 5))));
  EXPECT_EQ(ImportedTree("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n"
                         "\"e\"=hex(2):25,61,c3,a9\n\"m\"=hex(7):61,00,62,00,00\n"),
            "[Software\\T]\n  e 2:" + e + "\n  m 7:61000000620000000000\n");
#ifndef _WIN32
  EXPECT_EQ(e, "25006100e9000000");
#endif
}

TEST_F(RegFileTest, MalformedLinesAreReportedAndTheRestImported) {
  const RegImportResult result = Import(Utf16File(
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\T]\r\n"  // 1-3
      u"\"a\"=dword:123456789\r\n"                            // 4: nine digits
      u"\"b\"=\"unterminated\r\n\"c\"=hex:1g\r\ngarbage\r\n"  // 5-7
      u"\"d\"=dword:10 ; comment\r\n"                         // 8: fine
      u"\"e\"=hex(2x):00\r\n\"f\"=\"x\" trailing\r\n"         // 9-10
      u"\"g\"=hex:01,\\\r\n"                                  // 11
      u"\"h\"=\"swallowed\"\r\n\"i\"=\"kept\"\r\n"            // 12-13: 12 is not hex: g and it go
      u"[HKEY_NOWHERE\\x]\r\n\"j\"=\"outside\"\r\n"           // 14-15
      u"[HKCU\\Software\\T\\Sub]\r\n  @ = \"default\"\r\n"    // 16-17: short root names work
      u"\"k\\0\"=\"x\"\r\n\"l\" \"x\"\r\n"                    // 18-19: 18 has a NUL in its name
      u"\"m\"=\"a\\qb\"\r\n"                                  // 20: unknown escape, kept as q
      u"[ HKCU\\Software\\T]\r\n\"n\"=dword:1\r\n"));         // 21-22: 22 belongs to no key
  EXPECT_TRUE(result.recognized);
  std::vector<uint32_t> lines;
  for (const RegFileProblem& problem : result.problems) lines.push_back(problem.line);
  EXPECT_EQ(lines, (std::vector<uint32_t>{4, 5, 6, 7, 9, 10, 12, 14, 15, 18, 19, 20, 21, 22}));
  EXPECT_NE(result.problems[0].message.find("dword"), std::string::npos);
  EXPECT_EQ(Dump(&reg_, kHkeyCurrentUser, u"Software\\T"),
            "[Software\\T]\n  d 4:10000000\n  i 1:6b006500700074000000\n"
            "[Sub]\n   1:640065006600610075006c0074000000\n  m 1:6100710062000000\n");
}

// A restore's import: no deletions, nothing cut, nothing outside its keys, strings as stored.
TEST_F(RegFileTest, AStrictImportOnlyAddsWhatAWholeFileHoldsWhereItMay) {
  RegImportOptions strict;
  strict.refuseDeletions = strict.refuseCutFiles = strict.exactStrings = true;
  strict.scope = [](HKey root, std::u16string_view subKey) {
    if (root != kHkeyCurrentUser) return RegKeyScope::kOutside;
    if (subKey.empty() || subKey == u"Software") return RegKeyScope::kOnTheWay;
    return subKey.starts_with(u"Software\\T") ? RegKeyScope::kInside : RegKeyScope::kOutside;
  };
  Set(&reg_, kHkeyCurrentUser, u"Software\\T\\Old", u"v", kRegDword, {1, 0, 0, 0});
  const std::string tree = Dump(&reg_, kHkeyCurrentUser, u"Software\\T");
  const std::u16string head =
      u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Software\\T\\Old]\r\n";
  const struct {
    std::string file;
    uint32_t line;
    const char* says;
  } kRefused[] = {
      {Utf16File(head + u"[-HKEY_CURRENT_USER\\Software\\T\\Old]\r\n"), 3, "key deletion"},
      {Utf16File(head + u"\"v\"=-\r\n"), 3, "value deletion"},
      {Utf16File(head + u"[HKEY_LOCAL_MACHINE\\Software\\T]\r\n"), 3, "outside"},
      {Utf16File(head + u"[HKEY_CURRENT_USER\\Software]\r\n\"x\"=\"y\"\r\n"), 4, "outside"},
      {Utf16File(head + u"\"b\"=hex:01,02,\\\r\n"), 3, "ends inside the hex data"},
      {Utf16File(head + u"\"b\"=hex:01,02,\r\n"), 3, "ends in a comma"},
      {Utf16File(head) + "x", 2, "middle of a character"},
  };
  for (const auto& row : kRefused) {
    SCOPED_TRACE(row.says);
    const RegImportResult result = ImportRegFile(&reg_, row.file, 0, strict);
    ASSERT_FALSE(result.problems.empty());
    EXPECT_EQ(result.problems[0].line, row.line);
    EXPECT_NE(result.problems[0].message.find(row.says), std::string::npos)
        << result.problems[0].message;
    EXPECT_EQ(Dump(&reg_, kHkeyCurrentUser, u"Software\\T"), tree);
  }
  // A string without its NUL comes back without one; the default import adds it.
  const std::string unterminated = Utf16File(head + u"\"s\"=hex(1):61,00\r\n");
  ASSERT_TRUE(ImportRegFile(&reg_, unterminated, 0, strict).problems.empty());
  EXPECT_NE(Dump(&reg_, kHkeyCurrentUser, u"Software\\T").find("  s 1:6100\n"), std::string::npos);
  EXPECT_NE(ImportedTree(unterminated).find("  s 1:61000000\n"), std::string::npos);
}

TEST_F(RegFileTest, ImportRefusesFilesWithoutTheHeader) {
  for (const std::string& bytes :
       {std::string(""), std::string("REGEDIT4 \n[HKEY_CURRENT_USER\\Software\\T]\n"),
        std::string("REGEDIT\n"), Utf16File(u"Windows Registry Editor Version 5\r\n"),
        std::string("\xEF\xBB\xBFREGEDIT4\n")}) {
    const RegImportResult result = Import(bytes);
    EXPECT_FALSE(result.recognized) << bytes;
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].line, 1u);
  }
  EXPECT_EQ(Dump(&reg_, kHkeyCurrentUser, u"Software\\T"), "<missing>");
  EXPECT_TRUE(Import("  REGEDIT4").recognized);
}

TEST_F(RegFileTest, WriteErrorsAreReportedPerLine) {
  // Refusing every write, as the prefix's registry does while a wineserver runs.
  struct ReadOnly : RegistryWrapper {
    using RegistryWrapper::RegistryWrapper;
    uint32_t RegCreateKeyExW(HKey, std::u16string_view, uint32_t, uint32_t, HKey*,
                             uint32_t*) override {
      return kRegAccessDenied;
    }
  } readOnly(&reg_);
  const RegImportResult result =
      ImportRegFile(&readOnly, "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"a\"=\"x\"\n", 0);
  EXPECT_EQ(result.writeError, kRegAccessDenied);
  std::vector<uint32_t> lines;
  for (const RegFileProblem& problem : result.problems) lines.push_back(problem.line);
  EXPECT_EQ(lines, (std::vector<uint32_t>{2, 3}));
}

// Wine's own reg.exe imports what the exporter writes, whole.
TEST(RegFileWine, RegExeImportsTheExportersFiles) {
#ifndef _WIN32
  GTEST_SKIP() << "needs Windows' reg.exe: runs under wine64 only";
#else
  Registry* reg = Registry::Default();
  const std::u16string path = u"Software\\RegcleanRegFileWineTest";
  DeleteKeyTree(reg, kHkeyCurrentUser, path, 0);
  FillEveryType(reg, path, false);  // Wine's reg.exe pads a string of odd size
  const std::string before = Dump(reg, kHkeyCurrentUser, path);

  const RegExportResult exported = ExportRegFile(reg, kHkeyCurrentUser, path, 0);
  ASSERT_TRUE(exported.problems.empty());
  FileSystem* fs = FileSystem::Default();
  const std::u16string file = System::Default()->GetTempPath() + u"regclean-wine-import.reg";
  ASSERT_TRUE(WriteWholeFile(fs, file, exported.bytes));
  ASSERT_EQ(DeleteKeyTree(reg, kHkeyCurrentUser, path, 0), kRegSuccess);

  EXPECT_EQ(RunProcess(fs->GetSystemDirectory() + u"\\reg.exe", u"import \"" + file + u"\"", 0,
                       true, 30000, nullptr),
            0u);
  EXPECT_EQ(Dump(reg, kHkeyCurrentUser, path), before);
  DeleteKeyTree(reg, kHkeyCurrentUser, path, 0);
  fs->DeleteFile(file);
#endif
}

}  // namespace
}  // namespace platform
