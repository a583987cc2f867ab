#include "support/kv_ini_file_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/unicode.h"
#include "tests/framework/test_machine.h"
#include "tests/platform/temp_tree.h"

namespace {

std::string Narrow(std::u16string_view text) { return platform::U16ToUtf8(text); }

enum class Encoding { kAnsi, kUtf16Le, kUtf16Be };

std::string Encode(std::u16string_view text, Encoding encoding) {
  if (encoding == Encoding::kAnsi) return platform::U16ToUtf8(text);  // ASCII in these tests
  const bool big = encoding == Encoding::kUtf16Be;
  std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
    bytes += big ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

class IniFileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
    CKVIniFileReader::ClearCache();
  }

  // Writes a file and drops any cached copy of it.
  std::u16string Write(std::u16string_view name, std::u16string_view text,
                       Encoding encoding = Encoding::kAnsi) {
    const std::u16string path = tree_.Path(name);
    EXPECT_TRUE(tree_.MakeFile(name, Encode(text, encoding)));
    CKVIniFileReader::DropCachedFile(path);
    return path;
  }
  std::string Value(CKVIniFileReader& reader, const char16_t* section, const char16_t* key) {
    std::u16string value;
    EXPECT_TRUE(reader.GetValue(section, key, u"<default>", &value));
    return Narrow(value);
  }
  // The values of keys of one section, each in brackets.
  std::string Values(CKVIniFileReader& reader, const char16_t* section,
                     std::initializer_list<const char16_t*> keys) {
    std::string values;
    for (const char16_t* key : keys) values += "[" + Value(reader, section, key) + "]";
    return values;
  }

  TempTree tree_;
};

const char16_t kSettings[] =
    u"; settings of the suite\r\n[install]\r\n"
    u"UserContentPath = C:\\ProgramData\\Suite \r\nRegKey=\"  Software\\Suite  \"\r\n"
    u"$include <part.ini>\r\nEscaped = a\\;b\\#c\\=d\\:e\\\\f\r\n"
    u"\t  [TraceLog]  \r\nDebugLevel=12\r\n"
    u"[one]\na=1\nb=first\n[two]\na=2\n[ONE]\nB=last\nc=3\n"
    u"[s]\nquoted=\"  inner blanks  \"\ntwice=\"\"double\"\"\nlone=\"\n"
    u"controls=a\\tb\\rc\\nd\nunknown=\\x\\q\\\nzero=before\\0after\n"
    u"key\\;x=escaped key\nempty=\nequals=a=b=c\n"
    u"[\u00C4rger]\r\n\u0428\u043B\u044E\u0437=\u00FC\u00DF \u03A3\r\n";
const char16_t kPart[] = u"# included\nFromPart = yes\n[Part]\nInner = 1\n[install]\n";

TEST_F(IniFileReaderTest, QuotesEscapesAndRepeatsReadTheSameInThreeEncodings) {
  const Encoding encodings[] = {Encoding::kAnsi, Encoding::kUtf16Le, Encoding::kUtf16Be};
  for (Encoding encoding : encodings) {
    SCOPED_TRACE(static_cast<int>(encoding));
    // The included file is in another encoding than the one including it.
    const std::u16string path = Write(u"install.cfg", kSettings, encoding);
    Write(u"part.ini", kPart, encoding == Encoding::kAnsi ? Encoding::kUtf16Le : Encoding::kAnsi);
    CKVIniFileReader reader;
    ASSERT_TRUE(reader.Load(path.c_str()));
    // The included file's last section carries on after the include line.
    EXPECT_EQ(Values(reader, u"install", {u"UserContentPath", u"RegKey", u"FromPart", u"Escaped"}),
              "[C:\\ProgramData\\Suite][  Software\\Suite  ][yes][a;b#c=d:e\\f]");
    EXPECT_EQ(Values(reader, u"Part", {u"Inner"}) + Values(reader, u"TraceLog", {u"DebugLevel"}),
              "[1][12]");
    // A doubled quote: one pair goes when read, one when asked; keys keep their backslashes.
    EXPECT_EQ(Values(reader, u"s", {u"quoted", u"twice", u"lone", u"controls", u"unknown"}),
              "[  inner blanks  ][double][\"][a\tb\rc\nd][\\x\\q\\]");
    EXPECT_EQ(Values(reader, u"s", {u"zero", u"key\\;x", u"empty", u"equals"}),
              "[before][escaped key][][a=b=c]");
    // Repeated keys and sections, their names ignoring case.
    EXPECT_EQ(reader.sectionCount(), 7u);
    EXPECT_EQ(Values(reader, u"One", {u"A", u"b"}) + Values(reader, u"two", {u"b"}) +
                  Values(reader, u"twos", {u"a"}),
              "[1][last][<default>][<default>]");
    // Non-ASCII names match ignoring case; UTF-16 keeps the text.
    if (encoding != Encoding::kAnsi) {
      EXPECT_EQ(Value(reader, u"\u00E4RGER", u"\u0448\u043B\u042E\u0437"),
                Narrow(u"\u00FC\u00DF \u03A3"));
    }
  }
}

