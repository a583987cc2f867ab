#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "platform/environment.h"
#include "platform/lookup_round.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace {

// The working copies hold the longest path Windows opens ("\\?\" paths of
// 32767 characters): a path is looked up whole, and a text longer than that
// cannot be told.
constexpr size_t kWorkChars = 32768;
constexpr size_t kCutChars = kWorkChars;
constexpr size_t kExpandChars = kWorkChars;
constexpr int kAttemptBudget = 4;  // rounds of argument cutting
constexpr size_t npos = std::u16string::npos;
constexpr uint32_t kMissing = platform::kInvalidFileAttributes;

// A text holding a double quote names no file: no name may hold one, and
// the file systems refuse such a path without looking (a command line read
// whole keeps the quotes around its arguments).
bool NamesNoFile(std::u16string_view text) { return platform::FindUnit(text, u'"') != npos; }


// Prefix tests against a folder: a folder that could not be found (empty)
// matches nothing.
bool StartsWithFolder(std::u16string_view text, std::u16string_view folder) {
  return !folder.empty() && StartsWithIgnoreCase(text, folder);
}

// Environment references expanded as ExpandEnvironmentStringsW does into a
// scratch buffer. False, with the text as it was, when the expansion does
// not fit: that text cannot be told.
bool ExpandEnvironment(std::u16string* text) {
  // A reference takes two "%": with one or none ("\"%1\"") there is nothing to expand.
  const size_t first = platform::FindUnit(*text, u'%');
  if (first == npos || platform::FindUnit(*text, u'%', first + 1) == npos) return true;
  std::u16string expanded = platform::ExpandEnvironmentStrings(*text);
  if (expanded.size() >= kExpandChars) return false;
  *text = std::move(expanded);
  return true;
}

// The drive ("D:\") or share ("\\server\share\") that a path is on.
std::u16string DriveOf(std::u16string_view path) {
  if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\??\\")) path.remove_prefix(4);
  if (path.size() >= 2 && path[1] == u':') return std::u16string(path.substr(0, 2)) + u"\\";
  if (!path.starts_with(u"\\\\")) return {};
  size_t end = path.find(u'\\', 2);
  if (end != npos) end = path.find(u'\\', end + 1);
  return std::u16string(path.substr(0, end == npos ? path.size() : end)) + u"\\";
}

// "C?\dir" is a drive whose colon was lost to a question mark.
void RestoreDriveColon(std::u16string* text) {
  const size_t at = (!text->empty() && (*text)[0] == u'"') ? 1 : 0;
  if (text->size() >= at + 3 && IsFoldLetter((*text)[at]) && (*text)[at + 1] == u'?' &&
      (*text)[at + 2] == u'\\')
    (*text)[at + 1] = u':';
}

}  // namespace

// The attribute reads of one resolution. The stages test the same text more
// than once (as is, then through the view, then after rewrites that did not
// apply, and a command again without its arguments); the last few answers
// are kept, so each distinct text costs one lookup, and a kept answer counts
// as that lookup again (its doubt too). They are one lookup round: the texts
// cut from a missing path are answered from its folder's listing seen at the
// start, not by a stat each.
class PathResolver::Probe {
 public:
  explicit Probe(platform::FileSystem* fs) : fs_(fs) {}

  uint32_t Attributes(const std::u16string& path) {
    if (path.empty()) return kMissing;
    // The texts of one search share most of their length: they are
    // compared as bytes, many at a time.
    for (const Answer& answer : answers_) {
      if (!answer.Holds(path)) continue;
      if (answer.attributes == kMissing) Doubt(path, answer.error);
      return answer.attributes;
    }
    Answer& slot = answers_[next_++ % kAnswers];
    slot.Keep(path);
    if (NamesNoFile(path)) {
      slot.attributes = kMissing;
      slot.error = platform::kErrorInvalidName;
      return kMissing;
    }
    slot.attributes = fs_->GetFileAttributes(path);
    slot.error = slot.attributes == kMissing ? fs_->GetLastError() : 0;
    if (slot.attributes == kMissing) Doubt(path, slot.error);
    return slot.attributes;
  }
  bool Exists(const std::u16string& path) { return Attributes(path) != kMissing; }

