#include "platform/stack.h"

namespace platform {

size_t RemainingStackBytes() {
  thread_local uintptr_t low = 0;
  thread_local bool known = false;
  thread_local bool tried = false;
  if (!tried) {
    tried = true;
    uintptr_t high = 0;
    known = GetCurrentThreadStackLimits(&low, &high);
  }
  if (!known) return SIZE_MAX;
  // The frame address, not a local's: sanitizers may keep locals elsewhere.
  const uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  return here > low ? here - low : 0;
}

}  // namespace platform