// Includes resolve against the loaded file's folder; malformed and empty ones
// are kept as lines; files that include themselves stop.
TEST_F(IniFileReaderTest, Includes) {
  // A doubled backslash; an include inside an included file is also taken from main.ini's folder.
  const std::u16string main = Write(
      u"main.ini", u"[s]\n$include <sub\\\\a.ini>\n$  include   <  missing.ini  >\nafter=main\n");
  Write(u"sub\\a.ini", u"a=1\n$include<sub\\b.ini>\n");
  Write(u"sub\\b.ini", u"b=2\n");
  Write(u"sub\\sub\\b.ini", u"b=wrong folder\n");
  CKVIniFileReader reader;
  ASSERT_TRUE(reader.Load(main.c_str()));
  EXPECT_EQ(Values(reader, u"s", {u"a", u"b", u"after"}), "[1][2][main]");
  // The missing include, kept as it stands.
  ASSERT_EQ(reader.lines().size(), 1u);
  EXPECT_EQ(Narrow(reader.lines()[0].text), "$  include   <  missing.ini  >");

  Write(u"inc.ini", u"x=1\n");
  Write(u"empty.ini", u"");
  const std::u16string path = Write(
      u"bad.ini",
      u"[s]\n$include inc.ini\n$Include <inc.ini>\n$include <inc.ini\n$include <empty.ini>\n");
  ASSERT_TRUE(reader.Load(path.c_str()));
  EXPECT_EQ(Value(reader, u"s", u"x"), "<default>");
  EXPECT_EQ(reader.lines().size(), 4u);

  const std::u16string self = Write(u"self.ini", u"[s]\nbefore=1\n$include <SELF.INI>\nafter=2\n");
  ASSERT_TRUE(reader.Load(self.c_str()));
  EXPECT_EQ(Values(reader, u"s", {u"before", u"after"}), "[1][2]");
  EXPECT_EQ(reader.lines().size(), 1u);  // the include of itself, kept as it stands
}

TEST_F(IniFileReaderTest, MissingFilesAndNullsGiveDefaults) {
  CKVIniFileReader reader;
  EXPECT_EQ(Value(reader, u"s", u"k"), "<default>");  // nothing loaded yet
  ASSERT_TRUE(reader.Load(tree_.Path(u"missing.cfg").c_str()));
  EXPECT_EQ(Value(reader, u"s", u"k"), "<default>");
  ASSERT_TRUE(reader.Load(nullptr));
  EXPECT_EQ(reader.sectionCount(), 0u);

  ASSERT_TRUE(reader.Load(Write(u"n.ini", u"[s]\nk=v\n").c_str()));
  std::u16string value = u"stale";
  EXPECT_TRUE(reader.GetValue(nullptr, u"k", u"d", &value));
  EXPECT_EQ(value, u"d");
  EXPECT_TRUE(reader.GetValue(u"s", nullptr, nullptr, &value));
  EXPECT_EQ(value, u"");
  // A folder exists but cannot be read as a file.
  ASSERT_TRUE(tree_.MakeFolder(u"folder.ini"));
  EXPECT_FALSE(reader.Load(tree_.Path(u"folder.ini").c_str()));
  EXPECT_EQ(Value(reader, u"s", u"k"), "<default>");
}

// A file system whose opens fail with a given error a number of times.
struct FlakyOpen : platform::FileSystemWrapper {
  FlakyOpen(uint32_t error, int failures)
      : FileSystemWrapper(platform::FileSystem::Default()), error(error), failures(failures) {}
  platform::FileHandle CreateFile(std::u16string_view path, uint32_t access, uint32_t share,
                                  uint32_t disposition) override {
    if (failures-- <= 0) return FileSystemWrapper::CreateFile(path, access, share, disposition);
    SetLastError(error);
    return nullptr;
  }
  uint32_t error;
  int failures;
};

// Opens failing with a lock are tried again 1 ms apart (sleeps recorded); others are not.
TEST_F(IniFileReaderTest, LockedFilesAreTriedAgainOtherFailuresAreNot) {
  const std::u16string path = Write(u"locked.ini", u"[s]\nk=v\n");
  const std::tuple<uint32_t, bool, std::vector<uint32_t>> rows[] = {
      {platform::kErrorSharingViolation, true, {1, 1, 1}},
      {platform::kErrorLockViolation, true, {1, 1, 1}},
      {platform::kErrorAccessDenied, false, {}}};
  for (const auto& [error, loads, sleeps] : rows) {
    FlakyOpen fs(error, loads ? 3 : 1);
    TestMachine system;
    system.fakeStarts = true;
    CKVIniFileReader reader(&fs, &system);
    CKVIniFileReader::DropCachedFile(path);
    EXPECT_EQ(reader.Load(path.c_str()), loads);
    EXPECT_EQ(Value(reader, u"s", u"k"), loads ? "v" : "<default>");
    EXPECT_EQ(system.sleeps, sleeps);
  }
}

}  // namespace
