// Texts for durations in log lines and for time stamps in file names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system.h"

// Flag bit 0 of FormatDuration: the value counts milliseconds, not seconds.
constexpr uint32_t kDurationMilliseconds = 1;

// Writes a duration such as "01:02:03,004" or "      45,000" into buffer.
// The whole buffer is zeroed first; a buffer below 32 bytes stays empty.
void FormatDuration(char* buffer, size_t bufferSize, int32_t value, uint32_t flags);

// FormatDuration into 128 characters, without the blanks and double quotes
// at both ends: the form log lines carry.
std::string TrimmedDuration(int32_t value, uint32_t flags);

// "YYYY-MM-DD hh-mm-ss" of the local time. The text is shared by all callers
// and stays valid until the next call.
const char* FormatTimestampForFileName(platform::System* system = platform::System::Default());
