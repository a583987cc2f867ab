#include "support/json_writer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

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
  return JsonValue(JsonArray(elements));
}

// An object whose members are touched in the order given (an Undefined value only touches).
JsonValue Object(std::initializer_list<std::pair<const char16_t*, JsonValue>> members) {
  JsonValue value(JsonKind::Object);
  for (const auto& [name, member] : members) value[name] = member;
  return value;
}

// A value that was something else before the assignment.
template <typename T>
JsonValue Assigned(T native) {
  JsonValue value(JsonKind::Array);
  value = native;
  return value;
}

const JsonValue kUndefined(JsonKind::Undefined);

TEST(JsonValueTest, ConstructionAndAssignmentSetKindAndTag) {
  JsonValue touched;
  // What, value, kind, tag and the text written (null: not checked).
  const std::tuple<const char*, JsonValue, JsonKind, uint16_t, const char*> cases[] = {
      {"kind null", JsonValue(JsonKind::Null), JsonKind::Null, JsonTag::VT_NULL, nullptr},
      {"kind string", JsonValue(JsonKind::String), JsonKind::String, JsonTag::VT_BSTR, nullptr},
      {"kind number", JsonValue(JsonKind::Number), JsonKind::Number, JsonTag::VT_I4, nullptr},
      {"kind boolean", JsonValue(JsonKind::Boolean), JsonKind::Boolean, JsonTag::VT_BOOL, nullptr},
      {"kind object", JsonValue(JsonKind::Object), JsonKind::Object, JsonTag::VT_DISPATCH, nullptr},
      {"kind array", JsonValue(JsonKind::Array), JsonKind::Array, JsonTag::VT_ARRAY, nullptr},
      {"kind undefined", kUndefined, JsonKind::Undefined, JsonTag::VT_EMPTY, nullptr},
      {"kind out of range", JsonValue(static_cast<JsonKind>(9)), static_cast<JsonKind>(9),
       JsonTag::VT_EMPTY, nullptr},
      {"null pointer text", JsonValue(static_cast<const char16_t*>(nullptr)), JsonKind::String,
       JsonTag::VT_BSTR, nullptr},
      {"= float", Assigned(1.0f), JsonKind::Number, JsonTag::VT_R4, nullptr},
      // Integers keep their width and signedness.
      {"= int64", Assigned(std::numeric_limits<int64_t>::min()), JsonKind::Number, JsonTag::VT_I8,
       "-9223372036854775808"},
      {"= int8", Assigned(int8_t{-100}), JsonKind::Number, JsonTag::VT_I1, "-100"},
      {"= uint64", Assigned(uint64_t{0xFFFFFFFFFFFFFFFF}), JsonKind::Number, JsonTag::VT_UI8,
       "18446744073709551615"},
      {"= uint32", Assigned(uint32_t{4000000000u}), JsonKind::Number, JsonTag::VT_UI4,
       "4000000000"},
      {"= uint16", Assigned(uint16_t{1}), JsonKind::Number, JsonTag::VT_UI2, nullptr},
      {"= uint8", Assigned(uint8_t{200}), JsonKind::Number, JsonTag::VT_UI1, "200"},
      {"member created", JsonValue(touched[u"a"]), JsonKind::Undefined, JsonTag::VT_EMPTY, nullptr},
  };
  for (const auto& [what, value, kind, tag, written] : cases) {
    EXPECT_EQ(value.kind(), kind) << what;
    EXPECT_EQ(value.tag(), tag) << what;
    EXPECT_EQ(written ? Write(value) : "", written ? written : "") << what;
  }
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
  EXPECT_TRUE(Write(copy) == std::string(kDepth + 1, '[') + std::string(kDepth + 1, ']'));
  root.Clear();
  EXPECT_EQ(root.kind(), JsonKind::Null);
}

