// Runs delegated to a real staged ServiceProvider: progress relayed, a stop cancels, else local.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/check_module.h"
#include "framework/service_channel.h"
#include "platform/file_system.h"
#include "platform/unicode.h"
#include "tests/framework/test_machine.h"
#include "tests/support/staged_suite.h"

namespace {

const std::u16string kStagedModule =
    StagedPath(u"modules/RegistryCleanerModule/RegistryCleanerModule.dll");

// A copy of the staged suite with paced progress (a run takes 2 s or more); removed at exit.
std::u16string PacedSuitePath(std::u16string_view relative) {
  namespace fs = std::filesystem;
  // Never destroyed: the removal at exit runs after the statics made before it are gone.
  static const fs::path& copy = *new fs::path([] {
#ifdef _WIN32
    const fs::path stage(u"Z:" + fs::path(REGCLEAN_STAGE_DIR).u16string());
#else
    const fs::path stage(REGCLEAN_STAGE_DIR);
#endif
    fs::path to = fs::temp_directory_path() / fs::path(UniqueName(u"paced-suite-"));
    fs::copy(stage, to, fs::copy_options::recursive);
    std::ifstream in(stage / "install.cfg");
    std::string text, line;
    while (std::getline(in, line))
      if (line.rfind("ProgressFollowsWork", 0) != 0) text += line + "\n";
    std::ofstream(to / "install.cfg", std::ios::trunc) << text;
    return to;
  }());
  static const int removedAtExit = std::atexit([] {
    std::error_code ignored;
    fs::remove_all(copy, ignored);
  });
  (void)removedAtExit;
  return (copy / fs::path(std::u16string(relative))).make_preferred().u16string();
}

// Not elevated; its own file the staged module, so the IPC library and provider are beside it.
struct Machine : TestMachine {
  Machine() : TestMachine({}, kStagedModule) {
    version = platform::OsVersion{6, 2, 9200, 2, 1, false};
    elevated = false;
  }
};

class ChannelModule : public CCheckModule {
 public:
  explicit ChannelModule(Machine* machine) {
    system_ = machine;
    identifier = u"RegistryCleanerModule";
    SetExpectedDuration(0, true);
  }
  using CCheckModule::channelName, CCheckModule::identifier, CCheckModule::resultText,
      CCheckModule::ShouldDelegate;
  void DoCheck() override {
    ++localChecks;
    resultLevel = 1.0;
    resultText = u"local";
  }
  void DoResolve() override {
    ++localResolves;
    resultText = u"local";
  }
  std::atomic<int> localChecks{0}, localResolves{0};
};

// The exit code, or kStillActive for a process still running after limitMs (then ended).
uint32_t Finish(platform::ProcessHandle process, uint32_t limitMs) {
  platform::System* system = platform::System::Default();
  uint32_t code = platform::kStillActive;
  const auto start = std::chrono::steady_clock::now();
  while (system->GetExitCodeProcess(process, &code) && code == platform::kStillActive &&
         std::chrono::steady_clock::now() - start < std::chrono::milliseconds(limitMs))
    system->Sleep(20);
  if (code == platform::kStillActive) system->TerminateProcess(process, 1);
  system->CloseProcessHandle(process);
  return code;
}

// Runs the staged ServiceProvider; its exit code, or kStillActive after a minute.
uint32_t RunProvider(const std::u16string& arguments) {
  const std::u16string line = u"\"" + StagedPath(u"ServiceProvider.exe") + u"\" " + arguments;
  uint32_t error = 0;
  platform::ProcessHandle process =
      platform::System::Default()->CreateProcess(line, u"", true, false, &error);
  EXPECT_NE(process, nullptr) << error;
  return process == nullptr ? error : Finish(process, 60000);
}

std::u16string ProgressRequest() {
  ServiceMessage progress;
  progress.identifier = u"RegistryCleanerModule";
  progress.request = 5;
  return WriteServiceRequest(progress);
}

// A ServiceProvider process of the staged suite on a channel of this test.
class Delegation : public testing::Test {
 protected:
  void SetUp() override {
    platform::System* system = platform::System::Default();
    channel = UniqueName(u"regclean-test-");
    log = system->GetTempPath() + UniqueName(u"provider-") + u".log";
    const std::u16string line = u"\"" + PacedSuitePath(u"ServiceProvider.exe") + u"\" --channel " +
                                channel + u" --idle-ms 120000 --log \"" + log + u"\"";
    uint32_t error = 0;
    provider = system->CreateProcess(line, u"", true, false, &error);
    ASSERT_NE(provider, nullptr) << "cannot start the service provider, error " << error;
    // Ready once it answers.
    loader = std::make_unique<IpcLoader>(StagedPath(u"modules/common/asp_ipc32.dll"));
    ASSERT_NE(loader->GetClient(), nullptr);
    const auto start = std::chrono::steady_clock::now();
    while (!SendServiceRequest(loader->GetClient(), channel, ProgressRequest(), nullptr)) {
      uint32_t code = 0;
      ASSERT_TRUE(system->GetExitCodeProcess(provider, &code) && code == platform::kStillActive)
          << "the service provider ended with " << code << ": " << Log();
      ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << Log();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  void TearDown() override {
    if (provider != nullptr) {
      platform::System::Default()->TerminateProcess(provider, 1);
      Finish(provider, 5000);
    }
    platform::FileSystem::Default()->DeleteFile(log);
  }
  std::string Log() {
    std::string text;
    platform::ReadWholeFile(platform::FileSystem::Default(), log, &text);
    return text;
  }
  void Check(ChannelModule& module) {
    module.ExecuteCheck(channel.c_str(), static_cast<int>(channel.size()));
  }
  size_t LogCount(const std::string& what) {
    const std::string text = Log();
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  std::u16string channel, log;
  platform::ProcessHandle provider = nullptr;
  std::unique_ptr<IpcLoader> loader;
  Machine machine;
};

TEST_F(Delegation, CheckAndResolveRunInTheServiceProviderAndAStopCancels) {
  ChannelModule module(&machine);
  Host host;
  module.SetProgressCallback(&Host::Callback, &host);
  // Stop at the first real progress: the run is cancelled, nothing follows the stop.
  host.stopAt = 1.0;
  Check(module);
  std::vector<double> seen = host.Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](double p) { return p >= 1.0; }), 1);
  EXPECT_GE(seen.back(), 1.0);
  EXPECT_EQ(LogCount("cancel: stopping the run"), 1u) << Log();
  EXPECT_EQ(LogCount("check: ended (cancelled)"), 1u) << Log();
  EXPECT_FALSE(module.stopRequested());  // ready for the next run

