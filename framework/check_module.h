// CCheckModule: the framework's module object. It implements every operation
// of the interface chain except the work itself (DoCheck, DoResolve), which a
// subclass supplies: texts under the string-out rules, results, the progress
// callback and the smoothed progress the host sees, and run control.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/module_interfaces.h"
#include "framework/service_channel.h"
#include "platform/registry.h"
#include "support/stopwatch.h"
#include "support/thread.h"

// One entry of the sub-results list.
struct SubResult {
  double level = 0.0;
  std::u16string text;
};

// Copies text into buffer under the string-out rules: with a buffer and a
// size, n = min(size - 1, length) units and a terminator are written and n + 1
// returned; otherwise nothing is written and length + 1 returned.
int CopyTextOut(const std::u16string& text, char16_t* buffer, int size);

class CCheckModule : public IUndoResolveModule, public ThreadParam {
 public:
  CCheckModule();
  ~CCheckModule() override;

  CCheckModule(const CCheckModule&) = delete;
  CCheckModule& operator=(const CCheckModule&) = delete;

  // IModule
  int GetTitle(char16_t* buffer, int size) override;
  int GetIdentifier(char16_t* buffer, int size) override;
  int GetDescription(char16_t* buffer, int size) override;
  int GetDescriptionHeading(char16_t* buffer, int size) override;
  unsigned int GetModuleType() override;
  // IResultModule
  double GetResultLevel() override;
  int GetResultText(char16_t* buffer, int size) override;
  // Unlike the other getters, returns the whole text's length (without the
  // terminator) after a copy.
  int GetSubResultsAsJSON(char16_t* buffer, int size) override;
  // IProgressModule
  void SetProgressCallback(ModuleProgressCallback callback, void* context) override;
  int GetProgressText(char16_t* buffer, int size) override;
  // ICheckModule
  int GetCheckBtnTitle(char16_t* buffer, int size) override;
  int GetCheckText(char16_t* buffer, int size) override;
  void ExecuteCheck(const char16_t* channel, int length) override;
  // IResolveModule
  int GetResolveBtnTitle(char16_t* buffer, int size) override;
  void ExecuteResolve() override;
  // IUndoResolveModule
  bool IsUndoAvailable() override;
  int64_t GetUndoPoint() override;
  void ExecuteUndoResolve(int64_t undoPoint) override;
  int GetUndoText(char16_t* buffer, int size) override;

  // The framework's own operations, slots 20 to 25.
  // Sets displayedProgress to 100 when finished; stopFlag = finished.
  virtual bool SetProgressFinished(bool finished);
  // displayedProgress, read under progressLock.
  virtual double GetProgress();
  // direct: only a report of 100 reaches the host. Otherwise the ticker paces
  // the display to reach 100 in max(milliseconds, 2000).
  virtual void SetExpectedDuration(unsigned int milliseconds, bool direct);
  virtual void DoCheck() = 0;
  virtual void DoResolve() = 0;
  virtual void SaveTotals();

  // The work's real progress, 0 to 100. Returns false when a stop was asked.
  // A report of 100 returns only after the host has been shown 100. Without
  // a callback, or when the installation asks for it ("ProgressFollowsWork"
  // of section "install" is 1), the display follows the work itself: each
  // new whole percent is shown at once from the work's thread, and nothing
  // waits for a climb to 100.
  bool ReportProgress(double percent);
  // Returns all progress state to zero and ends the progress thread.
  void ResetProgress();

  // Read access for the run's owner and the tests. A copy: a call arriving
  // during a run may name the channel anew.
  std::u16string channel() const;
  bool stopRequested() const { return stopFlag.load(); }
  // The machine this object runs on (a test's double); not during a run.
  void UseSystem(platform::System* system) { system_ = system; }

 protected:
  // Whether a run is first offered to the service provider: not in an
  // elevated process without a channel name, and never inside the service
  // provider itself (it would be asking itself). Tests of the local run
  // control override it.
  virtual bool ShouldDelegate();
  // Loads the IPC library beside the module's folder and gets its client on
  // first need; a failure is tried again on the next call.
  bool EnsureIpcClient();
  // Sends request code on channel (the default channel when empty) to the
  // service provider, starting a local one when needed, and waits for its
  // answer. True when it answered; resultLevel and resultText are then its.
  bool DelegateToService(ServiceRequest code, const std::u16string& channel);

