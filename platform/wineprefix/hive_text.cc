#include "platform/wineprefix/hive_text.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/registry.h"

namespace platform::memory {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr size_t kFlushAt = 1 << 20;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
// The values of hex digits by byte; 0xFF for a byte that is no hex digit.
constexpr std::array<uint8_t, 256> kHexDigits = [] {
  std::array<uint8_t, 256> table{};
  for (uint8_t& v : table) v = 0xFF;
  for (int c = 0; c < 10; ++c) table['0' + c] = static_cast<uint8_t>(c);
  for (int c = 0; c < 6; ++c) table['a' + c] = table['A' + c] = static_cast<uint8_t>(10 + c);
  return table;
}();
uint8_t HexDigit(char c) { return kHexDigits[static_cast<unsigned char>(c)]; }
bool IsHexDigit(char c) { return HexDigit(c) < 16; }

std::string_view SkipSpaces(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

// Copies the plain run of s from i on (ASCII without a backslash or endChar)
// widened to *to, and returns the run's end. *to needs room for the run and
// 16 units more. Sixteen bytes are tested at once where the processor has
// SSE2, else eight (a byte equal to c leaves a zero byte in word ^ c, which
// (x - 0x01..) & ~x & 0x80.. finds).
size_t WidenPlainRun(std::string_view s, size_t i, char endChar, char16_t** to) {
  const char* p = s.data();
  const size_t n = s.size();
  char16_t* out = *to;
#if defined(__SSE2__)
  const __m128i backslashes16 = _mm_set1_epi8('\\'), ends16 = _mm_set1_epi8(endChar);
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16, out += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // The high bit is set in non-ASCII bytes and in the bytes that end the run.
    const __m128i stops = _mm_or_si128(
        bytes, _mm_or_si128(_mm_cmpeq_epi8(bytes, backslashes16), _mm_cmpeq_epi8(bytes, ends16)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (mask != 0) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      *to = out + k;
      return i + k;
    }
  }
#endif
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  const uint64_t backslashes = kOnes * '\\';
  const uint64_t ends = kOnes * static_cast<unsigned char>(endChar);
  for (; i + 8 <= n; i += 8, out += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    const uint64_t a = word ^ backslashes, b = word ^ ends;
    if ((((a - kOnes) & ~a) | ((b - kOnes) & ~b) | word) & kHighs) break;
    for (int k = 0; k < 8; ++k) out[k] = static_cast<unsigned char>(p[i + k]);
  }
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    if (c >= 0x80 || c == '\\' || c == static_cast<unsigned char>(endChar)) break;
    *out++ = c;
  }
  *to = out;
  return i;
}

// What a backslash before an ASCII character stands for (not \x and octal
// digits, which start a number): a control character for a b e f n r t v,
// else the character itself.
constexpr std::array<char16_t, 128> kEscapedUnits = [] {
  std::array<char16_t, 128> table{};
  for (size_t c = 0; c < table.size(); ++c) table[c] = static_cast<char16_t>(c);
  table['a'] = 7;
  table['b'] = 8;
  table['e'] = 27;
  table['f'] = 12;
  table['n'] = 10;
  table['r'] = 13;
  table['t'] = 9;
  table['v'] = 11;
  return table;
}();

// Wine's unescaping of a string that ends at endChar: \a \b \e \f \n \r \t
// \v, \x with up to four hex digits, up to three octal digits, a backslash
// before anything else stands for that character, bytes above 127 are UTF-8.
// Appends to buffer; returns the bytes used including endChar, or npos when
// endChar is missing.
size_t Unescape(std::string_view s, char endChar, LineBuffer<char16_t>* buffer) {
  const size_t n = s.size();
  size_t i = 0;
  char16_t* out = nullptr;
  // A byte gives at most one unit (four bytes of UTF-8 give two). Room for a
  // long line is made only up to the next endChar, as a value's name would
  // otherwise take room for all of its data; only an escaped endChar takes
  // the text past it, to the next one.
  constexpr size_t kShortLine = 4096;
  for (size_t roomEnd = 0; i < n;) {
    if (i >= roomEnd) {
      if (out != nullptr) buffer->SetEnd(out);
      const size_t next = n - i <= kShortLine ? std::string_view::npos : s.find(endChar, i);
      roomEnd = next == std::string_view::npos ? n : next + 1;
      out = buffer->Extend(roomEnd - i + 16);
    }
    // Most text is plain ASCII: widen a whole run at once.
    i = WidenPlainRun(s, i, endChar, &out);
    if (i >= n) break;
    const char c = s[i];
    if (c == endChar) {
      buffer->SetEnd(out);
      return i + 1;
    }
    if (c == '\\' && i + 1 < n) {
      const char e = s[i + 1];
      const auto ascii = static_cast<unsigned char>(e);
      if (ascii < 0x80 && e != 'x' && !(e >= '0' && e <= '7')) {
        *out++ = kEscapedUnits[ascii];
        i += 2;
        continue;
      }
      if (e == 'x') {
        i += 2;
        if (i >= n || !IsHexDigit(s[i])) {
          *out++ = u'x';
          continue;
        }
        unsigned value = 0;
        for (int k = 0; k < 4 && i < n && IsHexDigit(s[i]); ++k, ++i)
          value = value * 16 + HexDigit(s[i]);
        *out++ = static_cast<char16_t>(value);
        continue;
      }
      if (e >= '0' && e <= '7') {
        i += 1;
        unsigned value = 0;
        for (int k = 0; k < 3 && i < n && s[i] >= '0' && s[i] <= '7'; ++k, ++i)
          value = value * 8 + (s[i] - '0');
        *out++ = static_cast<char16_t>(value);
        continue;
      }
      ++i;  // a non-ASCII character after a backslash stands for itself
    } else if (c == '\\') {
      break;
    }
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      *out++ = b;
      ++i;
      continue;
    }
    // UTF-8; invalid sequences are dropped as Wine drops them.
    int more = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
    if (b >= 0xF5) more = -1;
    ++i;
    if (more < 0) continue;
    uint32_t cp = b & (more == 1 ? 0x1F : more == 2 ? 0x0F : 0x07);
    bool ok = true;
    for (int k = 0; k < more; ++k) {
      if (i >= n || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
      ++i;
    }
    static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[more] || cp > 0x10FFFF) continue;
    if (cp <= 0xFFFF) {
      *out++ = static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 | (cp >> 10));
      *out++ = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
  }
  if (out != nullptr) buffer->SetEnd(out);
  return std::string_view::npos;
}

