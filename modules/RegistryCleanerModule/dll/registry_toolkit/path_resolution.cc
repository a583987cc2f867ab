#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"

#include <memory>
#include <string_view>
#include <utility>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"
#include "platform/environment.h"
#include "platform/system.h"

namespace {

constexpr size_t kWorkChars = 2048;    // the working copy of a text
constexpr size_t kCutChars = 4096;     // the copy that arguments are cut from
constexpr size_t kExpandChars = 2048;  // the scratch buffer of an expansion
constexpr int kAttemptBudget = 4;      // rounds of argument cutting
constexpr size_t npos = std::u16string::npos;
constexpr uint32_t kMissing = platform::kInvalidFileAttributes;

// Prefix tests against a folder: a folder that could not be found (empty)
// matches nothing.
bool StartsWithFolder(std::u16string_view text, std::u16string_view folder) {
  return !folder.empty() && StartsWithIgnoreCase(text, folder);
}

// Environment references expanded as ExpandEnvironmentStringsW does into a
// scratch buffer; an expansion that does not fit leaves the text as it was.
void ExpandEnvironment(std::u16string* text, size_t capacity) {
  if (text->find(u'%') == npos) return;
  std::u16string expanded = platform::ExpandEnvironmentStrings(*text);
  if (expanded.size() >= kExpandChars) return;
  FitToCapacity(&expanded, capacity);
  *text = std::move(expanded);
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
// apply); the last few answers are kept, so each distinct text costs one
// lookup.
class PathResolver::Probe {
 public:
  explicit Probe(platform::FileSystem* fs) : fs_(fs) {}

  uint32_t Attributes(const std::u16string& path) {
    if (path.empty()) return kMissing;
    for (const Answer& answer : answers_)
      if (answer.valid && answer.path == path) return answer.attributes;
    Answer& slot = answers_[next_++ % kAnswers];
    slot.valid = true;
    slot.path = path;
    slot.attributes = fs_->GetFileAttributes(path);
    return slot.attributes;
  }
  bool Exists(const std::u16string& path) { return Attributes(path) != kMissing; }

 private:
  struct Answer {
    bool valid = false;
    std::u16string path;
    uint32_t attributes = kMissing;
  };
  static constexpr size_t kAnswers = 4;

  platform::FileSystem* fs_;
  Answer answers_[kAnswers];
  size_t next_ = 0;
};

PathResolver::PathResolver(platform::FileSystem* fs, ResolverFacts facts)
    : fs_(fs), facts_(facts) {}

PathResolver::PathResolver(platform::FileSystem* fs, ResolverFacts facts, WindowsFolders folders)
    : fs_(fs), facts_(facts), folders_(std::move(folders)) {}

const WindowsFolders& PathResolver::Folders() {
  if (!folders_) folders_ = LoadWindowsFolders(facts_, fs_);
  return *folders_;
}

std::u16string PathResolver::NativeSystemFolder() {
  return ::NativeSystemFolder(Folders(), facts_);
}

int PathResolver::FileExistsResolved(std::u16string* path, size_t capacity, bool want64) {
  if (path == nullptr || path->empty()) return 0;
  std::u16string work = *path;
  FitToCapacity(&work, kWorkChars);
  Probe probe(fs_);
  if (!Search(&work, want64, &probe)) return 0;
  // The long form is only seen by a caller that takes the text back.
  if (capacity != 0) {
    std::u16string longPath;
    if (fs_->GetLongPathName(work, &longPath) && longPath.size() < kWorkChars)
      work = std::move(longPath);
    FitToCapacity(&work, capacity);
    *path = std::move(work);
  }
  return 1;
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
  ExpandEnvironment(work, kWorkChars);
  if (ViewAware(work, kWorkChars, want64, probe) != kMissing) return true;

  for (int budget = kAttemptBudget;;) {
    const std::u16string roundStart = *work;
    if (work->find(u'~') != npos) {
      std::u16string longPath;
      if (fs_->GetLongPathName(*work, &longPath) && longPath.size() < kWorkChars)
        *work = std::move(longPath);
    }
    if (ViewAware(work, kWorkChars, !want64, probe) != kMissing) return true;

    ReplaceSystemPrefix(work);
    if (probe->Exists(*work)) return true;
    // Under WOW64 a 32-bit Framework path may exist only as the 64-bit one.
    // That reading is tried aside: the text as written stays the one that
    // the arguments are cut from.
    if (facts_.is64BitOs && facts_.isWow64 && StartsWithFolder(*work, Folders().frameworkDir)) {
      std::u16string framework64 = *work;
      if (ReplaceOnce(&framework64, u"\\Microsoft.NET\\Framework", u"\\Microsoft.NET\\Framework64",
                      false, kWorkChars) &&
          probe->Exists(framework64)) {
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

void PathResolver::ReplaceSystemPrefix(std::u16string* work) {
  const WindowsFolders& folders = Folders();
  if (StartsWithIgnoreCase(*work, u"\\SystemRoot\\")) {
    work->replace(0, 12, folders.systemRootDir);
  } else if (StartsWithIgnoreCase(*work, u"SystemRoot\\")) {
    work->replace(0, 11, folders.systemRootDir);
  } else if (StartsWithIgnoreCase(*work, u"System32\\")) {
    work->replace(0, 9, NativeSystemFolder() + u"\\");
  } else if (StartsWithIgnoreCase(*work, u"\\System32\\")) {
    work->replace(0, 10, NativeSystemFolder() + u"\\");
  } else if (StartsWithIgnoreCase(*work, u"\\??\\")) {
    work->erase(0, 4);
  }
  FitToCapacity(work, kWorkChars);
}

uint32_t PathResolver::ViewAwareExists(std::u16string* path, size_t capacity, bool want64) {
  Probe probe(fs_);
  return ViewAware(path, capacity, want64, &probe);
}

uint32_t PathResolver::ViewAware(std::u16string* path, size_t capacity, bool want64, Probe* probe) {
  if (!facts_.is64BitOs) return probe->Attributes(*path);
  const WindowsFolders& f = Folders();
  const std::u16string saved = *path;
  uint32_t attributes = kMissing;
  auto test = [&] {
    attributes = probe->Attributes(*path);
    return attributes != kMissing;
  };
  // Rewrites a path below from to the same path below to.
  auto move = [&](const std::u16string& from, const std::u16string& to) {
    if (!StartsWithFolder(*path, from)) return false;
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
  *path = saved;
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
  auto behind = [lastBackslash](size_t at) { return at != npos && at > lastBackslash; };
  for (int cuts = 0;; ++cuts) {
    TrimPathText(&rest);
    if (probe->Exists(rest)) {
      *text = std::move(rest);
      return cuts;
    }
    size_t at;
    if (behind(at = rest.rfind(u" -"))) {
      rest.resize(at);
    } else if (behind(at = rest.rfind(u" /"))) {
      rest.resize(at);
    } else if (behind(at = rest.rfind(u':')) && at >= 4) {
      rest.resize(at - 1);  // a second path: its drive letter goes too
    } else if (behind(at = rest.rfind(u' '))) {
      rest.resize(at);
    } else if (behind(at = rest.rfind(u".exe,"))) {
      rest.resize(at + 4);
    } else if (behind(at = rest.rfind(u".dll,"))) {
      rest.resize(at + 4);
    } else {
      return cuts;
    }
  }
}

void PathResolver::CutRundll32Command(std::u16string* text) {
  static constexpr std::u16string_view kBare = u"RunDll32";
  static constexpr std::u16string_view kWithVariable = u"%SystemRoot%\\System32\\rundll32.exe";
  const std::u16string& expanded = Folders().expandedRundll32Path;
  size_t arguments;
  if (StartsWithIgnoreCase(*text, kBare)) {
    arguments = kBare.size();
    if (StartsWithIgnoreCase(std::u16string_view(*text).substr(arguments), u".exe"))
      arguments += 5;  // ".exe" and the blank behind it
  } else if (StartsWithIgnoreCase(*text, kWithVariable)) {
    arguments = kWithVariable.size() + 1;
  } else if (StartsWithFolder(*text, expanded)) {
    arguments = expanded.size() + 1;
  } else {
    return;
  }
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
  ExpandEnvironment(text, capacity);
  FitToCapacity(text, capacity);
  if (FileExistsResolved(text, capacity, want64)) return 1;

  // A program or library followed by its arguments or a resource index.
  static constexpr std::u16string_view kEnds[] = {u".exe ",  u".exe\"", u".dll ",
                                                  u".dll\"", u".dll,",  u".exe,"};
  for (std::u16string_view end : kEnds) {
    const size_t at = FindLastIgnoreCase(*text, end);
    if (at == npos) continue;
    text->resize(at + 4);
    TrimPathText(text);
    return FileExistsResolved(text, capacity, want64) ? 2 : 0;
  }
  return 0;
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

int FileExistsResolved(std::u16string* path, size_t capacity, bool want64) {
  return DefaultPathResolver().FileExistsResolved(path, capacity, want64);
}

int ResolveCommandToFile(std::u16string* text, size_t capacity, bool want64, bool isCommand) {
  return DefaultPathResolver().ResolveCommandToFile(text, capacity, want64, isCommand);
}

uint32_t ViewAwareExists(std::u16string* path, size_t capacity, bool want64) {
  return DefaultPathResolver().ViewAwareExists(path, capacity, want64);
}

int CutArguments(std::u16string* text) { return DefaultPathResolver().CutArguments(text); }

std::u16string NativeSystemFolder() { return DefaultPathResolver().NativeSystemFolder(); }
