// The functions some supported systems lack, looked up when first used.
#include <atomic>
#include <string>

#include "platform/win32/late_bound.h"

namespace platform {
namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();
using CompareOrdinalFn = int(WINAPI*)(LPCWSTR, int, LPCWSTR, int, BOOL);
using CancelIoExFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

std::atomic<uint64_t> g_lastTick{0};

ULONGLONG WINAPI TickCountFallback() { return TickCount64FromTickCount(); }

// Resolved once; a race only looks the same function up twice. No lock and no
// function-local static: the thread library calls this from its own waits.
ULONGLONG WINAPI TickCount64Resolving() {
  static std::atomic<TickCount64Fn> resolved{nullptr};
  TickCount64Fn function = resolved.load(std::memory_order_acquire);
  if (function == nullptr) {
    function = LateBound<TickCount64Fn>(L"kernel32.dll", "GetTickCount64");
    if (function == nullptr) function = &TickCountFallback;
    resolved.store(function, std::memory_order_release);
  }
  return function();
}

}  // namespace

// The statically linked thread library (winpthreads) calls GetTickCount64
// through its import slot. Defining the slot here, in an object linked before
// that library, keeps the kernel32 import out of every binary: the thread
// library's calls land in TickCount64Resolving.
#if defined(__i386__)
#define REGCLEAN_IMPORT_SLOT(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#else
#define REGCLEAN_IMPORT_SLOT(name, argumentBytes) "__imp_" #name
#endif
extern "C" {
TickCount64Fn regclean_GetTickCount64_slot __asm__(REGCLEAN_IMPORT_SLOT(GetTickCount64,
                                                                        0)) = &TickCount64Resolving;
}

uint64_t ExtendTickCount(uint64_t last, uint32_t now) {
  uint64_t high = last & ~uint64_t{0xFFFFFFFF};
  if (now < static_cast<uint32_t>(last)) high += uint64_t{1} << 32;
  return high | now;
}

uint64_t TickCount64FromTickCount() {
  uint64_t last = g_lastTick.load(std::memory_order_relaxed);
  for (;;) {
    const uint64_t next = ExtendTickCount(last, ::GetTickCount());
    // Another thread may have moved on meanwhile: read the count again.
    if (g_lastTick.compare_exchange_weak(last, next, std::memory_order_relaxed)) return next;
  }
}

uint64_t TickCount64() { return TickCount64Resolving(); }

int CompareOrdinalFallback(const wchar_t* a, int aLength, const wchar_t* b, int bLength,
                           bool ignoreCase) {
  if (a == nullptr || b == nullptr || aLength < -1 || bLength < -1) return 0;
  std::wstring left(a, aLength == -1 ? wcslen(a) : static_cast<size_t>(aLength));
  std::wstring right(b, bLength == -1 ? wcslen(b) : static_cast<size_t>(bLength));
  if (ignoreCase) {
    if (!left.empty()) ::CharUpperBuffW(left.data(), static_cast<DWORD>(left.size()));
    if (!right.empty()) ::CharUpperBuffW(right.data(), static_cast<DWORD>(right.size()));
  }
  // std::wstring compares wchar_t units as unsigned 16-bit values on Windows.
  const int order = left.compare(right);
  return order < 0 ? CSTR_LESS_THAN : order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

int CompareOrdinal(const wchar_t* a, int aLength, const wchar_t* b, int bLength, bool ignoreCase) {
  static const CompareOrdinalFn compare =
      LateBound<CompareOrdinalFn>(L"kernel32.dll", "CompareStringOrdinal");
  if (compare == nullptr) return CompareOrdinalFallback(a, aLength, b, bLength, ignoreCase);
  return compare(a, aLength, b, bLength, ignoreCase ? TRUE : FALSE);
}

bool CancelFileIo(HANDLE file, OVERLAPPED* overlapped) {
  static const CancelIoExFn cancelEx = LateBound<CancelIoExFn>(L"kernel32.dll", "CancelIoEx");
  if (cancelEx != nullptr) return cancelEx(file, overlapped) != 0;
  return ::CancelIo(file) != 0;
}

}  // namespace platform
