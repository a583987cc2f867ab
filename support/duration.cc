#include "support/duration.h"

#include <cstdio>
#include <cstring>

void FormatDuration(char* buffer, size_t bufferSize, int32_t value, uint32_t flags) {
  if (buffer == nullptr) return;
  std::memset(buffer, 0, bufferSize);
  if (bufferSize < 32) return;

  const bool withMs = (flags & kDurationMilliseconds) != 0;
  int32_t ms = 0;
  int32_t seconds = value;
  if (withMs) {
    ms = value % 1000;
    seconds = value / 1000;
  }
  const int32_t weeks = seconds / 604800;
  int32_t rest = seconds % 604800;
  const int32_t days = rest / 86400;
  rest %= 86400;
  const int32_t hours = rest / 3600;
  rest %= 3600;
  const int32_t minutes = rest / 60;
  const int32_t secs = rest % 60;

  const size_t n = bufferSize;
  if (weeks > 0) {
    if (withMs)
      std::snprintf(buffer, n, "%02d:%02d:%02d,%03d  days: %d  weeks: %d", hours, minutes, secs,
                    ms, days, weeks);
    else
      std::snprintf(buffer, n, "%02d:%02d:%02d  days: %d  weeks: %d", hours, minutes, secs, days,
                    weeks);
  } else if (days > 0) {
    if (withMs)
      std::snprintf(buffer, n, "%02d:%02d:%02d,%03d  days: %d", hours, minutes, secs, ms, days);
    else
      std::snprintf(buffer, n, "%02d:%02d:%02d  days: %d", hours, minutes, secs, days);
  } else if (hours > 0) {
    if (withMs)
      std::snprintf(buffer, n, "%02d:%02d:%02d,%03d", hours, minutes, secs, ms);
    else
      std::snprintf(buffer, n, "%02d:%02d:%02d", hours, minutes, secs);
  } else if (minutes == 0) {
    if (withMs)
      std::snprintf(buffer, n, "      %02d,%03d", secs, ms);
    else
      std::snprintf(buffer, n, "      %02d", secs);
  } else {
    if (withMs)
      std::snprintf(buffer, n, "   %02d:%02d,%03d", minutes, secs, ms);
    else
      std::snprintf(buffer, n, "   %02d:%02d", minutes, secs);
  }
}

std::string TrimmedDuration(int32_t value, uint32_t flags) {
  char buffer[128];
  FormatDuration(buffer, sizeof(buffer), value, flags);
  std::string text(buffer);
  const size_t first = text.find_first_not_of(" \"");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \"");
  return text.substr(first, last - first + 1);
}

const char* FormatTimestampForFileName(platform::System* system) {
  static char text[48];
  const platform::LocalTime t = system->GetLocalTime();
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d-%02d-%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}