  // A lookup that failed for another reason than "no such file" (a text
  // too long to look up is kErrorFilenameExcedRange): the search cannot
  // say missing.
  void Doubt(const std::u16string& path, uint32_t error) {
    if (error == 0 || platform::IsNoSuchFile(error)) return;
    // A drive that is not there is the reason worth telling.
    if (doubt_.set && (error != platform::kErrorNotReady || doubt_.error == error)) return;
    doubt_.set = true;
    doubt_.error = error;
    doubt_.path = error == platform::kErrorNotReady ? DriveOf(path) : path;
  }
  const PathDoubt& doubt() const { return doubt_; }
  // A new search of the round starts without the doubts of the last.
  void ForgetDoubt() { doubt_ = PathDoubt{}; }

 private:
  // An answer keeps its text in place when it is of a usual length: a
  // probe is made for every resolution, and its texts are not worth an
  // allocation each.
  struct Answer {
    static constexpr size_t kInPlace = 264;
    bool valid = false;
    size_t size = 0;
    char16_t inPlace[kInPlace];
    std::u16string longer;
    uint32_t attributes = kMissing;
    uint32_t error = 0;

    const char16_t* text() const { return size <= kInPlace ? inPlace : longer.data(); }
    bool Holds(const std::u16string& path) const {
      return valid && size == path.size() &&
             std::memcmp(text(), path.data(), size * sizeof(char16_t)) == 0;
    }
    void Keep(const std::u16string& path) {
      valid = true;
      size = path.size();
      if (size <= kInPlace)
        std::memcpy(inPlace, path.data(), size * sizeof(char16_t));
      else
        longer = path;
    }
  };
  static constexpr size_t kAnswers = 8;

  platform::FileSystem* fs_;
  platform::LookupRound round_;
  Answer answers_[kAnswers];
  size_t next_ = 0;
  PathDoubt doubt_;
};

PathResolver::PathResolver(platform::FileSystem* fs, ResolverFacts facts)
    : fs_(fs), facts_(facts) {}

PathResolver::PathResolver(platform::FileSystem* fs, ResolverFacts facts, WindowsFolders folders)
    : fs_(fs), facts_(facts), folders_(std::move(folders)) {}

const WindowsFolders& PathResolver::Folders() {
  if (!folders_) folders_ = LoadWindowsFolders(facts_, fs_);
  return *folders_;
}

bool PathResolver::ViewFoldersHoldQuote() {
  if (!viewFoldersQuoted_) {
    const WindowsFolders& f = Folders();
    viewFoldersQuoted_ = false;
    for (const std::u16string* folder :
         {&f.systemDir, &f.nativeSystemDir, &f.systemX86Dir, &f.programFilesDir,
          &f.programFilesX86Dir, &f.commonFilesDir, &f.commonFilesX86Dir})
      if (NamesNoFile(*folder)) viewFoldersQuoted_ = true;
  }
  return *viewFoldersQuoted_;
}

std::u16string PathResolver::NativeSystemFolder() {
  return ::NativeSystemFolder(Folders(), facts_);
}

int PathResolver::FileExistsResolved(std::u16string* path, size_t capacity, bool want64) {
  Probe probe(fs_);
  return FileExistsResolved(path, capacity, want64, &probe);
}

int PathResolver::FileExistsResolved(std::u16string* path, size_t capacity, bool want64,
                                     Probe* probe) {
  doubt_ = PathDoubt{};
  if (path == nullptr || path->empty()) return kPathMissing;
  probe->ForgetDoubt();
  std::u16string work = *path;
  if (work.size() >= kWorkChars) {
    probe->Doubt(work, platform::kErrorFilenameExcedRange);
  } else if (Search(&work, want64, probe)) {
    return Found(std::move(work), path, capacity);
  }
  doubt_ = probe->doubt();
  return doubt_.set ? kPathCannotTell : kPathMissing;
}

int PathResolver::Found(std::u16string work, std::u16string* path, size_t capacity) {
  // The long form is only seen by a caller that takes the text back.
  if (capacity != 0) {
    std::u16string longPath;
    if (fs_->GetLongPathName(work, &longPath) && longPath.size() < kWorkChars)
      work = std::move(longPath);
    FitToCapacity(&work, capacity);
    *path = std::move(work);
  }
  return kPathFound;
}

