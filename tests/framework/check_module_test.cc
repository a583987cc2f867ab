#include "framework/check_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/results.h"
#include "platform/unicode.h"
#include "tests/framework/test_machine.h"
#include "tests/platform/temp_tree.h"

namespace {

// A module whose work is a script of progress reports, with a fast ticker.
class ScriptedModule : public CCheckModule {
 public:
  ScriptedModule() { tickMs = 1; }
  void DoCheck() override {
    ++checks;
    if (work) work(*this);
  }
  void DoResolve() override {}
  // The run control's local path: this module never asks a service provider.
  bool ShouldDelegate() override { return false; }

  std::function<void(ScriptedModule&)> work;
  std::atomic<int> checks{0};
  void Add(double level, std::u16string text) { subResults.push_back({level, std::move(text)}); }
};

// A module whose progress a host watches.
class CheckModuleProgress : public testing::Test {
 protected:
  void SetUp() override { module_.SetProgressCallback(&Host::Callback, &host_); }
  ScriptedModule module_;
  Host host_;
};

// A host clearing its callback from another thread while the callback waits is not deadlocked.
TEST_F(CheckModuleProgress, TheCallbackCanBeChangedWhileItRuns) {
  module_.SetExpectedDuration(2000, false);
  struct Clearing {
    ScriptedModule* module;
    std::atomic<bool> cleared{false};
    static bool MODULE_CALL Callback(void* context, double*, int, int) {
      auto* self = static_cast<Clearing*>(context);
      if (self->cleared) return true;
      std::future<void> other = std::async(std::launch::async, [self] {
        self->module->SetProgressCallback(nullptr, nullptr);
        self->cleared = true;
      });
      EXPECT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
      return true;
    }
  } host{&module_};
  module_.SetProgressCallback(&Clearing::Callback, &host);
  EXPECT_TRUE(module_.ReportProgress(100));
  EXPECT_TRUE(host.cleared.load());
}

// Work that throws gives the run back; calls arriving during a run, together or later, wait
// for it and do not run the work again.
TEST(CheckModuleRun, WorkThatThrowsGivesTheRunBackAndCallsArrivingTogetherRunItOnce) {
  ScriptedModule module;
  module.SetExpectedDuration(0, true);
  module.work = [](ScriptedModule&) { throw std::runtime_error("the work failed"); };
  EXPECT_ANY_THROW(module.ExecuteCheck(u"c", 1));
  module.work = nullptr;
  std::future<void> second = std::async(std::launch::async, [&] { module.ExecuteCheck(u"c", 1); });
  ASSERT_EQ(second.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(module.checks.load(), 2);
  std::atomic<int> entered{0};
  std::atomic<bool> done{false};
  // The work lasts until every caller is on its way in, and a while after.
  module.work = [&](ScriptedModule&) {
    while (entered < 8) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done = true;
  };
  std::atomic<bool> go{false};
  std::vector<std::thread> callers;
  for (int i = 0; i < 8; ++i)
    callers.emplace_back([&] {
      while (!go) std::this_thread::yield();
      ++entered;
      module.ExecuteCheck(u"c", 1);
      EXPECT_TRUE(done.load());
    });
  go = true;
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(module.checks.load(), 3);
}

TEST_F(CheckModuleProgress, DirectModeReportsOnlyTheFinalHundred) {
  module_.SetExpectedDuration(0, true);
  EXPECT_TRUE(module_.ReportProgress(50));
  EXPECT_TRUE(module_.ReportProgress(100));
  EXPECT_EQ(host_.Seen(), std::vector<double>{100.0});
  host_.stopAt = 100.0;  // a host that answers "stop" to the 100 is heard
  EXPECT_FALSE(module_.ReportProgress(100));
}

// The host stops at 10, which even a ticker held back reaches; the final 100 clears the stop.
TEST_F(CheckModuleProgress, HostStopReachesTheWorkAndClearsAtTheEnd) {
  host_.stopAt = 10.0;
  module_.SetExpectedDuration(2000, false);
  ASSERT_TRUE(module_.ReportProgress(0));
  bool stopped = false;
  for (int i = 0; i < 5000 && !stopped; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stopped = !module_.ReportProgress(10);
  }
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(module_.ReportProgress(20));
  EXPECT_TRUE(module_.stopRequested());
  module_.ReportProgress(100);
  EXPECT_FALSE(module_.stopRequested());
}

// A 100 waits for the display; a later 100 shows 100 once more at once: no new ticker from 0.
TEST_F(CheckModuleProgress, AHundredAfterTheDisplayGotThereReturnsAtOnce) {
  module_.SetExpectedDuration(2000, false);
  EXPECT_TRUE(module_.ReportProgress(100));
  std::vector<double> seen = host_.Seen();
  EXPECT_TRUE(module_.ReportProgress(100));
  seen.push_back(100.0);
  EXPECT_EQ(host_.Seen(), seen);
}

// Installed to follow the work: no ticker, each new whole percent at once; a stop at 80 heard.
TEST_F(CheckModuleProgress, DisplayFollowsTheWorkWhenInstalledSo) {
  TempTree tree;
  ASSERT_TRUE(tree.MakeFile(u"install.cfg", "[install]\r\nProgressFollowsWork=1\r\n"));
  TestMachine machine(tree.Path(u"host.exe"));
  module_.UseSystem(&machine);
  host_.stopAt = 80.0;
  module_.SetExpectedDuration(240000, false);
  std::vector<bool> answers;
  module_.work = [&](ScriptedModule& self) {
    for (double percent : {0.0, 37.5, 37.9, 20.0, 80.0, 90.0, 100.0})
      answers.push_back(self.ReportProgress(percent));
  };
  module_.ExecuteCheck(nullptr, 0);
  EXPECT_EQ(host_.Seen(), (std::vector<double>{37.5, 80.0, 90.0, 100.0}));
  EXPECT_EQ(answers, (std::vector<bool>{true, true, true, true, false, false, true}));
  EXPECT_FALSE(module_.stopRequested());
}

TEST(SubResultsTest, JsonTextCopiedOutAtTheBufferEdges) {
  struct Case {
    std::vector<SubResult> list;
    const char* text;
  } cases[] = {
      {{{0.5, u"x"}, {-1.25, u""}},
       R"([{"SubResultLevel":0.500000,"SubResultText":"x"},)"
       R"({"SubResultLevel":-1.250000,"SubResultText":""}])"},
      // The short escapes only; other control characters and non-ASCII text copied.
      {{{100.0, u"q\"b\\n\nt\tc\x01\u00e9"}},
       "[{\"SubResultLevel\":100.000000,\"SubResultText\":\"q\\\"b\\\\n\\nt\\tc\x01\u00e9\"}]"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::U16ToUtf8(SubResultsAsJson(c.list)), c.text);
  ScriptedModule module;
  module.Add(2.0, u"a");
  const std::u16string full = u"[{\"SubResultLevel\":2.000000,\"SubResultText\":\"a\"}]";
  const int length = static_cast<int>(full.size());
  // Without a buffer: the length with a terminator; after a copy, without it.
  EXPECT_EQ(module.GetSubResultsAsJSON(nullptr, 10), length + 1);
  char16_t buffer[64];
  for (int size : {1, length, length + 1}) {
    EXPECT_EQ(module.GetSubResultsAsJSON(buffer, size), length);
    EXPECT_EQ(std::u16string(buffer), full.substr(0, size - 1));
  }
}

}  // namespace