  // Texts (filled by the subclass's constructor).
  std::u16string title;
  std::u16string identifier;
  std::u16string description;
  std::u16string descriptionHeading;
  std::u16string checkButtonTitle;
  std::u16string checkText;
  std::u16string resolveButtonTitle;
  std::u16string undoText;
  std::u16string progressText;
  bool undoAvailable = false;
  int64_t undoPoint = 0;
  int32_t solvedCount = 0;
  // Set by each ExecuteCheck that names one, read by the run and its relay
  // thread: under channelLock_.
  std::u16string channelName;
  mutable std::mutex channelLock_;
  // Results. A delegated run's answer is stored under resultLock_ (two
  // delegated calls may be answered together), and the getters read under it.
  double resultLevel = 0.0;
  std::u16string resultText;
  std::mutex resultLock_;
  IpcLoader* ipcLoader = nullptr;
  IpcClient* ipcClient = nullptr;
  std::vector<SubResult> subResults;
  // Progress.
  // The host's callback and its context, guarded by callbackLock (not by
  // progressLock, which is held while the callback runs): a host may change
  // them from another thread while its callback runs. A call already under
  // way may then still finish after the change.
  ModuleProgressCallback progressCallback = nullptr;
  void* progressContext = nullptr;
  std::mutex callbackLock;
  // Shows the host percent: -1 without a callback, else 1 to go on, 0 to stop.
  int CallHost(double* percent);
  double minStep = 1.0 / 15000.0;
  double maxStep = 5.0;
  double targetProgress = 0.0;
  double lastReportedProgress = 0.0;
  double displayedProgress = 0.0;
  double step = 5.0;
  uint64_t nextAdjustMs = 0;
  uint32_t lastDecayPercent = 0;
  Stopwatch runStopwatch;
  Stopwatch windowStopwatch;
  Stopwatch etaStopwatch;
  Thread* progressThread = nullptr;
  std::atomic<bool> stopFlag{false};
  std::recursive_mutex progressLock;
  uint32_t tickMs = 100;
  // The installation's choice, read at the start of each local run: the
  // display follows the work instead of pacing to the expected time.
  bool followWork = false;
  uint32_t expectedDurationMs = 2000;
  TimeSpan remainingTime{0};
  std::atomic<int32_t> localRuns{0};
  std::atomic<int32_t> delegatedRuns{0};
  bool checkDone = false;
  // The run's request has reached the channel (the relay polls only then),
  // and its answer has come (the relay shows the end and stops).
  std::atomic<bool> requestSent_{false};
  std::atomic<bool> requestAnswered_{false};
  std::mutex ipcLock_;  // creating the loader and the client

  platform::System* system_ = platform::System::Default();
  // Where SaveTotals keeps the totals.
  platform::Registry* settingsRegistry = platform::Registry::Default();

 private:
  static uint32_t ProgressTicker(void* parameter);
  static uint32_t ProgressRelay(void* parameter);
  void RelayLoop();
  // Sleeps up to milliseconds in short steps, ending early once the relay is
  // to end (a stop, or the run's answer has come).
  void RelayWait(uint32_t milliseconds);
  // A progress or cancel request for this module on the run's channel.
  bool SendRunRequest(ServiceRequest code, std::u16string* reply);
  // Check or resolve: the delegated attempt, then the local run.
  void Execute(ServiceRequest code);
  // The delegated attempt with its relay thread; true when it was answered.
  bool RunDelegated(ServiceRequest code);
  void TickerLoop();
  // ReportProgress when the display follows the work; under progressLock.
  bool FollowWork(double percent);
  // Ends and releases the progress thread, if any. Must not hold progressLock.
  void EndProgressThread();
  // The local part of a run: one at a time per object.
  void RunLocally(bool resolve);
};
