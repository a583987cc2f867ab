// The text of the black and white lists' files, line by line: what the
// module reads and what "regclean keep" edits.
//
// A list file is UTF-16 LE text. Lines before a line that begins with
// "[RegList]" are ignored; after it every line that is not empty and does
// not begin with "/" or ";" is an entry:
//   key path[, value name[, parameter]]
// for example
//   HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.abc, "Some, Value", -case
// The first two fields may be quoted (commas inside do not separate); the
// parameter is the rest of the line. A byte-order mark before the first
// line is not part of it, so a list may begin with its "[RegList]" line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct RegListLine {
  enum class Kind {
    kIgnored,  // before the section line, empty, or a comment
    kSection,  // the "[RegList]" line
    kEntry,    // an entry line that names a key
    kNoKey,    // an entry line whose key field is empty; it adds nothing
  };
  Kind kind = Kind::kIgnored;
  size_t begin = 0;  // where the line starts in the text
  size_t next = 0;   // where the next line starts (past this one's break)
  // Entry lines: the trimmed fields; empty when missing.
  std::u16string key, value, parameter;
};

// Lines are cut at this many units; the rest is read as the next line.
constexpr size_t kMaxRegListLineLength = 16384;

// The text of a list file's bytes: false when the file is too small (28
// bytes or fewer) or not UTF-16 LE (no byte-order mark FF FE, and the system
// does not take it for Unicode text).
bool DecodeRegListFile(std::string_view bytes, std::u16string* text);

// Every line of a list's text, in order.
std::vector<RegListLine> ParseRegListText(std::u16string_view text);

// An entry line that reads back as the key and value given ("*" or empty:
// the key alone), quoted where needed; empty when the list cannot carry
// them (a line break, a zero unit or a double quote inside, blanks or
// control characters at either end, a value "*", or too long).
std::u16string FormatRegListEntry(std::u16string_view key, std::u16string_view value);
