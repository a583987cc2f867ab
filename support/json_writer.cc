#include "support/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "support/json_value.h"

namespace {

constexpr char16_t kDefaultFormat[] = u"%.*f";
constexpr char16_t kPlainFormat[] = u"%f";
// Digits after the point, or widths, beyond these are cut back to them: a
// double has no nonzero decimal beyond the 1074th, and no sane format asks
// for more.
constexpr int kMaxPrecision = 100000;
constexpr int kMaxWidth = 100000;

void AppendAscii(std::u16string& out, std::string_view text) {
  out.append(text.begin(), text.end());
}

bool Contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

// ---------------------------------------------------------------------------
// printf-style formatting of one double on UTF-16 text. Each conversion is
// handed to the narrow snprintf with its flags, width and precision resolved,
// and its output widened; the literal text of the format is copied as it is.

struct Argument {
  bool isInteger;
  int32_t integer;
  double number;
};

class NumberPrinter {
 public:
  NumberPrinter(std::u16string& out, size_t limit) : out_(out), room_(limit) {}

  void Print(std::u16string_view format, const Argument* args, size_t count) {
    args_ = args;
    count_ = count;
    size_t i = 0;
    while (i < format.size() && room_ > 0) {
      if (format[i] != u'%') {
        Put(format[i++]);
        continue;
      }
      i = Conversion(format, i);
    }
  }

 private:
  void Put(char16_t c) {
    if (room_ == 0) return;
    out_.push_back(c);
    --room_;
  }
  void PutAscii(std::string_view text) {
    for (char c : text) Put(static_cast<unsigned char>(c));
  }

  const Argument* Next() { return next_ < count_ ? &args_[next_++] : nullptr; }

