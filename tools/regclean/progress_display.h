// The progress of a run as regclean shows it: on a terminal one line that
// is redrawn in place, with a bar, the percent and the time so far; into a
// file or a pipe a plain "progress: N%" line at each further tenth.
// Thread-safe: the module reports from its own thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

namespace regclean {

// The terminal line for percent after elapsedMs, at most width columns
// (without the carriage return that starts it): a label, the bar, the
// percent and the time as m:ss.
std::string ProgressLine(std::string_view label, double percent, uint64_t elapsedMs, int width);

class ProgressDisplay {
 public:
  // terminal: draw the line in place; otherwise write plain lines.
  ProgressDisplay(std::ostream& out, bool terminal, int width, std::string label);

  // Shows percent (0 to 100) after elapsedMs.
  void Update(double percent, uint64_t elapsedMs);
  // Ends the display: on a terminal the line stays with its last value.
  void Finish();

 private:
  std::mutex lock_;
  std::ostream& out_;
  bool terminal_;
  int width_;
  std::string label_;
  int lastTenth_ = -1;       // plain lines: the last tenth written
  int lastShown_ = -1;       // terminal: the last whole percent drawn
  uint64_t lastSecond_ = 0;  // terminal: the last whole second drawn
  bool drawn_ = false;
};

}  // namespace regclean