// Sets a value while reading: the key is not touched.
void StoreValue(Key* key, std::u16string_view name, uint32_t type, const void* data, size_t size,
                TreeArena* arena) {
  if (key == nullptr) return;  // only checking the text
  const auto* bytes = static_cast<const uint8_t*>(data);
  const int at = key->FindValue(name);
  if (at >= 0) {
    Value& old = key->values[static_cast<size_t>(at)];
    old = Value(old.name(), type, bytes, static_cast<uint32_t>(size), arena);
    if (arena == nullptr) key->HoldsHeap();
  } else {
    key->AppendValue(Value(name, type, bytes, static_cast<uint32_t>(size), arena));
  }
}

void AppendHex32(uint32_t v, bool pad8, std::string* out) {
  char buf[9];
  int len = 0;
  if (pad8) {
    for (int k = 7; k >= 0; --k) buf[len++] = "0123456789abcdef"[(v >> (k * 4)) & 15];
  } else {
    char tmp[8];
    int t = 0;
    do {
      tmp[t++] = "0123456789abcdef"[v & 15];
      v >>= 4;
    } while (v != 0);
    while (t > 0) buf[len++] = tmp[--t];
  }
  out->append(buf, static_cast<size_t>(len));
}

void AppendDecimal(uint32_t v, std::string* out) {
  char tmp[10];
  int t = 0;
  do {
    tmp[t++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (t > 0) out->push_back(tmp[--t]);
}

}  // namespace

size_t EscapeText(std::u16string_view text, const char escape[2], std::string* out) {
  static const char kEscapes[33] = ".......abtnvfr.............e....";
  const size_t before = out->size();
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool hasNext = i + 1 < text.size();
    if (c > 127) {
      out->append("\\x");
      const char16_t next = hasNext ? text[i + 1] : 0;
      if (hasNext && next < 128 && IsHexDigit(static_cast<char>(next))) {
        for (int k = 3; k >= 0; --k) out->push_back("0123456789abcdef"[(c >> (k * 4)) & 15]);
      } else {
        AppendHex32(c, false, out);
      }
      continue;
    }
    if (c < 32) {
      out->push_back('\\');
      if (kEscapes[c] != '.') {
        out->push_back(kEscapes[c]);
      } else if (hasNext && text[i + 1] >= u'0' && text[i + 1] <= u'7') {
        out->push_back(static_cast<char>('0' + ((c >> 6) & 7)));
        out->push_back(static_cast<char>('0' + ((c >> 3) & 7)));
        out->push_back(static_cast<char>('0' + (c & 7)));
      } else {
        if (c >= 8) out->push_back(static_cast<char>('0' + ((c >> 3) & 7)));
        out->push_back(static_cast<char>('0' + (c & 7)));
      }
      continue;
    }
    if (c == u'\\' || c == static_cast<char16_t>(escape[0]) ||
        c == static_cast<char16_t>(escape[1])) {
      out->push_back('\\');
    }
    out->push_back(static_cast<char>(c));
  }
  return out->size() - before;
}