TEST(JsonWriterTest, ContainerLayout) {
  constexpr uint32_t kTabs = JsonFlags::PrettyTabs, kSpaces = JsonFlags::PrettySpaces;
  const JsonValue two = Object({{u"a", 1}, {u"b", 2}});
  const JsonValue pair = Array({JsonValue(1), JsonValue(2)});
  const JsonObject byName{
      {u"SubResultText", u"t"}, {u"SubResultLevel", 2.0}, {u"a", JsonValue(JsonKind::Null)}};
  JsonValue untouched = Object({{u"z", 1}});
  untouched.object()->emplace(u"b", JsonValue(2));
  untouched.object()->emplace(u"a", JsonValue(3));
  // What, value, flags, indent width and starting level (-1: the default), text.
  const std::tuple<const char*, JsonValue, uint32_t, int, int, const char*> cases[] = {
      {"empty array", JsonValue(JsonKind::Array), kTabs, -1, -1, "[]"},
      {"one element stays on its line", Array({JsonValue(1)}), kTabs, -1, -1, "[1]"},
      {"one member: no space after colon", Object({{u"a", 1}}), kTabs, -1, -1, R"({"a":1})"},
      {"array of two under tabs", pair, kTabs, -1, -1, "[\r\n\t1,\r\n\t2\r\n]"},
      {"object of two under spaces", two, kSpaces, -1, -1, "{\r\n  \"a\": 1,\r\n  \"b\": 2\r\n}"},
      {"spaces win over tabs", two, kSpaces | kTabs, -1, -1, "{\r\n  \"a\": 1,\r\n  \"b\": 2\r\n}"},
      {"indent width 4", two, kSpaces, 4, -1, "{\r\n    \"a\": 1,\r\n    \"b\": 2\r\n}"},
      {"indent width 0", two, kSpaces, 0, -1, "{\r\n\"a\": 1,\r\n\"b\": 2\r\n}"},
      {"starting level 1", pair, kTabs, -1, 1, "[\r\n\t\t1,\r\n\t\t2\r\n\t]"},
      {"nested in a broken container goes one deeper", Array({pair, JsonValue(3)}), kTabs, -1, -1,
       "[\r\n\t[\r\n\t\t1,\r\n\t\t2\r\n\t],\r\n\t3\r\n]"},
      {"nested in an unbroken container keeps the level", Array({pair}), kTabs, -1, -1,
       "[[\r\n\t1,\r\n\t2\r\n]]"},
      {"object in array, compact",
       Array({two, JsonValue(JsonKind::Object), JsonValue(JsonKind::Array)}), 0, -1, -1,
       R"([{"a":1,"b":2},{},[]])"},
      {"undefined member counts for the break but is not written",
       Object({{u"a", kUndefined}, {u"b", 2}}), kTabs, -1, -1, "{\r\n\t\"b\": 2\r\n}"},
      {"undefined members leave no separator",
       Object({{u"a", 1}, {u"b", kUndefined}, {u"c", 3}, {u"d", kUndefined}}), 0, -1, -1,
       R"({"a":1,"c":3})"},
      {"repeated names are written once, at their first place",
       Object({{u"m", 1}, {u"z", 2}, {u"m", 3}}), 0, -1, -1, R"({"m":3,"z":2})"},
      {"members never touched follow the touched ones, by name", untouched, 0, -1, -1,
       R"({"z":1,"a":3,"b":2})"},
      {"upper case sorts before lower case", JsonValue(byName), 0, -1, -1,
       R"({"SubResultLevel":2.000000,"SubResultText":"t","a":null})"},
      {"scalars",
       Array({Assigned(true), Assigned(false), JsonValue(), kUndefined, JsonValue(u"s")}), 0, -1,
       -1, R"([true,false,null,,"s"])"},
  };
  for (const auto& [what, value, flags, indentWidth, level, text] : cases) {
    JsonWriteOptions options;
    if (indentWidth >= 0) options.indentWidth = indentWidth;
    if (level >= 0) options.level = level;
    EXPECT_EQ(Write(value, flags, indentWidth >= 0 || level >= 0 ? &options : nullptr), text)
        << what;
  }
}

