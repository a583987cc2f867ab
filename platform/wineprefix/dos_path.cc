#include "platform/wineprefix/dos_path.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/case_fold.h"
#include "platform/unicode.h"

namespace platform {
namespace {

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool HasDrive(std::u16string_view path) {
  return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':';
}

bool IsUnc(std::u16string_view path) {
  return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

// Characters that a short name may not hold (besides non-ASCII ones).
bool IsInvalidDosChar(char16_t c) {
  if (c > 0x7F) return true;
  // One bit per ASCII character: * ? < > | " + = , ; [ ] and the blank.
  constexpr auto bits = [] {
    uint64_t low = 0, high = 0;
    for (char16_t bad : std::u16string_view(u"*?<>|\"+=,;[] "))
      (bad < 64 ? low : high) |= uint64_t{1} << (bad % 64);
    return std::pair<uint64_t, uint64_t>(low, high);
  }();
  return (((c < 64 ? bits.first : bits.second) >> (c % 64)) & 1) != 0;
}

}  // namespace

std::u16string PathRoot(std::u16string_view path) {
  if (HasDrive(path)) return std::u16string(path.substr(0, 2));
  if (!IsUnc(path)) return {};
  size_t server = 2;
  while (server < path.size() && !IsPathSeparator(path[server])) ++server;
  if (server >= path.size()) return std::u16string(path);
  size_t share = server + 1;
  while (share < path.size() && !IsPathSeparator(path[share])) ++share;
  std::u16string root(path.substr(0, share));
  for (char16_t& c : root)
    if (c == u'/') c = u'\\';
  return root;
}

namespace {

// What a scan of a path stops at: separators and dots (1), the characters
// no name may hold (2); every other character is passed at once.
constexpr auto kPathMarks = [] {
  std::array<uint8_t, 128> marks{};
  marks['/'] = marks['\\'] = marks['.'] = 1;
  for (char c : std::string_view("\"*<>?|")) marks[static_cast<unsigned char>(c)] = 2;
  return marks;
}();

// kCollapse when Collapse would change path: a "/", or after mark a doubled
// separator, a dot before one, a component starting with a dot, a trailing
// blank or dot. Otherwise kBadCharacter when a character no name may hold
// follows mark, else kClean. Most paths are clean, and go without a copy.
PathForm ScanPath(std::u16string_view path, size_t mark) {
  bool bad = false;
  const char16_t* text = path.data();
  const size_t size = path.size();
  // A mark at position at: true when the path needs collapsing.
  auto collapses = [&](size_t at) {
    const char16_t c = text[at];
    if (c == u'/') return true;
    if (at < mark) return false;
    if (kPathMarks[c] == 2) {
      bad = true;
      return false;
    }
    const char16_t before = at == 0 ? 0 : text[at - 1];
    if (c == u'\\' && (before == u'\\' || before == u'.')) return true;
    return c == u'.' && (at == mark || before == u'\\');
  };
  size_t i = 0;
#if defined(__SSE2__)
  // Most of a path is no mark: eight units are tested at once, and only
  // the marks among them are looked at.
  for (; i + 8 <= size; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i separators =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('\\')),
                                  _mm_cmpeq_epi16(units, _mm_set1_epi16('/'))),
                     _mm_cmpeq_epi16(units, _mm_set1_epi16('.')));
    const __m128i quotes = _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('"')),
                                        _mm_cmpeq_epi16(units, _mm_set1_epi16('|')));
    const __m128i wild = _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('*')),
                                      _mm_cmpeq_epi16(units, _mm_set1_epi16('?')));
    const __m128i angles = _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('<')),
                                        _mm_cmpeq_epi16(units, _mm_set1_epi16('>')));
    unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(separators, quotes), _mm_or_si128(wild, angles))));
    for (; bits != 0; bits &= bits - 1) {
      const unsigned low = static_cast<unsigned>(__builtin_ctz(bits));
      bits &= ~(1u << low);  // a unit sets two bits: the second goes with the first
      if (collapses(i + low / 2)) return PathForm::kCollapse;
    }
  }
#endif
  for (; i < size; ++i)
    if (text[i] < 128 && kPathMarks[text[i]] != 0 && collapses(i)) return PathForm::kCollapse;
  if (size > mark && (path.back() == u' ' || path.back() == u'.')) return PathForm::kCollapse;
  return bad ? PathForm::kBadCharacter : PathForm::kClean;
}

bool AlreadyCollapsed(std::u16string_view path, size_t mark) {
  return ScanPath(path, mark) != PathForm::kCollapse;
}

// Resolves the components after mark (the length of the root, which stays
// as it is) the way Windows does: separators become single backslashes,
// ".\" goes, "..\" removes the component before it but not the root, a
// final "." or ".." also takes the separator before it, a component followed
// by a separator loses one trailing dot, and the path loses trailing dots and
// blanks.
std::u16string Collapse(std::u16string path, size_t mark) {
  if (AlreadyCollapsed(path, mark)) return path;
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  std::u16string single = path.substr(0, std::max<size_t>(1, mark));
  for (size_t i = single.size(); i < path.size(); ++i)
    if (path[i] != u'\\' || single.back() != u'\\') single.push_back(path[i]);
  path = std::move(single);

  // The start of the component before position, not reaching below mark.
  const auto previousStart = [&path, mark](size_t position) {
    if (position > mark) --position;
    while (position > mark && path[position - 1] != u'\\') --position;
    return position;
  };
  size_t p = mark;
  while (p < path.size()) {
    const size_t rest = path.size() - p;
    if (path[p] == u'.') {
      if (rest >= 2 && path[p + 1] == u'\\') {  // ".\"
        path.erase(p, 2);
        continue;
      }
      if (rest == 1) {  // a final "."
        path.erase(p > mark ? p - 1 : p);
        p = path.size();
        continue;
      }
      if (path[p + 1] == u'.' && (rest == 2 || path[p + 2] == u'\\')) {
        const size_t start = previousStart(p);
        if (rest == 2) {  // a final "..": the separator before it goes too
          path.erase(start > mark ? start - 1 : start);
          p = path.size();
        } else {
          path.erase(start, p + 3 - start);
          p = start;
        }
        continue;
      }
    }
    while (p < path.size() && path[p] != u'\\') ++p;
    if (p < path.size()) {
      if (p > mark && path[p - 1] == u'.') {
        path.erase(p - 1, 1);
      } else {
        ++p;
      }
    }
  }
  size_t end = path.size();
  while (end > mark && (path[end - 1] == u' ' || path[end - 1] == u'.')) --end;
  path.resize(end);
  return path;
}