void FormatValue(const Value& value, std::string* out) {
  size_t count;
  if (!value.name().empty()) {
    out->push_back('"');
    count = 1 + EscapeText(value.name(), "\"\"", out);
    out->append("\"=");
    count += 2;
  } else {
    out->append("@=");
    count = 2;
  }
  const uint32_t type = value.type();
  const uint32_t size = value.size();
  const uint8_t* data = value.data();
  if (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz) {
    if (size >= 2 && size % 2 == 0 && data[size - 2] == 0 && data[size - 1] == 0) {
      if (type != kRegSz) {
        out->append("str(");
        AppendHex32(type, false, out);
        out->append("):");
      }
      out->push_back('"');
      std::u16string text((size - 2) / 2, u'\0');
      if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
      EscapeText(text, "\"\"", out);
      out->append("\"\n");
      return;
    }
  } else if (type == kRegDword && size == 4) {
    uint32_t dw;
    std::memcpy(&dw, data, 4);
    out->append("dword:");
    AppendHex32(dw, true, out);
    out->push_back('\n');
    return;
  }
  if (type == kRegBinary) {
    out->append("hex:");
    count += 4;
  } else {
    const size_t start = out->size();
    out->append("hex(");
    AppendHex32(type, false, out);
    out->append("):");
    count += out->size() - start;
  }
  for (uint32_t i = 0; i < size; ++i) {
    out->push_back("0123456789abcdef"[data[i] >> 4]);
    out->push_back("0123456789abcdef"[data[i] & 15]);
    count += 2;
    if (i + 1 < size) {
      out->push_back(',');
      if (++count > 76) {
        out->append("\\\n  ");
        count = 2;
      }
    }
  }
  out->push_back('\n');
}

// ---------------------------------------------------------------- reading

HiveReader::HiveReader(Key* root, std::string fileName, uint64_t now, TreeArena* arena)
    : root_(root), arena_(arena), fileName_(std::move(fileName)), now_(now) {}

HiveReader::~HiveReader() = default;

void HiveReader::Feed(std::string_view text) {
  size_t pos = 0;
  if (!pending_.empty()) {
    const size_t nl = text.find('\n');
    if (nl == std::string_view::npos) {
      pending_.append(text);
      offset_ += text.size();
      return;
    }
    pending_.append(text.substr(0, nl + 1));
    const uint64_t start = offset_ - (pending_.size() - (nl + 1));
    std::string line;
    line.swap(pending_);
    Line(std::string_view(line).substr(0, line.size() - 1), start);
    pos = nl + 1;
  }
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      pending_.assign(text.substr(pos));
      break;
    }
    Line(text.substr(pos, nl - pos), offset_ + pos);
    pos = nl + 1;
  }
  offset_ += text.size();
}

HiveReadResult HiveReader::Finish() {
  if (!pending_.empty()) {
    std::string line;
    line.swap(pending_);
    Line(line, offset_ - line.size());
  }
  if (state_ == State::kHexContinuation) {
    Problem("Malformed value", "");
    state_ = State::kInKey;
  }
  if (state_ == State::kHeader) {
    Problem("Not a registry file", "");
  }
  EndBlock(offset_);
  if (!haveBlock_ && result_.isRegistryFile && result_.prologueLength == 0) {
    result_.prologueLength = offset_;
  }
  result_.clean = result_.isRegistryFile && result_.problems.empty();
  return std::move(result_);
}

