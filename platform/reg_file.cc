#include "platform/reg_file.h"

#include <cstdio>
#include <cstring>

#include "platform/registry_paths.h"
#include "platform/system_text.h"
#include "platform/unicode.h"

namespace platform {
namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::string Quote(std::u16string_view text) { return "'" + U16ToUtf8(text) + "'"; }

// The file's text as UTF-16 lines: split at CR, LF or CR LF, each cut at a NUL
// unit as the system's line reader does.
std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u'\r' && text[i] != u'\n') continue;
    if (i == text.size() && start == i) break;  // no empty line after the last break
    std::u16string_view line = text.substr(start, i - start);
    const size_t nul = line.find(u'\0');
    if (nul != std::u16string_view::npos) line = line.substr(0, nul);
    lines.emplace_back(line);
    if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  return lines;
}

// The importer: an explicit state machine over the file's lines, one state
// per step of a line, as the system's registry tools read them. A state
// works on line_ from pos_ and names the next one; the states that need the
// next line fetch it.
class Importer {
 public:
  Importer(Registry* registry, uint32_t sam, const RegImportOptions& options)
      : registry_(registry), view_(sam & kKeyWow64Res), options_(options) {}
  ~Importer() { CloseKey(); }

  RegImportResult Run(std::string_view bytes);

 private:
  enum class State {
    kHeader,            // the version line
    kLineStart,         // the start of a line: what kind of line is it
    kKeyName,           // [KEY]
    kDeleteKey,         // [-KEY]
    kDefaultValueName,  // @
    kQuotedValueName,   // "name"
    kDataStart,         // = after the name
    kDeleteValue,       // =-
    kDataType,          // ", dword:, hex:, hex(N):
    kStringData,        // "text"
    kDwordData,         // dword:12345678
    kHexData,           // 01,02,...
    kEolBackslash,      // what follows the "\" that continues hex data
    kHexContinuation,   // the next line of hex data
    kSetValue,          // the value is complete
    kDone,
  };

  bool NextLine();
  void Problem(std::string message) {
    result_.problems.push_back({lineNumber_, std::move(message)});
  }
  void WriteFailed(uint32_t error) {
    if (result_.writeError == kRegSuccess) result_.writeError = error;
  }
  void CloseKey();
  char16_t At() const { return pos_ < line_.size() ? line_[pos_] : u'\0'; }
  void SkipBlanks() {
    while (IsBlank(At())) ++pos_;
  }
  // Only blanks or a comment are left on the line.
  bool RestIsEmpty() {
    SkipBlanks();
    return pos_ >= line_.size() || line_[pos_] == u';';
  }
  // Reads a quoted text from pos_ (after its opening quote) into out; false
  // without a closing quote or with an escape the format forbids.
  bool Unescape(std::u16string* out);
  // Parses comma-separated bytes from pos_; false when malformed.
  bool HexBytes(bool* continued);
  void FinishHexData();

  State Header();
  State LineStart();
  State KeyName();
  State DeleteKey();
  State QuotedValueName();
  State DataStart();
  State DeleteValue();
  State DataType();
  State StringData();
  State DwordData();
  State HexData();
  State EolBackslash();
  State HexContinuation();
  State SetValue();

  Registry* registry_;
  uint32_t view_;
  const RegImportOptions& options_;
  bool unicode_ = false;
  // The open key takes values (always without a scope).
  bool valuesAllowed_ = true;
  std::vector<std::u16string> lines_;
  size_t nextLine_ = 0;
  uint32_t lineNumber_ = 0;
  std::u16string line_;
  size_t pos_ = 0;

  HKey key_ = kNullKey;
  bool haveKey_ = false;
  std::u16string keyName_;
  std::u16string valueName_;
  uint32_t dataType_ = 0;
  std::vector<uint8_t> data_;
  RegImportResult result_;
};

bool Importer::NextLine() {
  if (nextLine_ >= lines_.size()) return false;
  line_ = std::move(lines_[nextLine_++]);
  lineNumber_ = static_cast<uint32_t>(nextLine_);
  pos_ = 0;
  return true;
}

