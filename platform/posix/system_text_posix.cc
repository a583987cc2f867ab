// POSIX backend of the system's text services: the Unicode character data of
// case_table_data.cc, and UTF-8 as the ANSI code page.
#include <cstdint>

#include "platform/posix/case_table_data.h"
#include "platform/system_text.h"
#include "platform/unicode.h"

namespace platform {
namespace {

constexpr uint8_t kLetter = 1;
constexpr uint8_t kLowerCase = 2;

// One entry per UTF-16 unit, expanded once from the generated ranges.
struct CharTables {
  uint8_t flags[65536];
  char16_t lower[65536];

  CharTables() {
    for (uint32_t c = 0; c < 65536; ++c) {
      flags[c] = 0;
      lower[c] = static_cast<char16_t>(c);
    }
    for (size_t i = 0; i < posix::kLetterRangeCount; ++i)
      for (uint32_t c = posix::kLetterRanges[i].first; c <= posix::kLetterRanges[i].last; ++c)
        flags[c] |= kLetter;
    for (size_t i = 0; i < posix::kLowerCaseRangeCount; ++i)
      for (uint32_t c = posix::kLowerCaseRanges[i].first; c <= posix::kLowerCaseRanges[i].last; ++c)
        flags[c] |= kLowerCase;
    for (size_t i = 0; i < posix::kLowerCaseMappingCount; ++i)
      lower[posix::kLowerCaseMappings[i].unit] = posix::kLowerCaseMappings[i].lower;
  }
};

const CharTables& Tables() {
  static const CharTables tables;
  return tables;
}

}  // namespace

bool IsCharAlpha(char16_t c) { return (Tables().flags[c] & kLetter) != 0; }
bool IsCharLower(char16_t c) { return (Tables().flags[c] & kLowerCase) != 0; }
char16_t CharLower(char16_t c) { return Tables().lower[c]; }

void CharLowerBuffer(char16_t* text, size_t length) {
  const char16_t* lower = Tables().lower;
  for (size_t i = 0; i < length; ++i) text[i] = lower[text[i]];
}

std::string U16ToAnsi(std::u16string_view text) { return U16ToUtf8(text); }
void AppendAnsi(std::string* out, std::u16string_view text) { AppendUtf8(out, text); }
std::u16string AnsiToU16(std::string_view text) { return Utf8ToU16(text); }

bool IsTextUnicode(const void* data, size_t size) {
  // A statistical test in the spirit of the Windows one: UTF-16 text of a
  // Latin script has mostly zero high bytes, and line ends or blanks are
  // whole UTF-16 units; single-byte text has neither.
  if (data == nullptr || size < 2 || (size & 1) != 0) return false;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const size_t units = size / 2;
  auto unit = [bytes](size_t i) {
    return static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  };
  if (unit(0) == 0xFFFE) return false;  // byte-swapped mark: big-endian text
  if (unit(0) == 0xFEFF) return true;
  size_t narrow = 0;
  bool controls = false;
  for (size_t i = 0; i < units; ++i) {
    const uint16_t u = unit(i);
    if (u <= 0xFF) ++narrow;
    if (u == 0x000A || u == 0x000D || u == 0x0009 || u == 0x0020) controls = true;
  }
  return narrow > units / 2 || controls;
}

}  // namespace platform