void HiveReader::Problem(const char* message, std::string_view line) {
  // The line goes to a terminal: control and non-ASCII bytes are shown as
  // \xNN, and a long line is cut.
  constexpr size_t kShown = 160;
  std::string text = fileName_ + ":" + std::to_string(line_) + ": " + message;
  if (!line.empty()) {
    text += " '";
    for (size_t i = 0; i < line.size() && i < kShown; ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      if (c >= 0x20 && c < 0x7F) {
        text.push_back(static_cast<char>(c));
      } else {
        char hex[8];
        std::snprintf(hex, sizeof(hex), "\\x%02x", c);
        text += hex;
      }
    }
    if (line.size() > kShown) text += "...";
    text += "'";
  }
  result_.problems.push_back(std::move(text));
}

void HiveReader::EndBlock(uint64_t end) {
  if (!haveBlock_) return;
  haveBlock_ = false;
  if (key_ == nullptr) return;
  // A key read twice loses its place in the file: it is written anew.
  if (key_->spanLength != 0 || (key_->flags & kKeyDirty) || end - blockStart_ > 0xFFFFFFFFu) {
    key_->spanLength = 0;
    key_->flags |= kKeyDirty;
  } else {
    key_->spanOffset = blockStart_;
    key_->spanLength = static_cast<uint32_t>(end - blockStart_);
  }
  // Keys that exist only as parents take the time of their first child. A
  // key with a block of its own keeps its time, even a time of 0.
  for (Key* k = key_->parent;
       k != nullptr && k->modified == 0 && k->spanLength == 0 && !(k->flags & kKeyDirty);
       k = k->parent) {
    k->modified = key_->modified;
  }
}

void HiveReader::Line(std::string_view raw, uint64_t offset) {
  ++line_;
  std::string_view line = raw;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const bool empty = line.empty();
  switch (state_) {
    case State::kStopped:
      break;
    case State::kHeader:
      if (line == kHeader) {
        result_.isRegistryFile = true;
        state_ = State::kGlobalOptions;
      } else {
        Problem("Not a registry file", line);
        state_ = State::kStopped;
      }
      break;
    case State::kHexContinuation:
      if (!HexData(SkipSpaces(line))) {
        Problem("Malformed value", line);
        state_ = State::kInKey;
      }
      break;
    case State::kGlobalOptions:
    case State::kInKey:
    case State::kNoKey: {
      const std::string_view p = SkipSpaces(line);
      const char first = p.empty() ? 0 : p[0];
      if (first == '[') {
        KeyLine(p, offset);
      } else if (first == '@' || first == '"') {
        if (state_ == State::kInKey) {
          ValueLine(p);
        } else {
          Problem("Value without key", line);
        }
      } else if (first == '#') {
        if (state_ == State::kInKey) {
          KeyOption(p);
        } else if (state_ == State::kGlobalOptions && p.substr(0, 6) == "#arch=") {
          if (p.substr(6) == "win32" || p.substr(6) == "win64") {
            result_.arch.assign(p.substr(6));
          } else {
            Problem("Unknown architecture", line);
            state_ = State::kStopped;
          }
        }
      } else if (first != ';' && first != 0) {
        Problem("Unrecognized input", line);
      }
      break;
    }
  }
  previousEmpty_ = empty;
  previousStart_ = offset;
}