void Importer::CloseKey() {
  if (haveKey_) registry_->RegCloseKey(key_);
  haveKey_ = false;
  valuesAllowed_ = true;
  key_ = kNullKey;
}

RegImportResult Importer::Run(std::string_view bytes) {
  std::u16string text;
  unicode_ = bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
             static_cast<uint8_t>(bytes[1]) == 0xFE;
  if (unicode_) {
    text.resize((bytes.size() - 2) / 2);
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 + 2 * i]) |
                                      (static_cast<uint8_t>(bytes[3 + 2 * i]) << 8));
    }
  } else {
    text = AnsiToU16(bytes);
  }
  lines_ = SplitLines(text);
  if (unicode_ && options_.refuseCutFiles && bytes.size() % 2 != 0) {
    lineNumber_ = static_cast<uint32_t>(lines_.size());
    Problem("the file ends in the middle of a character: it was cut");
  }

  State state = State::kHeader;
  while (state != State::kDone) {
    switch (state) {
      case State::kHeader:
        state = Header();
        break;
      case State::kLineStart:
        state = LineStart();
        break;
      case State::kKeyName:
        state = KeyName();
        break;
      case State::kDeleteKey:
        state = DeleteKey();
        break;
      case State::kDefaultValueName:
        valueName_.clear();
        ++pos_;  // the @
        state = State::kDataStart;
        break;
      case State::kQuotedValueName:
        state = QuotedValueName();
        break;
      case State::kDataStart:
        state = DataStart();
        break;
      case State::kDeleteValue:
        state = DeleteValue();
        break;
      case State::kDataType:
        state = DataType();
        break;
      case State::kStringData:
        state = StringData();
        break;
      case State::kDwordData:
        state = DwordData();
        break;
      case State::kHexData:
        state = HexData();
        break;
      case State::kEolBackslash:
        state = EolBackslash();
        break;
      case State::kHexContinuation:
        state = HexContinuation();
        break;
      case State::kSetValue:
        state = SetValue();
        break;
      case State::kDone:
        break;
    }
  }
  CloseKey();
  return std::move(result_);
}

Importer::State Importer::Header() {
  if (!NextLine()) {
    lineNumber_ = 1;
    Problem("the file is empty: not a registry file");
    return State::kDone;
  }
  SkipBlanks();
  const std::u16string_view header = std::u16string_view(line_).substr(pos_);
  if (header != kHeader5 && header != kHeader4) {
    Problem(
        "not a registry file: the first line is not \"Windows Registry Editor Version 5.00\""
        " or \"REGEDIT4\"");
    return State::kDone;
  }
  result_.recognized = true;
  return State::kLineStart;
}

Importer::State Importer::LineStart() {
  if (!NextLine()) return State::kDone;
  SkipBlanks();
  switch (At()) {
    case u'[':
      ++pos_;
      return State::kKeyName;
    case u'@':
      return State::kDefaultValueName;
    case u'"':
      ++pos_;
      return State::kQuotedValueName;
    case u'\0':
    case u';':
      return State::kLineStart;
    default:
      Problem("unrecognized line " + Quote(line_));
      return State::kLineStart;
  }
}

Importer::State Importer::KeyName() {
  const size_t close = line_.rfind(u']');
  if (IsBlank(At()) || close == std::u16string::npos || close < pos_) {
    // Values that follow belong to no key rather than to the previous one.
    CloseKey();
    Problem("malformed key line " + Quote(line_));
    return State::kLineStart;
  }
  const std::u16string path = line_.substr(pos_, close - pos_);
  if (!path.empty() && path[0] == u'-') {
    if (options_.refuseDeletions) {
      CloseKey();
      Problem("a key deletion " + Quote(line_) + ": a backup only gives back");
      return State::kLineStart;
    }
    pos_ += 1;
    line_ = line_.substr(pos_, close - pos_);
    pos_ = 0;
    return State::kDeleteKey;
  }
  CloseKey();
  HKey root;
  std::u16string subKey;
  if (!ParseKeyPath(path, &root, &subKey)) {
    Problem("unknown root key in " + Quote(path));
    return State::kLineStart;
  }
  const RegKeyScope scope = options_.scope ? options_.scope(root, subKey) : RegKeyScope::kInside;
  if (scope == RegKeyScope::kOutside) {
    Problem("the key " + Quote(path) + " is outside what a resolve removes");
    return State::kLineStart;
  }
  const uint32_t error = registry_->RegCreateKeyExW(root, subKey, kRegOptionNonVolatile,
                                                    kKeyAllAccess | view_, &key_, nullptr);
  if (error != kRegSuccess) {
    WriteFailed(error);
    Problem("cannot create key " + Quote(path) + " (error " + std::to_string(error) + ")");
    return State::kLineStart;
  }
  haveKey_ = true;
  valuesAllowed_ = scope == RegKeyScope::kInside;
  keyName_ = path;
  return State::kLineStart;
}

