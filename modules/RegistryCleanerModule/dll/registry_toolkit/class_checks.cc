#include "modules/RegistryCleanerModule/dll/registry_toolkit/class_checks.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/delete_entries.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "platform/case_fold.h"
#include "platform/stack.h"
#include "platform/unicode.h"

using platform::HKey;

const ScanRoot kClassRoots[] = {
    {platform::kHkeyCurrentUser, u"SOFTWARE\\Classes", 1},
    {platform::kHkeyCurrentUser, u"SOFTWARE\\Wow6432Node\\Classes", 0},
    {platform::kHkeyLocalMachine, u"SOFTWARE\\Classes", 1},
    {platform::kHkeyLocalMachine, u"SOFTWARE\\Wow6432Node\\Classes", 0},
    {platform::kNullKey, nullptr, 0},
};

namespace {

constexpr uint32_t kTextBytes = 4096;
constexpr uint32_t kShortestCommand = 5;  // bytes

bool Aborted() { return AbortRequested.load(std::memory_order_relaxed) != 0; }

// An open key that closes itself; null when the open failed.
class Key {
 public:
  Key(HKey parent, std::u16string_view path, uint32_t sam) {
    if (EngineRegistry()->RegOpenKeyExW(parent, path, 0, sam, &key_) != 0)
      key_ = platform::kNullKey;
  }
  ~Key() {
    if (key_ != platform::kNullKey) EngineRegistry()->RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool open() const { return key_ != platform::kNullKey; }
  bool Query(platform::RegKeyInfo* info) const {
    return open() && EngineRegistry()->RegQueryInfoKeyW(key_, info) == 0;
  }
  // The numbers of subkeys and values only.
  bool Counts(platform::RegKeyInfo* info) const {
    return open() && EngineRegistry()->RegQueryKeyCounts(key_, &info->subKeys, &info->values) == 0;
  }
  // The value's data into buffer (bytes in *size); false when it cannot be read.
  bool Read(std::u16string_view name, char16_t* buffer, uint32_t* size,
            uint32_t* type = nullptr) const {
    return open() && EngineRegistry()->RegQueryValueExW(
                         key_, name, type, reinterpret_cast<uint8_t*>(buffer), size) == 0;
  }
  HKey get() const { return key_; }

 private:
  HKey key_ = platform::kNullKey;
};

// The data size of a value in bytes; 0 when it cannot be read.
uint32_t ValueBytes(HKey key, std::u16string_view subKey, std::u16string_view name, uint32_t sam) {
  uint32_t size = 0;
  if (EngineRegistry()->RegQueryValueBelow(key, subKey, sam, name, nullptr, nullptr, &size) != 0)
    return 0;
  return size;
}

// The string value as ReadStringValue gives it; empty when none. A text
// longer than the buffer is read whole: cut, it would name another file,
// and its class would look unused.
std::u16string ReadText(HKey key, std::u16string_view subKey, std::u16string_view name,
                        uint32_t sam, uint32_t bytes = kTextBytes) {
  // Only the text read is kept: the room (on the stack for the usual
  // size) is not cleared first.
  std::array<char16_t, kTextBytes / 2> usual;
  std::unique_ptr<char16_t[]> more;
  char16_t* room = usual.data();
  if (bytes > kTextBytes) {
    more.reset(new char16_t[bytes / 2]);
    room = more.get();
  }
  bool tooLong = false;
  uint32_t length = ReadStringValueUncleared(key, subKey, name, sam, room, bytes, &tooLong);
  // Nothing read for another reason (no such key or value, no text) is
  // nothing again with more room: only a value that did not fit is read anew.
  if (tooLong || (length != 0 && length + 1 >= bytes / 2)) {
    // Too long for the buffer, or cut by its expansion: again, with room for
    // the data twice over (a terminator it lacks, what expansion adds).
    const uint32_t whole = ValueBytes(key, subKey, name, sam);
    if (whole + 2 > bytes || (length != 0 && whole != 0)) {
      const uint32_t units = std::max(whole, bytes) + 2;
      more.reset(new char16_t[units]);
      room = more.get();
      length = ReadStringValueUncleared(key, subKey, name, sam, room, units * 2);
    }
  }
  return std::u16string(room, length);
}

// The command is looked up whole, however long.
uint32_t ResolveCommand(std::u16string text, bool want64) {
  // Only the answer counts: the resolved text, and its long name, are not asked for.
  return static_cast<uint32_t>(ResolveCommandToFile(&text, 0, want64, true));
}

// The applications being resolved on this thread, innermost last: a
// registration whose verbs name an application already on the way (its own
// name, or one that leads back to it) does not resolve through that way.
// Names are held by the callers' frames.
constexpr int kDeepestApplication = 32;
thread_local const std::u16string* t_resolving[kDeepestApplication];
thread_local int t_resolvingDepth = 0;
// Stack kept for what a resolution calls below its last application.
constexpr size_t kResolveStackReserve = 64 * 1024;

class ResolvingApplication {
 public:
  explicit ResolvingApplication(const std::u16string* name) {
    if (t_resolvingDepth < kDeepestApplication) t_resolving[t_resolvingDepth] = name;
    ++t_resolvingDepth;
  }
  ~ResolvingApplication() { --t_resolvingDepth; }
  ResolvingApplication(const ResolvingApplication&) = delete;
  ResolvingApplication& operator=(const ResolvingApplication&) = delete;

