// JSON values held in UTF-16 text. Every value carries, beside its JSON kind,
// the VARTYPE code of the native type it was set from (a number remembers
// whether it came from a byte, an integer, a float or a double), and every
// object remembers the order in which its member names were first touched;
// the writer follows that order. Not synchronized: one thread per value.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

enum class JsonKind : int32_t {
  Undefined = -1,  // created by member access, never assigned; not written
  Null = 0,
  String = 1,
  Number = 2,
  Boolean = 3,
  Object = 4,
  Array = 5,
};

// The VARTYPE codes a value is tagged with.
struct JsonTag {
  static constexpr uint16_t VT_EMPTY = 0;
  static constexpr uint16_t VT_NULL = 1;
  static constexpr uint16_t VT_I2 = 2;
  static constexpr uint16_t VT_I4 = 3;
  static constexpr uint16_t VT_R4 = 4;
  static constexpr uint16_t VT_R8 = 5;
  static constexpr uint16_t VT_BSTR = 8;
  static constexpr uint16_t VT_DISPATCH = 9;
  static constexpr uint16_t VT_BOOL = 11;
  static constexpr uint16_t VT_I1 = 16;
  static constexpr uint16_t VT_UI1 = 17;
  static constexpr uint16_t VT_UI2 = 18;
  static constexpr uint16_t VT_UI4 = 19;
  static constexpr uint16_t VT_I8 = 20;
  static constexpr uint16_t VT_UI8 = 21;
  static constexpr uint16_t VT_ARRAY = 0x2000;
};

// One flag word shared by the writer and the parser.
struct JsonFlags {
  static constexpr uint32_t UnquotedNames = 0x1;
  static constexpr uint32_t PrettyTabs = 0x4;
  static constexpr uint32_t PrettySpaces = 0x8;  // wins over PrettyTabs
  static constexpr uint32_t HexNumbers = 0x10;
  static constexpr uint32_t LeadingZeros = 0x20;
  static constexpr uint32_t RawControlChars = 0x40;
  static constexpr uint32_t SingleQuotes = 0x80;
  static constexpr uint32_t NameOrder = 0x100;
};

// Writer options; a null pointer means these defaults.
struct JsonWriteOptions {
  uint32_t level = 0;                      // nesting level of the value; multiplies the indentation
  uint32_t indentWidth = 2;                // spaces per level under PrettySpaces
  int32_t precision = 6;                   // decimals of floats; negative: the format alone decides
  const char16_t* numberFormat = u"%.*f";  // printf-style; null: "%.*f" or "%f"
};

// Where and why a parse failed. line and column are 1-based and count CR LF
// pairs only; position is the 0-based index of the offending character.
struct JsonParseError {
  uint32_t line = 1;
  uint32_t column = 1;
  uint32_t position = 0;
  std::u16string message;  // empty when there was no error
};

class JsonValue;
class JsonObject;
class JsonArray;

// One open container or comment of a running parse.
struct ParseFrame {
  enum Context : uint8_t { Array, Object, Comment };
  // States of an array frame.
  static constexpr uint8_t ArrayStart = 0, ArrayAfterSeparator = 1, ArrayToken = 2;
  // States of an object frame.
  static constexpr uint8_t ObjectStart = 0, ObjectAfterSeparator = 1, QuotedName = 2,
                           UnquotedName = 3, AfterName = 4, ExpectValue = 5, ValueToken = 6;
  // States of a comment frame.
  static constexpr uint8_t CommentOpen = 0, BlockComment = 1, LineComment = 2;

  Context context = Array;
  uint8_t state = 0;
  JsonValue* target = nullptr;  // the array or object being filled; none for comments
};

class JsonValue {
 public:
  // Null, VT_NULL.
  JsonValue();
  // The empty value of a kind: "" VT_BSTR, 0 VT_I4, false VT_BOOL, {} VT_DISPATCH,
  // [] VT_ARRAY, null VT_NULL; any other kind value keeps that kind with VT_EMPTY.
  explicit JsonValue(JsonKind kind);
  // A string, VT_BSTR; a null pointer gives the empty string.
  JsonValue(const char16_t* text);
  JsonValue(std::u16string_view text);
  JsonValue(double number);   // VT_R8
  JsonValue(int32_t number);  // VT_I4
  JsonValue(bool) = delete;   // would otherwise silently become a number
  // Members copied; the member order starts empty, so they are written by name.
  JsonValue(const JsonObject& object);
  JsonValue(const JsonArray& array);
  // Deep copies of the whole subtree, member order included.
  JsonValue(const JsonValue& other);
  JsonValue(JsonValue&& other) noexcept;
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept;
  // Frees nested containers without recursion, so deep trees cannot exhaust
  // the stack.
  ~JsonValue();