Importer::State Importer::DeleteKey() {
  CloseKey();
  HKey root;
  std::u16string subKey;
  if (!ParseKeyPath(line_, &root, &subKey)) {
    Problem("unknown root key in " + Quote(line_));
  } else if (subKey.empty()) {
    Problem("a root key cannot be deleted: " + Quote(line_));
  } else {
    const uint32_t error = DeleteKeyTree(registry_, root, subKey, view_);
    if (error == kRegSuccess) {
      ++result_.keysDeleted;
    } else if (error != kRegFileNotFound) {
      WriteFailed(error);
      Problem("cannot delete key " + Quote(line_) + " (error " + std::to_string(error) + ")");
    }
  }
  return State::kLineStart;
}

bool Importer::Unescape(std::u16string* out) {
  out->clear();
  while (pos_ < line_.size()) {
    const char16_t c = line_[pos_++];
    if (c == u'"') return true;
    if (c != u'\\') {
      out->push_back(c);
      continue;
    }
    if (pos_ >= line_.size()) return false;
    const char16_t escaped = line_[pos_++];
    switch (escaped) {
      case u'n':
        out->push_back(u'\n');
        break;
      case u'r':
        out->push_back(u'\r');
        break;
      case u'\\':
      case u'"':
        out->push_back(escaped);
        break;
      case u'0':
        return false;  // a NUL cannot be written in a string
      default:
        // Kept as the character itself, with a word about it.
        Problem("unknown escape sequence \\" + U16ToUtf8(std::u16string_view(&escaped, 1)));
        out->push_back(escaped);
        break;
    }
  }
  return false;
}

Importer::State Importer::QuotedValueName() {
  if (!Unescape(&valueName_)) {
    Problem("malformed value name " + Quote(line_));
    return State::kLineStart;
  }
  return State::kDataStart;
}

Importer::State Importer::DataStart() {
  SkipBlanks();
  if (At() != u'=') {
    Problem("expected \"=\" after the value name " + Quote(line_));
    return State::kLineStart;
  }
  ++pos_;
  SkipBlanks();
  while (line_.size() > pos_ && IsBlank(line_.back())) line_.pop_back();
  return At() == u'-' ? State::kDeleteValue : State::kDataType;
}

Importer::State Importer::DeleteValue() {
  ++pos_;  // the -
  if (options_.refuseDeletions) {
    Problem("a value deletion " + Quote(line_) + ": a backup only gives back");
    return State::kLineStart;
  }
  if (!RestIsEmpty()) {
    Problem("malformed value deletion " + Quote(line_));
    return State::kLineStart;
  }
  if (!haveKey_) {
    Problem("value deletion outside of a key " + Quote(line_));
    return State::kLineStart;
  }
  const uint32_t error = registry_->RegDeleteValueW(key_, valueName_);
  if (error == kRegSuccess) {
    ++result_.valuesDeleted;
  } else if (error != kRegFileNotFound) {
    WriteFailed(error);
    Problem("cannot delete value " + Quote(valueName_) + " (error " + std::to_string(error) + ")");
  }
  return State::kLineStart;
}