TEST(JsonWriterTest, QuotingOfStringsAndNames) {
  constexpr uint32_t kSingle = JsonFlags::SingleQuotes, kRaw = JsonFlags::RawControlChars,
                     kUnquoted = JsonFlags::UnquotedNames;
  const std::tuple<std::u16string, uint32_t, bool, std::u16string> cases[] = {
      {u"", 0, false, u"\"\""},
      {u"", kSingle, false, u"''"},
      {u"\"\\\b\f\n\r\t", 0, false, u"\"\\\"\\\\\\b\\f\\n\\r\\t\""},
      {u"\"\\\b\f\n\r\t", kRaw, false, u"\"\\\"\\\\\b\f\n\r\t\""},
      // Other control characters and non-ASCII text are copied; no \u escapes.
      {u"\x01\v\x1F\u00e9\u4e2d", 0, false, u"\"\x01\v\x1F\u00e9\u4e2d\""},
      {u"it's", kSingle, false, u"\"it's\""},
      {u"say \"hi\"", kSingle, false, u"'say \"hi\"'"},
      {u"both ' and \"", kSingle, false, u"\"both ' and \\\"\""},
      {u"key1", kUnquoted, false, u"\"key1\""},
      {u"true", kUnquoted | kSingle, true, u"'true'"},
      {u"Null", kUnquoted, true, u"Null"},
      {u"tab\there", kUnquoted, true, u"\"tab\\there\""},
      {u"back\\slash", kUnquoted, true, u"back\\\\slash"},
  };
  for (const auto& [text, flags, isName, quoted] : cases) {
    std::u16string out;
    QuoteJsonString(out, text, flags, isName);
    EXPECT_EQ(Utf8(out), Utf8(quoted)) << Utf8(text) << " flags " << flags;
  }
  EXPECT_EQ(Write(Object({{u"null", 1}, {u"key1", 2}}), kUnquoted), R"({"null":1,key1:2})");
}

TEST(JsonWriterTest, FloatsArePrintedWithTheSettledFormat) {
  // Number, format, precision (with 0 and no format: no options at all), text.
  const std::tuple<double, const char16_t*, int32_t, const char*> cases[] = {
      {2.0, nullptr, 0, "2.000000"},
      {2.25, u"%.*f", -1, "2"},
      {2.25, u"%f", 3, "2.250"},
      {2.25, nullptr, 1, "2.2"},  // round half to even, as printf does
      {1234.5, u"%e", 2, "1.23e+03"},
      {1234.5, u"%G", -1, "1234.5"},
      {2.5, u"v=%f!", 1, "v=2.5!"},
      {2.5, u"%8.*f|%%", 2, "    2.50|%"},
      {2.5, u"%08.*f", 2, "00002.50"},
      {2.5, u"#", 3, "#"},
      {2.5, u"%f %f", -1, "2.500000 "},  // nothing left for the second
      {2.5, u"%s", -1, ""},              // cannot take a number
      {2.5, u"%y", -1, "%y"},            // not a conversion
      {-std::numeric_limits<double>::infinity(), nullptr, 0, "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), u"%F", -1, "NAN"},
  };
  for (const auto& [number, format, precision, text] : cases) {
    JsonWriteOptions options;
    options.numberFormat = format;
    options.precision = precision;
    EXPECT_EQ(Write(Assigned(number), 0, format || precision ? &options : nullptr), text)
        << number << " " << (format ? Utf8(format) : "null") << " " << precision;
  }
  EXPECT_EQ(Write(Assigned(0.1f)), "0.100000");  // a float (VT_R4) too
  // A precision given where the format has its own goes after the point.
  EXPECT_EQ(Utf8(SettleJsonNumberFormat(u"%.2f", 3).format), "%.*2f");
  // Nested floats use the same format.
  JsonWriteOptions options;
  options.precision = 1;
  options.numberFormat = u"%f";
  EXPECT_EQ(
      Write(Object({{u"x", 0.5}, {u"list", Array({JsonValue(1.25), JsonValue(7)})}}), 0, &options),
      R"({"x":0.5,"list":[1.2,7]})");
  // Long numbers are cut to the buffer: DBL_MAX has 309 integer digits; with six decimals the text
  // needs 316 characters, the buffer of 6 + 310 units holds 315 and a terminator.
  std::u16string out;
  JsonValue(DBL_MAX).ToText(out);
  EXPECT_EQ(out.size(), 315u);
  EXPECT_EQ(Utf8(out.substr(0, 6)), "179769");
  EXPECT_EQ(out.substr(309), u".00000");
  options.numberFormat = nullptr;
  options.precision = 0;
  JsonValue(1e300).ToText(out, 0, &options);
  EXPECT_EQ(out.size(), 301u);
}

}  // namespace
