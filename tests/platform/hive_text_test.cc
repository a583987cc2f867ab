// Wine's hive text: escapes, hex wrap, malformed lines, byte-exact rewrites of real hives.
#include "platform/wineprefix/hive_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/registry.h"

namespace platform::memory {
namespace {

constexpr uint64_t kNow = 0x01da000000000000ull;

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(REGCLEAN_SOURCE_DIR) + "/tests/data/wine-hives/" + name,
                   std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::unique_ptr<Key> NewHive() {
  auto root = std::make_unique<Key>();
  root->flags = kKeyHiveRoot;
  root->name = u"Machine";
  return root;
}

struct StringSource : HiveSource {
  explicit StringSource(std::string_view text) : text(text) {}
  bool Read(uint64_t offset, size_t size, char* out) override {
    return offset + size <= text.size() && text.copy(out, size, offset) == size;
  }
  std::string_view text;
};

struct StringSink : HiveSink {
  bool Write(const char* data, size_t size) override { return text.append(data, size), true; }
  std::string text;
};

// Hive text read into a fresh tree.
struct Loaded {
  std::unique_ptr<Key> root = NewHive();
  HiveReadResult read;
  explicit Loaded(std::string_view text, const char* name = "t.reg")
      : read(ReadHive(text, root.get(), name, kNow)) {}
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

// The first value of key K, read from a value line, as text.
std::u16string ReadValue(const std::string& data) {
  Loaded hive("WINE REGISTRY Version 2\n\n[K]\n\"v\"=\"" + data + "\"\n");
  EXPECT_TRUE(hive.read.clean) << data;
  if (hive.root->children.empty()) return u"<none>";
  const Value& value = hive.root->children[0]->values[0];
  std::u16string text(value.size() / 2, u'\0');
  std::memcpy(text.data(), value.data(), text.size() * 2);
  return text;
}

// Wine's escapes both ways; the reader also takes the looser forms.
TEST(HiveEscapes, WineFormsAndLooserOnesRead) {
  const struct {
    std::u16string text;
    std::string escaped;
    bool written;  // the writer's own form
  } cases[] = {
      {u"plain", "plain", true},
      {u"back\\slash \"quoted\"", "back\\\\slash \\\"quoted\\\"", true},
      {u"tab\tnl\ncr\r esc\x1b bell\a", "tab\\tnl\\ncr\\r esc\\e bell\\a", true},
      {std::u16string(u"nul\0x", 5), "nul\\0x", true},
      {std::u16string(u"nul\0\x37", 5), "nul\\0007", true},
      {u"\x1f", "\\37", true},
      {u"caf\u00e9", "caf\\xe9", true},
      {u"\u00e9a", "\\x00e9a", true},  // a hex digit follows: four digits
      {u"\u00e9g", "\\xe9g", true},    // not a hex digit
      {u"\U0001F30D", "\\xd83c\\xdf0d", true},
      {u"A\u04a2", "\\x41\\x4a2", false},  // 1-4 hex digits
      {u"xq", "\\xq", false},              // \x without digits is x
      {u"AA2", "\\101\\1012", false},      // octal, at most three digits
      {u"c[", "\\c\\[", false},            // any other escaped character is itself
      {u"caf\u00e9 \U0001F30D", "caf\xc3\xa9 \xf0\x9f\x8c\x8d", false},  // raw UTF-8
      // Past the first eight plain bytes, read eight at a time.
      {u"Common Files\\Shared \"Lib\" caf\u00e9", "Common Files\\\\Shared \\\"Lib\\\" caf\\xe9",
       true},
      {u"Program Files (x86)\u00e9", "Program Files (x86)\xc3\xa9", false},
      // A long line gets room up to each closing quote in turn.
      {std::u16string(5000, u'a') + u"\"q\"", std::string(5000, 'a') + "\\\"q\\\"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.escaped);
    if (c.written) {
      std::string out;
      EscapeText(c.text, "\"\"", &out);
      EXPECT_EQ(out, c.escaped);
    }
    EXPECT_EQ(ReadValue(c.escaped), c.text + std::u16string(1, u'\0'));
  }
}

// Key paths with brackets and escapes, times, classes and links round-trip unchanged.
TEST(HiveText, KeyPathsClassesAndLinksRoundTrip) {
  const std::string text =
      "WINE REGISTRY Version 2\n"
      ";; All keys relative to REGISTRY\\\\Machine\n"
      "\n#arch=win64\n"
      "\n[A\\\\b\\[1\\]\\\\caf\\xe9 \"q\"] 1697565396\n#time=1da0123456789ab\n@=\"x\"\n"
      "\n[System\\\\CurrentControlSet] 1697565396\n#time=1da0123456789ab\n#class=\"c\\\"l\"\n"
      "#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00\n";
  Loaded hive(text);
  ASSERT_TRUE(hive.read.clean);
  EXPECT_EQ(hive.read.arch, "win64");
  Key* key = FindPath(hive.root.get(), u"A\\b[1]\\caf\u00e9 \"q\"");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->modified, 0x1da0123456789abull);
  Key* link = FindPath(hive.root.get(), u"System\\CurrentControlSet");
  ASSERT_TRUE(link != nullptr && link->className);
  EXPECT_TRUE(link->flags & kKeyLink);
  EXPECT_EQ(*link->className, u"c\"l");
  TouchAll(hive.root.get());
  EXPECT_EQ(Rewrite(hive.root.get(), hive.read, text), text);
}

// Each value's form follows its data; hex wraps after column 76.
TEST(HiveText, ValueFormsFollowTheData) {
  uint8_t bytes[40];
  for (size_t i = 0; i < 40; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  const uint8_t odd[] = {'a', 0, 'b'}, sz[] = {'a', 0, 0, 0}, dw[] = {1, 2, 3, 4};
  const uint8_t multi[] = {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0};
  const struct {
    Value value;
    const char* line;
  } cases[] = {
      {Value(u"s", kRegSz, sz, 4), "\"s\"=\"a\"\n"},
      {Value(u"e", kRegExpandSz, sz, 4), "\"e\"=str(2):\"a\"\n"},
      {Value(u"m", kRegMultiSz, multi, 10), "\"m\"=str(7):\"a\\0b\\0\"\n"},
      {Value(u"o", kRegSz, odd, 3), "\"o\"=hex(1):61,00,62\n"},
      {Value(u"u", kRegSz, sz, 2), "\"u\"=hex(1):61,00\n"},
      {Value(u"z", kRegSz, nullptr, 0), "\"z\"=hex(1):\n"},
      {Value(u"d", kRegDword, dw, 4), "\"d\"=dword:04030201\n"},
      {Value(u"d3", kRegDword, dw, 3), "\"d3\"=hex(4):01,02,03\n"},
      {Value(u"q", kRegQword, dw, 4), "\"q\"=hex(b):01,02,03,04\n"},
      {Value(u"FilterData", kRegBinary, bytes, 40),
       "\"FilterData\"=hex:00,07,0e,15,1c,23,2a,31,38,3f,46,4d,54,5b,62,69,70,77,7e,85,\\\n"
       "  8c,93,9a,a1,a8,af,b6,bd,c4,cb,d2,d9,e0,e7,ee,f5,fc,03,0a,11\n"},
      {Value(u"", 0x2000, bytes, 3), "@=hex(2000):00,07,0e\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    FormatValue(c.value, &out);
    EXPECT_EQ(out, c.line);
    Loaded hive(std::string("WINE REGISTRY Version 2\n[K]\n") + c.line);
    ASSERT_TRUE(hive.read.clean);
    const Value& read = hive.root->children[0]->values[0];
    EXPECT_TRUE(read.Same(c.value.type(), c.value.data(), c.value.size())) << c.line;
  }
}

TEST(HiveText, MalformedLinesAreReportedWithTheirLineAndSkipped) {
  const std::string text =
      "WINE REGISTRY Version 2\n\n\"early\"=\"no key\"\n"                          // 1-3
      "[Good] 1700000000\n\"a\"=\"1\"\n\"b\"=dwarf:1\ngarbage\n\"c\"=hex:01,zz\n"  // 4-8
      "[Bad\n\"d\"=\"lost\"\n[Good\\\\Sub]\n\"e\"=hex:01,\\\n  02\n"               // 9-13
      "bad\x1b[2J\xc3\xa9\n" +
      std::string(200, 'x') + "\n";
  Loaded hive(text, "system.reg");
  EXPECT_TRUE(hive.read.isRegistryFile);
  EXPECT_FALSE(hive.read.clean);
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
  EXPECT_EQ(hive.read.problems, expected);
  // Checking the text alone, without a tree, finds the same.
  const HiveReadResult checked = ReadHive(text, nullptr, "system.reg", kNow);
  EXPECT_EQ(checked.problems, expected);
  EXPECT_FALSE(checked.clean);
  // The rest is read: Good's one value, and Sub's continued hex.
  ASSERT_EQ(hive.root->children.size(), 1u);
  EXPECT_EQ(FindPath(hive.root.get(), u"Good")->values.size(), 1u);
  EXPECT_EQ(FindPath(hive.root.get(), u"Good\\Sub")->values[0].size(), 2u);
}

TEST(HiveText, NotARegistryFile) {
  for (const char* text : {"REGEDIT4\n[K]\n", "WINE REGISTRY Version 2\n#arch=win16\n[K]\n"}) {
    Loaded hive(text);
    EXPECT_EQ(hive.read.isRegistryFile, text[0] == 'W') << text;
    EXPECT_FALSE(hive.read.clean);
    EXPECT_TRUE(hive.root->children.empty());
  }
}

TEST(HiveText, SubkeysSortAsWineSortsThem) {
  Loaded hive(
      "WINE REGISTRY Version 2\n[b]\n[A_]\n[a]\n[AB]\n[\\xe9]\n[Z]\n[_]\n[a1]\n[Shared Lib 2]\n"
      "[SHARED LIB_]\n[shared lib 10]\n");
  ASSERT_TRUE(hive.read.clean);
  std::u16string names;
  for (const auto& child : hive.root->children) names += std::u16string(child->name) + u"|";
  // Wine folds to lower case: '_' (0x5f) sorts before the letters.
  EXPECT_EQ(names, u"_|a|a1|A_|AB|b|shared lib 10|Shared Lib 2|SHARED LIB_|Z|\u00e9|");
}

// Real wineboot hives come back byte for byte, copied or rewritten, fed whole or in pieces.
TEST(HiveText, RealWineHivesRewriteByteForByte) {
  for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
    SCOPED_TRACE(name);
    const std::string text = ReadData(name);
    ASSERT_FALSE(text.empty());
    Loaded hive(text, name);
    ASSERT_TRUE(hive.read.clean) << (hive.read.problems.empty() ? "" : hive.read.problems[0]);
    EXPECT_EQ(Rewrite(hive.root.get(), hive.read, text), text);
    TouchAll(hive.root.get());
    EXPECT_EQ(Rewrite(hive.root.get(), hive.read, text), text);
    for (size_t piece : {1u, 7u, 4096u}) {
      if (std::string_view(name) != "user.reg") break;
      auto root = NewHive();
      HiveReader reader(root.get(), name, kNow);
      for (size_t at = 0; at < text.size(); at += piece)
        reader.Feed(std::string_view(text).substr(at, piece));
      const HiveReadResult read = reader.Finish();
      ASSERT_TRUE(read.clean);
      EXPECT_EQ(read.prologueLength, hive.read.prologueLength);
      EXPECT_EQ(Rewrite(root.get(), read, text), text) << piece;
    }
  }
}

TEST(HiveText, OnlyTouchedBlocksChange) {
  const std::string block = "\n[A\\\\B] 1697565396\n#time=1da0123456789ab\n\"v\"=dword:00000001\n";
  const std::string text =
      "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n"
      "\n[A]   1700000000  \n\"odd\"  =  \"spacing kept\"\n" +
      block + "\n[C] 1700000000\n\"w\"=\"x\"\n";
  Loaded hive(text);
  ASSERT_TRUE(hive.read.clean);
  Key* b = FindPath(hive.root.get(), u"A\\B");
  const uint8_t two[] = {2, 0, 0, 0};
  ASSERT_TRUE(SetValue(b, u"v", kRegDword, two, 4, 0x1da000000000000ull));
  std::string expected = text;
  expected.replace(expected.find(block), block.size(),
                   "\n[A\\\\B] 1697440296\n#time=1da000000000000\n\"v\"=dword:00000002\n");
  EXPECT_EQ(Rewrite(hive.root.get(), hive.read, text), expected);
}

}  // namespace
}  // namespace platform::memory
