#include "support/kv_ini_file_reader.h"

#include <mutex>
#include <utility>

#include "platform/system_text.h"
#include "support/kv_path.h"

namespace {

using Text = std::shared_ptr<const std::u16string>;

// The process-wide cache of decoded file texts. Created on first use and
// never destroyed, so readers in static destructors still find it.
struct FileCache {
  std::mutex lock;
  CKvStringObjMap<Text> texts{true};
  int loadsInProgress = 0;
  bool clearRequested = false;
};

FileCache& Cache() {
  static FileCache cache;
  return cache;
}

// Marks a load and its parse as in progress; a clearing asked for meanwhile
// happens when the last one ends.
class LoadInProgress {
 public:
  LoadInProgress() {
    std::lock_guard<std::mutex> lock(Cache().lock);
    ++Cache().loadsInProgress;
  }
  ~LoadInProgress() {
    FileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.lock);
    if (--cache.loadsInProgress == 0 && cache.clearRequested) {
      cache.texts.Clear();
      cache.clearRequested = false;
    }
  }
};

// A byte-order mark chooses UTF-16 (either order); anything else is text in
// the ANSI code page. A stray last byte of UTF-16 text is dropped.
std::u16string Decode(const std::string& bytes) {
  const auto byte = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 &&
      ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
    const bool bigEndian = byte(0) == 0xFE;
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const char16_t first = byte(i);
      const char16_t second = byte(i + 1);
      text.push_back(bigEndian ? static_cast<char16_t>((first << 8) | second)
                               : static_cast<char16_t>((second << 8) | first));
    }
    return text;
  }
  return platform::AnsiToU16(bytes);
}

// The text of a file, from the cache or read from disk into it. Null when
// the file cannot be read. A file locked by another process is tried again
// every millisecond until it opens.
Text FetchText(platform::FileSystem* fs, platform::System* system, const std::u16string& path) {
  FileCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.lock);
  if (const Text* cached = cache.texts.Find(path)) return *cached;
  std::string bytes;
  while (!platform::ReadWholeFile(fs, path, &bytes)) {
    const uint32_t error = fs->GetLastError();
    if (error != platform::kErrorSharingViolation && error != platform::kErrorLockViolation)
      return nullptr;
    system->Sleep(1);
  }
  Text text = std::make_shared<const std::u16string>(Decode(bytes));
  cache.texts[path] = text;
  return text;
}

// Space, tab, backspace, form feed, vertical tab and bell.
bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\b' || c == u'\f' || c == u'\v' || c == u'\a';
}

