// Wine's hive text format, "WINE REGISTRY Version 2": the reader that fills a
// hive's key tree and the writer that puts it back. The reader remembers
// where each key's block lies in the file, so that the writer copies the
// blocks of untouched keys byte for byte and only writes touched keys anew,
// in Wine's own layout. Pure code: the caller supplies the bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wineprefix/registry_tree.h"

namespace platform::memory {

// What reading a hive found.
struct HiveReadResult {
  bool isRegistryFile = false;  // the first line is "WINE REGISTRY Version 2"
  bool clean = false;           // a registry file in which no line was skipped
  std::string arch;             // "win32", "win64", or empty without #arch
  uint64_t prologueLength = 0;  // bytes before the first key block
  // "file:line: message 'text'" for every line that was skipped.
  std::vector<std::string> problems;
};

// Units or bytes decoded from a line, in a buffer that is reused: it grows
// when asked for more room and is never filled with zeros first.
template <typename T>
class LineBuffer {
 public:
  // Room for n more elements after the current ones.
  T* Extend(size_t n) {
    if (size_ + n > capacity_) {
      const size_t capacity = std::max(size_ + n, capacity_ * 2);
      std::unique_ptr<T[]> grown(new T[capacity]);
      if (size_ != 0) std::copy(data_.get(), data_.get() + size_, grown.get());
      data_ = std::move(grown);
      capacity_ = capacity;
    }
    return data_.get() + size_;
  }
  // The elements now end at end (inside the room last given by Extend).
  void SetEnd(const T* end) { size_ = static_cast<size_t>(end - data_.get()); }
  void clear() { size_ = 0; }
  const T* data() const { return data_.get(); }
  size_t size() const { return size_; }
  std::basic_string_view<T> view() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<T[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Reads hive text into the hive whose root is given (a key with kKeyHiveRoot
// and its hive set, and no children yet); without a root it only checks the
// text, finding the same problems while keeping nothing. Text may come in pieces of any
// size. Explicit state machine: header, global options, inside a key block,
// skipping after a malformed key line, inside a wrapped hex value.
class HiveReader {
 public:
  // The keys and values read are made in arena when one is given; it must
  // outlive the tree.
  HiveReader(Key* root, std::string fileName, uint64_t now, TreeArena* arena = nullptr);
  ~HiveReader();
  HiveReader(const HiveReader&) = delete;
  HiveReader& operator=(const HiveReader&) = delete;

  void Feed(std::string_view text);
  HiveReadResult Finish();

 private:
  enum class State { kHeader, kGlobalOptions, kInKey, kNoKey, kHexContinuation, kStopped };

  void Line(std::string_view line, uint64_t offset);
  void KeyLine(std::string_view line, uint64_t offset);
  void ValueLine(std::string_view line);
  void KeyOption(std::string_view line);
  bool HexData(std::string_view text);  // false on malformed data
  void EndBlock(uint64_t end);
  void Problem(const char* message, std::string_view line);

  Key* root_;
  TreeArena* arena_;
  std::string fileName_;
  uint64_t now_;
  State state_ = State::kHeader;
  HiveReadResult result_;
  std::string pending_;  // an incomplete line carried between pieces
  uint64_t offset_ = 0;  // file offset of the next byte fed
  uint64_t line_ = 0;
  // The block being read.
  Key* key_ = nullptr;
  bool haveBlock_ = false;
  uint64_t blockStart_ = 0;
  bool previousEmpty_ = false;
  uint64_t previousStart_ = 0;
  // The previous key path, to find the next one's parents without lookups.
  LineBuffer<char16_t> previousPath_;
  std::vector<Key*> previousKeys_;
  std::vector<size_t> previousEnds_;
  // A hex value wrapped over lines.
  std::u16string hexName_;
  uint32_t hexType_ = 0;
  LineBuffer<uint8_t> hexBytes_;
  LineBuffer<char16_t> scratch_;  // reused for key paths and string data
  LineBuffer<char16_t> name_;
};

// Reads a whole text (tests, small files).
HiveReadResult ReadHive(std::string_view text, Key* root, std::string_view fileName, uint64_t now);

// Where the writer gets the bytes of the file as last read or written.
class HiveSource {
 public:
  virtual ~HiveSource() = default;
  virtual bool Read(uint64_t offset, size_t size, char* out) = 0;
};
// Where the writer puts the new text.
class HiveSink {
 public:
  virtual ~HiveSink() = default;
  virtual bool Write(const char* data, size_t size) = 0;
};

// Where each key's block lies in the text just written.
struct KeySpan {
  Key* key;
  uint64_t offset;
  uint32_t length;
};

struct HiveWriteResult {
  bool ok = false;
  uint64_t prologueLength = 0;
  uint64_t size = 0;
  std::vector<KeySpan> spans;
};

// Writes the hive below root: the prologue as read (prologueLength bytes of
// source) or, without one, Wine's header for rootPath (escaped, e.g.
// "REGISTRY\\\\Machine") and arch; then, depth first, a block for every key
// that needs one: untouched keys copied from source, touched keys in Wine's
// layout. Volatile keys are left out. source may be null when every key is
// touched or new.
HiveWriteResult WriteHive(const Key* root, std::string_view rootPath, std::string_view arch,
                          uint64_t prologueLength, HiveSource* source, HiveSink* sink);
// After the written text became the hive file: the keys' blocks are where
// the writer put them and nothing is touched any more.
void CommitWrite(Key* root, const HiveWriteResult& written);

// Wine's text of one value line, with its newline.
void FormatValue(const Value& value, std::string* out);
// Wine's escaping of UTF-16 text; the two characters of escape get a
// backslash. Returns the number of bytes appended.
size_t EscapeText(std::u16string_view text, const char escape[2], std::string* out);

}  // namespace platform::memory
