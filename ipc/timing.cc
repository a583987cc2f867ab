#include "ipc/timing.h"

#include <mutex>

namespace ipc {
namespace {

std::mutex g_lock;
Timing g_timing;

}  // namespace

Timing CurrentTiming() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_timing;
}

void SetTiming(const Timing& timing) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_timing = timing;
}

}  // namespace ipc
