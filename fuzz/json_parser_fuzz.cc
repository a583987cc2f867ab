// Reads arbitrary text with the JSON reader and checks three things: the
// fast reader and the one that re-reads its token at every character agree
// on the value and on the error; what a read value writes is read back; and
// the value read back is the same value, written the same way.
//
// Input: the first byte picks the reader's flags (bits 0-4) and how the rest
// becomes UTF-16 (bit 7: pairs of bytes, little-endian; else one byte each).
//
// Built so that the libraries under test report their coverage too:
//   make fuzz (or by hand, in one line:)
//   cmake -S . -B build/fuzz -G Ninja -DFUZZ=ON -DREGCLEAN_TESTS=OFF -DREGCLEAN_BENCH=OFF
//     -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
//     -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined
//   cmake --build build/fuzz --target json_parser_fuzz
//   build/fuzz/fuzz/json_parser_fuzz -dict=fuzz/json_parser.dict -max_total_time=240 CORPUS_DIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/json_parser.h"
#include "support/json_value.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

bool IsFloat(const JsonValue& value) {
  return value.tag() == JsonTag::VT_R4 || value.tag() == JsonTag::VT_R8;
}

// Infinity and NaN are written as words that no reader takes back.
bool AllFinite(const JsonValue& value) {
  if (IsFloat(value)) return std::isfinite(value.number());
  if (const JsonObject* members = value.object()) {
    for (const auto& member : *members) {
      if (!AllFinite(member.second)) return false;
    }
  }
  if (const JsonArray* elements = value.array()) {
    for (const JsonValue& element : *elements) {
      if (!AllFinite(element)) return false;
    }
  }
  return true;
}

// Same kind, strings, integers with their tags, members and elements. Floats
// are compared by their written text: written with six decimals, a small
// float reads back as 0.
bool SameValue(const JsonValue& a, const JsonValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::String:
      return *a.string() == *b.string();
    case JsonKind::Boolean:
      return a.boolean() == b.boolean();
    case JsonKind::Number: {
      if (IsFloat(a) != IsFloat(b)) return false;
      if (!IsFloat(a)) return a.tag() == b.tag() && a.integer() == b.integer();
      std::u16string ta, tb;
      a.ToText(ta);
      b.ToText(tb);
      return ta == tb;
    }
    case JsonKind::Array: {
      const JsonArray &x = *a.array(), &y = *b.array();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!SameValue(x[i], y[i])) return false;
      }
      return true;
    }
    case JsonKind::Object: {
      const JsonObject &x = *a.object(), &y = *b.object();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (i->first != j->first || !SameValue(i->second, j->second)) return false;
      }
      return true;
    }
    default:
      return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  uint32_t flags = 0;
  if (selector & 0x01) flags |= JsonFlags::UnquotedNames;
  if (selector & 0x02) flags |= JsonFlags::HexNumbers;
  if (selector & 0x04) flags |= JsonFlags::LeadingZeros;
  if (selector & 0x08) flags |= JsonFlags::RawControlChars;
  if (selector & 0x10) flags |= JsonFlags::SingleQuotes;
  std::u16string text;
  if (selector & 0x80) {
    for (size_t i = 1; i + 1 < size; i += 2) {
      text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    text.assign(data + 1, data + size);
  }

  JsonValue fast, slow;
  JsonParseError fastError, slowError;
  const bool ok = fast.Parse(text, flags, &fastError);
  Check(ParseJsonRescanning(slow, text, flags, &slowError) == ok, "readers agree on success");
  Check(fastError.message == slowError.message, "readers agree on the message");
  Check(fastError.position == slowError.position && fastError.line == slowError.line &&
            fastError.column == slowError.column,
        "readers agree on the position");
  Check(fastError.position <= text.size(), "position within the text");
  std::u16string fastText, slowText;
  fast.ToText(fastText, JsonFlags::PrettyTabs);
  slow.ToText(slowText, JsonFlags::PrettyTabs);
  Check(fastText == slowText, "readers agree on the value");
  Check(ok == fastError.message.empty(), "a message exactly on failure");
  // A text of whitespace and comments reads as null, which is no root.
  if (!ok || fast.kind() == JsonKind::Null || !AllFinite(fast)) return 0;

  // Write and read back. Vertical tabs and other whitespace controls are
  // copied raw by the writer, so the reading side accepts them.
  const struct {
    uint32_t write, read;
  } modes[] = {
      {0, JsonFlags::RawControlChars},
      {JsonFlags::PrettyTabs, JsonFlags::RawControlChars},
      {JsonFlags::PrettySpaces, JsonFlags::RawControlChars},
      {JsonFlags::SingleQuotes, JsonFlags::SingleQuotes | JsonFlags::RawControlChars},
      {JsonFlags::NameOrder, JsonFlags::RawControlChars},
  };
  for (const auto& mode : modes) {
    std::u16string written;
    fast.ToText(written, mode.write);
    JsonValue back;
    JsonParseError error;
    Check(back.Parse(written, mode.read, &error), "what was written reads back");
    Check(SameValue(fast, back), "the value read back is the same");
    std::u16string again;
    back.ToText(again, mode.write);
    Check(again == written, "the value read back writes the same text");
  }
  return 0;
}
