// The machine and the host as a module's tests play them; what a test leaves unset is real.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/module_api.h"
#include "platform/system.h"

class TestMachine : public platform::SystemWrapper {
 public:
  // A host and a module placed where the test wants them.
  explicit TestMachine(std::u16string hostFile = {}, std::u16string moduleFile = {})
      : SystemWrapper(platform::System::Default()), host(hostFile), module(moduleFile) {}
  std::u16string GetHostFileName() override {
    return host.empty() ? SystemWrapper::GetHostFileName() : host;
  }
  std::u16string GetModuleFileName(const void* address) override {
    return module.empty() ? SystemWrapper::GetModuleFileName(address) : module;
  }
  bool GetOsVersion(platform::OsVersion* v) override {
    if (!version) return SystemWrapper::GetOsVersion(v);
    *v = *version;
    return version->major != 0;
  }
  bool GetTokenElevation(bool* elevated) override {
    if (!this->elevated) return SystemWrapper::GetTokenElevation(elevated);
    *elevated = *this->elevated;
    return elevationReadable;
  }
  int CheckBuiltinGroupMembership(uint32_t rid) override {
    lastRid = rid;
    return membership;
  }
  uint32_t GetCurrentProcessId() override {
    return self != 0 ? self : SystemWrapper::GetCurrentProcessId();
  }
  bool ListProcesses(std::vector<platform::ProcessEntry>* out) override {
    return listProcesses ? listProcesses(out) : SystemWrapper::ListProcesses(out);
  }
  // With fakeStarts nothing starts: programs fail with error 2, the shell says false, no sleeps.
  platform::ProcessHandle CreateProcess(std::u16string_view line, std::u16string_view folder,
                                        bool hidden, bool suspended, uint32_t* error) override {
    if (!fakeStarts) return SystemWrapper::CreateProcess(line, folder, hidden, suspended, error);
    std::lock_guard<std::mutex> guard(lock);
    started.emplace_back(line);
    if (error != nullptr) *error = 2;
    return nullptr;
  }
  bool ShellExecute(std::u16string_view verb, std::u16string_view file,
                    std::u16string_view parameters, std::u16string_view folder, int show) override {
    std::lock_guard<std::mutex> guard(lock);
    shell.push_back(std::u16string(verb) + u"|" + std::u16string(file) + u"|" +
                    std::u16string(parameters) + u"|" + std::u16string(folder) + u"|" +
                    static_cast<char16_t>(u'0' + show));
    return false;
  }
  void Sleep(uint32_t ms) override {
    if (!fakeStarts) return SystemWrapper::Sleep(ms);
    std::lock_guard<std::mutex> guard(lock);
    sleeps.push_back(ms);
  }

  std::u16string host, module;
  // Unset: the real machine's. A version 0 cannot be read.
  std::optional<platform::OsVersion> version;
  std::optional<bool> elevated;
  bool elevationReadable = true, fakeStarts = false;
  int membership = 1;
  uint32_t lastRid = 0, self = 0;
  std::function<bool(std::vector<platform::ProcessEntry>*)> listProcesses;
  std::mutex lock;
  std::vector<std::u16string> started, shell;
  std::vector<uint32_t> sleeps;
};

// Records every value the host is shown and answers "stop" from stopAt on.
struct Host {
  std::mutex lock;
  std::vector<double> seen;
  double stopAt = 1000.0;

  static bool MODULE_CALL Callback(void* context, double* percent, int reserved1, int reserved2) {
    auto* host = static_cast<Host*>(context);
    EXPECT_EQ(reserved1, 0);
    EXPECT_EQ(reserved2, 0);
    std::lock_guard<std::mutex> guard(host->lock);
    host->seen.push_back(*percent);
    return *percent < host->stopAt;
  }
  std::vector<double> Seen() {
    std::lock_guard<std::mutex> guard(lock);
    return seen;
  }
};

// A text the module wrote through an export, up to its terminator.
inline std::u16string U16(const ModuleChar* text) {
  std::u16string out;
  while (*text) out.push_back(static_cast<char16_t>(*text++));
  return out;
}
