#include "support/json_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/unicode.h"
#include "support/json_value.h"

namespace {

std::string Utf8(std::u16string_view text) { return platform::U16ToUtf8(text); }

std::string Write(const JsonValue& value) {
  std::u16string out;
  value.ToText(out);
  return Utf8(out);
}

constexpr uint32_t kRaw = JsonFlags::RawControlChars, kSingle = JsonFlags::SingleQuotes,
                   kUnquoted = JsonFlags::UnquotedNames, kHex = JsonFlags::HexNumbers,
                   kZeros = JsonFlags::LeadingZeros;

// A text and what reading it gives: with line 0 it reads, and the value writes
// (flags 0) as expected; otherwise it fails with the message expected, there.
struct Case {
  std::u16string text;
  uint32_t flags;
  const char* expected;
  uint32_t line = 0, column = 0, position = 0;
};

// A read's answer as one text: what was read, or the message and where it stands.
std::string Said(bool read, const std::string& text, const JsonParseError& at) {
  if (read) return text;
  return text + " at " + std::to_string(at.line) + ":" + std::to_string(at.column) + " (" +
         std::to_string(at.position) + ")";
}

// Both readers, the fast one and the one re-reading its token at each character, agree.
using Reader = bool (*)(JsonValue&, std::u16string_view, uint32_t, JsonParseError*);
const Reader kReaders[] = {[](JsonValue& value, std::u16string_view text, uint32_t flags,
                              JsonParseError* error) { return value.Parse(text, flags, error); },
                           ParseJsonRescanning};

constexpr char kFirst[] = "Invalid first character, expected array, object or comment.";
constexpr char kNotClosed[] = "Invalid format, matching closing character not found.";
constexpr char kEndOfString[] = "Invalid end of string.";
constexpr char kFormat[] = "Invalid string format.";
constexpr char kAfterClose[] = "Invalid character after a matching close.";
constexpr char kWhitespace[] = "Invalid whitespace character.";

TEST(JsonParserTest, TextsReadOrFailWithTheirMessageAndPlace) {
  const Case cases[] = {
      // The top level.
      {u"   ", 0, "null"},
      {u"[]", 0, "[]"},
      {u"/* lead */[1]", 0, "[1]"},
      {u"//only a comment\r\n", kRaw, "null"},
      {u"", 0, "Empty string.", 1, 1, 0},
      // Found by the fuzzer: whitespace reads as null, which writes "null",
      // and a scalar is never read as a root, so that does not read back.
      {u" /**/ ", 0, "null"},
      {u"null", 0, kFirst, 1, 1, 0},
      {u"  \"a\"", 0, kFirst, 1, 3, 2},
      {u"/x[]", 0, "Invalid comment block.", 1, 2, 1},
      {u"[1]x", 0, kAfterClose, 1, 4, 3},
      {u"/* open", 0, kNotClosed, 1, 8, 7},
      // Control characters.
      {u"[\"a\tb\"]", kRaw, "[\"a\\tb\"]"},
      {u"[\"a\tb\"]", 0, kWhitespace, 1, 4, 3},
      {u"[1,\r\n2]", 0, kWhitespace, 1, 4, 3},
      {u"//x\n[1]", 0, kWhitespace, 1, 4, 3},
      {u"[\"\x01\"]", kRaw, "Invalid control character.", 1, 3, 2},
      {u"[\"\x7f\"]", 0, kWhitespace, 1, 3, 2},
      {std::u16string(u"[\0]", 3), kRaw, "Invalid control character.", 1, 2, 1},
      // Lines count CR LF pairs only.
      // The first character after CR LF is column 1 of the next line.
      {u"[1,\r\n,2]", kRaw, "Invalid extra separator, expected value.", 2, 1, 5},
      {u"[1,\r\n x]", kRaw, kEndOfString, 2, 3, 7},
      {u"[\r\n1,\r\n\r\n,]", kRaw, "Invalid extra separator, expected value.", 4, 1, 9},
      // A lone LF or CR starts no line.
      {u"[1,\n,2]", kRaw, "Invalid extra separator, expected value.", 1, 5, 4},
      {u"[1,\n\r,2]", kRaw, "Invalid extra separator, expected value.", 1, 6, 5},
      // The unclosed error stands at the text length.
      {u"[\r\n", kRaw, kNotClosed, 2, 1, 3},
      // Arrays.
      {u"[1, 2 ,3 ]", 0, "[1,2,3]"},
      {u"[\"a\" \"b\"]", 0, R"(["a","b"])"},  // no separator needed after a quoted token
      {u"[[1,2],[3],[]]", 0, "[[1,2],[3],[]]"},
      {u"[,1]", 0, "Invalid separator at start of array.", 1, 2, 1},
      {u"[1,/*c*/2]", 0, "[1,2]"},
      {u"[1,,2]", 0, "Invalid extra separator, expected value.", 1, 4, 3},
      {u"[1,]", 0, "Invalid end of array, expected another value after separator.", 1, 4, 3},
      {u"[1 2]", 0, kEndOfString, 1, 5, 4},
      // A comment after a bare value belongs to the value.
      {u"[1/*c*/]", 0, kEndOfString, 1, 8, 7},
      {u"[a\"]", 0, kEndOfString, 1, 4, 3},
      {u"[1}", 0, kNotClosed, 1, 4, 3},
      {u"[\"abc", 0, kNotClosed, 1, 6, 5},
      // Numbers.
      {u"[007]", kZeros, "[7]"},
      {u"[0x1F,0X10]", kHex, "[31,16]"},
      {u"[-007]", 0, "[-7]"},  // a sign first: read as decimal
      {u"[99999999999999999999,-99999999999999999999]", 0,
       "[9223372036854775807,-9223372036854775808]"},
      {u"[0.5,2E1,1e-2]", 0, "[0.500000,20.000000,0.010000]"},
      {u"[007]", 0, kFormat, 1, 5, 4},
      {u"[0x1F]", 0, kFormat, 1, 6, 5},
      {u"[0x]", kHex, kEndOfString, 1, 4, 3},
      {u"[0xG]", kHex, kEndOfString, 1, 5, 4},
      {u"{\"a\":01}", 0, kFormat, 1, 8, 7},
      // Strings.
      {u"[\"a\\\"b\"]", 0, R"(["a\"b"])"},
      {u"[\"\\b\\f\\n\\r\\t\"]", 0, R"(["\b\f\n\r\t"])"},
      {u"[\"\\\\n\"]", 0, R"(["\\n"])"},  // the second backslash is replaced, not re-read
      // An escaped slash and a four-digit escape stay as written.
      {u"[\"\\/\\u00e9\"]", 0, R"(["\\/\\u00e9"])"},
      {u"[\"\u00e9\u4e2d\"]", 0, "[\"\u00e9\u4e2d\"]"},
      {u"['x',\"y\"]", kSingle, R"(["x","y"])"},
      {u"[\"it's\"]", kSingle, R"(["it's"])"},
      {u"[\"\\x\"]", 0, kFormat, 1, 5, 4},
      {u"['x']", 0, kEndOfString, 1, 5, 4},
      {u"['it\\'s']", kSingle, kFormat, 1, 8, 7},
      // A cut-off four-digit escape keeps the string open.
      {u"[\"\\u12\"]", 0, kNotClosed, 1, 9, 8},
      {u"[\"\\u12\"3\"]", 0, kFormat, 1, 9, 8},
      {u"{\"a\":\"\\q\"}", 0, kFormat, 1, 9, 8},
      // Objects.
      {u"{\"a\":1 , \"b\":[true,false,null],\"c\":{}}", 0,
       R"({"a":1,"b":[true,false,null],"c":{}})"},
      // Members keep the order in which they were read; a repeated name keeps
      // its last value at its first place.
      {u"{\"b\":1,\"a\":2,\"b\":3}", 0, R"({"b":3,"a":2})"},
      {u"{'a\"':1}", kSingle, R"({"a\"":1})"},
      {u"{\"a\"/*x*/:/*y*/1}", 0, R"({"a":1})"},
      {u"{\"a\":\"x\" \"b\":2}", 0, R"({"a":"x","b":2})"},
      {u"{a:1, b :2,c\r\n:3}", kUnquoted | kRaw, R"({"a":1,"b":2,"c":3})"},
      // A comment right after an unquoted name: the name before the slash is
      // entered, and the name goes on with its slash.
      {u"{ab/**/:1}", kUnquoted, R"({"ab":null,"ab/":1})"},
      {u"{,}", 0, "Invalid separator at start of object.", 1, 2, 1},
      {u"{\"a\":1,,}", 0, "Invalid extra separator, expected object name.", 1, 8, 7},
      {u"{\"a\":1,}", 0, "Invalid end of object, expected another object name after separator.", 1,
       8, 7},
      {u"{'a':1}", 0, "Invalid single quote.", 1, 2, 1},
      {u"{a:1}", 0, "Invalid unquoted object name.", 1, 2, 1},
      {u"{\"a\" 1}", 0, "Invalid end of object name, expected colon not found.", 1, 6, 5},
      {u"{\"a\":}", 0, kNotClosed, 1, 7, 6},
      {u"{\"a\":1/*z*/}", 0, kEndOfString, 1, 12, 11},
      {u"{\"a\\q\":1", 0, kNotClosed, 1, 9, 8},
  };
  for (Reader read : kReaders) {
    for (const Case& c : cases) {
      JsonValue value(u"previous content");
      JsonParseError error, expected{c.line, c.column, c.position, u""};
      error.message = u"stale";
      const bool ok = read(value, c.text, c.flags, &error);
      // A read that succeeds leaves no message.
      EXPECT_EQ(Said(ok, ok ? Write(value) + Utf8(error.message) : Utf8(error.message), error),
                Said(c.line == 0, c.expected, expected))
          << Utf8(c.text);
    }
  }
}

