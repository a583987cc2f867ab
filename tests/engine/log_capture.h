// The engine's log, captured for a test: a log file in a throwaway folder
// with a fixed clock, installed as the process's engine log while the object
// lives. Lines() gives what was logged as "<level> <text>".
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "tests/engine/engine_test_support.h"

namespace engine_test {

class CapturedLog {
 public:
  explicit CapturedLog(int32_t level = MyLogfile::kDefaultLevel)
      : log_(folder_.AnsiFile("engine.log").c_str(), 1 << 16, MyLogfile::kCloseAfterWrite, 0,
             platform::FileSystem::Default(), &clock_) {
    log_.SetLevel(level);
    SetEngineLog(&log_);
  }
  ~CapturedLog() { SetEngineLog(nullptr); }

  std::vector<std::string> Lines() {
    log_.Flush();
    std::vector<std::string> lines;
    std::istringstream text(ReadBytes(folder_.File(u"engine.log")));
    for (std::string line; std::getline(text, line);) {
      if (line.ends_with('\r')) line.pop_back();
      // "2014-01-31 09:05:07,123 lv:NN -> text"
      const size_t level = line.find(" lv:"), arrow = line.find(" -> ");
      lines.push_back(level == std::string::npos || arrow == std::string::npos
                          ? "?? " + line
                          : line.substr(level + 4, 2) + " " + line.substr(arrow + 4));
    }
    return lines;
  }
  MyLogfile& log() { return log_; }
  const TempFolder& folder() const { return folder_; }

 private:
  TempFolder folder_;
  FixedClock clock_;
  MyLogfile log_;
};

}  // namespace engine_test