// The readings of a text, in the order: as written (quotes, drive, variables,
// view), the other view after short names, the system's own prefixes, and
// last with arguments cut, after which the later readings are tried again.
bool PathResolver::Search(std::u16string* work, bool want64, Probe* probe) {
  if (!work->empty() && (*work)[0] == u'"') {
    const size_t close = work->find(u'"', 1);
    if (close != npos) work->resize(close);
  }
  TrimPathText(work);
  if (probe->Exists(*work)) return true;
  RestoreDriveColon(work);
  if (!ExpandEnvironment(work)) probe->Doubt(*work, platform::kErrorFilenameExcedRange);
  if (ViewAware(work, kWorkChars, want64, probe) != kMissing) return true;

  for (int budget = kAttemptBudget;;) {
    const std::u16string roundStart = *work;
    if (work->find(u'~') != npos) {
      std::u16string longPath;
      if (fs_->GetLongPathName(*work, &longPath) && longPath.size() < kWorkChars)
        *work = std::move(longPath);
    }
    if (ViewAware(work, kWorkChars, !want64, probe) != kMissing) return true;

    // A system prefix names a system folder, which under WOW64 has two
    // views: "\SystemRoot\System32\" as this process sees it (SysWOW64),
    // "System32\" the native one; a file in either is there.
    if (ReplaceSystemPrefix(work) ? ViewAware(work, kWorkChars, false, probe) != kMissing
                                  : probe->Exists(*work))
      return true;
    // Under WOW64 a 32-bit Framework path may exist only as the 64-bit one,
    // also behind arguments. That reading is tried aside: the text as
    // written stays the one that the arguments are cut from.
    std::u16string framework64;
    if (Framework64Of(*work, &framework64)) {
      if (probe->Exists(framework64) ||
          (Cut(&framework64, probe) > 0 && probe->Exists(framework64))) {
        *work = std::move(framework64);
        return true;
      }
    }

    const int cuts = Cut(work, probe);
    if (cuts > 0 && probe->Exists(*work)) return true;
    if (!IsPathLike(*work) && !work->empty()) {
      std::u16string found;
      if (fs_->SearchPath(u"", *work, u"", &found) && found.size() < kWorkChars)
        *work = std::move(found);
    }
    if (probe->Exists(*work)) return true;
    if (cuts == 0 || --budget <= 0) return false;
    // A round that changed nothing would only repeat itself.
    if (*work == roundStart) return false;
  }
}

bool PathResolver::Framework64Of(const std::u16string& text, std::u16string* framework64) {
  if (!facts_.is64BitOs || !facts_.isWow64 || !StartsWithFolder(text, Folders().frameworkDir))
    return false;
  *framework64 = text;
  return ReplaceOnce(framework64, u"\\Microsoft.NET\\Framework", u"\\Microsoft.NET\\Framework64",
                     false, kWorkChars);
}

bool PathResolver::ReplaceSystemPrefix(std::u16string* work) {
  const WindowsFolders& folders = Folders();
  bool system = true;
  if (StartsWithIgnoreCase(*work, u"\\SystemRoot\\")) {
    work->replace(0, 12, folders.systemRootDir);
  } else if (StartsWithIgnoreCase(*work, u"SystemRoot\\")) {
    work->replace(0, 11, folders.systemRootDir);
  } else if (StartsWithIgnoreCase(*work, u"System32\\")) {
    work->replace(0, 9, NativeSystemFolder() + u"\\");
  } else if (StartsWithIgnoreCase(*work, u"\\System32\\")) {
    work->replace(0, 10, NativeSystemFolder() + u"\\");
  } else {
    system = false;
    if (StartsWithIgnoreCase(*work, u"\\??\\")) work->erase(0, 4);
  }
  FitToCapacity(work, kWorkChars);
  return system;
}

uint32_t PathResolver::ViewAwareExists(std::u16string* path, size_t capacity, bool want64) {
  Probe probe(fs_);
  return ViewAware(path, capacity, want64, &probe);
}

uint32_t PathResolver::ViewAware(std::u16string* path, size_t capacity, bool want64, Probe* probe) {
  if (!facts_.is64BitOs) return probe->Attributes(*path);
  const WindowsFolders& f = Folders();
  if (NamesNoFile(*path) && !ViewFoldersHoldQuote()) {
    // No reading can name a file: none is looked up.
    FitToCapacity(path, capacity);
    return kMissing;
  }
  std::u16string saved;  // the path as it came, once a rewrite changes it
  bool moved = false;
  uint32_t attributes = kMissing;
  auto test = [&] {
    attributes = probe->Attributes(*path);
    return attributes != kMissing;
  };
  // Rewrites a path below from to the same path below to.
  auto move = [&](const std::u16string& from, const std::u16string& to) {
    if (!StartsWithFolder(*path, from)) return false;
    if (!moved) saved = *path;
    moved = true;
    path->replace(0, from.size(), to);
    FitToCapacity(path, capacity);
    return true;
  };
  if (want64) {
    if (move(f.systemDir, f.nativeSystemDir) && test()) return attributes;
    if (StartsWithFolder(*path, f.systemX86Dir)) {
      if (test()) return attributes;
      if (move(f.systemX86Dir, f.nativeSystemDir) && test()) return attributes;
    }
    if (move(f.programFilesX86Dir, f.programFilesDir) && test()) return attributes;
    if (move(f.commonFilesX86Dir, f.commonFilesDir) && test()) return attributes;
    if (test()) return attributes;
  } else {
    if (test()) return attributes;
    if (move(f.systemDir, f.systemX86Dir) && test()) return attributes;
    if (move(f.nativeSystemDir, f.systemX86Dir) && test()) return attributes;
    if (move(f.systemX86Dir, f.systemDir) && test()) return attributes;
    if (move(f.systemDir, f.nativeSystemDir) && test()) return attributes;
    if (move(f.programFilesDir, f.programFilesX86Dir) && test()) return attributes;
    if (move(f.commonFilesDir, f.commonFilesX86Dir) && test()) return attributes;
    if (test()) return attributes;
  }
  if (moved) *path = std::move(saved);
  FitToCapacity(path, capacity);
  return kMissing;
}

