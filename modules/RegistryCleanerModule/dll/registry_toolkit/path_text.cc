#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_text.h"

#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"

namespace {

bool IsTrimmed(char16_t c, char16_t extra) {
  return c == u' ' || c == 7 || c == u'\t' || c == u'\n' || c == u'\r' || c == u'"' ||
         (extra != 0 && c == extra);
}

void Trim(std::u16string* text, char16_t extra) {
  size_t end = text->size();
  while (end > 0 && IsTrimmed((*text)[end - 1], extra)) --end;
  size_t start = 0;
  while (start < end && IsTrimmed((*text)[start], extra)) ++start;
  text->erase(end);
  text->erase(0, start);
  // Some installers write "...\0" where the terminator was meant.
  const size_t n = text->size();
  if (n > 1 && (*text)[n - 2] == u'\\' && (*text)[n - 1] == u'0') text->resize(n - 2);
}

bool IsPathChar(char16_t c) { return c >= 0x20 && (c & 0xFF) != 0x20; }

// text[at] exists and is a path character.
bool PathCharAt(std::u16string_view text, size_t at) {
  return at < text.size() && IsPathChar(text[at]);
}

bool LetterAt(std::u16string_view text, size_t at) {
  return at < text.size() && IsFoldLetter(text[at]);
}

}  // namespace

void FitToCapacity(std::u16string* text, size_t capacity) {
  if (capacity != 0 && text->size() >= capacity) text->resize(capacity - 1);
}

void TrimPathText(std::u16string* text) { Trim(text, 0); }

void TrimPathTextAnd(std::u16string* text, char16_t extra) { Trim(text, extra); }

bool ReplaceOnce(std::u16string* text, std::u16string_view find, std::u16string_view replacement,
                 bool fromEnd, size_t capacity) {
  if (text->empty() || find.empty()) return false;
  const size_t at = fromEnd ? FindLastIgnoreCase(*text, find) : FindIgnoreCase(*text, find);
  if (at == std::u16string::npos) return false;
  text->replace(at, find.size(), replacement);
  FitToCapacity(text, capacity);
  return true;
}

int ClassifyPath(std::u16string_view text) {
  if (!text.empty() && text[0] == u'"') text.remove_prefix(1);
  if (text.starts_with(u".\\") && PathCharAt(text, 2)) return kPathKindCurrentFolder;
  if (text.starts_with(u"..\\") && PathCharAt(text, 3)) return kPathKindParentFolder;
  if (text.starts_with(u"\\\\") && LetterAt(text, 2)) return kPathKindUnc;
  if (text.starts_with(u"\\\\?\\") && PathCharAt(text, 4)) return kPathKindLongPrefix;
  if (LetterAt(text, 0) && text.size() > 1) {
    if (text[1] == u':') {
      if (text.size() > 2 && text[2] == u'\\' && PathCharAt(text, 3)) return kPathKindDrive;
      if (PathCharAt(text, 2)) return kPathKindDriveRelative;
    } else if (text[1] == u'?' && text.size() > 2 && text[2] == u'\\' && PathCharAt(text, 3)) {
      return kPathKindDriveQuestion;
    }
  }
  return kPathKindNone;
}

bool IsPathLike(std::u16string_view text) {
  const int kind = ClassifyPath(text);
  return kind >= kPathKindCurrentFolder && kind <= kPathKindDriveRelative;
}