// The length of "\\server\share\" at the start of a UNC path.
size_t UncMark(std::u16string_view path) {
  size_t i = 2;
  while (i < path.size() && !IsPathSeparator(path[i])) ++i;
  while (i < path.size() && IsPathSeparator(path[i])) ++i;
  while (i < path.size() && !IsPathSeparator(path[i])) ++i;
  while (i < path.size() && IsPathSeparator(path[i])) ++i;
  return i;
}

}  // namespace

PathForm DrivePathForm(std::u16string_view path) {
  if (!HasDrive(path) || path.size() < 3 || path[2] != u'\\') return PathForm::kCollapse;
  return ScanPath(path, 3);
}

std::u16string FullPathName(std::u16string_view path, std::u16string_view currentDirectory) {
  if (path.empty()) return {};
  // "\\?\" and "\\.\" prefixes are kept; the rest is still collapsed.
  if (path.size() >= 4 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
      (path[2] == u'?' || path[2] == u'.') && IsPathSeparator(path[3]))
    return Collapse(std::u16string(path), 4);
  if (IsUnc(path)) return Collapse(std::u16string(path), UncMark(path));

  std::u16string current(currentDirectory);
  if (current.empty() || !IsPathSeparator(current.back())) current += u'\\';
  const size_t currentMark = IsUnc(current) ? UncMark(current) : 3;
  if (HasDrive(path)) {
    if (path.size() > 2 && IsPathSeparator(path[2])) return Collapse(std::u16string(path), 3);
    // "D:x" continues the current folder of D:, which we know only when it
    // is the current folder.
    if (HasDrive(current) && FoldCase(current[0]) == FoldCase(path[0]))
      return Collapse(current + std::u16string(path.substr(2)), currentMark);
    return Collapse(std::u16string(path.substr(0, 2)) + u"\\" + std::u16string(path.substr(2)), 3);
  }
  if (IsPathSeparator(path[0])) {
    // Rooted: the root of the current folder.
    const std::u16string root = current.substr(0, currentMark);
    const size_t end = IsPathSeparator(root.back()) ? root.size() - 1 : root.size();
    return Collapse(root.substr(0, end) + std::u16string(path), currentMark);
  }
  return Collapse(current + std::u16string(path), currentMark);
}

bool IsLegal8Dot3Name(std::u16string_view name) {
  if (name.empty() || name.size() > 12) return false;
  if (name[0] == u'.') return name == u"." || name == u"..";
  size_t dot = std::u16string_view::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (IsInvalidDosChar(c) || c == u':' || c == u'/' || c == u'\\') return false;
    if (c == u'.') {
      if (dot != std::u16string_view::npos) return false;
      dot = i;
    }
  }
  if (dot == std::u16string_view::npos) return name.size() <= 8;
  if (dot > 8) return false;
  const size_t extension = name.size() - dot - 1;
  return extension >= 1 && extension <= 3;
}

std::u16string HashShortFileName(std::u16string_view name) {
  static constexpr char kHashChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  const size_t n = name.size();
  if (n == 0) return {};

  // The hash sees each character with the one after it, folded to small.
  uint32_t hash = 0xBEEF;
  for (size_t i = 0; i + 1 < n; ++i)
    hash = ((hash << 3) ^ (hash >> 5) ^ FoldCase(name[i]) ^ (FoldCase(name[i + 1]) << 8)) & 0xFFFF;
  hash = ((hash << 3) ^ (hash >> 5) ^ FoldCase(name[n - 1])) & 0xFFFF;

  // The extension begins at the last dot that is neither the first nor the
  // last character. Before it, up to four characters are kept, and a
  // character a short name cannot hold (a dot too) becomes "_".
  size_t extension = std::u16string_view::npos;
  for (size_t i = 1; i + 1 < n; ++i)
    if (name[i] == u'.') extension = i;

  std::u16string out;
  int room = 4;
  for (size_t i = 0; room > 0 && i < n && i != extension; ++i, --room)
    out += (IsInvalidDosChar(name[i]) || name[i] == u'~' || name[i] == u'.') ? u'_' : name[i];
  out.append(static_cast<size_t>(room) + 1, u'~');
  out += static_cast<char16_t>(kHashChars[(hash >> 10) & 0x1F]);
  out += static_cast<char16_t>(kHashChars[(hash >> 5) & 0x1F]);
  out += static_cast<char16_t>(kHashChars[hash & 0x1F]);
  if (extension != std::u16string_view::npos) {
    out += u'.';
    for (size_t i = extension + 1; i < n && i <= extension + 3; ++i)
      out += (IsInvalidDosChar(name[i]) || name[i] == u'~' || name[i] == u'.') ? u'_' : name[i];
  }
  for (char16_t& c : out) c = AsciiUpper(c);
  return out;
}

}  // namespace platform
