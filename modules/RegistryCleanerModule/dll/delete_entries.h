// Deleting what the scanners found: whole key trees (deepest keys first, in
// the caller's view, leaving keys that system file protection guards) and
// single values; and the system's error texts for the log.
//
// Every failure is logged and otherwise ignored; nothing is retried. Runs on
// the engine's worker thread; ErrorText and SystemMessageText use static
// buffers and are not for concurrent callers.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/registry.h"

// Deletes keyPath with all its subkeys and values, children before parents.
// On 64-bit Vista workstations reflection is switched off for each key first.
// True when keyPath is gone afterwards.
bool DeleteKeyTree(platform::HKey root, std::u16string_view keyPath, uint32_t sam);

// Deletes valueName from key, opened by the caller with write access; root
// and keyPath name it in the log. Returns 1 when deleted, else 0.
int DeleteValue(platform::HKey root, std::u16string_view keyPath, platform::HKey key,
                std::u16string_view valueName);

// The system's text for code followed by " (<code & 0xFFFFFF> [0x<code>])";
// "Unknown Error" when the system has none. One static buffer, overwritten
// by each call.
const char16_t* ErrorText(uint32_t code);

// The system's message for code into out (sizeBytes bytes), one line: "%"
// becomes "-", CR, LF and BEL become blanks, blanks, tabs and quotes are
// trimmed at both ends. A message from a module's message table whose "%"
// count equals argCount (1 to 7) gets args[i] for each "%<i+1>". Returns the
// length, 0 when no message was found.
uint32_t SystemMessageText(uint32_t code, char16_t* out, uint32_t sizeBytes,
                           const char16_t* const* args, int argCount);

// Logs the formatted message (UTF-16 format as for MyLogfile, "%ls" takes
// UTF-16 text) at level 3 and, when the thread's last error is set, its
// ErrorText at level 4 as "Last Error: ...". Returns the last error at entry.
uint32_t LogLastError(const char16_t* format, ...);
