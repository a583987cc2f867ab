#include "platform/posix/wine_prefix.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

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

// Folds ASCII letters and the Latin-1/Latin Extended-A ranges well enough to
// match names the way Windows compares them; exact matches are tried first.
std::u16string Fold(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = AsciiLower(c);
  return out;
}

// The entry of folder whose name equals name ignoring case; empty if none.
std::string FindIgnoringCase(const std::string& folder, std::u16string_view name) {
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (dir == nullptr) return {};
  const std::u16string wanted = Fold(name);
  std::string match;
  while (dirent* entry = readdir(dir)) {
    std::string_view candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (Fold(Utf8ToU16(candidate)) == wanted) {
      match = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return match;
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
  const std::string prefix = PrefixDirectory();
  const std::string link = prefix + "/dosdevices/" + static_cast<char>(lower) + ":";
  char target[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
  if (n > 0) {
    target[n] = 0;
    std::string root = target[0] == '/' ? std::string(target) : prefix + "/dosdevices/" + target;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
  }
  if (lower == u'c') return prefix + "/drive_c";
  if (lower == u'z') return "/";
  return {};
}

UnixPath ToUnixPath(std::u16string_view path) {
  UnixPath result;
  std::u16string text(path);
  for (char16_t& c : text)
    if (c == u'/') c = u'\\';
  if (text.rfind(u"\\\\?\\", 0) == 0 || text.rfind(u"\\??\\", 0) == 0) text.erase(0, 4);

  std::string root;
  std::u16string rest;
  if (text.size() >= 2 && text[1] == u':') {
    root = DriveRoot(text[0]);
    if (root.empty()) return result;
    rest = text.substr(2);
  } else {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return result;
    if (!text.empty() && text[0] == u'\\') {
      root = "/";  // a rooted path without a drive: the current drive, seen as Z:
    } else {
      root = cwd;
    }
    rest = text;
  }

  // Split and resolve "." and ".." before any lookup.
  std::vector<std::u16string> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(u'\\', start);
    if (end == std::u16string::npos) end = rest.size();
    std::u16string part = rest.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }

  std::string current = root == "/" ? "" : root;
  bool found = Exists(root);
  result.parentFound = found;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i + 1 == parts.size()) result.parentFound = found;
    const std::string exact = U16ToUtf8(parts[i]);
    std::string name = exact;
    if (found && !Exists(current + "/" + exact)) {
      const std::string match = FindIgnoringCase(current, parts[i]);
      if (match.empty()) {
        found = false;
      } else {
        name = match;
      }
    }
    current += "/" + name;
  }
  result.path = current.empty() ? "/" : current;
  result.found = found;
  return result;
}

std::u16string ToWindowsPath(std::string_view unixPath) {
  std::u16string out = u"Z:";
  std::u16string rest = Utf8ToU16(unixPath);
  for (char16_t& c : rest)
    if (c == u'/') c = u'\\';
  out += rest.empty() ? u"\\" : rest;
  return out;
}

}  // namespace platform::posix
