// The time limits of the channel. The defaults are what ships; tests that
// link the library's code shorten them to stay quick.
#pragma once

#include <cstdint>

namespace ipc {

struct Timing {
  uint32_t keepAliveMs = 1000;  // server: a keep-alive this often while a handler runs
  uint32_t silenceMs = 30000;   // client: gives up after this long without any frame
  uint32_t requestMs = 5000;    // server: a client has this long to send its request
  uint32_t connectMs = 5000;    // client: waits this long for a busy listener
};

// The limits in force. Thread-safe.
Timing CurrentTiming();
// Replaces them for every later send and connection. Thread-safe.
void SetTiming(const Timing& timing);

}  // namespace ipc