Importer::State Importer::DataType() {
  const std::u16string_view rest = std::u16string_view(line_).substr(pos_);
  data_.clear();
  if (rest.starts_with(u"\"")) {
    ++pos_;
    dataType_ = kRegSz;
    return State::kStringData;
  }
  if (rest.starts_with(u"hex:")) {
    pos_ += 4;
    dataType_ = kRegBinary;
    return State::kHexData;
  }
  if (rest.starts_with(u"dword:")) {
    pos_ += 6;
    dataType_ = kRegDword;
    return State::kDwordData;
  }
  if (rest.starts_with(u"hex(")) {
    size_t i = 4;
    uint32_t type = 0;
    while (i < rest.size() && i < 12 && HexDigit(rest[i]) >= 0) {
      type = type * 16 + static_cast<uint32_t>(HexDigit(rest[i]));
      ++i;
    }
    if (i > 4 && rest.substr(i).starts_with(u"):")) {
      pos_ += i + 2;
      dataType_ = type;
      return State::kHexData;
    }
  }
  Problem("unknown data type " + Quote(line_));
  return State::kLineStart;
}

Importer::State Importer::StringData() {
  std::u16string text;
  if (!Unescape(&text) || !RestIsEmpty()) {
    Problem("malformed string data " + Quote(line_));
    return State::kLineStart;
  }
  data_.resize((text.size() + 1) * 2, 0);
  std::memcpy(data_.data(), text.data(), text.size() * 2);
  return State::kSetValue;
}

Importer::State Importer::DwordData() {
  SkipBlanks();
  uint32_t value = 0;
  size_t digits = 0;
  while (HexDigit(At()) >= 0) {
    value = value * 16 + static_cast<uint32_t>(HexDigit(At()));
    ++pos_;
    ++digits;
  }
  if (digits == 0 || digits > 8 || !RestIsEmpty()) {
    Problem("malformed dword data (1 to 8 hex digits) " + Quote(line_));
    return State::kLineStart;
  }
  data_.resize(4);
  std::memcpy(data_.data(), &value, 4);  // little-endian on every target
  return State::kSetValue;
}

bool Importer::HexBytes(bool* continued) {
  *continued = false;
  while (pos_ < line_.size()) {
    SkipBlanks();
    uint32_t value = 0;
    size_t digits = 0;
    while (HexDigit(At()) >= 0) {
      value = value * 16 + static_cast<uint32_t>(HexDigit(At()));
      if (value > 0xFF) return false;
      ++pos_;
      ++digits;
    }
    if (digits == 0) {
      SkipBlanks();
      if (At() == u'\\') {
        ++pos_;
        *continued = true;
        return true;
      }
      return At() == u';' || pos_ >= line_.size();
    }
    data_.push_back(static_cast<uint8_t>(value));
    if (At() != u',') return RestIsEmpty();
    ++pos_;
  }
  return true;
}

Importer::State Importer::HexData() {
  while (line_.size() > pos_ && IsBlank(line_.back())) line_.pop_back();
  if (pos_ >= line_.size() && data_.empty()) return State::kSetValue;  // no data at all
  bool continued = false;
  if (!HexBytes(&continued)) {
    Problem("malformed hex data " + Quote(line_));
    return State::kLineStart;
  }
  if (continued) return State::kEolBackslash;
  if (options_.refuseCutFiles && !data_.empty() && line_.back() == u',') {
    Problem("hex data of " + Quote(valueName_) + " ends in a comma: the file was cut");
    return State::kLineStart;
  }
  FinishHexData();
  return State::kSetValue;
}

Importer::State Importer::EolBackslash() {
  if (!RestIsEmpty()) {
    Problem("malformed hex data " + Quote(line_));
    return State::kLineStart;
  }
  return State::kHexContinuation;
}

Importer::State Importer::HexContinuation() {
  if (!NextLine()) {
    if (options_.refuseCutFiles) {
      Problem("the file ends inside the hex data of " + Quote(valueName_) + ": it was cut");
      return State::kDone;
    }
    FinishHexData();
    return State::kSetValue;
  }
  SkipBlanks();
  if (RestIsEmpty()) return State::kHexContinuation;  // blank and comment lines are passed over
  if (HexDigit(At()) < 0) {
    // The line is taken as part of the value and dropped with it.
    Problem("hex data of " + Quote(valueName_) + " continues with a line that is not hex data;" +
            " value and line skipped " + Quote(line_));
    return State::kLineStart;
  }
  return State::kHexData;
}

