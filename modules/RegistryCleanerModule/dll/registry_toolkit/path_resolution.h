// Decides whether a text read from the registry names a file or folder that
// exists. Such texts come as plain paths, quoted paths with arguments,
// rundll32 command lines, resource references ("@file,-12", "file.dll,3"),
// paths with environment variables, kernel-style prefixes ("\SystemRoot\",
// "\??\"), bare "System32\" paths, 8.3 short names, bare program names for
// the search path, and, on a 64-bit system, paths valid only in the other
// file-system view. Every reading is tried: a text counts as existing as soon
// as one of them exists, so that only entries whose target is certainly gone
// are reported.
//
// Texts are in/out: on success a resolver hands back the path it found,
// kept within the caller's capacity (see path_text.h); FileExistsResolved
// never changes the text when it finds nothing.
//
// Not thread-safe: the scan worker owns the resolver it uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/windows_folders.h"
#include "platform/file_system.h"

// What FileExistsResolved and ResolveCommandToFile answer besides found (1,
// and 2 for a command found after its arguments were cut): missing, or
// cannot tell. A text cannot be told when a reading could not be looked up
// for another reason than "no such file or folder": its drive or share is
// not there, a folder cannot be read, an I/O error or a time-out, or the
// text is too long to look up. Callers take any nonzero answer as "not a
// problem".
constexpr int kPathMissing = 0;
constexpr int kPathFound = 1;
constexpr int kPathCannotTell = 3;

// Why the last resolution could not tell.
struct PathDoubt {
  bool set = false;
  uint32_t error = 0;   // the lookup's error; kErrorNotReady: a drive that is not there
  std::u16string path;  // that drive ("D:\", "\\server\share\"), else the path looked up
};

class PathResolver {
 public:
  // Looks paths up through fs, on a machine with the given facts; the folders
  // are looked up on first use and kept.
  PathResolver(platform::FileSystem* fs, ResolverFacts facts);
  // With the folders given (a machine laid out elsewhere).
  PathResolver(platform::FileSystem* fs, ResolverFacts facts, WindowsFolders folders);

  // 1 when some reading of path exists: path is then replaced by the long
  // form of what was found, cut to capacity (capacity 0: path is not
  // written). Otherwise kPathCannotTell or 0, with path unchanged. The text
  // is looked up whole, however long. want64: the entry belongs to the
  // 64-bit view.
  int FileExistsResolved(std::u16string* path, size_t capacity, bool want64);

  // A command line (isCommand) resolved to the file it runs: an at-sign
  // resource reference to its file, a rundll32 command to the library it
  // names, then FileExistsResolved. 0 missing, 1 found, 2 found after the
  // arguments behind ".exe" or ".dll" were cut, kPathCannotTell. The text is
  // rewritten along the way (and cut to capacity). Without isCommand:
  // FileExistsResolved alone.
  int ResolveCommandToFile(std::u16string* text, size_t capacity, bool want64, bool isCommand);

  // The attributes of path, trying on a 64-bit system the variants of the
  // other view (System32, SysWOW64 and Sysnative; Program Files and Program
  // Files (x86); Common Files) in the order the view asks for. Found: path
  // is the variant that exists. Missing: kInvalidFileAttributes, path as it
  // was (cut to capacity).
  uint32_t ViewAwareExists(std::u16string* path, size_t capacity, bool want64);

  // Removes arguments behind a path until the rest exists. A quoted text is
  // cut at its closing quote (1 cut). Else the last of " -", " /", a second
  // drive's colon, a blank, ".exe," and ".dll," behind the last backslash is
  // cut, one after another; the text changes only when a rest exists. Returns
  // the number of cuts tried.
  int CutArguments(std::u16string* text);

  // The text is a rundll32 command (the bare word, or rundll32's full path
  // with or without %SystemRoot%): it is judged by the library it names.
  bool IsRundll32Command(std::u16string_view text);
  // Why the last FileExistsResolved or ResolveCommandToFile could not tell.
  const PathDoubt& doubt() const { return doubt_; }

  // The native system folder without a trailing backslash.
  std::u16string NativeSystemFolder();
  const WindowsFolders& Folders();
  const ResolverFacts& facts() const { return facts_; }

 private:
  class Probe;

  // FileExistsResolved with the lookups of probe's round.
  int FileExistsResolved(std::u16string* path, size_t capacity, bool want64, Probe* probe);
  bool Search(std::u16string* work, bool want64, Probe* probe);
  uint32_t ViewAware(std::u16string* path, size_t capacity, bool want64, Probe* probe);
  int Cut(std::u16string* text, Probe* probe);
  int Found(std::u16string work, std::u16string* path, size_t capacity);
  // A folder that the other view's readings rewrite holds a double quote.
  bool ViewFoldersHoldQuote();
  // True when it replaced a "SystemRoot" or "System32" prefix.
  bool ReplaceSystemPrefix(std::u16string* work);
  bool Framework64Of(const std::u16string& text, std::u16string* framework64);
  size_t Rundll32Arguments(std::u16string_view text);
  void CutRundll32Command(std::u16string* text);

  platform::FileSystem* fs_;
  ResolverFacts facts_;
  std::optional<WindowsFolders> folders_;
  // Whether a folder that the other view's readings rewrite holds a double
  // quote (then such a reading may drop one): known once the folders are.
  std::optional<bool> viewFoldersQuoted_;
  PathDoubt doubt_;
};

// The module's resolver: the system's file system and the platform facts
// handed over at start-up. Until then the facts are the system seam's answer
// for the architecture and WOW64, at the lowest system level.
PathResolver& DefaultPathResolver();
// Hands the platform facts over; the folders are looked up again on next use.
void SetPathResolverFacts(const ResolverFacts& facts);

// The module resolver's operations. A text that cannot be told is logged at
// level 10: "Drive not available: D:\" for a drive or share that is not
// there, else "Cannot tell whether it exists (error <code>): <path>".
int FileExistsResolved(std::u16string* path, size_t capacity, bool want64);
int ResolveCommandToFile(std::u16string* text, size_t capacity, bool want64, bool isCommand);
uint32_t ViewAwareExists(std::u16string* path, size_t capacity, bool want64);
int CutArguments(std::u16string* text);
bool IsRundll32Command(std::u16string_view text);
std::u16string NativeSystemFolder();
