// What a run of the registry cleaner found, read back from its log. The
// module keeps no list of problems, but with a log level of 8 or more its
// log names each one: every category's work sits between "Start: Work<name>"
// and "Stop: Work<name>, found N problems here, ..."; inside, a key line
// ("Key: ROOT\path", "Key: ROOT\path - Value: NAME", the short forms
// "Key: .\path" and "Key: ...\path" for the root named last, or "in Key:
// ROOT\path") names the key, and each problem line after it ("Missing: ...",
// "Missing valid: ...", "Missing Default Value", "Unused FileExt: ...") is
// one problem in that key.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace regclean {

struct LoggedProblem {
  std::u16string key;      // full path, root name first
  std::u16string value;    // the value the key line names; empty for none
  std::u16string line;     // the problem line as logged ("Missing: C:\...")
  std::u16string missing;  // the item the line names; empty when it names none
};

struct LoggedCategory {
  std::u16string name;  // "SharedDllMissingProblems"
  // The count of the category's end line; -1 when the log has none (the run
  // was stopped within the category).
  int count = -1;
  // The problems the log names in the category (also when they are not kept).
  int named = 0;
  std::vector<LoggedProblem> problems;  // empty when read without them
};

struct RunLog {
  bool runFound = false;                   // the log holds a run's start line
  std::u16string mode;                     // "Scan", "BackupAndClean" ...
  bool aborted = false;                    // the run ended by a stop request
  int total = -1;                          // the run's problem total from its end line; -1 if none
  std::vector<LoggedCategory> categories;  // in the order they ran
  // Where the run starts: the number of lines before its start line.
  uint64_t startLine = 0;
};

// Reads the lines of a log (the text after a line's " -> " counts; lines
// without it are taken whole). Only the last run in the text is kept.
RunLog ParseRunLog(std::u16string_view text);

// The log at path, read from byte offset from on as ParseRunLog reads a text,
// in pieces: a log of any size takes little memory. The problems are counted
// (named) but not kept. False when the file cannot be read.
bool ReadRunLog(platform::FileSystem* fs, std::u16string_view path, uint64_t from, RunLog* log);

// Hands each problem of the run ReadRunLog found in the same file to sink,
// in the log's order, with the index of its category; nothing is kept.
using ProblemSink = std::function<void(size_t category, const LoggedProblem& problem)>;
bool ForEachLoggedProblem(platform::FileSystem* fs, std::u16string_view path, uint64_t from,
                          const RunLog& log, const ProblemSink& sink);

// A reader's heading of a category: "Shared DLL counters" for
// "SharedDllMissingProblems"; the name itself for one it does not know.
std::u16string CategoryHeading(std::u16string_view name);

}  // namespace regclean
