// Private-profile files on POSIX, read and written the way Windows and Wine
// treat them: UTF-16 (little- or big-endian) with a byte-order mark or 8-bit
// text (UTF-8 here),
// sections and keys without regard to case, values trimmed and unquoted, and
// a write that changes only the line concerned.
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/unicode.h"

namespace platform {
namespace {

std::mutex g_profileLock;

struct ProfileFile {
  bool utf16 = false;
  bool bigEndian = false;  // UTF-16 with the mark FE FF
  bool bom8 = false;
  std::string strayByte;  // a last byte of UTF-16 text that makes no unit
  std::u16string newline = u"\r\n";
  std::vector<std::u16string> lines;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == u'\r')) text.remove_suffix(1);
  return text;
}

bool SameName(std::u16string_view a, std::u16string_view b) { return AsciiEqualsIgnoreCase(a, b); }

// 8-bit text is UTF-8. A byte that is no part of well-formed UTF-8 (an
// overlong form, a surrogate, beyond U+10FFFF, a text in another encoding)
// is kept as U+DC00 plus the byte, a lone low surrogate that UTF-8 never
// gives, so that a write puts back exactly the bytes of the lines it does
// not change. Readers of values see U+FFFD for it.
constexpr char16_t kByteEscape = 0xDC00;

bool IsByteEscape(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

std::u16string DecodeBytes(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      text.push_back(c);
      ++i;
      continue;
    }
    size_t length = 0;
    char32_t cp = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3, cp = c & 0x0F;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4, cp = c & 0x07;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    }
    bool ok = length != 0 && length <= bytes.size() - i;
    for (size_t k = 1; ok && k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(bytes[i + k]);
      ok = b >= (k == 1 ? low : 0x80) && b <= (k == 1 ? high : 0xBF);
      cp = (cp << 6) | (b & 0x3F);
    }
    if (!ok) {
      text.push_back(static_cast<char16_t>(kByteEscape | c));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      text.push_back(static_cast<char16_t>(0xD800 | ((cp - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 | ((cp - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return text;
}

std::string EncodeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsByteEscape(static_cast<char16_t>(cp))) {
      bytes.push_back(static_cast<char>(cp & 0xFF));
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (cp < 0x80) {
      bytes.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      bytes.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      bytes.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      bytes.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return bytes;
}

bool Load(std::u16string_view path, ProfileFile* file) {
  std::string bytes;
  if (!ReadWholeFile(FileSystem::Default(), path, &bytes)) return false;
  std::u16string text;
  const auto byte = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 &&
      ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
    file->utf16 = true;
    file->bigEndian = byte(0) == 0xFE;
    const size_t low = file->bigEndian ? 1 : 0;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(byte(i + low) | (byte(i + 1 - low) << 8)));
    if (bytes.size() % 2 != 0) file->strayByte = bytes.back();
  } else {
    size_t start = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      file->bom8 = true;
      start = 3;
    }
    text = DecodeBytes(std::string_view(bytes).substr(start));
  }
  if (text.find(u"\r\n") == std::u16string::npos && text.find(u'\n') != std::u16string::npos)
    file->newline = u"\n";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    file->lines.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

bool Save(std::u16string_view path, const ProfileFile& file) {
  std::u16string text;
  for (const std::u16string& line : file.lines) {
    text += line;
    text += file.newline;
  }
  std::string bytes;
  if (file.utf16) {
    bytes = file.bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
      const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
      bytes.push_back(file.bigEndian ? high : low);
      bytes.push_back(file.bigEndian ? low : high);
    }
    bytes += file.strayByte;
  } else {
    if (file.bom8) bytes = "\xEF\xBB\xBF";
    bytes += EncodeBytes(text);
  }
  return WriteWholeFile(FileSystem::Default(), path, bytes);
}

// The section a line opens, if it opens one.
bool SectionOf(std::u16string_view line, std::u16string_view* name) {
  line = Trim(line);
  if (line.empty() || line.front() != u'[') return false;
  const size_t close = line.find(u']');
  *name = Trim(line.substr(1, close == std::u16string_view::npos ? line.size() - 1 : close - 1));
  return true;
}

// The key and value of a "key=value" line.
bool EntryOf(std::u16string_view line, std::u16string_view* key, std::u16string_view* value) {
  const std::u16string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == u';') return false;
  const size_t equals = trimmed.find(u'=');
  if (equals == std::u16string_view::npos) return false;
  *key = Trim(trimmed.substr(0, equals));
  *value = Trim(trimmed.substr(equals + 1));
  return true;
}

// The value without its quotes; in 8-bit text a byte that is no part of
// UTF-8 reads as U+FFFD.
std::u16string Unquote(std::u16string_view value, const ProfileFile& file) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  std::u16string text(value);
  for (char16_t& c : text) {
    if (!file.utf16 && IsByteEscape(c)) c = 0xFFFD;
  }
  return text;
}

}  // namespace