void HiveReader::KeyLine(std::string_view p, uint64_t offset) {
  const uint64_t start = previousEmpty_ && line_ > 1 ? previousStart_ : offset;
  if (!haveBlock_ && !key_ && result_.prologueLength == 0 && state_ == State::kGlobalOptions) {
    result_.prologueLength = start;
  }
  EndBlock(start);
  haveBlock_ = true;
  blockStart_ = start;
  key_ = nullptr;
  state_ = State::kNoKey;

  scratch_.clear();
  const size_t used = Unescape(p.substr(1), ']', &scratch_);
  if (used == std::string_view::npos) {
    Problem("Malformed key", p);
    return;
  }
  // The time in seconds after the bracket, as Wine's " %u".
  uint64_t modified = now_;
  std::string_view rest = SkipSpaces(p.substr(1 + used));
  if (!rest.empty() && rest[0] >= '0' && rest[0] <= '9') {
    uint64_t seconds = 0;
    for (size_t i = 0; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
      seconds = seconds * 10 + static_cast<uint64_t>(rest[i] - '0');
    }
    modified = static_cast<uint32_t>(seconds) * kFileTimeTicksPerSecond + kUnixEpochFileTime;
  }

  if (root_ == nullptr) {  // only checking the text
    state_ = State::kInKey;
    return;
  }
  // Reuse the parents shared with the previous key line.
  const std::u16string_view path = scratch_.view();
  const std::u16string_view previous = previousPath_.view();
  size_t common = 0;
  const size_t limit = std::min(path.size(), previous.size());
  for (uint64_t x, y; common + 4 <= limit; common += 4) {
    std::memcpy(&x, path.data() + common, 8);
    std::memcpy(&y, previous.data() + common, 8);
    if (x != y) break;
  }
  while (common < limit && path[common] == previous[common]) ++common;
  size_t shared = 0;
  while (shared < previousEnds_.size() && previousEnds_[shared] <= common &&
         (previousEnds_[shared] == path.size() || path[previousEnds_[shared]] == u'\\')) {
    ++shared;
  }
  previousKeys_.resize(shared);
  previousEnds_.resize(shared);
  Key* key = shared == 0 ? root_ : previousKeys_.back();
  size_t pos = shared == 0 ? 0 : previousEnds_.back();
  while (pos < path.size()) {
    if (path[pos] == u'\\') {
      ++pos;
      continue;
    }
    size_t end = path.find(u'\\', pos);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view name(path.data() + pos, end - pos);
    size_t at = 0;
    Key* child = key->FindChild(name, &at);
    if (child == nullptr) child = key->InsertChild(name, at, arena_);
    key = child;
    previousKeys_.push_back(key);
    previousEnds_.push_back(end);
    pos = end;
  }
  std::swap(previousPath_, scratch_);
  key->modified = modified;
  key_ = key;
  state_ = State::kInKey;
}

void HiveReader::KeyOption(std::string_view p) {
  if (p.substr(0, 6) == "#time=") {
    uint64_t t = 0;
    for (size_t i = 6; i < p.size() && IsHexDigit(p[i]); ++i) t = (t << 4) | HexDigit(p[i]);
    if (key_ != nullptr) key_->modified = t;
  } else if (p.substr(0, 7) == "#class=") {
    scratch_.clear();
    if (p.size() < 8 || p[7] != '"' ||
        Unescape(p.substr(8), '"', &scratch_) == std::string_view::npos) {
      Problem("Malformed class", p);
      return;
    }
    if (key_ != nullptr) {
      key_->className = std::make_unique<std::u16string>(scratch_.view());
      key_->HoldsHeap();
    }
  } else if (p.substr(0, 5) == "#link" && key_ != nullptr) {
    key_->flags |= kKeyLink;
  }
}

