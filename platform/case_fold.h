// Case-insensitive comparison of UTF-16 text, the way file and registry
// names compare on Windows. One function, FoldCase(char16_t), decides what
// "the same letter" means; everything else is built on it, so a fuller table
// can replace it without touching the callers.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The simple case folding of one UTF-16 unit: a capital letter becomes its
// small form. Covers ASCII, Latin-1, Latin Extended-A, basic Greek and
// Cyrillic; any other unit is returned unchanged.
char16_t FoldCase(char16_t c);

// text with every unit folded.
std::u16string FoldCase(std::u16string_view text);

// a and b are equal after folding.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// <0, 0, >0 as a sorts before, with, after b after folding.
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform
