#include "modules/RegistryCleanerModule/dll/run_failures.h"

#include <mutex>

#include "modules/RegistryCleanerModule/dll/delete_entries.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "platform/unicode.h"

namespace {

constexpr size_t kKeptCauses = 16;

// One engine per process, as for the other run values.
std::mutex causesLock;
std::vector<std::u16string> causes;

}  // namespace

std::u16string ReasonText(uint32_t code) {
  if (code == 0) return u"reason unknown";
  char16_t text[512];
  std::u16string out = u"error " + platform::Utf8ToU16(std::to_string(code));
  if (SystemMessageText(code, text, sizeof(text), nullptr, 0) != 0) {
    std::u16string message(text);
    if (!message.empty() && message.back() == u'.') message.pop_back();
    out += u": " + message;
  }
  return out;
}

void ReportRunFailure(RegCleanerEngine* engine, const std::u16string& cause) {
  EngineLogPrintf(11, "%ls", cause.c_str());
  std::lock_guard<std::mutex> lock(causesLock);
  if (causes.size() < kKeptCauses) causes.push_back(cause);
  ++engine->runFailures;
}

void ResetRunFailures(RegCleanerEngine* engine) {
  std::lock_guard<std::mutex> lock(causesLock);
  causes.clear();
  engine->runFailures = 0;
}

std::vector<std::u16string> RunFailureCauses(const RegCleanerEngine& engine) {
  std::lock_guard<std::mutex> lock(causesLock);
  const uint32_t count = engine.runFailures;
  std::vector<std::u16string> out = causes;
  if (count > out.size()) {
    const uint32_t more = count - static_cast<uint32_t>(out.size());
    out.push_back(platform::Utf8ToU16(std::to_string(more)) + (out.empty() ? u"" : u" more") +
                  (more == 1 ? u" step of the run" : u" steps of the run") +
                  u" could not be done safely and left entries in place; the log names them.");
  }
  return out;
}
