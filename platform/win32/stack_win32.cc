// The stack's reserved region is found with VirtualQuery: its allocation base
// is the lowest address; the top pages of that reservation above the guard
// page are what remains to be committed. Works on every Windows version,
// unlike GetCurrentThreadStackLimits (Windows 8 and later).
#include "platform/stack.h"
#include "platform/win32/win32.h"

namespace platform {

bool GetCurrentThreadStackLimits(uintptr_t* low, uintptr_t* high) {
  MEMORY_BASIC_INFORMATION info = {};
  const void* here = __builtin_frame_address(0);
  if (::VirtualQuery(here, &info, sizeof(info)) == 0) return false;
  const uintptr_t base = reinterpret_cast<uintptr_t>(info.AllocationBase);
  // Walk the regions of the reservation upward to find its end.
  uintptr_t end = base;
  for (;;) {
    MEMORY_BASIC_INFORMATION region = {};
    if (::VirtualQuery(reinterpret_cast<const void*>(end), &region, sizeof(region)) == 0) break;
    if (reinterpret_cast<uintptr_t>(region.AllocationBase) != base) break;
    end = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
  }
  // The lowest pages of the reservation hold the guard area and are never
  // usable; keep three pages of them out.
  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  *low = base + 3 * static_cast<uintptr_t>(system.dwPageSize);
  *high = end;
  return end > *low;
}

}  // namespace platform