std::u16string_view TrimLeft(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// Trimming at the right also takes line ends away.
std::u16string_view TrimRight(std::u16string_view text) {
  while (!text.empty() && (IsBlank(text.back()) || text.back() == u'\r' || text.back() == u'\n'))
    text.remove_suffix(1);
  return text;
}

std::u16string_view Trim(std::u16string_view text) { return TrimRight(TrimLeft(text)); }

// A backslash before one of #;=:trn\0 stands for that character (t, r and n
// for tab, carriage return and line feed, 0 for a zero character); before
// anything else it stays.
std::u16string Unescape(std::u16string_view text) {
  static constexpr std::u16string_view kEscaped = u"#;=:trn\\0";
  static constexpr char16_t kMeaning[] = {u'#', u';', u'=', u':', u'\t', u'\r', u'\n', u'\\', 0};
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size()) {
      const size_t which = kEscaped.find(text[i + 1]);
      if (which != std::u16string_view::npos) {
        out.push_back(kMeaning[which]);
        ++i;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool IsQuoted(std::u16string_view text) {
  return text.size() >= 2 && text.front() == u'"' && text.back() == u'"';
}

}  // namespace

// A file being parsed: its text, where the next line begins, its name and
// the number of the line last taken.
struct CKVIniFileReader::Frame {
  Text text;
  size_t position = 0;
  std::u16string file;
  size_t lineNumber = 0;
};

CKVIniFileReader::CKVIniFileReader(platform::FileSystem* fs, platform::System* system)
    : fs_(fs), system_(system) {}

void CKVIniFileReader::Reset() {
  path_.clear();
  loaded_ = false;
  sections_.Clear();
  currentSection_ = nullptr;
  currentSectionName_.clear();
  lines_.clear();
}

bool CKVIniFileReader::Load(const char16_t* path) {
  Reset();
  if (path == nullptr) {
    loaded_ = true;
    return true;
  }
  path_ = path;
  if (fs_->GetFileAttributes(path_) == platform::kInvalidFileAttributes) {
    loaded_ = true;  // a missing file leaves every value at its default
    return true;
  }
  LoadInProgress inProgress;
  Text text = FetchText(fs_, system_, path_);
  if (text == nullptr) return false;
  if (!text->empty() && !Parse(std::move(text))) return false;
  loaded_ = true;
  return true;
}

bool CKVIniFileReader::GetValue(const char16_t* section, const char16_t* key,
                                const char16_t* defaultValue, std::u16string* value) {
  *value = defaultValue != nullptr ? defaultValue : u"";
  if (!loaded_ || sections_.empty() || section == nullptr || key == nullptr) return true;
  const CKvStringMap* keys = sections_.Find(section);
  if (keys == nullptr) return true;
  const std::u16string* stored = keys->Find(key);
  if (stored == nullptr) return true;
  std::u16string_view text = *stored;
  if (IsQuoted(text)) text = text.substr(1, text.size() - 2);
  *value = std::u16string(text.substr(0, text.find(u'\0')));
  return true;
}

void CKVIniFileReader::DropCachedFile(std::u16string_view path) {
  FileCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.lock);
  cache.texts.Remove(path);
}

void CKVIniFileReader::ClearCache() {
  FileCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.lock);
  if (cache.loadsInProgress == 0) {
    cache.texts.Clear();
  } else {
    cache.clearRequested = true;
  }
}

bool CKVIniFileReader::Parse(Text text) {
  std::vector<Frame> stack;
  stack.push_back(Frame{std::move(text), 0, path_, 0});
  std::u16string_view line;  // the current line, valid while its frame's text lives
  Text lineText;             // keeps the text of the current line alive
  ParseState state = ParseState::kNextLine;
  while (state != ParseState::kDone) {
    switch (state) {
      case ParseState::kNextLine: {
        Frame& frame = stack.back();
        const std::u16string& all = *frame.text;
        if (frame.position >= all.size()) {
          state = ParseState::kEndOfText;
          break;
        }
        size_t end = all.find_first_of(u"\r\n", frame.position);
        if (end == std::u16string::npos) end = all.size();
        lineText = frame.text;
        line = std::u16string_view(all).substr(frame.position, end - frame.position);
        // CR LF ends one line, not two.
        frame.position =
            end + ((end + 1 < all.size() && all[end] == u'\r' && all[end + 1] == u'\n') ? 2 : 1);
        ++frame.lineNumber;
        state = ParseState::kLineStart;
        break;
      }
      case ParseState::kLineStart:
        line = TrimLeft(line);
        if (line.empty()) {
          state = ParseState::kNextLine;
        } else if (line[0] == u'#' || line[0] == u';') {
          state = ParseState::kComment;
        } else if (line[0] == u'$') {
          state = ParseState::kDirective;
        } else if (line[0] == u'[') {
          state = ParseState::kSectionHeader;
        } else {
          state = ParseState::kKeyLine;
        }
        break;
      case ParseState::kComment:
        Keep(Line::Kind::kComment, stack.back(), line);
        state = ParseState::kNextLine;
        break;
      case ParseState::kDirective: {
        state = ParseState::kUnrecognized;
        std::u16string includePath;
        if (!ParseInclude(line, &includePath)) break;
        const std::u16string file = ResolveInclude(includePath);
        // Too deep, or a file that is already being parsed (it includes
        // itself, directly or not): following it would never end.
        if (stack.size() > kMaxIncludeDepth) break;
        bool open = false;
        for (const Frame& frame : stack)
          open = open || platform::EqualsIgnoreCase(frame.file, file);
        if (open) break;
        if (fs_->GetFileAttributes(file) == platform::kInvalidFileAttributes) break;
        Text included = FetchText(fs_, system_, file);
        if (included == nullptr || included->empty()) break;
        stack.push_back(Frame{std::move(included), 0, file, 0});
        state = ParseState::kNextLine;
        break;
      }
      case ParseState::kSectionHeader: {
        std::u16string name;
        if (!ParseSectionHeader(line, &name)) {
          state = ParseState::kUnrecognized;
          break;
        }
        currentSection_ = sections_.Find(name);
        if (currentSection_ == nullptr) {
          currentSection_ = &sections_[name];
          *currentSection_ = CKvStringMap(true);
        }
        currentSectionName_ = name;
        state = ParseState::kNextLine;
        break;
      }
      case ParseState::kKeyLine:
        state = ParseKeyLine(line) ? ParseState::kNextLine : ParseState::kUnrecognized;
        break;
      case ParseState::kUnrecognized:
        Keep(Line::Kind::kUnrecognized, stack.back(), line);
        state = ParseState::kNextLine;
        break;
      case ParseState::kEndOfText:
        stack.pop_back();
        state = stack.empty() ? ParseState::kDone : ParseState::kNextLine;
        break;
      case ParseState::kDone:
        break;
    }
  }
  return true;
}

