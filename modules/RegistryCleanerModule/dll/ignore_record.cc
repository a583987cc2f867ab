#include "modules/RegistryCleanerModule/dll/ignore_record.h"

#include <cstdio>

namespace {

constexpr uint64_t kFileTimeUnitsPerMinute = 600000000ull;
constexpr uint64_t kMinutesPerDay = 1440;
constexpr int32_t kForgetAfterDays = 14;

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The text after the first ", " at or after from; npos without one.
size_t AfterSeparator(std::u16string_view text, size_t from) {
  const size_t at = text.find(u", ", from);
  return at == std::u16string_view::npos ? at : at + 2;
}

}  // namespace

uint32_t CurrentDayNumber(platform::System* system) {
  return static_cast<uint32_t>(system->GetSystemTimeAsFileTime() / kFileTimeUnitsPerMinute /
                               kMinutesPerDay);
}

uint32_t ReadHexNumber(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] <= 32 && text[i] != 0) ++i;
  uint32_t value = 0;
  bool sawX = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if ((c == u'x' || c == u'X') && !sawX) {
      sawX = true;
      continue;
    }
    const int digit = HexDigit(c);
    if (digit < 0) break;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

std::u16string FormatIgnoreRecord(const IgnoreRecord& record) {
  char text[64];
  const int n = std::snprintf(text, sizeof(text), "0x%08X, 0x%08X, 0x%08X", record.cleanDay,
                              record.cleanCount, record.session);
  return std::u16string(text, text + n);
}

bool ParseIgnoreRecord(std::u16string_view text, IgnoreRecord* record) {
  const size_t count = AfterSeparator(text, 0);
  if (count == std::u16string_view::npos) return false;
  const size_t session = AfterSeparator(text, count);
  if (session == std::u16string_view::npos) return false;
  record->cleanDay = ReadHexNumber(text);
  record->cleanCount = ReadHexNumber(text.substr(count));
  record->session = ReadHexNumber(text.substr(session));
  return true;
}

uint32_t ReadCleanCount(std::u16string_view text) {
  const size_t count = AfterSeparator(text, 0);
  return count == std::u16string_view::npos ? 0 : ReadHexNumber(text.substr(count));
}

IgnoreVerdict JudgeIgnoreRecord(const IgnoreRecord& record, uint32_t today,
                                uint32_t currentSession) {
  if (record.session == currentSession) return IgnoreVerdict::kExclude;
  const int32_t age = static_cast<int32_t>(today - record.cleanDay);
  if (age > kForgetAfterDays) return IgnoreVerdict::kForget;
  int32_t excludedBelowAge;
  switch (record.cleanCount) {
    case 0:
    case 1:
      return IgnoreVerdict::kReport;
    case 2:
      excludedBelowAge = 1;
      break;
    case 3:
      excludedBelowAge = 2;
      break;
    case 4:
      excludedBelowAge = 4;
      break;
    case 5:
      excludedBelowAge = 8;
      break;
    default:
      return IgnoreVerdict::kExclude;
  }
  return age < excludedBelowAge ? IgnoreVerdict::kExclude : IgnoreVerdict::kReport;
}