void Importer::FinishHexData() {
  if (dataType_ != kRegSz && dataType_ != kRegExpandSz && dataType_ != kRegMultiSz) return;
  if (data_.empty()) return;
  if (unicode_) {
    if (options_.exactStrings) return;  // the bytes as the file gives them
    // Odd lengths are kept as they are: no unit to test.
    if (data_.size() % 2 == 0 && (data_[data_.size() - 2] != 0 || data_.back() != 0)) {
      data_.push_back(0);
      data_.push_back(0);
    }
    return;
  }
  if (data_.back() != 0) data_.push_back(0);
  const std::u16string text =
      AnsiToU16(std::string_view(reinterpret_cast<const char*>(data_.data()), data_.size()));
  data_.resize(text.size() * 2);
  if (!text.empty()) std::memcpy(data_.data(), text.data(), text.size() * 2);
}

Importer::State Importer::SetValue() {
  if (!haveKey_) {
    Problem("value " + Quote(valueName_) + " outside of a key");
    return State::kLineStart;
  }
  if (!valuesAllowed_) {
    Problem("value " + Quote(valueName_) + " of " + Quote(keyName_) +
            " is outside what a resolve removes");
    return State::kLineStart;
  }
  const uint32_t error = registry_->RegSetValueExW(key_, valueName_, dataType_, data_.data(),
                                                   static_cast<uint32_t>(data_.size()));
  if (error == kRegSuccess) {
    ++result_.valuesSet;
  } else {
    WriteFailed(error);
    Problem("cannot set value " + Quote(valueName_) + " of " + Quote(keyName_) + " (error " +
            std::to_string(error) + ")");
  }
  return State::kLineStart;
}

// The exporter.
class Exporter {
 public:
  Exporter(Registry* registry, uint32_t sam) : registry_(registry), view_(sam & kKeyWow64Res) {}
  RegExportResult Run(HKey root, std::u16string_view subKey);

 private:
  // linksFollowed: links followed on the way to key (a guard against loops).
  void Key(HKey key, const std::u16string& path, int linksFollowed = 0);
  void Value(const std::u16string& path, const RegValue& value);
  void Hex(uint32_t type, const std::vector<uint8_t>& data, size_t column);

  Registry* registry_;
  uint32_t view_;
  std::u16string out_;
  RegExportResult result_;
};

std::u16string Escape(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'\\':
        out += u"\\\\";
        break;
      case u'"':
        out += u"\\\"";
        break;
      case u'\r':
        out += u"\\r";
        break;
      case u'\n':
        out += u"\\n";
        break;
      default:
        out.push_back(c);
        break;
    }
  }
  return out;
}

RegExportResult Exporter::Run(HKey root, std::u16string_view subKey) {
  const std::u16string_view rootName = RootKeyName(root);
  if (rootName.empty()) {
    result_.error = kRegInvalidParameter;
    return std::move(result_);
  }
  std::u16string path(rootName);
  if (!subKey.empty()) path += u"\\" + std::u16string(subKey);
  HKey key;
  result_.error = registry_->RegOpenKeyExW(root, subKey, 0, kKeyRead | view_, &key);
  if (result_.error != kRegSuccess) return std::move(result_);
  out_ = u"\xFEFF";
  out_ += kHeader5;
  out_ += u"\r\n";
  // A link is opened through to its target, whose content is written under
  // the link's name, as Wine's reg export writes it.
  Key(key, path, !subKey.empty() && IsLinkKey(registry_, root, subKey, view_) ? 1 : 0);
  registry_->RegCloseKey(key);
  out_ += u"\r\n";
  result_.bytes.resize(out_.size() * 2);
  for (size_t i = 0; i < out_.size(); ++i) {
    result_.bytes[2 * i] = static_cast<char>(out_[i] & 0xFF);
    result_.bytes[2 * i + 1] = static_cast<char>(out_[i] >> 8);
  }
  return std::move(result_);
}