std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::u16string_view path) {
  std::lock_guard<std::mutex> lock(g_profileLock);
  ProfileFile file;
  if (!Load(path, &file)) return std::u16string(defaultValue);
  bool inSection = false;
  for (const std::u16string& line : file.lines) {
    std::u16string_view name, k, v;
    if (SectionOf(line, &name)) {
      inSection = SameName(name, section);
    } else if (inSection && EntryOf(line, &k, &v) && SameName(k, key)) {
      return Unquote(v, file);
    }
  }
  return std::u16string(defaultValue);
}

int32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key,
                             int32_t defaultValue, std::u16string_view path) {
  const std::u16string text = GetPrivateProfileString(section, key, u"\x01", path);
  if (text == u"\x01") return defaultValue;
  const std::string narrow = U16ToUtf8(text);
  return static_cast<int32_t>(std::strtol(narrow.c_str(), nullptr, 10));
}

bool WritePrivateProfileString(std::optional<std::u16string_view> section,
                               std::optional<std::u16string_view> key,
                               std::optional<std::u16string_view> value, std::u16string_view path) {
  // A flush: nothing is cached here. Like Windows, the call answers false.
  if (!section) return false;
  std::lock_guard<std::mutex> lock(g_profileLock);
  ProfileFile file;
  const bool existed = Load(path, &file);
  if (!existed && (!key || !value)) return true;  // nothing to remove

  // Find the section and, in it, the key.
  size_t sectionLine = file.lines.size(), sectionEnd = file.lines.size(),
         keyLine = file.lines.size();
  for (size_t i = 0; i < file.lines.size(); ++i) {
    std::u16string_view name, k, v;
    if (SectionOf(file.lines[i], &name)) {
      if (sectionLine != file.lines.size()) {
        sectionEnd = i;
        break;
      }
      if (SameName(name, *section)) sectionLine = i;
    } else if (sectionLine != file.lines.size() && keyLine == file.lines.size() && key &&
               EntryOf(file.lines[i], &k, &v) && SameName(k, *key)) {
      keyLine = i;
    }
  }

  if (!key) {  // remove the whole section
    if (sectionLine == file.lines.size()) return true;
    file.lines.erase(file.lines.begin() + static_cast<std::ptrdiff_t>(sectionLine),
                     file.lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd));
    return Save(path, file);
  }
  if (!value) {  // remove the key
    if (keyLine == file.lines.size()) return true;
    file.lines.erase(file.lines.begin() + static_cast<std::ptrdiff_t>(keyLine));
    return Save(path, file);
  }
  std::u16string entry = std::u16string(*key) + u"=" + std::u16string(*value);
  if (keyLine != file.lines.size()) {
    file.lines[keyLine] = std::move(entry);
  } else if (sectionLine != file.lines.size()) {
    // After the section's last non-blank line.
    size_t at = sectionEnd;
    while (at > sectionLine + 1 && Trim(file.lines[at - 1]).empty()) --at;
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
  } else {
    file.lines.push_back(u"[" + std::u16string(*section) + u"]");
    file.lines.push_back(std::move(entry));
  }
  return Save(path, file);
}

}  // namespace platform
