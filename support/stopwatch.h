// Accumulating elapsed-time meter on the high-resolution performance counter,
// with the millisecond tick count as its fallback. Not synchronized.
#pragma once

#include <cstdint>

#include "platform/system.h"

class Stopwatch {
 public:
  explicit Stopwatch(platform::System* system = platform::System::Default());
  virtual ~Stopwatch() = default;

  // A new stopwatch, already running.
  static Stopwatch StartNew(platform::System* system = platform::System::Default());

  // Adds the running period to the total and stops; nothing when stopped.
  void Stop();
  // Stops, clears the total and starts a new period.
  void Restart();
  // Sum of all running periods since the last Restart, truncated to ms.
  uint64_t ElapsedMilliseconds();

  bool stopped() const { return stopped_; }
  bool highResolution() const { return highResolution_; }

 private:
  uint64_t Reading();
  void UpdateCurrent();

  uint64_t start_ = 0;
  uint64_t frequency_ = 1000;
  uint64_t current_ = 0;
  uint64_t accumulated_ = 0;
  bool stopped_ = true;
  bool highResolution_ = false;
  platform::System* system_;
};

// A signed number of milliseconds.
class TimeSpan {
 public:
  TimeSpan() = default;
  explicit TimeSpan(int64_t milliseconds) : milliseconds_(milliseconds) {}
  virtual ~TimeSpan() = default;
  TimeSpan(const TimeSpan&) = default;
  TimeSpan& operator=(const TimeSpan&) = default;

  int64_t milliseconds() const { return milliseconds_; }

 private:
  int64_t milliseconds_ = 0;
};