  static bool OnTheWay(std::u16string_view name) {
    for (int i = 0; i < t_resolvingDepth && i < kDeepestApplication; ++i)
      if (platform::EqualsIgnoreCase(*t_resolving[i], name)) return true;
    return false;
  }
  // Too deep to go on safely: a chain this long cannot be followed to its end.
  static bool TooDeep() {
    return t_resolvingDepth >= kDeepestApplication ||
           platform::RemainingStackBytes() <= kResolveStackReserve;
  }
};

// A verb resolves when its command runs an existing program, or else its
// DDE application exists.
bool VerbResolves(HKey shell, std::u16string_view verb, uint32_t sam, bool want64) {
  // The verb's subkeys are named on the stack for a usual verb.
  static constexpr std::u16string_view kCommand = u"\\Command";
  static constexpr std::u16string_view kApplication = u"\\ddeexec\\Application";
  std::array<char16_t, 256> room;
  std::u16string longer;
  char16_t* name = room.data();
  if (verb.size() + kApplication.size() > room.size()) {
    longer.resize(verb.size() + kApplication.size());
    name = longer.data();
  }
  std::copy(verb.begin(), verb.end(), name);
  auto subKey = [&](std::u16string_view below) {
    std::copy(below.begin(), below.end(), name + verb.size());
    return std::u16string_view(name, verb.size() + below.size());
  };
  std::u16string command = ReadText(shell, subKey(kCommand), u"", sam);
  if (!command.empty() && ResolveCommand(std::move(command), want64) != 0) return true;
  const std::u16string application = ReadText(shell, subKey(kApplication), u"", sam);
  return !application.empty() && ResolveAppName(sam, application) != 0;
}

// A flag value of an Applications registration: present and holding no
// text (no data at all, or a string that begins with its terminator). A
// number, whatever it holds, is no such flag.
bool IsEmptyFlagValue(const Key& key, std::u16string_view name) {
  std::array<char16_t, 1024> buffer;
  buffer[0] = 1;
  uint32_t size = 2048;
  uint32_t type = 0;
  if (!key.Read(name, buffer.data(), &size, &type)) return false;
  if (size == 0) return true;
  const bool text =
      type == platform::kRegSz || type == platform::kRegExpandSz || type == platform::kRegMultiSz;
  return text && size >= 2 && buffer[0] == 0;
}

bool InList(std::u16string_view text, const char16_t* const* list, size_t count, int* position) {
  for (size_t i = 0; i < count; ++i) {
    if (platform::EqualsIgnoreCase(text, list[i])) {
      *position = static_cast<int>(i) + 1;
      return true;
    }
  }
  return false;
}

// Which class root's value a lookup below the class roots keeps.
enum class Wins { kFirst, kLast };

// The value name of "<class root>\<subPath>" read into result (kept within
// its size), trying the class roots in order: every non-empty read replaces
// the result (kLast), or the first one ends the search (kFirst). Empty when
// no root has it.
template <size_t kResultChars>
const char16_t* ClassRootValue(const ScanRoot* classRoots, uint32_t sam,
                               std::u16string_view subPath, std::u16string_view name,
                               uint32_t readBytes, Wins wins,
                               std::array<char16_t, kResultChars>* result) {
  (*result)[0] = 0;
  std::vector<char16_t> buffer(readBytes / 2 + 1);
  for (const ScanRoot* root = classRoots; root->path != nullptr; ++root) {
    Key key(root->root, std::u16string(root->path) + u"\\" + std::u16string(subPath), sam);
    std::fill(buffer.begin(), buffer.end(), u'\0');
    uint32_t size = readBytes;
    if (!key.Read(name, buffer.data(), &size) || size == 0) continue;
    const size_t length = std::min<size_t>(platform::U16Length(buffer.data()), kResultChars - 1);
    std::copy(buffer.data(), buffer.data() + length, result->data());
    (*result)[length] = 0;
    if (wins == Wins::kFirst && length > 0) break;
  }
  return result->data();
}

}  // namespace

uint32_t CheckShellVerbs(HKey classKey, uint32_t sam, std::u16string_view keyPathForLog) {
  Key shell(classKey, u"shell", sam);
  if (!shell.open()) return 0;
  platform::RegKeyInfo info;
  // The key's path, terminated for the log, made only when a line needs it.
  auto logPath = [keyPathForLog] { return std::u16string(keyPathForLog); };
  if (!shell.Query(&info)) {
    LogLastError(u"Error: RegQueryInfoKey %ls\\Shell", logPath().c_str());
    return 0;
  }
  const bool want64 = (sam & platform::kKeyWow64Res) != 0;
  // The default verb, when it did not resolve, is not tried again below.
  // Its room is not cleared (4 KB for every class): the text read is ended
  // where its data ends.
  std::array<char16_t, kTextBytes / 2 + 1> verb;
  verb[0] = 0;
  bool triedDefault = false;
  if (info.maxValueLen > 3) {
    uint32_t size = kTextBytes;
    const bool read = shell.Read(u"", verb.data(), &size);
    if (read) EndTextAfterData(verb.data(), static_cast<uint32_t>(verb.size()), size);
    if (read && size >= 4 && verb[0] != 0) {
      if (VerbResolves(shell.get(), verb.data(), sam, want64)) return 1;
      triedDefault = true;
    }
  }
  std::array<char16_t, 1024> name;
  for (uint32_t index = 0; index < info.subKeys && !Aborted(); ++index) {
    const uint32_t result = EngineRegistry()->RegEnumKeyW(shell.get(), index, name.data(),
                                                          static_cast<uint32_t>(name.size()));
    if (result != 0) {
      LogLastError(u"Error: RegEnumKey %ls\\Shell (%d)", logPath().c_str(), static_cast<int>(index));
      continue;
    }
    if (name[0] != 0 && !(triedDefault && platform::EqualsIgnoreCase(name.data(), verb.data())) &&
        VerbResolves(shell.get(), name.data(), sam, want64))
      return 1;
  }
  return 2;
}

uint32_t ResolveAppName(uint32_t sam, std::u16string_view appName) {
  const std::u16string name(appName);
  if (ResolvingApplication::OnTheWay(name)) return 0;
  if (ResolvingApplication::TooDeep()) return kPathCannotTell;
  const ResolvingApplication resolving(&name);
  const struct {
    HKey root;
    std::u16string path;
    bool want64;
  } registrations[] = {
      {platform::kHkeyLocalMachine,
       u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + name, true},
      {platform::kHkeyLocalMachine,
       u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + name, false},
      {platform::kHkeyClassesRoot, u"Applications\\" + name, true},
  };
  bool applicationsOpened = false;
  for (const auto& registration : registrations) {
    if (Aborted()) break;
    Key key(registration.root, registration.path, sam);
    platform::RegKeyInfo info;
    if (!key.Counts(&info)) continue;
    applicationsOpened = registration.root == platform::kHkeyClassesRoot;
    if (info.values > 0) {
      std::array<char16_t, kTextBytes / 2 + 1> command{};
      uint32_t size = kTextBytes;
      if (key.Read(u"", command.data(), &size) && size >= kShortestCommand) {
        const uint32_t found = ResolveCommand(command.data(), registration.want64);
        if (found != 0) return found;
      }
    }
    if (info.subKeys > 0 && CheckShellVerbs(key.get(), sam, registration.path) == 1) return 1;
  }
  if (applicationsOpened) {
    Key key(platform::kHkeyClassesRoot, registrations[2].path, sam);
    if (IsEmptyFlagValue(key, u"NoOpenWith")) return 17;
    if (IsEmptyFlagValue(key, u"IsHostApp")) return 34;
    std::array<char16_t, 1025> friendly{};
    uint32_t size = 2048;
    if (key.Read(u"FriendlyAppName", friendly.data(), &size)) {
      const std::u16string_view text(friendly.data());
      if (!text.empty() && (text[0] == u'@' || text.size() > 7)) return 42;
    }
  }
  return ResolveCommand(name, (sam & platform::kKeyWow64Res) != 0);
}

uint32_t CheckClass(uint32_t sam, std::u16string_view className) {
  uint32_t flags = 0;
  bool otherSubkeys = false;
  bool otherValues = false;
  std::array<char16_t, kTextBytes / 2 + 1> buffer;
  std::u16string classPath;  // one room for the path under every root
  classPath.reserve(64 + className.size());
  for (const ScanRoot* root = kClassRoots; root->path != nullptr; ++root) {
    classPath.assign(root->path).append(u"\\").append(className);
    Key key(root->root, classPath, sam);
    platform::RegKeyInfo info;
    if (!key.Counts(&info)) continue;
    uint32_t knownSubkeys = 0;
    const uint32_t shell = CheckShellVerbs(key.get(), sam, classPath);
    if (shell != 0) knownSubkeys = 1;
    if (shell == 1) flags |= kClassVerbRuns;
    std::u16string icon = ReadText(key.get(), u"DefaultIcon", u"", sam);
    if (!icon.empty()) {
      knownSubkeys = shell != 0 ? 2 : 1;
      if (ResolveCommand(std::move(icon), root->view == 1) != 0) flags |= kClassIconExists;
    }
    uint32_t knownValues = 0;
    uint32_t size = kTextBytes;
    if (key.Read(u"FriendlyTypeName", buffer.data(), &size)) {
      flags |= kClassFriendlyName;
      knownValues = 1;
    }
    size = kTextBytes;
    if (key.Read(u"NoOpen", buffer.data(), &size)) {
      flags |= kClassOtherValues;
      ++knownValues;
    }
    size = kTextBytes;
    if (key.Read(u"", buffer.data(), &size)) ++knownValues;
    if (info.subKeys > knownSubkeys) otherSubkeys = true;
    if (info.values > knownValues) otherValues = true;
  }
  if (otherSubkeys) flags |= kClassOtherSubkeys;
  if (otherValues) flags |= kClassOtherValues;
  return flags;
}

int IsKnownPerceivedType(std::u16string_view text) {
  static const char16_t* const kTypes[] = {
      u"text",
      u"system",
      u"folder",
      u"program",
      u"contact",
      u"video",
      u"audio",
      u"communications",
      u"communications/e-mail",
      u"communications/calendar",
      u"communications/task",
      u"communications/im",
      u"document",
      u"document/note",
      u"document/text",
      u"document/spreadsheet",
      u"document/presentation",
      u"music",
      u"images",
      u"images/picture",
      u"images/video",
  };
  int position = 0;
  return InList(text, kTypes, std::size(kTypes), &position) ? position : 0;
}

int IsKnownContentType(std::u16string_view text) {
  static const char16_t* const kTypes[] = {
      u"text/plain",
      u"text/html",
      u"text/xml",
      u"text/richtext",
      u"text/scriptlet",
      u"audio/x-aiff",
      u"audio/basic",
      u"audio/mid",
      u"audio/wav",
      u"image/gif",
      u"image/jpeg",
      u"image/pjpeg",
      u"image/png",
      u"image/x-png",
      u"image/tiff",
      u"image/bmp",
      u"image/x-xbitmap",
      u"image/x-jg",
      u"image/x-emf",
      u"image/x-wmf",
      u"video/avi",
      u"video/mpeg",
      u"application/octet-stream",
      u"application/postscript",
      u"application/base64",
      u"application/macbinhex40",
      u"application/pdf",
      u"application/xml",
      u"application/atom+xml",
      u"application/rss+xml",
      u"application/x-compressed",
      u"application/x-zip-compressed",
      u"application/x-gzip-compressed",
      u"application/java",
      u"application/x-msdownload",
  };
  int position = 0;
  return InList(text, kTypes, std::size(kTypes), &position) ? position : 0;
}

const char16_t* MimeExtension(const ScanRoot* classRoots, uint32_t sam,
                              std::u16string_view contentType) {
  static std::array<char16_t, 128> result;
  return ClassRootValue(classRoots, sam,
                        u"MIME\\Database\\Content Type\\" + std::u16string(contentType),
                        u"Extension", kTextBytes, Wins::kLast, &result);
}

const char16_t* MimeClsid(const ScanRoot* classRoots, uint32_t sam,
                          std::u16string_view contentType) {
  static std::array<char16_t, 128> result;
  return ClassRootValue(classRoots, sam,
                        u"MIME\\Database\\Content Type\\" + std::u16string(contentType), u"CLSID",
                        kTextBytes, Wins::kLast, &result);
}

const char16_t* InprocServerOf(const ScanRoot* classRoots, uint32_t sam,
                               std::u16string_view clsid) {
  static std::array<char16_t, 1024> result;
  return ClassRootValue(classRoots, sam, u"CLSID\\" + std::u16string(clsid) + u"\\InprocServer32\\",
                        u"", 2048, Wins::kFirst, &result);
}
