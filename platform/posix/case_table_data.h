// Character data of the POSIX backend, generated from the Unicode character
// database by scripts/gen-case-table.py (see there for the definitions).
#pragma once

#include <cstddef>

namespace platform::posix {

// An inclusive run of UTF-16 units.
struct CodeRange {
  char16_t first;
  char16_t last;
};

// A unit and its simple lower-case form.
struct CaseMapping {
  char16_t unit;
  char16_t lower;
};

// All three sorted by unit.
extern const CodeRange kLetterRanges[];
extern const size_t kLetterRangeCount;
extern const CodeRange kLowerCaseRanges[];
extern const size_t kLowerCaseRangeCount;
extern const CaseMapping kLowerCaseMappings[];
extern const size_t kLowerCaseMappingCount;

}  // namespace platform::posix
