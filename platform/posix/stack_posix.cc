#include <pthread.h>

#include "platform/stack.h"

namespace platform {

bool GetCurrentThreadStackLimits(uintptr_t* low, uintptr_t* high) {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
  void* address = nullptr;
  size_t size = 0;
  size_t guard = 0;
  const bool ok = pthread_attr_getstack(&attr, &address, &size) == 0;
  pthread_attr_getguardsize(&attr, &guard);
  pthread_attr_destroy(&attr);
  if (!ok || address == nullptr) return false;
  *low = reinterpret_cast<uintptr_t>(address) + guard;
  *high = reinterpret_cast<uintptr_t>(address) + size;
  return true;
}

}  // namespace platform
