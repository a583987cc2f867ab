// Functions that some of the systems the suite runs on lack (Windows XP and
// Server 2003 have none of them). A binary that imported them directly would
// not load there at all, so they are looked up when first used and replaced by
// a fallback where the system does not have them. scripts/check-imports keeps
// every other import to the list of functions all those systems have.
#pragma once

#include <cstdint>

#include "platform/win32/win32.h"

namespace platform {

// The function `name` of the loaded system library `library`, or nullptr.
template <typename Function>
Function LateBound(const wchar_t* library, const char* name) {
  HMODULE module = ::GetModuleHandleW(library);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Milliseconds since the system started: GetTickCount64, else the 32-bit
// GetTickCount carried past its wrap every 49.7 days (noticed as long as the
// count is read at least once in that time). Thread-safe.
uint64_t TickCount64();
uint64_t TickCount64FromTickCount();
// The 64-bit count after `last` when the 32-bit count reads `now`.
uint64_t ExtendTickCount(uint64_t last, uint32_t now);

// CompareStringOrdinal: CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN
// (0 on bad arguments); a length of -1 means "up to the NUL". Without it,
// the units are compared in order, upper-cased by the system first when
// ignoreCase is set.
int CompareOrdinal(const wchar_t* a, int aLength, const wchar_t* b, int bLength, bool ignoreCase);
int CompareOrdinalFallback(const wchar_t* a, int aLength, const wchar_t* b, int bLength,
                           bool ignoreCase);

// Cancels I/O on `file`: CancelIoEx (any thread's I/O, or just `overlapped`'s
// when given), else CancelIo, which reaches only the I/O the calling thread
// started. Returns true when the request was made.
bool CancelFileIo(HANDLE file, OVERLAPPED* overlapped);

}  // namespace platform