void Exporter::Key(HKey key, const std::u16string& path, int linksFollowed) {
  constexpr int kMostLinks = 8;
  if (path.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string::npos) {
    result_.problems.push_back(U16ToUtf8(path) +
                               ": a key name with a line break or NUL cannot be written");
    return;
  }
  out_ += u"\r\n[" + path + u"]\r\n";
  RegValue value;
  for (uint32_t i = 0; EnumValue(registry_, key, i, &value) == kRegSuccess; ++i) {
    Value(path, value);
  }
  std::u16string name;
  for (uint32_t i = 0; EnumKey(registry_, key, i, &name) == kRegSuccess; ++i) {
    const std::u16string childPath = path + u"\\" + name;
    const bool link = IsLinkKey(registry_, key, name, view_);
    if (link && linksFollowed >= kMostLinks) {
      result_.problems.push_back(U16ToUtf8(childPath) + ": more than " +
                                 std::to_string(kMostLinks) +
                                 " symbolic links on the way (they lead in a circle)");
      continue;
    }
    HKey child;
    const uint32_t error = registry_->RegOpenKeyExW(key, name, 0, kKeyRead | view_, &child);
    if (error != kRegSuccess) {
      result_.problems.push_back(U16ToUtf8(childPath) + ": cannot be opened (error " +
                                 std::to_string(error) + ")");
      continue;
    }
    Key(child, childPath, linksFollowed + (link ? 1 : 0));
    registry_->RegCloseKey(child);
  }
}

void Exporter::Value(const std::u16string& path, const RegValue& value) {
  if (value.name.find(u'\0') != std::u16string::npos) {
    result_.problems.push_back(U16ToUtf8(path) + ": a value name containing NUL (" +
                               Quote(value.name) + ") cannot be written");
    return;
  }
  const size_t lineStart = out_.size();
  if (value.name.empty()) {
    out_ += u"@=";
  } else {
    out_ += u"\"" + Escape(value.name) + u"\"=";
  }
  const std::vector<uint8_t>& data = value.data;
  const size_t units = data.size() / 2;
  auto unit = [&](size_t i) { return static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)); };
  bool stringForm =
      value.type == kRegSz && data.size() % 2 == 0 && units >= 1 && unit(units - 1) == 0;
  for (size_t i = 0; stringForm && i + 1 < units; ++i) stringForm = unit(i) != 0;
  if (stringForm) {
    std::u16string text(units - 1, u'\0');
    for (size_t i = 0; i + 1 < units; ++i) text[i] = unit(i);
    out_ += u"\"" + Escape(text) + u"\"";
  } else if (value.type == kRegDword && data.size() == 4) {
    char digits[16];
    std::snprintf(digits, sizeof(digits), "dword:%08x",
                  static_cast<unsigned>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                        (static_cast<uint32_t>(data[3]) << 24)));
    out_ += Utf8ToU16(digits);
  } else {
    Hex(value.type, data, out_.size() - lineStart);
  }
  out_ += u"\r\n";
}

void Exporter::Hex(uint32_t type, const std::vector<uint8_t>& data, size_t column) {
  char prefix[24];
  if (type == kRegBinary) {
    std::snprintf(prefix, sizeof(prefix), "hex:");
  } else {
    std::snprintf(prefix, sizeof(prefix), "hex(%x):", static_cast<unsigned>(type));
  }
  out_ += Utf8ToU16(prefix);
  column += std::strlen(prefix);
  // Wrapped as the system's editor wraps it: after a comma once the line
  // reaches 77 characters, continuing two blanks in.
  static const char16_t kDigits[] = u"0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    out_.push_back(kDigits[data[i] >> 4]);
    out_.push_back(kDigits[data[i] & 15]);
    if (i + 1 == data.size()) break;
    out_.push_back(u',');
    column += 3;
    if (column >= 77) {
      out_ += u"\\\r\n  ";
      column = 2;
    }
  }
}

}  // namespace

RegImportResult ImportRegFile(Registry* registry, std::string_view bytes, uint32_t sam,
                              const RegImportOptions& options) {
  return Importer(registry, sam, options).Run(bytes);
}

RegExportResult ExportRegFile(Registry* registry, HKey root, std::u16string_view subKey,
                              uint32_t sam) {
  return Exporter(registry, sam).Run(root, subKey);
}

}  // namespace platform
