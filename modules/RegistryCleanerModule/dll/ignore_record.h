// The ignore list's memory of a cleaned entry. The list holds pairs: the
// entry text, then its record "0x%08X, 0x%08X, 0x%08X" of (clean day, clean
// count, boot session of the last clean). An entry that comes back after it
// was cleaned is left alone for a while, longer the more often it came back;
// the list forgets an entry after 14 days.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"

// Whole UTC days since 1 January 1601.
uint32_t CurrentDayNumber(platform::System* system = platform::System::Default());

// Reads an unsigned 32-bit hexadecimal number: leading units of code 32 and
// below are skipped, then hexadecimal digits are taken, with one "x" or "X"
// allowed among them (so "0x" prefixes read), up to the first other unit.
// 0 for an empty text; higher digits than fit are shifted out.
uint32_t ReadHexNumber(std::u16string_view text);

struct IgnoreRecord {
  uint32_t cleanDay = 0;
  uint32_t cleanCount = 0;
  uint32_t session = 0;
};

std::u16string FormatIgnoreRecord(const IgnoreRecord& record);
// False when either ", " separator is missing.
bool ParseIgnoreRecord(std::u16string_view text, IgnoreRecord* record);
// The clean count of a record: the number after its first ", ", 0 without one.
uint32_t ReadCleanCount(std::u16string_view text);

enum class IgnoreVerdict {
  kReport,   // the entry is a problem again
  kExclude,  // leave the entry alone
  kForget,   // older than 14 days: drop the pair, then report the entry
};

// What to do with an entry that is back: excluded when it came back in the
// boot session of its clean; forgotten after 14 days; otherwise excluded
// while its age in days is below 1, 2, 4 or 8 for a clean count of 2, 3, 4
// or 5, always for 6 and more, never for 0 or 1.
IgnoreVerdict JudgeIgnoreRecord(const IgnoreRecord& record, uint32_t today,
                                uint32_t currentSession);