int PathResolver::CutArguments(std::u16string* text) {
  Probe probe(fs_);
  return Cut(text, &probe);
}

int PathResolver::Cut(std::u16string* text, Probe* probe) {
  size_t start = 0;
  while (start < text->size() && (*text)[start] <= 0x20) ++start;
  if (start == text->size()) return 0;
  if ((*text)[start] == u'"') {
    const size_t close = text->find(u'"', start + 1);
    if (close == npos) {
      TrimPathText(text);
      return 0;
    }
    text->resize(close);
    TrimPathText(text);
    return 1;
  }
  std::u16string rest = text->substr(start);
  FitToCapacity(&rest, kCutChars);
  const size_t lastBackslash = rest.rfind(u'\\');
  if (lastBackslash == npos) return 0;
  // Only the last name is cut: the marks are looked for behind its backslash,
  // from the end (a mark's first unit is tested before the rest of it).
  auto behind = [&rest, lastBackslash](std::u16string_view mark) {
    const size_t from = lastBackslash + 1;
    if (rest.size() < from + mark.size()) return npos;
    const char16_t* text = rest.data();
    for (size_t at = rest.size() - mark.size() + 1; at-- > from;)
      if (text[at] == mark[0] && std::u16string_view(text + at, mark.size()) == mark) return at;
    return npos;
  };
  for (int cuts = 0;; ++cuts) {
    TrimPathText(&rest);
    if (probe->Exists(rest)) {
      *text = std::move(rest);
      return cuts;
    }
    size_t at;
    if ((at = behind(u" -")) != npos) {
      rest.resize(at);
    } else if ((at = behind(u" /")) != npos) {
      rest.resize(at);
    } else if ((at = behind(u":")) != npos && at >= 4) {
      rest.resize(at - 1);  // a second path: its drive letter goes too
    } else if ((at = behind(u" ")) != npos) {
      rest.resize(at);
    } else if ((at = behind(u".exe,")) != npos) {
      rest.resize(at + 4);
    } else if ((at = behind(u".dll,")) != npos) {
      rest.resize(at + 4);
    } else {
      return cuts;
    }
  }
}

size_t PathResolver::Rundll32Arguments(std::u16string_view text) {
  static constexpr std::u16string_view kBare = u"RunDll32";
  static constexpr std::u16string_view kWithVariable = u"%SystemRoot%\\System32\\rundll32.exe";
  const std::u16string& expanded = Folders().expandedRundll32Path;
  if (StartsWithIgnoreCase(text, kBare)) {
    size_t arguments = kBare.size();
    if (StartsWithIgnoreCase(text.substr(arguments), u".exe"))
      arguments += 5;  // ".exe" and the blank behind it
    return arguments;
  }
  if (StartsWithIgnoreCase(text, kWithVariable)) return kWithVariable.size() + 1;
  if (StartsWithFolder(text, expanded)) return expanded.size() + 1;
  return 0;
}

bool PathResolver::IsRundll32Command(std::u16string_view text) {
  return Rundll32Arguments(text) != 0;
}

void PathResolver::CutRundll32Command(std::u16string* text) {
  const size_t arguments = Rundll32Arguments(*text);
  if (arguments == 0) return;
  std::u16string library = arguments < text->size() ? text->substr(arguments) : std::u16string();
  const size_t dll = FindLastIgnoreCase(library, u".dll,");
  if (dll != npos) library.resize(dll + 4);
  const size_t comma = library.find(u',');
  if (comma != npos) library.resize(comma);
  // rundll32 loads "shell32" as "shell32.dll"; the test must look for that.
  TrimPathText(&library);
  const size_t name = library.find_last_of(u"\\/");
  if (!library.empty() && library.find(u'.', name == npos ? 0 : name) == npos) library += u".dll";
  *text = std::move(library);
}