  static int32_t ToInt(const Argument& arg) {
    if (arg.isInteger) return arg.integer;
    const double d = arg.number;
    if (!(d == d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
  }
  static int64_t ToInt64(const Argument& arg) {
    if (arg.isInteger) return arg.integer;
    const double d = arg.number;
    if (!(d == d)) return 0;
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(d);
  }

  // Formats with snprintf and puts the widened result, cut to the room left.
  template <typename T>
  void Snprintf(const std::string& directive, T value) {
    char small[512];
    int needed = std::snprintf(small, sizeof(small), directive.c_str(), value);
    if (needed < 0) return;
    if (static_cast<size_t>(needed) < sizeof(small)) {
      PutAscii(std::string_view(small, static_cast<size_t>(needed)));
      return;
    }
    std::string large(static_cast<size_t>(needed) + 1, '\0');
    needed = std::snprintf(large.data(), large.size(), directive.c_str(), value);
    if (needed < 0) return;
    PutAscii(std::string_view(large.data(), static_cast<size_t>(needed)));
  }

  // Handles the conversion that starts at format[start] ('%'); returns the
  // index after it.
  size_t Conversion(std::u16string_view format, size_t start) {
    size_t j = start + 1;
    auto at = [&](size_t k) -> char16_t { return k < format.size() ? format[k] : 0; };
    if (at(j) == u'%') {
      Put(u'%');
      return j + 1;
    }
    std::string flags;
    while (at(j) == u'-' || at(j) == u'+' || at(j) == u' ' || at(j) == u'#' || at(j) == u'0') {
      flags.push_back(static_cast<char>(at(j++)));
    }
    int width = -1;
    if (at(j) == u'*') {
      ++j;
      const Argument* arg = Next();
      width = arg ? ToInt(*arg) : 0;
      if (width < 0) {
        flags.push_back('-');
        width = width == INT32_MIN ? INT32_MAX : -width;
      }
    } else {
      while (at(j) >= u'0' && at(j) <= u'9') {
        width = std::min((width < 0 ? 0 : width) * 10 + (at(j++) - u'0'), kMaxWidth);
      }
    }
    int precision = -1;
    if (at(j) == u'.') {
      ++j;
      precision = 0;
      if (at(j) == u'*') {
        ++j;
        const Argument* arg = Next();
        precision = arg ? ToInt(*arg) : 0;
      } else {
        while (at(j) >= u'0' && at(j) <= u'9') {
          precision = std::min(precision * 10 + (at(j++) - u'0'), kMaxPrecision);
        }
      }
    }
    // Length modifiers: only the width of integer arguments depends on them.
    int integerBits = 32;
    for (bool more = true; more;) {
      const char16_t c = at(j);
      if (c == u'h') {
        integerBits = at(j + 1) == u'h' ? 8 : 16;
        j += integerBits == 8 ? 2 : 1;
      } else if (c == u'l') {
        integerBits = at(j + 1) == u'l' ? 64 : 32;
        j += integerBits == 64 ? 2 : 1;
      } else if (c == u'I' && at(j + 1) == u'6' && at(j + 2) == u'4') {
        integerBits = 64;
        j += 3;
      } else if (c == u'I' && at(j + 1) == u'3' && at(j + 2) == u'2') {
        integerBits = 32;
        j += 3;
      } else if (c == u'j' || c == u'q') {
        integerBits = 64;
        ++j;
      } else if (c == u'L' || c == u'z' || c == u't' || c == u'w' || c == u'I') {
        ++j;
      } else {
        more = false;
      }
    }
    const char16_t conversion = at(j);
    const std::u16string_view kFloat = u"eEfFgGaA", kSigned = u"di", kUnsigned = u"ouxX",
                              kSkipped = u"cCsSpnZ";
    if (conversion == 0 ||
        (kFloat.find(conversion) == kFloat.npos && kSigned.find(conversion) == kSigned.npos &&
         kUnsigned.find(conversion) == kUnsigned.npos &&
         kSkipped.find(conversion) == kSkipped.npos)) {
      // Not a conversion: the text stands as written.
      for (size_t k = start; k < j; ++k) Put(format[k]);
      return j;
    }
    const Argument* arg = Next();
    if (arg == nullptr || kSkipped.find(conversion) != kSkipped.npos) return j + 1;
    width = std::min(width, kMaxWidth);
    precision = std::min(precision, kMaxPrecision);

    std::string directive(1, '%');
    directive += flags;
    if (width >= 0) directive += std::to_string(width);
    if (precision >= 0) {
      directive.push_back('.');
      directive += std::to_string(precision);
    }

    if (kFloat.find(conversion) != kFloat.npos) {
      const double number = arg->isInteger ? static_cast<double>(arg->integer) : arg->number;
      if (std::isfinite(number)) {
        directive.push_back(static_cast<char>(conversion));
        Snprintf(directive, number);
      } else {
        // Spelt out here: runtimes disagree on the names of infinity and NaN.
        const bool upper =
            conversion == u'E' || conversion == u'F' || conversion == u'G' || conversion == u'A';
        auto has = [&flags](char flag) { return flags.find(flag) != std::string::npos; };
        std::string body = std::signbit(number) ? "-" : has('+') ? "+" : has(' ') ? " " : "";
        body += std::isnan(number) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        std::string padSpec = has('-') ? "%-" : "%";
        if (width >= 0) padSpec += std::to_string(width);
        padSpec += "s";
        Snprintf(padSpec, body.c_str());
      }
      return j + 1;
    }
    int64_t value = ToInt64(*arg);
    const bool isSigned = kSigned.find(conversion) != kSigned.npos;
    switch (integerBits) {
      case 8:
        value = isSigned ? static_cast<int8_t>(value) : static_cast<uint8_t>(value);
        break;
      case 16:
        value = isSigned ? static_cast<int16_t>(value) : static_cast<uint16_t>(value);
        break;
      case 32:
        value = isSigned ? static_cast<int32_t>(value) : static_cast<uint32_t>(value);
        break;
      default:
        break;
    }
    directive += "ll";
    directive.push_back(static_cast<char>(conversion));
    if (isSigned) {
      Snprintf(directive, static_cast<long long>(value));
    } else {
      Snprintf(directive, static_cast<unsigned long long>(value));
    }
    return j + 1;
  }

  std::u16string& out_;
  size_t room_;
  const Argument* args_ = nullptr;
  size_t count_ = 0;
  size_t next_ = 0;
};

// ---------------------------------------------------------------------------
// The writer. Containers are written from an explicit stack, so a deeply
// nested value cannot exhaust the call stack.

struct Settings {
  uint32_t flags;
  JsonNumberFormat number;
  uint32_t indentWidth;
};

void WriteNumber(std::u16string& out, const JsonValue& value, const Settings& settings) {
  char digits[32];
  std::to_chars_result end;
  switch (value.tag()) {
    case JsonTag::VT_I1:
    case JsonTag::VT_I2:
    case JsonTag::VT_I4:
    case JsonTag::VT_I8:
      end = std::to_chars(digits, digits + sizeof(digits), value.integer());
      out.append(digits, end.ptr);
      break;
    case JsonTag::VT_UI1:
    case JsonTag::VT_UI2:
    case JsonTag::VT_UI4:
    case JsonTag::VT_UI8:
      end = std::to_chars(digits, digits + sizeof(digits), static_cast<uint64_t>(value.integer()));
      out.append(digits, end.ptr);
      break;
    case JsonTag::VT_R4:
    case JsonTag::VT_R8:
      FormatJsonNumber(out, settings.number.format, settings.number.precision, value.number());
      break;
    default:
      break;
  }
}

// Writes a value that is not a non-empty container.
void WriteScalar(std::u16string& out, const JsonValue& value, const Settings& settings) {
  switch (value.kind()) {
    case JsonKind::Null:
      AppendAscii(out, "null");
      break;
    case JsonKind::Boolean:
      AppendAscii(out, value.boolean() ? "true" : "false");
      break;
    case JsonKind::String:
      QuoteJsonString(out, *value.string(), settings.flags, false);
      break;
    case JsonKind::Number:
      WriteNumber(out, value, settings);
      break;
    case JsonKind::Array:
      AppendAscii(out, "[]");
      break;
    case JsonKind::Object:
      AppendAscii(out, "{}");
      break;
    default:
      break;
  }
}

using Member = std::pair<const std::u16string, JsonValue>;

// The members of an object in writing order: first access order, then the
// members nobody touched, by name; NameOrder or no recorded order gives name
// order alone.
std::vector<const Member*> MemberWritingOrder(const JsonValue& value, uint32_t flags) {
  const JsonObject& members = *value.object();
  std::vector<const Member*> order;
  order.reserve(members.size());
  if ((flags & JsonFlags::NameOrder) || value.memberOrder().empty()) {
    for (const Member& member : members) order.push_back(&member);
    return order;
  }
  std::unordered_set<const Member*> written;
  for (const std::u16string& name : value.memberOrder()) {
    auto it = members.find(name);
    if (it != members.end() && written.insert(&*it).second) order.push_back(&*it);
  }
  for (const Member& member : members) {
    if (!written.count(&member)) order.push_back(&member);
  }
  return order;
}

struct OpenContainer {
  const JsonValue* value;
  bool isObject;
  bool broken;
  uint32_t level;  // the container's own level
  size_t next = 0;
  size_t written = 0;
  std::vector<const Member*> members;
};

class Writer {
 public:
  Writer(std::u16string& out, const Settings& settings) : out_(out), settings_(settings) {}

  void Write(const JsonValue& root, uint32_t level) {
    Open(root, level);
    while (!stack_.empty()) {
      OpenContainer& top = stack_.back();
      const JsonValue* child = nullptr;
      if (top.isObject) {
        // Members never assigned are skipped, separator included.
        while (top.next < top.members.size() &&
               top.members[top.next]->second.kind() == JsonKind::Undefined) {
          ++top.next;
        }
        if (top.next < top.members.size()) {
          const Member* member = top.members[top.next++];
          if (top.written++ > 0) Separator(top);
          QuoteJsonString(out_, member->first, settings_.flags, true);
          out_.push_back(u':');
          if (top.broken) out_.push_back(u' ');
          child = &member->second;
        }
      } else {
        const JsonArray& elements = *top.value->array();
        if (top.next < elements.size()) {
          if (top.written++ > 0) Separator(top);
          child = &elements[top.next++];
        }
      }
      if (child == nullptr) {
        if (top.broken) LineBreak(top.level, false);
        out_.push_back(top.isObject ? u'}' : u']');
        stack_.pop_back();
        continue;
      }
      Open(*child, top.broken ? top.level + 1 : top.level);
    }
  }

 private:
  // Writes a scalar or an empty container whole; opens any other container.
  void Open(const JsonValue& value, uint32_t level) {
    if (value.ChildCount() == 0 ||
        (value.kind() != JsonKind::Object && value.kind() != JsonKind::Array)) {
      WriteScalar(out_, value, settings_);
      return;
    }
    const bool isObject = value.kind() == JsonKind::Object;
    OpenContainer container{&value,
                            isObject,
                            (settings_.flags & (JsonFlags::PrettyTabs | JsonFlags::PrettySpaces)) &&
                                value.ChildCount() > 1,
                            level,
                            0,
                            0,
                            {}};
    if (isObject) container.members = MemberWritingOrder(value, settings_.flags);
    out_.push_back(isObject ? u'{' : u'[');
    if (container.broken) LineBreak(level, true);
    stack_.push_back(std::move(container));
  }

  void Separator(const OpenContainer& container) {
    out_.push_back(u',');
    if (container.broken) LineBreak(container.level, true);
  }

  // CR LF, the level's prefix and, for a child line, one more unit.
  void LineBreak(uint32_t level, bool child) {
    out_.push_back(u'\r');
    out_.push_back(u'\n');
    const uint64_t units = static_cast<uint64_t>(level) + (child ? 1 : 0);
    if (settings_.flags & JsonFlags::PrettySpaces) {
      out_.append(static_cast<size_t>(units * settings_.indentWidth), u' ');
    } else {
      out_.append(static_cast<size_t>(units), u'\t');
    }
  }

  std::u16string& out_;
  const Settings& settings_;
  std::vector<OpenContainer> stack_;
};

}  // namespace

void QuoteJsonString(std::u16string& out, std::u16string_view text, uint32_t flags, bool isName) {
  const bool single = flags & JsonFlags::SingleQuotes;
  const bool hasSingle = Contains(text, u"'");
  char16_t quote;
  if (text.empty()) {
    quote = single ? u'\'' : u'"';
  } else if (isName && (flags & JsonFlags::UnquotedNames)) {
    const bool plain = text.find_first_of(u"'\"\b\t\n\v\f\r ") == std::u16string_view::npos &&
                       text != u"true" && text != u"false" && text != u"null";
    quote = plain ? 0 : (single && !hasSingle) ? u'\'' : u'"';
  } else {
    quote = (single && !hasSingle) ? u'\'' : u'"';
  }
  const bool raw = flags & JsonFlags::RawControlChars;
  if (quote) out.push_back(quote);
  for (char16_t c : text) {
    char16_t escape = 0;
    switch (c) {
      case u'"':
        escape = quote == u'\'' ? 0 : u'"';
        break;
      case u'\\':
        escape = u'\\';
        break;
      case u'\b':
        escape = raw ? 0 : u'b';
        break;
      case u'\f':
        escape = raw ? 0 : u'f';
        break;
      case u'\n':
        escape = raw ? 0 : u'n';
        break;
      case u'\r':
        escape = raw ? 0 : u'r';
        break;
      case u'\t':
        escape = raw ? 0 : u't';
        break;
      default:
        break;
    }
    if (escape) {
      out.push_back(u'\\');
      out.push_back(escape);
    } else {
      out.push_back(c);
    }
  }
  if (quote) out.push_back(quote);
}

JsonNumberFormat SettleJsonNumberFormat(const char16_t* format, int32_t precision) {
  JsonNumberFormat settled;
  settled.precision = precision;
  if (format != nullptr) {
    settled.format = format;
  } else {
    settled.format = precision >= 0 ? kDefaultFormat : kPlainFormat;
  }
  std::u16string& text = settled.format;
  const size_t star = text.find(u".*");
  if (precision >= 0 && star == std::u16string::npos) {
    const size_t point = text.find(u'.');
    if (point != std::u16string::npos) {
      text.insert(point + 1, u"*");
    } else {
      const size_t conversion = text.find_first_of(u"aAdiuoxXeEfgGsS");
      if (conversion != std::u16string::npos) text.insert(conversion, u".*");
    }
  } else if (precision < 0 && star != std::u16string::npos) {
    text.erase(star + 1, 1);
  }
  return settled;
}

void FormatJsonNumber(std::u16string& out, std::u16string_view format, int32_t precision,
                      double number) {
  // Fast road for the format nearly every caller uses.
  if (format == kDefaultFormat && precision >= 0 && precision <= 100 && std::isfinite(number)) {
    char text[512];
    const int length = std::snprintf(text, sizeof(text), "%.*f", precision, number);
    if (length > 0 && static_cast<size_t>(length) < sizeof(text) && length < precision + 310) {
      AppendAscii(out, std::string_view(text, static_cast<size_t>(length)));
      return;
    }
  }
  const size_t limit = static_cast<size_t>(precision > 0 ? precision : 0) + 310 - 1;
  const Argument args[2] = {{true, precision, 0.0}, {false, 0, number}};
  NumberPrinter printer(out, limit);
  if (precision >= 0) {
    printer.Print(format, args, 2);
  } else {
    printer.Print(format, args + 1, 1);
  }
}

const char16_t* JsonValue::ToText(std::u16string& out, uint32_t flags,
                                  const JsonWriteOptions* options) const {
  out.clear();
  Settings settings{flags, {kDefaultFormat, 6}, 2};
  uint32_t level = 0;
  if (options != nullptr) {
    settings.number = SettleJsonNumberFormat(options->numberFormat, options->precision);
    settings.indentWidth = options->indentWidth;
    level = options->level;
  }
  Writer(out, settings).Write(*this, level);
  return out.c_str();
}