// "$include <path>": after "$", blanks, the word include, then "<" or a
// blank, blanks, "<", and a ">" later on the line; the path runs from that
// "<" to the last ">".
bool CKVIniFileReader::ParseInclude(std::u16string_view line, std::u16string* includePath) const {
  std::u16string_view rest = TrimLeft(line.substr(1));
  static constexpr std::u16string_view kInclude = u"include";
  if (rest.substr(0, kInclude.size()) != kInclude) return false;
  rest.remove_prefix(kInclude.size());
  if (rest.empty() || (rest[0] != u'<' && !IsBlank(rest[0]))) return false;
  rest = TrimLeft(rest);
  if (rest.empty() || rest[0] != u'<') return false;
  const size_t close = rest.rfind(u'>');
  if (close == std::u16string_view::npos || close == 0) return false;
  *includePath = std::u16string(Trim(rest.substr(1, close - 1)));
  return !includePath->empty();
}

// "[name]": blanks may surround the name, which runs to the last "]".
bool CKVIniFileReader::ParseSectionHeader(std::u16string_view line, std::u16string* name) const {
  const size_t close = line.rfind(u']');
  if (close == std::u16string_view::npos || close == 0) return false;
  *name = std::u16string(Trim(line.substr(1, close - 1)));
  return !name->empty();
}

bool CKVIniFileReader::ParseKeyLine(std::u16string_view line) {
  if (currentSection_ == nullptr) return false;
  const size_t equals = line.find(u'=');
  if (equals == std::u16string_view::npos || equals == 0) return false;
  const std::u16string_view key = TrimRight(line.substr(0, equals));
  std::u16string_view value = Trim(line.substr(equals + 1));
  if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
  (*currentSection_)[key] = Unescape(value);
  return true;
}

// A path without a drive is taken from the folder of the loaded file, with
// doubled backslashes made single.
std::u16string CKVIniFileReader::ResolveInclude(const std::u16string& includePath) const {
  if (!KvOSAL::KvPath::IsRelative(includePath)) return includePath;
  const std::u16string joined = KvOSAL::KvPath(path_).Folder() + includePath;
  std::u16string out = joined.substr(0, 2);  // a UNC root keeps its two backslashes
  for (size_t i = out.size(); i < joined.size(); ++i)
    if (!(joined[i] == u'\\' && out.back() == u'\\')) out.push_back(joined[i]);
  return out;
}

void CKVIniFileReader::Keep(Line::Kind kind, const Frame& frame, std::u16string_view text) {
  Line kept;
  kept.kind = kind;
  kept.file = frame.file;
  kept.number = frame.lineNumber;
  kept.section = currentSectionName_;
  kept.text = std::u16string(text);
  lines_.push_back(std::move(kept));
}
