// The case-folding table behind every comparison that ignores case in path
// resolution and list lookups: 65536 entries, one per UTF-16 unit. A unit the
// system calls a letter folds to itself when it is lower case and to the
// system's lower-case form otherwise; every other unit folds to itself.
//
// The table is process-wide: the module builds it when the engine starts and
// frees it when the engine ends. Without it (before the build, after the
// free) only A-Z fold, to a-z, and only A-Z and a-z are letters.
// Thread-safety: lookups may run on any thread; build and free are made by the
// module's thread while no scan runs.
#pragma once

#include <cstddef>
#include <string_view>

// Builds the table from the system's character classes (a second build keeps
// the first table).
void BuildCaseFoldingTable();
// Frees the table; the comparisons fall back to ASCII.
void FreeCaseFoldingTable();
bool CaseFoldingTableBuilt();

// The folded form of c.
char16_t FoldCase(char16_t c);
// True when the table (or the ASCII fallback) marks c as a letter.
bool IsFoldLetter(char16_t c);

// Comparisons through FoldCase, unit by unit.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix);
// Position of the first occurrence of needle at or after from, or npos. An
// empty needle is never found.
size_t FindIgnoreCase(std::u16string_view text, std::u16string_view needle, size_t from = 0);
// Position of the last occurrence of needle, or npos.
size_t FindLastIgnoreCase(std::u16string_view text, std::u16string_view needle);