TEST(JsonParserTest, AFailedReadKeepsWhatWasBuiltUntilTheError) {
  JsonValue value;
  JsonParseError error;
  EXPECT_FALSE(value.Parse(u"{\"a\":[1,2],\"b\":x y,", 0, &error));
  // The raw token collects in its member until it is complete.
  EXPECT_EQ(Write(value), R"({"a":[1,2],"b":"x y,"})");
  // No error record: just the answer; no text is an empty one.
  EXPECT_FALSE(value.Parse(u"[1,]"));
  EXPECT_FALSE(value.Parse(static_cast<const char16_t*>(nullptr), 0, &error));
  EXPECT_EQ(Utf8(error.message), "Empty string.");
}

TEST(JsonParserTest, ReadersAgreeOnLongEscapedStrings) {
  // Many escaped quotes: each one is a place where the string could have
  // ended; the fast reader must settle them exactly as the re-reading one.
  std::u16string text = u"[\"", name = u"{\"";
  for (int i = 0; i < 300; ++i) text += u"\\\"x\\\\", name += u"\\\"";
  for (const std::u16string& prefix : {text + u"\\u12", name}) {
    for (const char16_t* ending : {u"34\"]", u"\"x\"]", u"\":1}", u"\""}) {
      const auto answer = [&](Reader read) {
        JsonValue value;
        JsonParseError error;
        const bool ok = read(value, prefix + ending, 0, &error);
        return Said(ok, Utf8(error.message) + " " + Write(value), error);
      };
      EXPECT_EQ(answer(kReaders[0]), answer(kReaders[1]));
    }
  }
}

}  // namespace
