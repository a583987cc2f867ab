// Case-insensitive comparison of UTF-16 text, the way file and registry
// names compare on Windows. One function, FoldCase(char16_t), decides what
// "the same letter" means; everything else is built on it, so a fuller table
// can replace it without touching the callers.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// FoldCase beyond ASCII.
char16_t FoldCaseBeyondAscii(char16_t c);

// The simple case folding of one UTF-16 unit: a capital letter becomes its
// small form, as the system's lower-casing gives it (on POSIX the Unicode
// simple case mapping, as Wine's tables); any other unit is unchanged.
// Names are mostly ASCII: that half is folded in line.
inline char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  return FoldCaseBeyondAscii(c);
}

// text with every unit folded.
std::u16string FoldCase(std::u16string_view text);

// a and b are equal after folding.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// <0, 0, >0 as a sorts before, with, after b after folding.
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform
