#include "tools/regclean/run_log.h"

#include <cstdlib>

#include "platform/system_text.h"

namespace regclean {
namespace {

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The leading decimal number of text; -1 without one.
int LeadingNumber(std::u16string_view text) {
  int n = -1;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    n = (n < 0 ? 0 : n * 10) + (c - u'0');
  }
  return n;
}

// The message of a log line: the text after the time and level prefix.
std::u16string_view Message(std::u16string_view line) {
  const size_t arrow = line.find(u" -> ");
  return arrow == std::u16string_view::npos ? line : line.substr(arrow + 4);
}

// Reads a log's messages. By default it keeps the problems of the last run;
// with keep false it only counts them, and with a sink it hands the problems
// of the run starting at line startLine to it.
class Reader {
 public:
  Reader() = default;
  explicit Reader(bool keep) : keep_(keep) {}
  Reader(uint64_t startLine, const ProblemSink* sink)
      : keep_(false), startLine_(startLine), sink_(sink) {}
  void Line(std::u16string_view message);
  RunLog result() { return std::move(log_); }

 private:
  void KeyLine(std::u16string_view text);
  void Problem(std::u16string_view line, std::u16string_view missing);

  bool keep_ = true;
  uint64_t line_ = 0;  // lines read so far
  uint64_t startLine_ = 0;
  const ProblemSink* sink_ = nullptr;
  bool done_ = false;  // a sink's run has ended
  RunLog log_;
  LoggedCategory* category_ = nullptr;
  std::u16string root_;  // the root the last long key line named
  std::u16string key_;
  std::u16string value_;
};

void Reader::Line(std::u16string_view message) {
  const uint64_t line = line_++;
  if (sink_ != nullptr && (line < startLine_ || done_)) return;
  if (StartsWith(message, u"Start: RegCleanerThread, mode: ")) {
    // A sink reads one run only: a later one (another run appending to the
    // log meanwhile) is not the one counted.
    if (sink_ != nullptr && log_.runFound) {
      done_ = true;
      return;
    }
    log_ = RunLog();
    log_.runFound = true;
    log_.startLine = line;
    log_.mode = message.substr(31);
    category_ = nullptr;
    return;
  }
  for (std::u16string_view end : {std::u16string_view(u"Stop: RegCleanerThread, found "),
                                  std::u16string_view(u"ABORTED: RegCleanerThread, found ")}) {
    if (StartsWith(message, end)) {
      log_.total = LeadingNumber(message.substr(end.size()));
      log_.aborted = end[0] == u'A';
      category_ = nullptr;
      return;
    }
  }
  if (StartsWith(message, u"Start: Work")) {
    log_.categories.push_back(LoggedCategory{std::u16string(message.substr(11)), -1, 0, {}});
    category_ = &log_.categories.back();
    root_.clear();
    key_.clear();
    value_.clear();
    return;
  }
  if (category_ == nullptr) return;
  if (StartsWith(message, u"Stop: Work")) {
    const size_t found = message.find(u", found ");
    if (found != std::u16string_view::npos) {
      category_->count = LeadingNumber(message.substr(found + 8));
    }
    category_ = nullptr;
  } else if (StartsWith(message, u"Key: ")) {
    KeyLine(message.substr(5));
  } else if (StartsWith(message, u"in Key: ")) {
    KeyLine(message.substr(8));
  } else if (StartsWith(message, u"Missing: ")) {
    Problem(message, message.substr(9));
  } else if (StartsWith(message, u"Missing valid: ")) {
    Problem(message, message.substr(15));
  } else if (message == u"Missing Default Value") {
    Problem(message, u"");
  } else if (StartsWith(message, u"Unused FileExt: ")) {
    std::u16string_view name = message.substr(16);
    if (name.size() >= 2 && name.front() == u'"' && name.back() == u'"') {
      name = name.substr(1, name.size() - 2);
    }
    Problem(message, name);
  }
}

void Reader::KeyLine(std::u16string_view text) {
  const size_t valueAt = text.find(u" - Value: ");
  value_ = valueAt == std::u16string_view::npos ? u"" : std::u16string(text.substr(valueAt + 10));
  std::u16string_view path = text.substr(0, valueAt);
  const size_t slash = path.find(u'\\');
  const std::u16string_view root = path.substr(0, slash);
  const std::u16string_view rest =
      slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
  if (root == u"." || root == u"...") {
    // The short form: the root of the last long form.
    key_ = root_.empty() ? std::u16string(rest) : root_ + u"\\" + std::u16string(rest);
  } else {
    root_ = root;
    key_ = path;
  }
}

void Reader::Problem(std::u16string_view line, std::u16string_view missing) {
  ++category_->named;
  if (sink_ != nullptr) {
    (*sink_)(log_.categories.size() - 1,
             LoggedProblem{key_, value_, std::u16string(line), std::u16string(missing)});
  } else if (keep_) {
    category_->problems.push_back(
        LoggedProblem{key_, value_, std::u16string(line), std::u16string(missing)});
  }
}

// Hands each line of text to reader; returns what a last line without its
// line end leaves.
size_t ReadLines(Reader& reader, std::u16string_view text, bool last) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) {
      if (!last) return start;
      end = text.size();
    }
    std::u16string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    reader.Line(Message(line));
    start = end + 1;
  }
  return text.size();
}