  // Each assignment clears the value first.
  JsonValue& operator=(const char16_t* text);
  JsonValue& operator=(std::u16string_view text);
  JsonValue& operator=(const std::u16string& text) { return *this = std::u16string_view(text); }
  JsonValue& operator=(double number);  // VT_R8
  JsonValue& operator=(float number);   // VT_R4
  JsonValue& operator=(bool flag);      // VT_BOOL
  // Integers get the tag of their width and signedness (VT_I1 ... VT_UI8).
  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> &&
           !std::is_same_v<T, char32_t> && !std::is_same_v<T, wchar_t>) JsonValue&
  operator=(T number) {
    if constexpr (std::is_signed_v<T>) {
      SetInteger(static_cast<int64_t>(number), SignedTag(sizeof(T)));
    } else {
      SetInteger(static_cast<int64_t>(static_cast<uint64_t>(number)), UnsignedTag(sizeof(T)));
    }
    return *this;
  }

  // Frees the payload, empties the member order: Null, VT_NULL.
  void Clear();

  // The member of that name, created as Undefined (VT_EMPTY) when missing. A
  // value that is not an object is cleared into an empty object first. Every
  // call records the name in the member order, also for an existing member.
  JsonValue& operator[](std::u16string_view name);

  // Members of an object, elements of an array, 0 otherwise.
  size_t ChildCount() const;

  // Writes the value as JSON text into out (replacing it) and returns out's
  // text. options may be null for the defaults. Never fails.
  const char16_t* ToText(std::u16string& out, uint32_t flags = 0,
                         const JsonWriteOptions* options = nullptr) const;

  // Reads text into this value. Returns true when the whole text was read;
  // otherwise error (when given) holds the first error with its position, and
  // the value keeps what was built up to it. The text must not live inside
  // this value.
  bool Parse(std::u16string_view text, uint32_t flags = 0, JsonParseError* error = nullptr);
  bool Parse(const char16_t* text, uint32_t flags = 0, JsonParseError* error = nullptr);

  JsonKind kind() const { return kind_; }
  uint16_t tag() const { return tag_; }
  // The names touched by member access, in order, repeats included.
  const std::vector<std::u16string>& memberOrder() const { return memberOrder_; }

  // Payload access; each returns null or a neutral value for other kinds.
  const std::u16string* string() const;
  const JsonObject* object() const;
  JsonObject* object();
  const JsonArray* array() const;
  JsonArray* array();
  // A number's payload as stored: integers as 64-bit, floats as double.
  int64_t integer() const;
  double number() const;  // integers converted (unsigned tags as unsigned)
  bool boolean() const;

 private:
  friend class JsonParser;

  using Payload = std::variant<std::monostate, int64_t, double, bool, std::u16string,
                               std::unique_ptr<JsonObject>, std::unique_ptr<JsonArray>>;

  static uint16_t SignedTag(size_t bytes);
  static uint16_t UnsignedTag(size_t bytes);
  void SetInteger(int64_t number, uint16_t tag);
  void SetFloat(double number, uint16_t tag);
  // Moves nested container payloads out and frees them one level at a time.
  static void ReleasePayload(Payload& payload);
  void CopyFrom(const JsonValue& other);

  uint16_t tag_ = JsonTag::VT_NULL;
  JsonKind kind_ = JsonKind::Null;
  Payload payload_;
  std::vector<std::u16string> memberOrder_;
  std::vector<ParseFrame> parseStack_;
};

// Members by name; names compare by UTF-16 code units taken as unsigned, so
// upper-case letters sort before lower-case ones.
class JsonObject : public std::map<std::u16string, JsonValue, std::less<>> {
 public:
  using map::map;
};

// Elements in insertion order.
class JsonArray : public std::vector<JsonValue> {
 public:
  using vector::vector;
};