  // The next run rises to 100; the staged module's engine is unprepared: it
  // finds nothing.
  host.stopAt = 1000.0;
  host.seen.clear();
  Check(module);
  EXPECT_EQ(module.localChecks.load(), 0);
  EXPECT_EQ(module.resultText, u"0");
  seen = host.Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100.0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 100.0), 1);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](double p) { return p > 0 && p < 100; }))
      << "no progress between 0 and 100 was relayed";
  EXPECT_EQ(LogCount("check: ended, level 0.000000"), 1u) << Log();

  // The resolve goes to the channel the check was given.
  module.ExecuteResolve();
  EXPECT_EQ(module.localResolves.load(), 0);
  EXPECT_EQ(LogCount("resolve: ended"), 1u) << Log();
}

// Idle it answers 0, a second provider on its channel ends with 1, a second check shares a run.
TEST_F(Delegation, IdleAnswerOneProviderPerChannelAndOneModule) {
  std::u16string reply;
  ASSERT_TRUE(SendServiceRequest(loader->GetClient(), channel, ProgressRequest(), &reply));
  EXPECT_EQ(reply, u"[{\"ModuleRequest\":5,\"ResultLevel\":0.000000,\"ResultText\":\"\"}]");
  EXPECT_EQ(RunProvider(u"--channel " + channel), 1u);

  ChannelModule module(&machine);
  std::thread first([&] { Check(module); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Check(module);
  first.join();
  ASSERT_EQ(module.localChecks.load(), 0);
  EXPECT_EQ(module.resultText, u"0");
  EXPECT_EQ(module.GetProgress(), 100.0);
  EXPECT_EQ(LogCount("check: started"), 2u) << Log();
  // The provider serves one module; another's request gets no answer.
  ChannelModule other(&machine);
  other.identifier = u"OtherModule";
  Check(other);
  EXPECT_EQ(other.localChecks.load(), 1);
  EXPECT_EQ(other.resultText, u"local");
  EXPECT_EQ(LogCount("refused a request for the module \"OtherModule\""), 1u) << Log();
}

// Nobody to reach: the run is local. Otherwise elevation, the channel and the host decide.
TEST(DelegationDecision, NobodyToReachRunsLocallyElevationAndChannelDecide) {
  Machine noProvider;  // no service provider runs, and none can be started
  noProvider.fakeStarts = true;
  noProvider.listProcesses = [](std::vector<platform::ProcessEntry>* out) {
    out->clear();
    return true;
  };
  ChannelModule unserved(&noProvider);
  // Not elevated and no channel name: the default channel, which is local.
  unserved.ExecuteResolve();
  unserved.ExecuteCheck(u"127.0.0.1", 9);
  EXPECT_EQ(unserved.localChecks + unserved.localResolves, 2);
  // Each time the program two folders above the module's, asked to register.
  ASSERT_EQ(noProvider.shell.size(), 2u);
  EXPECT_EQ(noProvider.shell[0].rfind(
                u"runas|" + ServiceProviderPath(kStagedModule) + u"| /register|", 0),
            0u);
  struct Row {
    bool elevated;
    const char16_t *channel, *host;
    bool delegates;
  } rows[] = {
      {true, u"", u"", false},  // elevated without a channel: local
      {false, u"", u"", true},  // the default channel
      {false, u"remote", u"C:\\Suite\\ServiceProvider.exe", false},
      {false, u"", u"C:\\Suite\\ServiceProvider.exe.bak", true},
#ifndef _WIN32
      // On POSIX the program runs without its ".exe".
      {false, u"", u"Z:\\Suite\\ServiceProvider", false},
#endif
  };
  for (const Row& row : rows) {
    Machine machine;
    machine.elevated = row.elevated;
    machine.host = *row.host ? row.host : u"C:\\Suite\\regclean.exe";
    ChannelModule module(&machine);
    module.channelName = row.channel;
    EXPECT_EQ(module.ShouldDelegate(), row.delegates)
        << row.elevated << " " << platform::U16ToUtf8(row.channel);
  }
}

TEST(ServiceProviderProgram, EndsByItselfAfterItsIdleTimeAndRefusesBadCommandLines) {
  for (const char16_t* arguments : {u"--idle-ms", u"--idle-ms 0", u"--idle-ms 12x",
                                    u"--idle-ms 99999999999", u"--bogus", u"--channel"})
    EXPECT_EQ(RunProvider(arguments), 2u) << platform::U16ToUtf8(arguments);
  const std::u16string log =
      platform::System::Default()->GetTempPath() + UniqueName(u"idle-") + u".log";
  // Started the way the module starts it, with " /register".
  EXPECT_EQ(RunProvider(u"/register --channel " + UniqueName(u"regclean-idle-") +
                        u" --idle-ms 300 --log \"" + log + u"\""),
            0u);
  std::string text;
  platform::ReadWholeFile(platform::FileSystem::Default(), log, &text);
  EXPECT_NE(text.find("serving RegistryCleanerModule on regclean-idle-"), std::string::npos)
      << text;
  EXPECT_NE(text.find("no requests for 300 ms: ending"), std::string::npos) << text;
  platform::FileSystem::Default()->DeleteFile(log);
}

}  // namespace
