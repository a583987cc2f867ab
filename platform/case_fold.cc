#include "platform/case_fold.h"

namespace platform {

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  // Latin-1: À..Þ without the multiplication sign; µ folds to Greek mu.
  if (c >= 0xC0 && c <= 0xDE) return c == 0xD7 ? c : static_cast<char16_t>(c + 32);
  if (c == 0xB5) return 0x3BC;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: capital and small letters alternate, capital first,
    // except in 0139..0148 and 0179..017E where the capital is odd.
    if (c == 0x130) return c;  // dotted capital I has no simple folding
    if (c == 0x131 || c == 0x138 || c == 0x149) return c;
    if (c == 0x178) return 0xFF;
    if (c == 0x17F) return u's';
    const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddCapital) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
    return (c & 1) ? c : static_cast<char16_t>(c + 1);
  }
  if (c >= 0x386 && c <= 0x3AB) {
    // Greek capitals, with and without tonos.
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
    return c;
  }
  if (c == 0x3C2) return 0x3C3;  // final sigma
  if (c >= 0x400 && c <= 0x4FF) {
    // Cyrillic: Ѐ..Џ, А..Я, then pairs with the capital first.
    if (c <= 0x40F) return static_cast<char16_t>(c + 80);
    if (c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c < 0x460) return c;
    if (c == 0x4C0) return 0x4CF;
    const bool paired = (c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0);
    if (paired) return (c & 1) ? c : static_cast<char16_t>(c + 1);
    if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  }
  return c;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = FoldCase(a[i]);
    const char16_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace platform
