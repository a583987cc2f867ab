// The calling thread's stack, so that a deep recursion can stop before the
// stack runs out instead of overflowing it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The lowest and one past the highest address of the calling thread's stack
// (the stack grows down towards low). The lowest usable address lies above
// the guard pages. False when the system cannot tell.
bool GetCurrentThreadStackLimits(uintptr_t* low, uintptr_t* high);

// Bytes of stack left below the caller's frame; SIZE_MAX when the limits are
// unknown. The limits are read once per thread.
size_t RemainingStackBytes();

}  // namespace platform
