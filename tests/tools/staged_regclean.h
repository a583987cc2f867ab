// Test support (POSIX): runs the staged regclean as a user would, as a child
// process with its own standard input, output and error.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/json_value.h"

struct RegcleanOutcome {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);

// Runs program (default: the staged regclean) with args, each quoted for the
// shell, feeding it input; scratch is a folder for the streams' files.
RegcleanOutcome RunStagedRegclean(const std::filesystem::path& scratch,
                                  const std::vector<std::string>& args,
                                  const std::string& input = "",
                                  const std::string& program = REGCLEAN_STAGE_DIR "/regclean");

inline std::u16string Wide(const std::string& text) { return {text.begin(), text.end()}; }
inline std::string Ansi(const std::u16string& text) { return {text.begin(), text.end()}; }

// regclean's JSON: one object, then a line end.
inline bool ReadJson(const std::string& text, JsonValue* value) {
  return !text.empty() && text.back() == '\n' &&
         value->Parse(Wide(text.substr(0, text.size() - 1)), JsonFlags::RawControlChars);
}

// The problems per category of a run's JSON, in the order of the run.
using CategoryCountList = std::vector<std::pair<std::u16string, int64_t>>;
inline CategoryCountList CategoryCounts(JsonValue& outcome) {
  CategoryCountList counts;
  if (JsonArray* categories = outcome[u"categories"].array())
    for (JsonValue& category : *categories)
      counts.emplace_back(*category[u"name"].string(), category[u"count"].integer());
  return counts;
}
// What a check of the demo prefix finds.
inline const CategoryCountList kDemoCounts = {
    {u"UninstallInvalidProblems", 2},     {u"SharedDllMissingProblems", 3},
    {u"UnusedFileTypeExtensions", 1},     {u"UnusedExplorerFileExtensions", 2},
    {u"InstallerFolderEmptyProblems", 1}, {u"InstallerUserDataProblems", 1},
    {u"InprocServer32Problems", 2}};
