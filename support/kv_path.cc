#include "support/kv_path.h"

#include <vector>

namespace KvOSAL {
namespace {

// Room the path splitter gives each part, and the canonicalizer's buffer.
constexpr size_t kPartRoom = 255;
constexpr size_t kMaxPath = 260;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsWhitespace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

void TrimRight(std::u16string* text) {
  while (!text->empty() && IsWhitespace(text->back())) text->pop_back();
}

// "\\server..." but not the "\\?\" prefix.
bool IsUnc(std::u16string_view path) {
  return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\' &&
         (path.size() == 2 || path[2] != u'?');
}

// A scheme of at least two letters, digits, "+", "-" or "." and a colon.
bool IsUrl(std::u16string_view path) {
  size_t i = 0;
  while (i < path.size()) {
    const char16_t c = path[i];
    if (!(IsLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.')) break;
    ++i;
  }
  return i >= 2 && i < path.size() && path[i] == u':';
}

std::u16string Part(std::u16string_view text) { return std::u16string(text.substr(0, kPartRoom)); }

// Splits directory, name and extension as the C runtime's path splitter
// does: the directory runs to the last separator, the extension from the
// last dot after it.
void SplitTail(std::u16string_view tail, std::u16string* directory, std::u16string* name,
               std::u16string* extension) {
  const size_t slash = tail.find_last_of(u"\\/");
  const size_t nameStart = slash == std::u16string_view::npos ? 0 : slash + 1;
  *directory = Part(tail.substr(0, nameStart));
  const std::u16string_view file = tail.substr(nameStart);
  const size_t dot = file.rfind(u'.');
  *name = Part(file.substr(0, dot));
  *extension = dot == std::u16string_view::npos ? std::u16string() : Part(file.substr(dot));
}

// Removes "." and ".." components from a directory as PathCanonicalizeW
// does: ".." takes the component before it away and stops at the start;
// leading and trailing backslashes stay. False when either text does not
// fit the 260-character buffer.
bool Canonicalize(std::u16string_view in, std::u16string* out) {
  if (in.size() >= kMaxPath) return false;
  size_t lead = 0;
  while (lead < in.size() && in[lead] == u'\\') ++lead;
  std::vector<std::u16string_view> parts;
  size_t start = lead;
  while (start < in.size()) {
    size_t end = in.find(u'\\', start);
    if (end == std::u16string_view::npos) end = in.size();
    const std::u16string_view part = in.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::u16string result(in.substr(0, lead));
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += u'\\';
    result += parts[i];
  }
  if (!parts.empty() && in.back() == u'\\') result += u'\\';
  if (result.empty()) result = u"\\";
  if (result.size() >= kMaxPath) return false;
  *out = std::move(result);
  return true;
}

}  // namespace

KvPath::KvPath(const char16_t* path) { Set(path); }
KvPath::KvPath(const std::u16string& path) { Set(path); }

void KvPath::Assign(const KvPath& other) {
  if (this == &other) return;
  fullPath_ = other.fullPath_;
  parsed_ = other.parsed_;
  drive_ = other.drive_;
  directory_ = other.directory_;
  name_ = other.name_;
  extension_ = other.extension_;
}

void KvPath::Set(const std::u16string& path) {
  fullPath_ = path;
  parsed_ = false;
  drive_.clear();
  directory_.clear();
  name_.clear();
  extension_.clear();
  if (fullPath_.size() == 2 && IsLetter(fullPath_[0]) && fullPath_[1] == u':') fullPath_ += u'\\';
}

void KvPath::Set(const char16_t* path) { Set(path != nullptr ? std::u16string(path) : u""); }

void KvPath::Split() const {
  if (parsed_) return;
  parsed_ = true;
  drive_.clear();
  directory_.clear();
  name_.clear();
  extension_.clear();
  const std::u16string_view path = fullPath_;
  if (IsUnc(path)) {
    const size_t server = path.find(u'\\', 2);
    const size_t share =
        server == std::u16string_view::npos ? server : path.find(u'\\', server + 1);
    if (share == std::u16string_view::npos) {
      // A bare server, or a server and share: the whole path is the root.
      drive_ = fullPath_;
      if (server != std::u16string_view::npos) directory_ = u"\\";
      return;
    }
    drive_ = fullPath_.substr(0, share);
    SplitTail(path.substr(share), &directory_, &name_, &extension_);
    return;
  }
  if (IsUrl(path)) {
    const size_t scheme = path.find(u"://");
    const size_t hostStart = scheme == std::u16string_view::npos ? path.size() : scheme + 3;
    const size_t first = path.find_first_of(u"\\/", hostStart);
    if (first == std::u16string_view::npos) {
      drive_ = fullPath_;
      return;
    }
    const size_t last = path.find_last_of(u"\\/");
    const std::u16string_view file = path.substr(last + 1);
    const size_t dot = file.rfind(u'.');
    drive_ = fullPath_.substr(0, first);
    directory_ = fullPath_.substr(first, last - first + 1);
    name_ = std::u16string(file.substr(0, dot));
    if (dot != std::u16string_view::npos) extension_ = std::u16string(file.substr(dot));
    return;
  }
  std::u16string_view tail = path;
  if (path.size() >= 2 && path[1] == u':') {
    drive_ = fullPath_.substr(0, 2);
    tail = path.substr(2);
  }
  SplitTail(tail, &directory_, &name_, &extension_);
}

const std::u16string& KvPath::Drive() const {
  Split();
  return drive_;
}
const std::u16string& KvPath::Directory() const {
  Split();
  return directory_;
}
const std::u16string& KvPath::FileName() const {
  Split();
  return name_;
}
const std::u16string& KvPath::Extension() const {
  Split();
  return extension_;
}

std::u16string KvPath::Folder() const {
  const std::u16string& drive = Drive();
  const std::u16string& directory = Directory();
  if (!drive.empty() && directory.empty()) return drive + u"\\";
  return drive + directory;
}

bool KvPath::IsRelative(std::u16string_view path) {
  return KvPath(std::u16string(path)).IsRelative();
}

bool KvPath::Compose(std::u16string_view driveText, std::u16string_view directoryText,
                     std::u16string_view nameText, std::u16string_view extensionText) {
  std::u16string drive(driveText);
  std::u16string directory(directoryText);
  std::u16string name(nameText);
  std::u16string extension(extensionText);

  if (!directory.empty() && directory.back() == u'\\')
    while (!directory.empty() && directory.back() == u'\\') directory.pop_back();
  TrimRight(&directory);
  if (!directory.empty() && !IsSeparator(directory.back())) directory += u'\\';

  if (!drive.empty()) {
    if (directory.empty()) {
      directory = u"\\";
    } else if (directory.find_first_of(u"\\/") != 0) {
      directory.insert(0, u"\\");
    }
    if (IsUnc(drive)) {
      if (drive.back() == u'\\') drive.pop_back();
    } else if (!IsUrl(drive)) {
      while (!drive.empty() && IsSeparator(drive.back())) drive.pop_back();
      if (drive.empty() || drive.back() != u':') drive += u':';
    }
  }
  if (!extension.empty() && extension[0] != u'.') extension.insert(0, u".");
  TrimRight(extension.empty() ? &name : &extension);

  Set(drive + directory + name + extension);
  return true;
}

bool KvPath::SetFileName(std::u16string_view text) {
  const std::u16string drive = Drive();
  const std::u16string directory = Directory();
  const size_t dot = text.rfind(u'.');
  if (dot == std::u16string_view::npos) return Compose(drive, directory, text, u"");
  return Compose(drive, directory, text.substr(0, dot), text.substr(dot));
}

bool KvPath::SetDirectory(std::u16string_view text) {
  const std::u16string drive = Drive();
  const std::u16string name = FileName();
  const std::u16string extension = Extension();
  return Compose(drive, text, name, extension);
}

bool KvPath::GoUp() {
  const std::u16string drive = Drive();
  std::u16string directory = Directory();
  if (directory.empty() || directory == u"\\") return false;
  if (directory.back() != u'\\') directory += u'\\';
  std::u16string parent;
  if (!Canonicalize(directory + u"..", &parent)) return false;
  if (!IsSeparator(parent.back())) parent += u'\\';
  const std::u16string rest = FileName() + Extension();
  fullPath_ = drive + parent + rest;
  parsed_ = false;
  return true;
}

bool KvPath::AppendRelativeDirectory(std::u16string_view text) {
  KvPath relative;
  relative.SetDirectory(text);
  if (relative.Drive().size() || relative.HasFileName() || relative.HasExtension()) return false;
  // A last component with a dot inside names a file, not a folder.
  std::u16string_view last = text;
  while (!last.empty() && IsSeparator(last.back())) last.remove_suffix(1);
  const size_t slash = last.find_last_of(u"\\/");
  if (slash != std::u16string_view::npos) last.remove_prefix(slash + 1);
  const size_t dot = last.rfind(u'.');
  if (dot != std::u16string_view::npos && dot > 0 && dot + 1 < last.size()) return false;

  std::u16string directory = relative.Directory();
  if (directory.find_first_of(u"\\/") != 0) directory.insert(0, u"\\");
  std::u16string combined;
  if (!Canonicalize(Directory() + u"." + directory, &combined)) return false;
  const std::u16string drive = Drive();
  const std::u16string name = FileName();
  const std::u16string extension = Extension();
  return Compose(drive, combined, name, extension);
}

std::u16string ParentFolder(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? std::u16string()
                                            : std::u16string(path.substr(0, slash));
}

}  // namespace KvOSAL
