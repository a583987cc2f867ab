#include "support/stopwatch.h"

Stopwatch::Stopwatch(platform::System* system) : system_(system) {
  uint64_t frequency = 0;
  if (system_->QueryPerformanceFrequency(&frequency) && frequency != 0) {
    highResolution_ = true;
    frequency_ = frequency;
  } else {
    highResolution_ = false;
    frequency_ = 1000;  // the tick clock counts milliseconds
  }
}

Stopwatch Stopwatch::StartNew(platform::System* system) {
  Stopwatch watch(system);
  watch.Restart();
  return watch;
}

uint64_t Stopwatch::Reading() {
  if (highResolution_) return system_->QueryPerformanceCounter();
  return system_->GetTickCount();
}

void Stopwatch::UpdateCurrent() {
  uint64_t reading = Reading();
  if (highResolution_ || reading >= start_) {
    current_ = reading - start_;
  } else {
    // The 32-bit tick counter wrapped past zero since the start.
    current_ = (0x100000000ull - start_) + reading;
  }
}

void Stopwatch::Stop() {
  if (stopped_) return;
  UpdateCurrent();
  accumulated_ += current_;
  current_ = 0;
  stopped_ = true;
}

void Stopwatch::Restart() {
  Stop();
  accumulated_ = 0;
  start_ = Reading();
  stopped_ = false;
}

uint64_t Stopwatch::ElapsedMilliseconds() {
  if (!stopped_) UpdateCurrent();
  return (accumulated_ + current_) * 1000 / frequency_;
}