void HiveReader::ValueLine(std::string_view p) {
  name_.clear();
  size_t pos;
  if (p[0] == '@') {
    pos = 1;
  } else {
    const size_t used = Unescape(p.substr(1), '"', &name_);
    if (used == std::string_view::npos) {
      Problem("Malformed value name", p);
      return;
    }
    pos = 1 + used;
  }
  while (pos < p.size() && IsSpace(p[pos])) ++pos;
  if (pos >= p.size() || p[pos] != '=') {
    Problem("Malformed value name", p);
    return;
  }
  ++pos;
  while (pos < p.size() && IsSpace(p[pos])) ++pos;
  const std::string_view data = p.substr(pos);
  const std::u16string_view name = name_.view();

  uint32_t type = 0;
  size_t skip = 0;
  bool isString = false;
  if (data.substr(0, 1) == "\"") {
    type = kRegSz, skip = 1, isString = true;
  } else if (data.substr(0, 5) == "str:\"") {
    type = kRegSz, skip = 5, isString = true;
  } else if (data.substr(0, 8) == "str(2):\"") {
    type = kRegExpandSz, skip = 8, isString = true;
  } else if (data.substr(0, 8) == "str(7):\"") {
    type = kRegMultiSz, skip = 8, isString = true;
  } else if (data.substr(0, 4) == "hex:") {
    type = kRegBinary, skip = 4;
  } else if (data.substr(0, 6) == "dword:") {
    uint32_t dw = 0;
    for (size_t i = 6; i < data.size() && IsHexDigit(data[i]); ++i)
      dw = (dw << 4) | HexDigit(data[i]);
    StoreValue(key_, name, kRegDword, &dw, 4, arena_);
    return;
  } else if (data.substr(0, 4) == "hex(") {
    size_t i = 4;
    uint64_t t = 0;
    while (i < data.size() && IsHexDigit(data[i]) && i < 20) t = (t << 4) | HexDigit(data[i++]);
    if (i == 4 || data.substr(i, 2) != "):") {
      Problem("Malformed value", p);
      return;
    }
    type = static_cast<uint32_t>(t), skip = i + 2;
  } else {
    Problem("Malformed value", p);
    return;
  }
  if (isString) {
    scratch_.clear();
    if (Unescape(data.substr(skip), '"', &scratch_) == std::string_view::npos) {
      Problem("Malformed value", p);
      return;
    }
    char16_t* end = scratch_.Extend(1);
    *end = 0;
    scratch_.SetEnd(end + 1);
    StoreValue(key_, name, type, scratch_.data(), scratch_.size() * 2, arena_);
    return;
  }
  hexName_ = name;
  hexType_ = type;
  hexBytes_.clear();
  state_ = State::kHexContinuation;
  if (!HexData(data.substr(skip))) {
    Problem("Malformed value", p);
    state_ = State::kInKey;
  }
}

bool HiveReader::HexData(std::string_view s) {
  const char* p = s.data();
  const size_t n = s.size();
  // A byte takes at least one digit.
  uint8_t* out = hexBytes_.Extend(n);
  size_t i = 0;
  // Wine writes "hh," without blanks: read those triples in one step.
  while (i + 2 < n) {
    const uint8_t high = HexDigit(p[i]), low = HexDigit(p[i + 1]);
    if ((high | low) > 15 || p[i + 2] != ',') break;
    *out++ = static_cast<uint8_t>(high << 4 | low);
    i += 3;
  }
  while (i < n && IsHexDigit(p[i])) {
    unsigned value = 0;
    size_t digits = 0;
    while (i < n && IsHexDigit(p[i])) {
      value = (value << 4) | HexDigit(p[i++]);
      if (++digits > 2) return false;
    }
    *out++ = static_cast<uint8_t>(value);
    while (i < n && IsSpace(p[i])) ++i;
    if (i < n && p[i] == ',') ++i;
    while (i < n && IsSpace(p[i])) ++i;
  }
  hexBytes_.SetEnd(out);
  while (i < n && IsSpace(p[i])) ++i;
  if (i == n) {
    StoreValue(key_, hexName_, hexType_, hexBytes_.data(), hexBytes_.size(), arena_);
    state_ = State::kInKey;
    return true;
  }
  if (p[i] != '\\' || i + 1 != n) return false;
  state_ = State::kHexContinuation;  // the next line goes on
  return true;
}

HiveReadResult ReadHive(std::string_view text, Key* root, std::string_view fileName, uint64_t now) {
  HiveReader reader(root, std::string(fileName), now);
  reader.Feed(text);
  return reader.Finish();
}

// ---------------------------------------------------------------- writing

namespace {

class Writer {
 public:
  Writer(HiveSource* source, HiveSink* sink) : source_(source), sink_(sink) {
    buffer_.reserve(kFlushAt + 65536);
  }

  uint64_t position() const { return written_ + buffer_.size() + (runEnd_ - runStart_); }

  // Copies bytes of the original file, joining neighbouring pieces.
  void Copy(uint64_t offset, uint64_t length) {
    if (runEnd_ != runStart_ && offset == runEnd_) {
      runEnd_ += length;
      return;
    }
    FlushRun();
    runStart_ = offset;
    runEnd_ = offset + length;
  }

  std::string* text() {
    FlushRun();
    return &buffer_;
  }

