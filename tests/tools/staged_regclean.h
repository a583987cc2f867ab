// Test support (POSIX): runs the staged regclean as a user would, as a child
// process with its own standard input, output and error.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

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
