#include "tools/regclean/progress_display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace regclean {

std::string ProgressLine(std::string_view label, double percent, uint64_t elapsedMs, int width) {
  percent = std::clamp(percent, 0.0, 100.0);
  char tail[48];
  std::snprintf(tail, sizeof(tail), " %3d%%  %u:%02u", static_cast<int>(percent),
                static_cast<unsigned>(elapsedMs / 60000),
                static_cast<unsigned>(elapsedMs / 1000 % 60));
  std::string line(label);
  // The bar takes what is left, between 10 and 40 cells.
  const int room =
      width - 1 - static_cast<int>(line.size()) - 3 - static_cast<int>(std::strlen(tail));
  const int cells = std::clamp(room, 10, 40);
  const int filled = static_cast<int>(percent * cells / 100.0);
  line += " [" + std::string(filled, '#') + std::string(cells - filled, '.') + "]" + tail;
  return line;
}

ProgressDisplay::ProgressDisplay(std::ostream& out, bool terminal, int width, std::string label)
    : out_(out), terminal_(terminal), width_(width), label_(std::move(label)) {}

void ProgressDisplay::Update(double percent, uint64_t elapsedMs) {
  std::lock_guard<std::mutex> guard(lock_);
  percent = std::clamp(percent, 0.0, 100.0);
  if (!terminal_) {
    const int tenth = static_cast<int>(percent / 10.0);
    if (tenth <= lastTenth_) return;
    lastTenth_ = tenth;
    out_ << "progress: " << tenth * 10 << "%\n" << std::flush;
    return;
  }
  const int shown = static_cast<int>(percent);
  if (drawn_ && shown == lastShown_ && elapsedMs / 1000 == lastSecond_) return;
  lastShown_ = shown;
  lastSecond_ = elapsedMs / 1000;
  drawn_ = true;
  out_ << "\r" << ProgressLine(label_, percent, elapsedMs, width_) << std::flush;
}

void ProgressDisplay::Finish() {
  std::lock_guard<std::mutex> guard(lock_);
  if (terminal_ && drawn_) out_ << "\n" << std::flush;
  drawn_ = false;
}

}  // namespace regclean