  void MaybeFlush() {
    if (buffer_.size() >= kFlushAt) FlushBuffer();
  }

  bool Finish() {
    FlushRun();
    FlushBuffer();
    return ok_;
  }

 private:
  void FlushRun() {
    while (ok_ && runStart_ < runEnd_) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(runEnd_ - runStart_, kFlushAt));
      const size_t at = buffer_.size();
      buffer_.resize(at + chunk);
      if (source_ == nullptr || !source_->Read(runStart_, chunk, buffer_.data() + at)) {
        ok_ = false;
        buffer_.resize(at);
        break;
      }
      runStart_ += chunk;
      MaybeFlush();
    }
    runStart_ = runEnd_ = 0;
  }

  void FlushBuffer() {
    if (ok_ && !buffer_.empty() && !sink_->Write(buffer_.data(), buffer_.size())) ok_ = false;
    written_ += buffer_.size();
    buffer_.clear();
  }

  HiveSource* source_;
  HiveSink* sink_;
  std::string buffer_;
  uint64_t written_ = 0;
  uint64_t runStart_ = 0, runEnd_ = 0;
  bool ok_ = true;
};

void AppendPath(const Key* key, const Key* base, std::string* out) {
  if (key->parent != nullptr && key->parent != base) {
    AppendPath(key->parent, base, out);
    out->append("\\\\");
  }
  EscapeText(key->name, "[]", out);
}

void WriteKeys(const Key* key, const Key* base, Writer* writer, HiveWriteResult* result) {
  if (key->flags & kKeyVolatile) return;
  if (key->NeedsBlock()) {
    const uint64_t at = writer->position();
    if (!(key->flags & kKeyDirty) && key->spanLength != 0) {
      writer->Copy(key->spanOffset, key->spanLength);
    } else {
      std::string* out = writer->text();
      out->append("\n[");
      if (key != base) AppendPath(key, base, out);
      out->append("] ");
      AppendDecimal(
          static_cast<uint32_t>((key->modified - kUnixEpochFileTime) / kFileTimeTicksPerSecond),
          out);
      out->append("\n#time=");
      AppendHex32(static_cast<uint32_t>(key->modified >> 32), false, out);
      AppendHex32(static_cast<uint32_t>(key->modified), true, out);
      out->push_back('\n');
      if (key->className) {
        out->append("#class=\"");
        EscapeText(*key->className, "\"\"", out);
        out->append("\"\n");
      }
      if (key->flags & kKeyLink) out->append("#link\n");
      for (const Value& value : key->values)
        if (!value.erased()) FormatValue(value, out);
      writer->MaybeFlush();
    }
    const uint64_t length = writer->position() - at;
    result->spans.push_back(
        {const_cast<Key*>(key), at, length > 0xFFFFFFFFu ? 0u : static_cast<uint32_t>(length)});
  }
  for (const auto& child : key->children) WriteKeys(child.get(), base, writer, result);
}

void ClearDirty(Key* key) {
  key->flags &= ~kKeyDirty;
  key->spanLength = 0;
  for (auto& child : key->children) ClearDirty(child.get());
}

}  // namespace

HiveWriteResult WriteHive(const Key* root, std::string_view rootPath, std::string_view arch,
                          uint64_t prologueLength, HiveSource* source, HiveSink* sink) {
  HiveWriteResult result;
  Writer writer(source, sink);
  if (prologueLength != 0 && source != nullptr) {
    writer.Copy(0, prologueLength);
  } else {
    std::string* out = writer.text();
    out->append(kHeader);
    out->append("\n;; All keys relative to ");
    out->append(rootPath);
    out->push_back('\n');
    if (!arch.empty()) {
      out->append("\n#arch=");
      out->append(arch);
      out->push_back('\n');
    }
  }
  result.prologueLength = writer.position();
  WriteKeys(root, root, &writer, &result);
  result.size = writer.position();
  result.ok = writer.Finish();
  return result;
}

void CommitWrite(Key* root, const HiveWriteResult& written) {
  ClearDirty(root);
  for (const KeySpan& span : written.spans) {
    span.key->spanOffset = span.offset;
    span.key->spanLength = span.length;
  }
}

}  // namespace platform::memory