int PathResolver::ResolveCommandToFile(std::u16string* text, size_t capacity, bool want64,
                                       bool isCommand) {
  if (!isCommand) return FileExistsResolved(text, capacity, want64);
  if (text == nullptr || text->empty()) return 0;
  // "@file,-123": a resource of file.
  if ((*text)[0] == u'@') {
    const size_t comma = text->rfind(u',');
    if (comma != npos) text->resize(comma);
    TrimPathTextAnd(text, u'@');
  }
  CutRundll32Command(text);
  TrimPathText(text);
  // The text is looked up whole; only what is handed back is cut to capacity.
  // The program without its arguments is looked up in the same round: what
  // the whole text's readings looked up already is not looked up again.
  PathDoubt doubt;
  if (!ExpandEnvironment(text)) doubt = PathDoubt{true, platform::kErrorFilenameExcedRange, *text};
  Probe probe(fs_);
  const int whole = FileExistsResolved(text, capacity, want64, &probe);
  if (whole == kPathFound) return 1;
  if (whole == kPathCannotTell) doubt = doubt_;

  // A program or library followed by its arguments or a resource index.
  static constexpr std::u16string_view kEnds[] = {u".exe ",  u".exe\"", u".dll ",
                                                  u".dll\"", u".dll,",  u".exe,"};
  for (std::u16string_view end : kEnds) {
    const size_t at = FindLastIgnoreCase(*text, end);
    if (at == npos) continue;
    text->resize(at + 4);
    TrimPathText(text);
    const int program = FileExistsResolved(text, capacity, want64, &probe);
    if (program == kPathFound) return 2;
    if (program == kPathCannotTell) doubt = doubt_;
    break;
  }
  FitToCapacity(text, capacity);
  doubt_ = doubt;
  return doubt_.set ? kPathCannotTell : kPathMissing;
}

namespace {

ResolverFacts SystemFacts() {
  platform::System* system = platform::System::Default();
  ResolverFacts facts;
  facts.is64BitOs = system->GetNativeArchitecture() == platform::kArchitectureAmd64;
  facts.isWow64 = system->IsWow64Process();
  return facts;
}

std::unique_ptr<PathResolver>& ModuleResolver() {
  static std::unique_ptr<PathResolver> resolver;
  return resolver;
}

}  // namespace

PathResolver& DefaultPathResolver() {
  std::unique_ptr<PathResolver>& resolver = ModuleResolver();
  if (!resolver)
    resolver = std::make_unique<PathResolver>(platform::FileSystem::Default(), SystemFacts());
  return *resolver;
}

void SetPathResolverFacts(const ResolverFacts& facts) {
  ModuleResolver() = std::make_unique<PathResolver>(platform::FileSystem::Default(), facts);
}

namespace {

// A text that cannot be told is no problem; the log says why.
int Logged(int result, const PathDoubt& doubt) {
  if (result != kPathCannotTell) return result;
  if (doubt.error == platform::kErrorNotReady)
    EngineLogPrintf(10, "Drive not available: %ls", doubt.path.c_str());
  else
    EngineLogPrintf(10, "Cannot tell whether it exists (error %u): %ls", doubt.error,
                    doubt.path.c_str());
  return result;
}

}  // namespace

int FileExistsResolved(std::u16string* path, size_t capacity, bool want64) {
  PathResolver& resolver = DefaultPathResolver();
  return Logged(resolver.FileExistsResolved(path, capacity, want64), resolver.doubt());
}

int ResolveCommandToFile(std::u16string* text, size_t capacity, bool want64, bool isCommand) {
  PathResolver& resolver = DefaultPathResolver();
  return Logged(resolver.ResolveCommandToFile(text, capacity, want64, isCommand), resolver.doubt());
}

bool IsRundll32Command(std::u16string_view text) {
  return DefaultPathResolver().IsRundll32Command(text);
}

uint32_t ViewAwareExists(std::u16string* path, size_t capacity, bool want64) {
  return DefaultPathResolver().ViewAwareExists(path, capacity, want64);
}

int CutArguments(std::u16string* text) { return DefaultPathResolver().CutArguments(text); }

std::u16string NativeSystemFolder() { return DefaultPathResolver().NativeSystemFolder(); }
