// Reader of INI-style settings files: [sections], key = value lines, comment
// lines, escapes and "$include <file>" lines. The decoded text of every file
// read is kept in a cache shared by the whole process, so a file is read from
// disk once until it is dropped from the cache.
//
// Thread-safe: the cache. A reader object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/system.h"
#include "support/kv_string_map.h"

class CKVIniFileReader {
 public:
  // How deep includes may nest; a deeper include line is not followed.
  static constexpr size_t kMaxIncludeDepth = 256;

  // A line that is kept for writing the file back, with its place.
  struct Line {
    enum class Kind { kComment, kUnrecognized };
    Kind kind = Kind::kComment;
    std::u16string file;     // the file it came from
    size_t number = 0;       // 1-based line number in that file
    std::u16string section;  // the section it stands in; empty before the first
    std::u16string text;     // the line without its leading blanks
  };

  explicit CKVIniFileReader(platform::FileSystem* fs = platform::FileSystem::Default(),
                            platform::System* system = platform::System::Default());
  virtual ~CKVIniFileReader() = default;

  // Loads a file (a Windows path), forgetting what was loaded before. A null
  // path or a file that does not exist gives a loaded reader without
  // sections and true. False when the file exists but cannot be read; a
  // file locked by another process is tried again every millisecond.
  virtual bool Load(const char16_t* path);
  // Sets *value to the value of key in section (both without regard to case)
  // and returns true; a value in double quotes loses them, and the value ends
  // at a zero character. Anything not found, or a null section or key, gives
  // defaultValue (null: empty).
  virtual bool GetValue(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                        std::u16string* value);

  // Removes a file from the process-wide cache, so the next Load reads it
  // from disk again.
  static void DropCachedFile(std::u16string_view path);
  // Empties the whole cache at once, or, while loads are in progress, when
  // the last of them ends.
  static void ClearCache();

  bool loaded() const { return loaded_; }
  const std::u16string& path() const { return path_; }
  size_t sectionCount() const { return sections_.size(); }
  // Comment lines and lines that were not understood, in file order.
  const std::vector<Line>& lines() const { return lines_; }

 private:
  enum class ParseState {
    kNextLine,       // take the next line of the innermost file
    kLineStart,      // skip leading blanks and decide what the line is
    kComment,        // "#" or ";"
    kDirective,      // "$include <file>"
    kSectionHeader,  // "[name]"
    kKeyLine,        // "key = value"
    kUnrecognized,   // keep the line as it is
    kEndOfText,      // the innermost file is done: resume the one that included it
    kDone,
  };
  struct Frame;

  void Reset();
  bool Parse(std::shared_ptr<const std::u16string> text);
  bool ParseInclude(std::u16string_view line, std::u16string* includePath) const;
  bool ParseSectionHeader(std::u16string_view line, std::u16string* name) const;
  bool ParseKeyLine(std::u16string_view line);
  std::u16string ResolveInclude(const std::u16string& includePath) const;
  void Keep(Line::Kind kind, const Frame& frame, std::u16string_view text);

  platform::FileSystem* fs_;
  platform::System* system_;
  std::u16string path_;
  bool loaded_ = false;
  CKvStringObjMap<CKvStringMap> sections_{true};
  CKvStringMap* currentSection_ = nullptr;
  std::u16string currentSectionName_;
  std::vector<Line> lines_;
};