// Reads the file at path from byte offset from on, a megabyte at a time,
// and hands its lines to reader.
bool ReadFileLines(platform::FileSystem* fs, std::u16string_view path, uint64_t from,
                   Reader& reader) {
  const platform::FileHandle file =
      fs->CreateFile(path, platform::kGenericRead,
                     platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting);
  if (file == nullptr) return false;
  bool ok = fs->SetFilePointer(file, static_cast<int64_t>(from), platform::kFileBegin) >= 0;
  std::string bytes;  // the piece read, after what the last piece left of a line
  constexpr uint32_t kPiece = 1 << 20;
  while (ok) {
    const size_t kept = bytes.size();
    bytes.resize(kept + kPiece);
    uint32_t read = 0;
    ok = fs->ReadFile(file, bytes.data() + kept, kPiece, &read);
    bytes.resize(kept + read);
    const bool last = !ok || read == 0;
    // Whole lines only: a UTF-8 sequence never holds a line end.
    const size_t lineEnd = last ? bytes.size() : bytes.rfind('\n');
    if (lineEnd == std::string::npos) continue;
    const size_t used = last ? bytes.size() : lineEnd + 1;
    ReadLines(reader, platform::AnsiToU16(std::string_view(bytes).substr(0, used)), last);
    bytes.erase(0, used);
    if (last) break;
  }
  fs->CloseHandle(file);
  return ok;
}

}  // namespace

RunLog ParseRunLog(std::u16string_view text) {
  Reader reader;
  ReadLines(reader, text, true);
  return reader.result();
}

bool ReadRunLog(platform::FileSystem* fs, std::u16string_view path, uint64_t from, RunLog* log) {
  Reader reader(false);
  if (!ReadFileLines(fs, path, from, reader)) return false;
  *log = reader.result();
  return true;
}

bool ForEachLoggedProblem(platform::FileSystem* fs, std::u16string_view path, uint64_t from,
                          const RunLog& log, const ProblemSink& sink) {
  if (!log.runFound) return true;
  Reader reader(log.startLine, &sink);
  return ReadFileLines(fs, path, from, reader);
}

std::u16string CategoryHeading(std::u16string_view name) {
  static const struct {
    const char16_t* name;
    const char16_t* heading;
  } kHeadings[] = {
      {u"UninstallInvalidProblems", u"Uninstall entries of programs that are gone"},
      {u"SharedDllMissingProblems", u"Shared DLL counters of missing files"},
      {u"UnusedFileTypeExtensions", u"File types without a valid program"},
      {u"UnusedExplorerFileExtensions", u"Explorer file extensions without a program"},
      {u"InstallerFolderEmptyProblems", u"Installer folders that are gone"},
      {u"InstallerUserDataProblems", u"Installer components of missing files"},
      {u"InprocServer32Problems", u"COM classes whose DLL is missing"},
  };
  for (const auto& entry : kHeadings) {
    if (name == entry.name) return entry.heading;
  }
  return std::u16string(name);
}

}  // namespace regclean
