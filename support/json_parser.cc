#include "support/json_parser.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char16_t kEmptyText[] = u"Empty string.";
constexpr char16_t kFirstCharacter[] =
    u"Invalid first character, expected array, object or comment.";
constexpr char16_t kCommentBlock[] = u"Invalid comment block.";
constexpr char16_t kObjectStartSeparator[] = u"Invalid separator at start of object.";
constexpr char16_t kObjectExtraSeparator[] = u"Invalid extra separator, expected object name.";
constexpr char16_t kObjectEndAfterSeparator[] =
    u"Invalid end of object, expected another object name after separator.";
constexpr char16_t kSingleQuote[] = u"Invalid single quote.";
constexpr char16_t kUnquotedName[] = u"Invalid unquoted object name.";
constexpr char16_t kNoColon[] = u"Invalid end of object name, expected colon not found.";
constexpr char16_t kEndOfString[] = u"Invalid end of string.";
constexpr char16_t kStringFormat[] = u"Invalid string format.";
constexpr char16_t kArrayStartSeparator[] = u"Invalid separator at start of array.";
constexpr char16_t kArrayExtraSeparator[] = u"Invalid extra separator, expected value.";
constexpr char16_t kArrayEndAfterSeparator[] =
    u"Invalid end of array, expected another value after separator.";
constexpr char16_t kControlCharacter[] = u"Invalid control character.";
constexpr char16_t kWhitespaceCharacter[] = u"Invalid whitespace character.";
constexpr char16_t kAfterClose[] = u"Invalid character after a matching close.";
constexpr char16_t kNotClosed[] = u"Invalid format, matching closing character not found.";

