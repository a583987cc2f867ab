// Wine's hive text: escapes, the hex wrap, malformed lines, and byte-exact
// rewriting of real hives that wineboot wrote.
#include "platform/wineprefix/hive_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/registry.h"

namespace platform::memory {
namespace {

constexpr uint64_t kNow = 0x01da000000000000ull;

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(REGCLEAN_SOURCE_DIR) + "/tests/data/wine-hives/" + name,
                   std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::unique_ptr<Key> NewHive() {
  auto root = std::make_unique<Key>();
  root->flags = kKeyHiveRoot;
  root->hive = 0;
  root->name = u"Machine";
  return root;
}

class StringSource : public HiveSource {
 public:
  explicit StringSource(std::string_view text) : text_(text) {}
  bool Read(uint64_t offset, size_t size, char* out) override {
    if (offset + size > text_.size()) return false;
    text_.copy(out, size, offset);
    return true;
  }

 private:
  std::string_view text_;
};

class StringSink : public HiveSink {
 public:
  bool Write(const char* data, size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

std::string Rewrite(const Key* root, const HiveReadResult& read, std::string_view original) {
  StringSource source(original);
  StringSink sink;
  const HiveWriteResult written =
      WriteHive(root, "REGISTRY\\\\Machine", read.arch, read.prologueLength, &source, &sink);
  EXPECT_TRUE(written.ok);
  EXPECT_EQ(written.size, sink.text.size());
  return sink.text;
}

void TouchAll(Key* key) {
  key->flags |= kKeyDirty;
  for (auto& child : key->children) TouchAll(child.get());
}

std::u16string StringData(const Value& value) {
  std::u16string text(value.size() / 2, u'\0');
  std::memcpy(text.data(), value.data(), text.size() * 2);
  return text;
}

TEST(HiveEscapes, WineFormsBothWays) {
  struct Case {
    std::u16string text;
    std::string escaped;
  };
  const Case cases[] = {
      {u"plain", "plain"},
      {u"back\\slash \"quoted\"", "back\\\\slash \\\"quoted\\\""},
      {u"tab\tnl\ncr\r esc\x1b bell\a", "tab\\tnl\\ncr\\r esc\\e bell\\a"},
      {std::u16string(u"nul\0x", 5), "nul\\0x"},
      {std::u16string(u"nul\0"
                      u"7",
                      5),
       "nul\\0007"},
      {u"\x1f", "\\37"},
      {u"caf\u00e9", "caf\\xe9"},
      {u"\u00e9a", "\\x00e9a"},  // a hex digit follows: four digits
      {u"\u00e9g", "\\xe9g"},    // not a hex digit
      {u"\U0001F30D", "\\xd83c\\xdf0d"},
  };
  for (const Case& c : cases) {
    std::string out;
    EscapeText(c.text, "\"\"", &out);
    EXPECT_EQ(out, c.escaped);
    // The reader turns the text back, through a value line.
    auto root = NewHive();
    const std::string text = "WINE REGISTRY Version 2\n\n[K]\n\"v\"=\"" + c.escaped + "\"\n";
    ASSERT_TRUE(ReadHive(text, root.get(), "t.reg", kNow).clean) << c.escaped;
    EXPECT_EQ(StringData(root->children[0]->values[0]), c.text + std::u16string(1, u'\0'));
  }
}

TEST(HiveEscapes, ReaderAcceptsLooserForms) {
  const struct {
    std::string escaped;
    std::u16string text;
  } cases[] = {
      {"\\x41\\x4a2", u"A\u04a2"},  // 1-4 hex digits
      {"\\xq", u"xq"},              // \x without digits is x
      {"\\101\\1012", u"AA2"},      // octal, at most three digits
      {"\\c\\[", u"c["},            // any other escaped character is itself
      {"caf\xc3\xa9 \xf0\x9f\x8c\x8d", u"caf\u00e9 \U0001F30D"},  // raw UTF-8
  };
  for (const auto& c : cases) {
    auto root = NewHive();
    const std::string text = "WINE REGISTRY Version 2\n\n[K]\n\"v\"=\"" + c.escaped + "\"\n";
    ASSERT_TRUE(ReadHive(text, root.get(), "t.reg", kNow).clean) << c.escaped;
    EXPECT_EQ(StringData(root->children[0]->values[0]), c.text + std::u16string(1, u'\0'));
  }
}

TEST(HiveText, KeyPathsWithBracketsAndEscapesRoundTrip) {
  const std::string text =
      "WINE REGISTRY Version 2\n"
      ";; All keys relative to REGISTRY\\\\Machine\n"
      "\n#arch=win64\n"
      "\n[A\\\\b\\[1\\]\\\\caf\\xe9 \"q\"] 1697565396\n#time=1da0123456789ab\n@=\"x\"\n";
  auto root = NewHive();
  const HiveReadResult read = ReadHive(text, root.get(), "t.reg", kNow);
  ASSERT_TRUE(read.clean);
  EXPECT_EQ(read.arch, "win64");
  Key* key = FindPath(root.get(), u"A\\b[1]\\caf\u00e9 \"q\"");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->modified, 0x1da0123456789abull);
  TouchAll(root.get());
  EXPECT_EQ(Rewrite(root.get(), read, text), text);
}

TEST(HiveText, HexWrapsAfterColumnSeventySix) {
  std::vector<uint8_t> bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  std::string out;
  FormatValue(Value(u"FilterData", kRegBinary, bytes.data(), 40), &out);
  EXPECT_EQ(out,
            "\"FilterData\"=hex:00,07,0e,15,1c,23,2a,31,38,3f,46,4d,54,5b,62,69,70,77,7e,85,\\\n"
            "  8c,93,9a,a1,a8,af,b6,bd,c4,cb,d2,d9,e0,e7,ee,f5,fc,03,0a,11\n");
  out.clear();
  FormatValue(Value(u"", 0x2000, bytes.data(), 3), &out);
  EXPECT_EQ(out, "@=hex(2000):00,07,0e\n");
}

TEST(HiveText, ValueFormsFollowTheData) {
  const uint8_t odd[] = {'a', 0, 'b'};
  const uint8_t unterminated[] = {'a', 0};
  const uint8_t sz[] = {'a', 0, 0, 0};
  const uint8_t multi[] = {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0};
  const uint8_t dw[] = {1, 2, 3, 4};
  const struct {
    Value value;
    const char* line;
  } cases[] = {
      {Value(u"s", kRegSz, sz, 4), "\"s\"=\"a\"\n"},
      {Value(u"e", kRegExpandSz, sz, 4), "\"e\"=str(2):\"a\"\n"},
      {Value(u"m", kRegMultiSz, multi, 10), "\"m\"=str(7):\"a\\0b\\0\"\n"},
      {Value(u"o", kRegSz, odd, 3), "\"o\"=hex(1):61,00,62\n"},
      {Value(u"u", kRegSz, unterminated, 2), "\"u\"=hex(1):61,00\n"},
      {Value(u"z", kRegSz, nullptr, 0), "\"z\"=hex(1):\n"},
      {Value(u"d", kRegDword, dw, 4), "\"d\"=dword:04030201\n"},
      {Value(u"d3", kRegDword, dw, 3), "\"d3\"=hex(4):01,02,03\n"},
      {Value(u"q", kRegQword, dw, 4), "\"q\"=hex(b):01,02,03,04\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    FormatValue(c.value, &out);
    EXPECT_EQ(out, c.line);
    auto root = NewHive();
    ASSERT_TRUE(
        ReadHive(std::string("WINE REGISTRY Version 2\n[K]\n") + c.line, root.get(), "t.reg", kNow)
            .clean);
    const Value& read = root->children[0]->values[0];
    EXPECT_TRUE(read.Same(c.value.type(), c.value.data(), c.value.size())) << c.line;
  }
}

TEST(HiveText, MalformedLinesAreReportedWithTheirLineAndSkipped) {
  const std::string text =
      "WINE REGISTRY Version 2\n"
      "\n"
      "\"early\"=\"no key\"\n"
      "[Good] 1700000000\n"
      "\"a\"=\"1\"\n"
      "\"b\"=dwarf:1\n"
      "garbage\n"
      "\"c\"=hex:01,zz\n"
      "[Bad\n"
      "\"d\"=\"lost\"\n"
      "[Good\\\\Sub]\n"
      "\"e\"=hex:01,\\\n"
      "  02\n"
      "bad\x1b[2J\xc3\xa9\n" +
      std::string(200, 'x') + "\n";
  auto root = NewHive();
  const HiveReadResult read = ReadHive(text, root.get(), "system.reg", kNow);
  EXPECT_TRUE(read.isRegistryFile);
  EXPECT_FALSE(read.clean);
  const std::vector<std::string> expected = {
      "system.reg:3: Value without key '\"early\"=\"no key\"'",
      "system.reg:6: Malformed value '\"b\"=dwarf:1'",
      "system.reg:7: Unrecognized input 'garbage'",
      "system.reg:8: Malformed value '\"c\"=hex:01,zz'",
      "system.reg:9: Malformed key '[Bad'",
      "system.reg:10: Value without key '\"d\"=\"lost\"'",
      // Shown escaped and cut, as it goes to a terminal.
      "system.reg:14: Unrecognized input 'bad\\x1b[2J\\xc3\\xa9'",
      "system.reg:15: Unrecognized input '" + std::string(160, 'x') + "...'",
  };
  EXPECT_EQ(read.problems, expected);
  // Checking the text alone, without a tree, finds the same.
  const HiveReadResult checked = ReadHive(text, nullptr, "system.reg", kNow);
  EXPECT_EQ(checked.problems, expected);
  EXPECT_FALSE(checked.clean);
  Key* good = FindPath(root.get(), u"Good");
  ASSERT_NE(good, nullptr);
  ASSERT_EQ(good->values.size(), 1u);
  EXPECT_EQ(good->values[0].name(), u"a");
  Key* sub = FindPath(root.get(), u"Good\\Sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->values[0].size(), 2u);
  EXPECT_EQ(root->children.size(), 1u);
}

TEST(HiveText, NotARegistryFile) {
  auto root = NewHive();
  HiveReadResult read = ReadHive("REGEDIT4\n[K]\n", root.get(), "x.reg", kNow);
  EXPECT_FALSE(read.isRegistryFile);
  EXPECT_FALSE(read.clean);
  EXPECT_TRUE(root->children.empty());
  read = ReadHive("WINE REGISTRY Version 2\n#arch=win16\n[K]\n", root.get(), "x.reg", kNow);
  EXPECT_FALSE(read.clean);
  EXPECT_TRUE(root->children.empty());
}

TEST(HiveText, SubkeysSortAsWineSortsThem) {
  auto root = NewHive();
  const std::string text =
      "WINE REGISTRY Version 2\n[b]\n[A_]\n[a]\n[AB]\n[\\xe9]\n[Z]\n[_]\n[a1]\n";
  ASSERT_TRUE(ReadHive(text, root.get(), "t.reg", kNow).clean);
  std::vector<std::u16string> names;
  for (const auto& child : root->children) names.emplace_back(child->name);
  // Wine folds to lower case: '_' (0x5f) sorts before the letters.
  const std::vector<std::u16string> expected = {u"_",  u"a", u"a1", u"A_",
                                                u"AB", u"b", u"Z",  u"\u00e9"};
  EXPECT_EQ(names, expected);
}

TEST(HiveText, PiecesOfAnySizeReadAlike) {
  const std::string text = ReadData("user.reg");
  auto whole = NewHive();
  const HiveReadResult expected = ReadHive(text, whole.get(), "user.reg", kNow);
  ASSERT_TRUE(expected.clean);
  for (size_t piece : {1u, 7u, 4096u}) {
    auto root = NewHive();
    HiveReader reader(root.get(), "user.reg", kNow);
    for (size_t at = 0; at < text.size(); at += piece) {
      reader.Feed(std::string_view(text).substr(at, piece));
    }
    const HiveReadResult read = reader.Finish();
    ASSERT_TRUE(read.clean);
    EXPECT_EQ(read.prologueLength, expected.prologueLength);
    EXPECT_EQ(Rewrite(root.get(), read, text), text) << piece;
  }
}

// The files wineboot wrote come back byte for byte, both copied and written
// anew from the tree.
TEST(HiveText, RealWineHivesRewriteByteForByte) {
  for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
    const std::string text = ReadData(name);
    ASSERT_FALSE(text.empty()) << name;
    auto root = NewHive();
    const HiveReadResult read = ReadHive(text, root.get(), name, kNow);
    ASSERT_TRUE(read.clean) << name << ": " << (read.problems.empty() ? "" : read.problems[0]);
    EXPECT_EQ(Rewrite(root.get(), read, text), text) << name;
    TouchAll(root.get());
    EXPECT_EQ(Rewrite(root.get(), read, text), text) << name;
  }
}

TEST(HiveText, OnlyTouchedBlocksChange) {
  const std::string text =
      "WINE REGISTRY Version 2\n"
      ";; All keys relative to REGISTRY\\\\Machine\n"
      "\n[A]   1700000000  \n\"odd\"  =  \"spacing kept\"\n"
      "\n[A\\\\B] 1697565396\n#time=1da0123456789ab\n\"v\"=dword:00000001\n"
      "\n[C] 1700000000\n\"w\"=\"x\"\n";
  auto root = NewHive();
  const HiveReadResult read = ReadHive(text, root.get(), "t.reg", kNow);
  ASSERT_TRUE(read.clean);
  Key* b = FindPath(root.get(), u"A\\B");
  const uint32_t two = 2;
  ASSERT_TRUE(SetValue(b, u"v", kRegDword, reinterpret_cast<const uint8_t*>(&two), 4,
                       0x1da000000000000ull));
  std::string expected = text;
  expected.replace(
      expected.find("\n[A\\\\B]"),
      std::string("\n[A\\\\B] 1697565396\n#time=1da0123456789ab\n\"v\"=dword:00000001\n").size(),
      "\n[A\\\\B] 1697440296\n#time=1da000000000000\n\"v\"=dword:00000002\n");
  EXPECT_EQ(Rewrite(root.get(), read, text), expected);
}

TEST(HiveText, ParentLeftEmptyGetsItsOwnBlock) {
  const std::string text =
      "WINE REGISTRY Version 2\n"
      "\n[P\\\\Child] 1697565396\n#time=1da0123456789ab\n\"v\"=\"1\"\n";
  auto root = NewHive();
  const HiveReadResult read = ReadHive(text, root.get(), "t.reg", kNow);
  ASSERT_TRUE(read.clean);
  Key* parent = FindPath(root.get(), u"P");
  ASSERT_NE(parent, nullptr);
  EraseChild(parent, 0, 0x1da000000000000ull);
  EXPECT_EQ(Rewrite(root.get(), read, text),
            "WINE REGISTRY Version 2\n\n[P] 1697440296\n#time=1da000000000000\n");
  // Written back, the parent is still there when read again.
  auto again = NewHive();
  ReadHive(Rewrite(root.get(), read, text), again.get(), "t.reg", kNow);
  EXPECT_NE(FindPath(again.get(), u"P"), nullptr);
}

TEST(HiveText, LinksAndClassesAreKept) {
  const std::string text =
      "WINE REGISTRY Version 2\n"
      "\n[System\\\\CurrentControlSet] 1697565396\n#time=1da0123456789ab\n#class=\"c\\\"l\"\n"
      "#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00\n";
  auto root = NewHive();
  const HiveReadResult read = ReadHive(text, root.get(), "t.reg", kNow);
  ASSERT_TRUE(read.clean);
  Key* link = FindPath(root.get(), u"System\\CurrentControlSet");
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->flags & kKeyLink);
  ASSERT_TRUE(link->className);
  EXPECT_EQ(*link->className, u"c\"l");
  TouchAll(root.get());
  EXPECT_EQ(Rewrite(root.get(), read, text), text);
}

}  // namespace
}  // namespace platform::memory
