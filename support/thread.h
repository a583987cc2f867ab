// Worker threads that run one routine and report its exit code and whether it
// failed; the base class of objects handed to such routines.
#pragma once

#include <cstdint>

#include "platform/system.h"

// Objects whose work runs on a Thread derive from this; the routine receives a
// pointer to this base and turns it back with a checked down-cast.
class ThreadParam {
 public:
  virtual ~ThreadParam() = default;
};

// Runs routine(argument) on its own thread. Used by its owner's thread only.
// A routine that throws, or that faults (an access violation, a division by
// zero: see System::RunGuarded), is recorded as failed with exit code
// 0xFFFFFFFF, and Join rethrows that failure to the owner as a plain
// std::exception. The host goes on.
class Thread {
 public:
  using Routine = uint32_t (*)(void* argument);

  Thread(Routine routine, void* argument, platform::System* system = platform::System::Default());
  // Waits for the thread (Stop with an infinite wait).
  virtual ~Thread();

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the routine when no thread is held; otherwise does nothing.
  void Start();
  // False without a thread; otherwise the platform's answer.
  bool SetPriority(int priority);
  // False without a thread. A thread that has ended is collected (as by Stop
  // with an infinite wait) and reported as not running.
  bool IsRunning();
  // Waits up to timeoutMs, stores the exit code and closes the handle, even
  // when the wait timed out: the thread then runs on untracked and the exit
  // code reads 259 (still active).
  void Stop(uint32_t timeoutMs);
  // Stop with an infinite wait; throws std::exception when the routine failed,
  // otherwise returns its exit code.
  uint32_t Join();

  uint32_t exitCode() const { return exitCode_; }
  bool failed() const { return failed_; }

 private:
  static uint32_t Procedure(void* self);

  Routine routine_;
  void* argument_;
  platform::ThreadHandle handle_ = nullptr;
  uint32_t exitCode_ = 0;
  bool failed_ = false;
  platform::System* system_;
};
