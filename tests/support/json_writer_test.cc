#include "support/json_writer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/unicode.h"
#include "support/json_value.h"

namespace {

std::string Utf8(std::u16string_view text) { return platform::U16ToUtf8(text); }

std::string Write(const JsonValue& value, uint32_t flags = 0,
                  const JsonWriteOptions* options = nullptr) {
  std::u16string out = u"left over";
  const char16_t* result = value.ToText(out, flags, options);
  EXPECT_EQ(result, out.c_str());
  return Utf8(out);
}

JsonValue Array(std::initializer_list<JsonValue> elements) {
  JsonValue value(JsonKind::Array);
  value.array()->assign(elements.begin(), elements.end());
  return value;
}

// ----------------------------------------------------------------------------
// Kinds and tags set by construction and assignment.

struct TagCase {
  const char* what;
  std::function<JsonValue()> make;
  JsonKind kind;
  uint16_t tag;
};

TEST(JsonValueTest, ConstructionAndAssignmentSetKindAndTag) {
  const TagCase cases[] = {
      {"default", [] { return JsonValue(); }, JsonKind::Null, JsonTag::VT_NULL},
      {"kind null", [] { return JsonValue(JsonKind::Null); }, JsonKind::Null, JsonTag::VT_NULL},
      {"kind string", [] { return JsonValue(JsonKind::String); }, JsonKind::String,
       JsonTag::VT_BSTR},
      {"kind number", [] { return JsonValue(JsonKind::Number); }, JsonKind::Number, JsonTag::VT_I4},
      {"kind boolean", [] { return JsonValue(JsonKind::Boolean); }, JsonKind::Boolean,
       JsonTag::VT_BOOL},
      {"kind object", [] { return JsonValue(JsonKind::Object); }, JsonKind::Object,
       JsonTag::VT_DISPATCH},
      {"kind array", [] { return JsonValue(JsonKind::Array); }, JsonKind::Array, JsonTag::VT_ARRAY},
      {"kind undefined", [] { return JsonValue(JsonKind::Undefined); }, JsonKind::Undefined,
       JsonTag::VT_EMPTY},
      {"kind out of range", [] { return JsonValue(static_cast<JsonKind>(9)); },
       static_cast<JsonKind>(9), JsonTag::VT_EMPTY},
      {"null pointer text", [] { return JsonValue(static_cast<const char16_t*>(nullptr)); },
       JsonKind::String, JsonTag::VT_BSTR},
      {"double", [] { return JsonValue(2.5); }, JsonKind::Number, JsonTag::VT_R8},
      {"int32", [] { return JsonValue(-7); }, JsonKind::Number, JsonTag::VT_I4},
      {"= text",
       [] {
         JsonValue v(1);
         v = u"x";
         return v;
       },
       JsonKind::String, JsonTag::VT_BSTR},
      {"= double",
       [] {
         JsonValue v;
         v = 1.0;
         return v;
       },
       JsonKind::Number, JsonTag::VT_R8},
      {"= float",
       [] {
         JsonValue v;
         v = 1.0f;
         return v;
       },
       JsonKind::Number, JsonTag::VT_R4},
      {"= int64",
       [] {
         JsonValue v;
         v = int64_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_I8},
      {"= int32",
       [] {
         JsonValue v;
         v = int32_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_I4},
      {"= int16",
       [] {
         JsonValue v;
         v = int16_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_I2},
      {"= int8",
       [] {
         JsonValue v;
         v = int8_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_I1},
      {"= uint64",
       [] {
         JsonValue v;
         v = uint64_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_UI8},
      {"= uint32",
       [] {
         JsonValue v;
         v = uint32_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_UI4},
      {"= uint16",
       [] {
         JsonValue v;
         v = uint16_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_UI2},
      {"= uint8",
       [] {
         JsonValue v;
         v = uint8_t{1};
         return v;
       },
       JsonKind::Number, JsonTag::VT_UI1},
      {"= bool",
       [] {
         JsonValue v(JsonKind::Array);
         v = true;
         return v;
       },
       JsonKind::Boolean, JsonTag::VT_BOOL},
      {"cleared object",
       [] {
         JsonValue v;
         v[u"a"] = 1;
         v.Clear();
         return v;
       },
       JsonKind::Null, JsonTag::VT_NULL},
      {"member created",
       [] {
         JsonValue v;
         return JsonValue(v[u"a"]);
       },
       JsonKind::Undefined, JsonTag::VT_EMPTY},
  };
  for (const TagCase& c : cases) {
    const JsonValue value = c.make();
    EXPECT_EQ(value.kind(), c.kind) << c.what;
    EXPECT_EQ(value.tag(), c.tag) << c.what;
  }
}

TEST(JsonValueTest, IntegersKeepTheirSignedness) {
  JsonValue value;
  value = uint64_t{0xFFFFFFFFFFFFFFFF};
  EXPECT_EQ(Write(value), "18446744073709551615");
  value = uint8_t{200};
  EXPECT_EQ(Write(value), "200");
  value = int8_t{-100};
  EXPECT_EQ(Write(value), "-100");
  value = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(Write(value), "-9223372036854775808");
  value = uint32_t{4000000000u};
  EXPECT_EQ(value.integer(), 4000000000);
  EXPECT_EQ(value.number(), 4000000000.0);
}

TEST(JsonValueTest, CopiesAreDeepAndKeepTheMemberOrder) {
  JsonValue original;
  original[u"z"] = 1;
  original[u"a"][u"inner"] = u"x";
  JsonValue copy(original);
  copy[u"a"][u"inner"] = u"changed";
  EXPECT_EQ(Write(original), R"({"z":1,"a":{"inner":"x"}})");
  EXPECT_EQ(Write(copy), R"({"z":1,"a":{"inner":"changed"}})");
  EXPECT_EQ(copy.memberOrder(), (std::vector<std::u16string>{u"z", u"a", u"a"}));

  JsonValue assigned(JsonKind::Array);
  assigned = original;
  EXPECT_EQ(Write(assigned), Write(original));
  assigned = assigned;  // self-assignment keeps the value
  EXPECT_EQ(Write(assigned), Write(original));

  // A value built from a plain object forgets any order: written by name.
  const JsonValue fromObject(*original.object());
  EXPECT_TRUE(fromObject.memberOrder().empty());
  EXPECT_EQ(Write(fromObject), R"({"a":{"inner":"x"},"z":1})");
}

TEST(JsonValueTest, AssigningAStringFromItselfKeepsIt) {
  JsonValue value(u"self");
  value = *value.string();
  EXPECT_EQ(Write(value), R"("self")");
}

TEST(JsonValueTest, MemberAccessRecordsEveryTouch) {
  JsonValue value;
  value[u"b"];
  value[u"a"];
  value[u"b"] = 2;
  value[u"a"] = 1;
  EXPECT_EQ(value.memberOrder(), (std::vector<std::u16string>{u"b", u"a", u"b", u"a"}));
  EXPECT_EQ(value.ChildCount(), 2u);
  EXPECT_EQ(Write(value), R"({"b":2,"a":1})");
  EXPECT_EQ(Write(value, JsonFlags::NameOrder), R"({"a":1,"b":2})");
}

TEST(JsonValueTest, MemberAccessOnANonObjectStartsAnEmptyObject) {
  JsonValue value = Array({JsonValue(1), JsonValue(2)});
  JsonValue& member = value[u"new"];
  EXPECT_EQ(member.kind(), JsonKind::Undefined);
  EXPECT_EQ(value.kind(), JsonKind::Object);
  EXPECT_EQ(value.tag(), JsonTag::VT_DISPATCH);
  EXPECT_EQ(value.ChildCount(), 1u);
  // Never assigned: not written.
  EXPECT_EQ(Write(value), "{}");

  JsonValue text(u"abc");
  text[u"k"] = u"v";
  EXPECT_EQ(Write(text), R"({"k":"v"})");
}

TEST(JsonValueTest, DeepNestingIsCopiedWrittenAndFreedWithoutRecursion) {
  // Deep enough to overflow a 1 MB stack if any of these recursed.
  constexpr int kDepth = 100000;
  JsonValue root(JsonKind::Array);
  JsonValue* current = &root;
  for (int i = 0; i < kDepth; ++i) {
    current->array()->emplace_back(JsonKind::Array);
    current = &current->array()->back();
  }
  JsonValue copy(root);
  std::u16string text;
  copy.ToText(text);
  EXPECT_EQ(text.size(), 2u * (kDepth + 1));
  EXPECT_EQ(text.substr(0, 3), u"[[[");
  root.Clear();
  EXPECT_EQ(root.kind(), JsonKind::Null);
}

// ----------------------------------------------------------------------------
// Layout of containers.

JsonValue TwoMembers() {
  JsonValue value;
  value[u"a"] = 1;
  value[u"b"] = 2;
  return value;
}

struct LayoutCase {
  const char* what;
  std::function<JsonValue()> make;
  uint32_t flags;
  JsonWriteOptions options;
  bool useOptions;
  const char* text;
};

TEST(JsonWriterTest, ContainerLayout) {
  constexpr uint32_t kTabs = JsonFlags::PrettyTabs, kSpaces = JsonFlags::PrettySpaces;
  JsonWriteOptions level1;
  level1.level = 1;
  JsonWriteOptions indent4;
  indent4.indentWidth = 4;
  JsonWriteOptions indent0;
  indent0.indentWidth = 0;
  const LayoutCase cases[] = {
      {"empty array compact", [] { return JsonValue(JsonKind::Array); }, 0, {}, false, "[]"},
      {"empty array tabs", [] { return JsonValue(JsonKind::Array); }, kTabs, {}, false, "[]"},
      {"empty object spaces", [] { return JsonValue(JsonKind::Object); }, kSpaces, {}, false, "{}"},
      {"one element stays on its line",
       [] { return Array({JsonValue(1)}); },
       kTabs,
       {},
       false,
       "[1]"},
      {"one member: no space after colon",
       [] {
         JsonValue v;
         v[u"a"] = 1;
         return v;
       },
       kTabs,
       {},
       false,
       R"({"a":1})"},
      {"array of two under tabs",
       [] {
         return Array({JsonValue(1), JsonValue(2)});
       },
       kTabs,
       {},
       false,
       "[\r\n\t1,\r\n\t2\r\n]"},
      {"object of two under spaces",
       TwoMembers,
       kSpaces,
       {},
       false,
       "{\r\n  \"a\": 1,\r\n  \"b\": 2\r\n}"},
      {"spaces win over tabs",
       TwoMembers,
       kSpaces | kTabs,
       {},
       false,
       "{\r\n  \"a\": 1,\r\n  \"b\": 2\r\n}"},
      {"indent width 4", TwoMembers, kSpaces, indent4, true,
       "{\r\n    \"a\": 1,\r\n    \"b\": 2\r\n}"},
      {"indent width 0", TwoMembers, kSpaces, indent0, true, "{\r\n\"a\": 1,\r\n\"b\": 2\r\n}"},
      {"starting level 1",
       [] {
         return Array({JsonValue(1), JsonValue(2)});
       },
       kTabs, level1, true, "[\r\n\t\t1,\r\n\t\t2\r\n\t]"},
      {"nested in a broken container goes one deeper",
       [] {
         return Array({Array({JsonValue(1), JsonValue(2)}), JsonValue(3)});
       },
       kTabs,
       {},
       false,
       "[\r\n\t[\r\n\t\t1,\r\n\t\t2\r\n\t],\r\n\t3\r\n]"},
      {"nested in an unbroken container keeps the level",
       [] {
         return Array({Array({JsonValue(1), JsonValue(2)})});
       },
       kTabs,
       {},
       false,
       "[[\r\n\t1,\r\n\t2\r\n]]"},
      {"object in array, compact",
       [] {
         JsonValue inner = TwoMembers();
         return Array({inner, JsonValue(JsonKind::Object), JsonValue(JsonKind::Array)});
       },
       0,
       {},
       false,
       R"([{"a":1,"b":2},{},[]])"},
      {"undefined member counts for the break but is not written",
       [] {
         JsonValue v;
         v[u"a"];
         v[u"b"] = 2;
         return v;
       },
       kTabs,
       {},
       false,
       "{\r\n\t\"b\": 2\r\n}"},
      {"undefined members leave no separator",
       [] {
         JsonValue v;
         v[u"a"] = 1;
         v[u"b"];
         v[u"c"] = 3;
         v[u"d"];
         return v;
       },
       0,
       {},
       false,
       R"({"a":1,"c":3})"},
      {"repeated names are written once, at their first place",
       [] {
         JsonValue v;
         v[u"m"] = 1;
         v[u"z"] = 2;
         v[u"m"] = 3;
         return v;
       },
       0,
       {},
       false,
       R"({"m":3,"z":2})"},
      {"members never touched follow the touched ones, by name",
       [] {
         JsonValue v;
         v[u"z"] = 1;
         v.object()->emplace(u"b", JsonValue(2));
         v.object()->emplace(u"a", JsonValue(3));
         return v;
       },
       0,
       {},
       false,
       R"({"z":1,"a":3,"b":2})"},
      {"a removed member is skipped",
       [] {
         JsonValue v;
         v[u"x"] = 1;
         v[u"y"] = 2;
         v.object()->erase(u"x");
         return v;
       },
       0,
       {},
       false,
       R"({"y":2})"},
      {"upper case sorts before lower case",
       [] {
         JsonObject o;
         o.emplace(u"SubResultText", JsonValue(u"t"));
         o.emplace(u"SubResultLevel", JsonValue(2.0));
         o.emplace(u"a", JsonValue(JsonKind::Null));
         return JsonValue(o);
       },
       0,
       {},
       false,
       R"({"SubResultLevel":2.000000,"SubResultText":"t","a":null})"},
      {"scalars",
       [] {
         JsonValue t, f;
         t = true;
         f = false;
         return Array({t, f, JsonValue(), JsonValue(JsonKind::Undefined), JsonValue(u"s")});
       },
       0,
       {},
       false,
       R"([true,false,null,,"s"])"},
  };
  for (const LayoutCase& c : cases) {
    EXPECT_EQ(Write(c.make(), c.flags, c.useOptions ? &c.options : nullptr), c.text) << c.what;
  }
}

// ----------------------------------------------------------------------------
// Quoting of strings and names.

struct QuoteCase {
  std::u16string text;
  uint32_t flags;
  bool isName;
  std::u16string quoted;
};

TEST(JsonWriterTest, QuotingOfStringsAndNames) {
  constexpr uint32_t kSingle = JsonFlags::SingleQuotes, kRaw = JsonFlags::RawControlChars,
                     kUnquoted = JsonFlags::UnquotedNames;
  const QuoteCase cases[] = {
      {u"", 0, false, u"\"\""},
      {u"", kSingle, false, u"''"},
      {u"", kUnquoted, true, u"\"\""},
      {u"a\nb", 0, false, u"\"a\\nb\""},
      {u"a\nb", kRaw, false, u"\"a\nb\""},
      {u"\"\\\b\f\n\r\t", 0, false, u"\"\\\"\\\\\\b\\f\\n\\r\\t\""},
      {u"\"\\\b\f\n\r\t", kRaw, false, u"\"\\\"\\\\\b\f\n\r\t\""},
      // Other control characters and non-ASCII text are copied; no \u escapes.
      {u"\x01\v\x1F\u00e9\u4e2d", 0, false, u"\"\x01\v\x1F\u00e9\u4e2d\""},
      {u"it's", kSingle, false, u"\"it's\""},
      {u"say \"hi\"", kSingle, false, u"'say \"hi\"'"},
      {u"both ' and \"", kSingle, false, u"\"both ' and \\\"\""},
      {u"key1", kUnquoted, true, u"key1"},
      {u"key1", kUnquoted, false, u"\"key1\""},
      {u"null", kUnquoted, true, u"\"null\""},
      {u"true", kUnquoted | kSingle, true, u"'true'"},
      {u"false", kUnquoted, true, u"\"false\""},
      {u"Null", kUnquoted, true, u"Null"},
      {u"two words", kUnquoted, true, u"\"two words\""},
      {u"tab\there", kUnquoted, true, u"\"tab\\there\""},
      {u"it's", kUnquoted | kSingle, true, u"\"it's\""},
      {u"a:b,c", kUnquoted, true, u"a:b,c"},
      {u"back\\slash", kUnquoted, true, u"back\\\\slash"},
  };
  for (const QuoteCase& c : cases) {
    std::u16string out;
    QuoteJsonString(out, c.text, c.flags, c.isName);
    EXPECT_EQ(Utf8(out), Utf8(c.quoted)) << Utf8(c.text) << " flags " << c.flags;
  }
}

TEST(JsonWriterTest, NamesAreQuotedInObjects) {
  JsonValue value;
  value[u"null"] = 1;
  value[u"key1"] = 2;
  EXPECT_EQ(Write(value, JsonFlags::UnquotedNames), R"({"null":1,key1:2})");
}

// ----------------------------------------------------------------------------
// Floats: the settled format and what it prints.

TEST(JsonWriterTest, FormatIsSettledFromTheOptions) {
  struct Case {
    const char16_t* format;
    int32_t precision;
    const char* settled;
  } cases[] = {
      {nullptr, 6, "%.*f"},  {nullptr, 0, "%.*f"},   {nullptr, -1, "%f"},  {u"%f", 3, "%.*f"},
      {u"%.2f", 3, "%.*2f"}, {u"%e", 1, "%.*e"},     {u"%.*f", -1, "%.f"}, {u"%g", -2, "%g"},
      {u"#", 4, "#"},        {u"v=%f", 2, "v=%.*f"}, {u"%.*e", 2, "%.*e"}, {u"x%%", 2, ".*x%%"},
  };
  for (const Case& c : cases) {
    const JsonNumberFormat settled = SettleJsonNumberFormat(c.format, c.precision);
    EXPECT_EQ(Utf8(settled.format), c.settled) << (c.format ? Utf8(c.format) : "null");
    EXPECT_EQ(settled.precision, c.precision);
  }
}

struct NumberCase {
  double number;
  bool isFloat;
  const char16_t* format;
  int32_t precision;
  bool useOptions;
  const char* text;
};

TEST(JsonWriterTest, FloatsArePrintedWithTheSettledFormat) {
  const NumberCase cases[] = {
      {2.0, false, nullptr, 0, false, "2.000000"},
      {0.1f, true, nullptr, 0, false, "0.100000"},
      {-1.5, false, nullptr, 0, false, "-1.500000"},
      {2.25, false, u"%.*f", -1, true, "2"},
      {2.25, false, u"%f", 3, true, "2.250"},
      {2.25, false, nullptr, 1, true, "2.2"},  // round half to even, as printf does
      {2.35, false, nullptr, 0, true, "2"},
      {2.25, false, nullptr, -1, true, "2.250000"},
      {1234.5, false, u"%e", 2, true, "1.23e+03"},
      {1234.5, false, u"%G", -1, true, "1234.5"},
      {0.0001, false, u"%g", -1, true, "0.0001"},
      {2.5, false, u"v=%f!", 1, true, "v=2.5!"},
      {2.5, false, u"%8.*f|%%", 2, true, "    2.50|%"},
      {2.5, false, u"%-8f|", 2, true, "2.50    |"},
      {2.5, false, u"%+f", 1, true, "+2.5"},
      {2.5, false, u"%08.*f", 2, true, "00002.50"},
      {2.5, false, u"[%.1f]", -1, true, "[2.5]"},
      {2.5, false, u"#", 3, true, "#"},
      {2.5, false, u"%f %f", -1, true, "2.500000 "},  // nothing left for the second
      {2.5, false, u"%s", -1, true, ""},              // cannot take a number
      {2.5, false, u"%y", -1, true, "%y"},            // not a conversion
      {2.5, false, u"50%", -1, true, "50%"},
      {std::numeric_limits<double>::infinity(), false, nullptr, 0, false, "inf"},
      {-std::numeric_limits<double>::infinity(), false, nullptr, 0, false, "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), false, u"%F", -1, true, "NAN"},
  };
  for (const NumberCase& c : cases) {
    JsonValue value;
    if (c.isFloat) {
      value = static_cast<float>(c.number);
    } else {
      value = c.number;
    }
    JsonWriteOptions options;
    options.numberFormat = c.format;
    options.precision = c.precision;
    EXPECT_EQ(Write(value, 0, c.useOptions ? &options : nullptr), c.text)
        << c.number << " " << (c.format ? Utf8(c.format) : "null") << " " << c.precision;
  }
}

TEST(JsonWriterTest, LongNumbersAreCutToTheBuffer) {
  // DBL_MAX has 309 integer digits; with six decimals the text needs 316
  // characters, the buffer of 6 + 310 units holds 315 and a terminator.
  std::u16string out;
  JsonValue(DBL_MAX).ToText(out);
  EXPECT_EQ(out.size(), 315u);
  EXPECT_EQ(Utf8(out.substr(0, 6)), "179769");
  EXPECT_EQ(out.substr(309), u".00000");
  JsonValue(-DBL_MAX).ToText(out);
  EXPECT_EQ(out.size(), 315u);

  JsonWriteOptions options;
  options.precision = 0;
  JsonValue(1e300).ToText(out, 0, &options);
  EXPECT_EQ(out.size(), 301u);
}

TEST(JsonWriterTest, NestedFloatsUseTheSettledFormat) {
  JsonValue value;
  value[u"x"] = 0.5;
  value[u"list"] = Array({JsonValue(1.25), JsonValue(7)});
  JsonWriteOptions options;
  options.precision = 1;
  options.numberFormat = u"%f";
  EXPECT_EQ(Write(value, 0, &options), R"({"x":0.5,"list":[1.2,7]})");
}

}  // namespace
