#include "platform/posix/wine_prefix.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "platform/case_fold.h"
#include "platform/dos_path.h"
#include "platform/unicode.h"

namespace platform::posix {
namespace {

std::mutex g_prefixLock;
std::string g_prefix;
bool g_prefixSet = false;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  return (folder.empty() || folder.back() == '/') ? folder + name : folder + "/" + name;
}

// The entry of folder that name stands for: the first whose name equals it
// ignoring case, or, when name is an 8.3 name, the first whose hashed short
// name it is. Empty if none. The exact name has been tried before.
// An entry name in plain ASCII, the common case, is compared in place: the
// folding maps one UTF-16 unit to one, so a name of another length never
// matches, and no text is converted for the many entries that differ.
enum class AsciiMatch { kYes, kNo, kNotAscii };
AsciiMatch CompareAscii(std::string_view candidate, std::u16string_view foldedName) {
  for (char c : candidate)
    if (static_cast<unsigned char>(c) >= 0x80) return AsciiMatch::kNotAscii;
  if (candidate.size() != foldedName.size()) return AsciiMatch::kNo;
  for (size_t i = 0; i < candidate.size(); ++i)
    if (FoldCase(static_cast<char16_t>(candidate[i])) != foldedName[i]) return AsciiMatch::kNo;
  return AsciiMatch::kYes;
}

std::string FindEntry(const std::string& folder, std::u16string_view name) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return {};
  const bool mayBeShort = IsLegal8Dot3Name(name);
  const std::u16string foldedName = FoldCase(name);
  std::string match;
  while (dirent* entry = readdir(dir)) {
    const std::string_view candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (!mayBeShort) {
      const AsciiMatch ascii = CompareAscii(candidate, foldedName);
      if (ascii == AsciiMatch::kNo) continue;
      if (ascii == AsciiMatch::kYes) {
        match = entry->d_name;
        break;
      }
    }
    const std::u16string wide = Utf8ToU16(candidate);
    if (EqualsIgnoreCase(wide, name) || (mayBeShort && !IsLegal8Dot3Name(wide) &&
                                         EqualsIgnoreCase(HashShortFileName(wide), name))) {
      match = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return match;
}

std::string WorkingDirectory() {
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof(cwd)) == nullptr) return "/";
  return cwd;
}

}  // namespace

std::string PrefixDirectory() {
  std::lock_guard<std::mutex> lock(g_prefixLock);
  if (!g_prefixSet) {
    const char* env = getenv("WINEPREFIX");
    if (env != nullptr && env[0] == '/') {
      g_prefix = env;
    } else {
      const char* home = getenv("HOME");
      g_prefix = std::string(home != nullptr ? home : "") + "/.wine";
    }
    while (g_prefix.size() > 1 && g_prefix.back() == '/') g_prefix.pop_back();
    g_prefixSet = true;
  }
  return g_prefix;
}

void SetPrefixDirectory(std::string directory) {
  std::lock_guard<std::mutex> lock(g_prefixLock);
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  g_prefix = std::move(directory);
  g_prefixSet = true;
}

std::string DriveRoot(char16_t letter) {
  const char16_t lower = AsciiLower(letter);
  if (lower < u'a' || lower > u'z') return {};
  const std::string devices = PrefixDirectory() + "/dosdevices/";
  const std::string entry = devices + static_cast<char>(lower) + ":";
  std::string root;
  char target[PATH_MAX];
  const ssize_t n = readlink(entry.c_str(), target, sizeof(target) - 1);
  if (n > 0) {
    target[n] = 0;
    root = target[0] == '/' ? std::string(target) : devices + target;
  } else if (Exists(entry)) {
    root = entry;  // a folder standing in for the link
  } else if (lower == u'c') {
    root = PrefixDirectory() + "/drive_c";
  } else if (lower == u'z') {
    root = "/";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat st;
  if (root.empty() || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return root;
}

uint32_t DriveMask() {
  uint32_t mask = 0;
  for (char16_t letter = u'a'; letter <= u'z'; ++letter)
    if (!DriveRoot(letter).empty()) mask |= 1u << (letter - u'a');
  return mask;
}

UnixPath ToUnixPath(std::u16string_view path) {
  UnixPath result;
  std::u16string text(path);
  for (char16_t& c : text)
    if (c == u'/') c = u'\\';
  if (text.rfind(u"\\\\?\\", 0) == 0 || text.rfind(u"\\??\\", 0) == 0) text.erase(0, 4);
  const std::u16string full = FullPathName(text, CurrentDirectory());
  if (full.size() < 3 || full[1] != u':') return result;  // no drive: UNC or nothing
  const std::string root = DriveRoot(full[0]);
  if (root.empty()) return result;

  std::vector<std::u16string> parts;
  size_t start = 3;
  while (start < full.size()) {
    size_t end = full.find(u'\\', start);
    if (end == std::u16string::npos) end = full.size();
    if (end > start) parts.push_back(full.substr(start, end - start));
    start = end + 1;
  }

  std::string current = root;
  bool found = true;
  result.parentFound = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i + 1 == parts.size()) result.parentFound = found;
    std::u16string part = parts[i];
    // The module switches file-system redirection off, so sysnative is
    // simply another name of system32.
    if (i == 1 && AsciiLower(full[0]) == u'c' && EqualsIgnoreCase(parts[0], u"windows") &&
        EqualsIgnoreCase(part, u"sysnative"))
      part = u"system32";
    std::string name = U16ToUtf8(part);
    if (found && !Exists(Join(current, name))) {
      const std::string match = FindEntry(current, part);
      if (match.empty()) {
        found = false;
      } else {
        name = match;
      }
    }
    current = Join(current, name);
    if (found && i + 1 < parts.size()) {
      struct stat st;
      found = stat(current.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
  }
  result.path = current;
  result.found = found;
  return result;
}

std::u16string ToWindowsPath(std::string_view unixPath) {
  std::string absolute(unixPath);
  if (absolute.empty() || absolute[0] != '/') absolute = Join(WorkingDirectory(), absolute);
  std::u16string rest = Utf8ToU16(absolute);
  for (char16_t& c : rest)
    if (c == u'/') c = u'\\';
  return u"Z:" + rest;
}

std::u16string CurrentDirectory() { return ToWindowsPath(WorkingDirectory()); }

}  // namespace platform::posix