std::u16string_view Trim(std::u16string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsJsonWhitespace(text[begin])) ++begin;
  while (end > begin && IsJsonWhitespace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int HexValue(char16_t c) {
  if (c <= u'9') return c - u'0';
  return (c | 0x20) - u'a' + 10;
}

// Reads the escapes of a text that may still grow at its end, remembering how
// far it got: a later call with a longer text (the earlier one as its prefix)
// continues where the last one stopped, so a string is read once however
// often it is asked about. Results as UnescapeJsonString.
class UnescapeScanner {
 public:
  void Reset() {
    next_ = 0;
    out_.clear();
    failed_ = false;
  }

  int Scan(std::u16string_view raw) {
    if (failed_) return -1;
    while (next_ < raw.size()) {
      const char16_t c = raw[next_];
      if (c != u'\\') {
        out_.push_back(c);
        ++next_;
        continue;
      }
      if (next_ + 1 >= raw.size()) return 0;
      char16_t replacement = 0;
      switch (raw[next_ + 1]) {
        case u'"':
          replacement = u'"';
          break;
        case u'\\':
          replacement = u'\\';
          break;
        case u'b':
          replacement = u'\b';
          break;
        case u'f':
          replacement = u'\f';
          break;
        case u'n':
          replacement = u'\n';
          break;
        case u'r':
          replacement = u'\r';
          break;
        case u't':
          replacement = u'\t';
          break;
        case u'/':
          out_.append(raw.substr(next_, 2));
          next_ += 2;
          continue;
        case u'u':
          if (raw.size() - (next_ + 2) < 4) return 0;
          for (size_t k = next_ + 2; k < next_ + 6; ++k) {
            if (!IsHexDigit(raw[k])) {
              failed_ = true;
              return -1;
            }
          }
          out_.append(raw.substr(next_, 6));
          next_ += 6;
          continue;
        default:
          failed_ = true;
          return -1;
      }
      out_.push_back(replacement);
      next_ += 2;
    }
    return 1;
  }

  // The rewritten text of what was read so far.
  std::u16string& text() { return out_; }
  size_t next() const { return next_; }

 private:
  size_t next_ = 0;
  std::u16string out_;
  bool failed_ = false;
};

// Integer token to value; see ConvertJsonToken.
int ConvertInteger(JsonValue& value, std::u16string_view token, uint32_t flags) {
  const bool zeroFirst = token.size() > 1 && token[0] == u'0';
  const bool hex =
      zeroFirst && (flags & JsonFlags::HexNumbers) && (token[1] == u'x' || token[1] == u'X');
  if (zeroFirst && !hex &&
      !((flags & JsonFlags::LeadingZeros) && token[1] >= u'0' && token[1] <= u'9')) {
    return -1;
  }
  size_t i = 0;
  bool negative = false;
  int base = 10;
  if (hex) {
    i = 2;
    base = 16;
  } else if (token[0] == u'+' || token[0] == u'-') {
    negative = token[0] == u'-';
    i = 1;
  }
  if (i >= token.size()) return 0;
  // Accumulated as a magnitude; beyond the signed range it sticks at the limit.
  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
  uint64_t magnitude = 0;
  for (; i < token.size(); ++i) {
    const char16_t c = token[i];
    int digit;
    if (base == 16) {
      if (!IsHexDigit(c)) return 0;
      digit = HexValue(c);
    } else {
      if (c < u'0' || c > u'9') return 0;
      digit = c - u'0';
    }
    if (magnitude > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
      magnitude = limit;
    } else {
      magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
  }
  const int64_t number =
      negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  if (number >= INT8_MIN && number <= INT8_MAX) {
    value = static_cast<int8_t>(number);
  } else if (number >= INT16_MIN && number <= INT16_MAX) {
    value = static_cast<int16_t>(number);
  } else if (number >= INT32_MIN && number <= INT32_MAX) {
    value = static_cast<int32_t>(number);
  } else {
    value = number;
  }
  return 1;
}

// Fractional token to value; see ConvertJsonToken.
int ConvertFraction(JsonValue& value, std::u16string_view token) {
  std::string narrow;
  narrow.reserve(token.size());
  for (char16_t c : token) {
    // Nothing outside ASCII belongs to a number, nor does a terminator.
    if (c == 0 || c > 0x7F) return 0;
    narrow.push_back(static_cast<char>(c));
  }
  char* end = nullptr;
  const int savedErrno = errno;
  const double number = std::strtod(narrow.c_str(), &end);
  errno = savedErrno;
  if (end != narrow.c_str() + narrow.size()) return 0;
  if (number >= 1.1754943508222875e-38 && number <= 3.4028234663852886e+38) {
    value = static_cast<float>(number);
  } else {
    value = number;
  }
  return 1;
}

}  // namespace

bool IsJsonWhitespace(char16_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  if (c < 0x85) return false;
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsJsonControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

int UnescapeJsonString(std::u16string& text) {
  UnescapeScanner scanner;
  const int result = scanner.Scan(text);
  if (result != 1) scanner.text().append(text, scanner.next());
  text.swap(scanner.text());
  return result;
}

int ConvertJsonToken(JsonValue& value, std::u16string_view token, uint32_t flags) {
  token = Trim(token);
  if (token.empty()) return 0;
  if (token == u"true" || token == u"false") {
    value = token == u"true";
    return 1;
  }
  if (token == u"null") {
    value.Clear();
    return 1;
  }
  const char16_t first = token.front();
  const char16_t last = token.size() > 1 ? token.back() : 0;
  const bool singleQuoted = (flags & JsonFlags::SingleQuotes) && first == u'\'' && last == u'\'';
  if (first == u'"' || singleQuoted) {
    if (first == u'"' && last != u'"') return 0;
    std::u16string text(token.substr(1, token.size() - 2));
    const int result = UnescapeJsonString(text);
    if (result == 1) value = std::u16string_view(text);
    return result;
  }
  if (last == u'"') return 0;
  if (token.find_first_of(u".eE") == std::u16string_view::npos) {
    return ConvertInteger(value, token, flags);
  }
  return ConvertFraction(value, token);
}

// One parse. Fields are the working data of one call; the open containers
// live in the root's parse stack.
class JsonParser {
 public:
  JsonParser(JsonValue& root, uint32_t flags, bool rescan)
      : root_(root), stack_(root.parseStack_), flags_(flags), rescan_(rescan) {}

  bool Run(std::u16string_view text, JsonParseError* error) {
    root_.Clear();
    stack_.clear();
    if (error != nullptr) *error = JsonParseError();
    if (text.empty()) return Fail(text, 0, kEmptyText, error);
    for (size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      Step(c);
      if (message_ != nullptr) {
        stack_.clear();
        return Fail(text, i, message_, error);
      }
      previous_ = c;
    }
    if (stack_.empty()) return true;
    root_.Clear();
    stack_.clear();
    return Fail(text, text.size(), kNotClosed, error);
  }

 private:
  static bool Fail(std::u16string_view text, size_t position, const char16_t* message,
                   JsonParseError* error) {
    if (error == nullptr) return false;
    // Lines end at CR LF pairs only.
    size_t line = 1, lineStart = 0;
    for (size_t k = 0; k < position && k + 1 < text.size(); ++k) {
      if (text[k] == u'\r' && text[k + 1] == u'\n') {
        ++line;
        lineStart = k + 2;
      }
    }
    error->line = static_cast<uint32_t>(line);
    error->column = static_cast<uint32_t>(position + 1 - lineStart);
    error->position = static_cast<uint32_t>(position);
    error->message = message;
    return false;
  }

  void Step(char16_t c) {
    if (IsJsonControl(c)) {
      if (!(flags_ & JsonFlags::RawControlChars)) {
        message_ = kWhitespaceCharacter;
        return;
      }
      if (!IsJsonWhitespace(c)) {
        message_ = kControlCharacter;
        return;
      }
    }
    if (stack_.empty()) {
      if (rootOpened_) {
        if (!IsJsonWhitespace(c)) message_ = kAfterClose;
        return;
      }
      TopLevel(c);
      return;
    }
    switch (stack_.back().context) {
      case ParseFrame::Comment:
        CommentStep(c);
        break;
      case ParseFrame::Array:
        ArrayStep(c);
        break;
      case ParseFrame::Object:
        ObjectStep(c);
        break;
    }
  }

  void TopLevel(char16_t c) {
    if (c == u'/') {
      PushComment();
    } else if (c == u'[' || c == u'{') {
      const bool isArray = c == u'[';
      root_ = JsonValue(isArray ? JsonKind::Array : JsonKind::Object);
      Push(isArray ? ParseFrame::Array : ParseFrame::Object, &root_);
      rootOpened_ = true;
    } else if (!IsJsonWhitespace(c)) {
      message_ = kFirstCharacter;
    }
  }

  void PushComment() { stack_.push_back({ParseFrame::Comment, ParseFrame::CommentOpen, nullptr}); }
  void Push(ParseFrame::Context context, JsonValue* target) {
    stack_.push_back({context, 0, target});
  }
  void PopContainer() {
    stack_.pop_back();
    if (!stack_.empty()) stack_.back().state = 0;
  }

  void CommentStep(char16_t c) {
    ParseFrame& frame = stack_.back();
    switch (frame.state) {
      case ParseFrame::CommentOpen:
        if (c == u'*') {
          frame.state = ParseFrame::BlockComment;
        } else if (c == u'/') {
          frame.state = ParseFrame::LineComment;
        } else {
          message_ = kCommentBlock;
        }
        break;
      case ParseFrame::BlockComment:
        if (c == u'/' && previous_ == u'*') stack_.pop_back();
        break;
      default:
        if (c == u'\n' || c == u'\r') stack_.pop_back();
        break;
    }
  }

  // Starts collecting a token whose first character is c.
  void StartToken(char16_t c) {
    tokenQuoted_ = c == u'"' || (c == u'\'' && (flags_ & JsonFlags::SingleQuotes));
    scanner_.Reset();
  }

  // The token has grown by c (its last character). Tries to complete it into
  // fresh; closer is the container's closing bracket. Returns the result of
  // the conversion, 0 when there was nothing to try, and sets bySeparator.
  int TryToken(std::u16string_view token, char16_t c, char16_t closer, JsonValue& fresh,
               bool& bySeparator) {
    bySeparator = false;
    if (rescan_) {
      std::u16string_view t = Trim(token);
      if (t.empty()) return 0;
      const bool quoted = t[0] == u'"' || (t[0] == u'\'' && (flags_ & JsonFlags::SingleQuotes));
      if (!quoted) {
        if (c != u',' && c != closer) return 0;
        bySeparator = true;
        t.remove_suffix(1);
      }
      return ConvertJsonToken(fresh, t, flags_);
    }
    if (tokenQuoted_) {
      // A quoted token can only complete at its own quote character; any
      // other character leaves the answer as it was (not yet).
      if (c != token[0]) return 0;
      const int result = scanner_.Scan(token.substr(1, token.size() - 2));
      if (result == 1) fresh = std::u16string_view(scanner_.text());
      return result;
    }
    if (c != u',' && c != closer) return 0;
    bySeparator = true;
    std::u16string_view t = Trim(token);
    t.remove_suffix(1);
    return ConvertJsonToken(fresh, t, flags_);
  }

  void ArrayStep(char16_t c) {
    ParseFrame& frame = stack_.back();
    JsonArray& elements = *frame.target->array();
    if (frame.state == ParseFrame::ArrayToken) {
      arrayToken_.push_back(c);
      JsonValue fresh;
      bool bySeparator;
      const int result = TryToken(arrayToken_, c, u']', fresh, bySeparator);
      if (result == 1) {
        elements.push_back(std::move(fresh));
        arrayToken_.clear();
        if (c == u']') {
          PopContainer();
        } else {
          frame.state = c == u',' ? ParseFrame::ArrayAfterSeparator : ParseFrame::ArrayStart;
        }
      } else if (result == -1) {
        message_ = kStringFormat;
      } else if (bySeparator) {
        message_ = kEndOfString;
      }
      return;
    }
    switch (c) {
      case u',':
        if (elements.empty()) {
          message_ = kArrayStartSeparator;
        } else if (frame.state == ParseFrame::ArrayAfterSeparator) {
          message_ = kArrayExtraSeparator;
        } else {
          frame.state = ParseFrame::ArrayAfterSeparator;
        }
        break;
      case u'/':
        PushComment();
        break;
      case u'[':
      case u'{': {
        const bool isArray = c == u'[';
        elements.emplace_back(isArray ? JsonKind::Array : JsonKind::Object);
        Push(isArray ? ParseFrame::Array : ParseFrame::Object, &elements.back());
        break;
      }
      case u']':
        if (frame.state == ParseFrame::ArrayAfterSeparator) {
          message_ = kArrayEndAfterSeparator;
        } else {
          PopContainer();
        }
        break;
      default:
        if (!IsJsonWhitespace(c)) {
          arrayToken_.assign(1, c);
          frame.state = ParseFrame::ArrayToken;
          StartToken(c);
        }
        break;
    }
  }

  // The member of the pending name, entered through member access (which
  // records the name in the member order) and set to null.
  void EnterPendingMember(JsonValue& object, std::u16string_view name) { object[name].Clear(); }

  JsonValue& PendingMember(JsonValue& object) {
    JsonObject& members = *object.object();
    auto it = members.find(pendingName_);
    return it != members.end() ? it->second : object[pendingName_];
  }

  void ObjectStep(char16_t c) {
    ParseFrame& frame = stack_.back();
    JsonValue& object = *frame.target;
    switch (frame.state) {
      case ParseFrame::ObjectStart:
      case ParseFrame::ObjectAfterSeparator:
        switch (c) {
          case u'"':
            frame.state = ParseFrame::QuotedName;
            nameQuote_ = c;
            scanner_.Reset();
            break;
          case u'\'':
            if (flags_ & JsonFlags::SingleQuotes) {
              frame.state = ParseFrame::QuotedName;
              nameQuote_ = c;
              scanner_.Reset();
            } else {
              message_ = kSingleQuote;
            }
            break;
          case u',':
            if (object.ChildCount() == 0) {
              message_ = kObjectStartSeparator;
            } else if (frame.state == ParseFrame::ObjectAfterSeparator) {
              message_ = kObjectExtraSeparator;
            } else {
              frame.state = ParseFrame::ObjectAfterSeparator;
              pendingName_.clear();
            }
            break;
          case u'/':
            PushComment();
            break;
          case u'}':
            if (frame.state == ParseFrame::ObjectAfterSeparator) {
              message_ = kObjectEndAfterSeparator;
            } else {
              PopContainer();
            }
            break;
          default:
            if (IsJsonWhitespace(c)) break;
            if (flags_ & JsonFlags::UnquotedNames) {
              frame.state = ParseFrame::UnquotedName;
              pendingName_.push_back(c);
            } else {
              message_ = kUnquotedName;
            }
            break;
        }
        break;
      case ParseFrame::QuotedName: {
        if (c != nameQuote_) {
          pendingName_.push_back(c);
          break;
        }
        int result;
        if (rescan_) {
          std::u16string copy = pendingName_;
          result = UnescapeJsonString(copy);
          if (result == 1) pendingName_ = std::move(copy);
        } else {
          result = scanner_.Scan(pendingName_);
          if (result == 1) pendingName_ = scanner_.text();
        }
        if (result == 1) {
          frame.state = ParseFrame::AfterName;
        } else {
          // An escaped quote: part of the name, which goes on.
          pendingName_.push_back(c);
        }
        break;
      }
      case ParseFrame::UnquotedName:
        if (c == u':') {
          EnterPendingMember(object, pendingName_);
          frame.state = ParseFrame::ExpectValue;
        } else if (IsJsonWhitespace(c)) {
          EnterPendingMember(object, pendingName_);
          frame.state = ParseFrame::AfterName;
        } else if ((c == u'*' || c == u'/') && previous_ == u'/') {
          // A comment right after a name: the name before the "/" is entered,
          // and the character after this one says which comment it is. The
          // pending name keeps its "/".
          std::u16string_view name = pendingName_;
          if (!name.empty() && name.back() == u'/') name.remove_suffix(1);
          EnterPendingMember(object, name);
          PushComment();
        } else {
          pendingName_.push_back(c);
        }
        break;
      case ParseFrame::AfterName:
        if (c == u'/') {
          PushComment();
        } else if (c == u':') {
          EnterPendingMember(object, pendingName_);
          frame.state = ParseFrame::ExpectValue;
        } else if (!IsJsonWhitespace(c)) {
          message_ = kNoColon;
        }
        break;
      case ParseFrame::ExpectValue:
        if (c == u'/') {
          PushComment();
        } else if (c == u'[' || c == u'{') {
          const bool isArray = c == u'[';
          JsonValue& member = PendingMember(object);
          member = JsonValue(isArray ? JsonKind::Array : JsonKind::Object);
          pendingName_.clear();
          Push(isArray ? ParseFrame::Array : ParseFrame::Object, &member);
        } else if (!IsJsonWhitespace(c)) {
          // The raw token collects in the member itself.
          tokenMember_ = &PendingMember(object);
          *tokenMember_ = std::u16string_view(&c, 1);
          frame.state = ParseFrame::ValueToken;
          StartToken(c);
        }
        break;
      case ParseFrame::ValueToken: {
        std::u16string& token = std::get<std::u16string>(tokenMember_->payload_);
        token.push_back(c);
        JsonValue fresh;
        bool bySeparator;
        const int result = TryToken(token, c, u'}', fresh, bySeparator);
        if (result == 1) {
          *tokenMember_ = std::move(fresh);
          pendingName_.clear();
          if (c == u',') {
            frame.state = ParseFrame::ObjectAfterSeparator;
          } else {
            frame.state = ParseFrame::ObjectStart;
            if (c == u'}') PopContainer();
          }
        } else if (result == -1) {
          message_ = kStringFormat;
        } else if (bySeparator) {
          message_ = kEndOfString;
        }
        break;
      }
      default:
        break;
    }
  }

  JsonValue& root_;
  std::vector<ParseFrame>& stack_;
  const uint32_t flags_;
  const bool rescan_;
  std::u16string pendingName_;
  std::u16string arrayToken_;
  char16_t nameQuote_ = 0;
  char16_t previous_ = 0;
  bool rootOpened_ = false;
  const char16_t* message_ = nullptr;
  // The token being collected: whether it is quoted, the member that holds
  // it inside an object, and how far its escapes have been read.
  bool tokenQuoted_ = false;
  JsonValue* tokenMember_ = nullptr;
  UnescapeScanner scanner_;
};

bool JsonValue::Parse(std::u16string_view text, uint32_t flags, JsonParseError* error) {
  return JsonParser(*this, flags, false).Run(text, error);
}

bool JsonValue::Parse(const char16_t* text, uint32_t flags, JsonParseError* error) {
  return Parse(text ? std::u16string_view(text) : std::u16string_view(), flags, error);
}

bool ParseJsonRescanning(JsonValue& value, std::u16string_view text, uint32_t flags,
                         JsonParseError* error) {
  return JsonParser(value, flags, true).Run(text, error);
}
