// The computer regclean itself runs on, apart from the machine it cleans:
// its own files by their own names (Unix paths on POSIX, Windows paths in
// UTF-8 on Windows), its environment and processors, and programs started
// with their output caught. The host uses it to find the Wine prefixes of a
// user and to run one copy of itself per prefix.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct HostEntry {
  std::string name;
  bool folder = false;  // a folder, also one reached through a link
  bool link = false;    // the entry itself is a symbolic link (a junction on Windows)
};

// The entries of folder without "." and "..", sorted by name. False when the
// folder cannot be read.
bool ListHostFolder(const std::string& folder, std::vector<HostEntry>* entries);

enum class HostFileKind { kNone, kFile, kFolder, kOther };

// What path is, links followed; *size (when given) is a file's size.
HostFileKind HostFileKindOf(const std::string& path, uint64_t* size = nullptr);

// Reads at most limit bytes of a file. False when it cannot be opened or
// read, or is longer than limit.
bool ReadHostFile(const std::string& path, size_t limit, std::string* bytes);

// The path with every link resolved, absolute; empty when it does not exist.
std::string HostRealPath(const std::string& path);

// A variable of this process's environment; empty when not set.
std::string HostEnvironmentVariable(std::string_view name);

// The user's home folder ($HOME; %USERPROFILE% on Windows); empty if unknown.
std::string HostHomeFolder();

// The number of processors this process may run on (at least 1).
unsigned HostProcessorCount();

// The running program's own file.
std::string HostProgramFile();

struct HostRun {
  int exitCode = -1;  // -1 when it did not end normally (a signal)
  std::string out;    // everything it wrote to its standard output
  std::string err;    // and to its standard error
};

// Runs a program (arguments[0], a path) with its arguments, without a shell,
// its standard input empty and both output streams caught, and waits for its
// end. It shares this program's console, so a Ctrl-C reaches it too. False
// when it could not be started, with the reason in *error.
bool RunHostProgram(const std::vector<std::string>& arguments, HostRun* run, std::string* error);

}  // namespace platform
