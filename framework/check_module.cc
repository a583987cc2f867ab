#include "framework/check_module.h"

#include <algorithm>
#include <cmath>

#include "framework/install_config.h"
#include "framework/registry_settings.h"
#include "framework/restore_point.h"
#include "framework/results.h"
#include "framework/system_services.h"

int CopyTextOut(const std::u16string& text, char16_t* buffer, int size) {
  const int length = static_cast<int>(text.size());
  if (buffer == nullptr || size == 0) return length + 1;
  const int n = std::min(size - 1, length);
  std::copy(text.data(), text.data() + n, buffer);
  buffer[n] = 0;
  return n + 1;
}

CCheckModule::CCheckModule() = default;

CCheckModule::~CCheckModule() {
  ResetProgress();
  // The client is destroyed through the library before it is unloaded.
  ipcClient = nullptr;
  delete ipcLoader;
  ipcLoader = nullptr;
}

int CCheckModule::GetTitle(char16_t* buffer, int size) { return CopyTextOut(title, buffer, size); }
int CCheckModule::GetIdentifier(char16_t* buffer, int size) {
  return CopyTextOut(identifier, buffer, size);
}
int CCheckModule::GetDescription(char16_t* buffer, int size) {
  return CopyTextOut(description, buffer, size);
}
int CCheckModule::GetDescriptionHeading(char16_t* buffer, int size) {
  return CopyTextOut(descriptionHeading, buffer, size);
}
unsigned int CCheckModule::GetModuleType() { return MODULE_TYPE_REGISTRY_CLEANER; }

double CCheckModule::GetResultLevel() {
  std::lock_guard<std::mutex> lock(resultLock_);
  return resultLevel;
}
int CCheckModule::GetResultText(char16_t* buffer, int size) {
  std::lock_guard<std::mutex> lock(resultLock_);
  return CopyTextOut(resultText, buffer, size);
}
int CCheckModule::GetSubResultsAsJSON(char16_t* buffer, int size) {
  const std::u16string text = SubResultsAsJson(subResults);
  const int length = static_cast<int>(text.size());
  if (buffer == nullptr || size == 0) return length + 1;
  const int n = std::min(size - 1, length);
  std::copy(text.data(), text.data() + n, buffer);
  buffer[n] = 0;
  return length;
}

void CCheckModule::SetProgressCallback(ModuleProgressCallback callback, void* context) {
  std::lock_guard<std::mutex> lock(callbackLock);
  progressCallback = callback;
  progressContext = callback != nullptr ? context : nullptr;
}

int CCheckModule::CallHost(double* percent) {
  ModuleProgressCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> lock(callbackLock);
    callback = progressCallback;
    context = progressContext;
  }
  if (callback == nullptr) return -1;
  return callback(context, percent, 0, 0) ? 1 : 0;
}
int CCheckModule::GetProgressText(char16_t* buffer, int size) {
  return CopyTextOut(progressText, buffer, size);
}

int CCheckModule::GetCheckBtnTitle(char16_t* buffer, int size) {
  return CopyTextOut(checkButtonTitle, buffer, size);
}
int CCheckModule::GetCheckText(char16_t* buffer, int size) {
  return CopyTextOut(checkText, buffer, size);
}

std::u16string CCheckModule::channel() const {
  std::lock_guard<std::mutex> lock(channelLock_);
  return channelName;
}

void CCheckModule::ExecuteCheck(const char16_t* channel, int length) {
  if (channel != nullptr && length > 0) {
    // The first length units, ending early at a terminator among them.
    int n = 0;
    while (n < length && channel[n] != 0) ++n;
    std::lock_guard<std::mutex> lock(channelLock_);
    channelName.assign(channel, static_cast<size_t>(n));
  }
  Execute(ServiceRequest::Check);
}

int CCheckModule::GetResolveBtnTitle(char16_t* buffer, int size) {
  return CopyTextOut(resolveButtonTitle, buffer, size);
}

void CCheckModule::ExecuteResolve() { Execute(ServiceRequest::Resolve); }

void CCheckModule::Execute(ServiceRequest code) {
  if (ShouldDelegate() && RunDelegated(code)) return;
  RunLocally(code == ServiceRequest::Resolve);
}

bool CCheckModule::ShouldDelegate() {
  const std::u16string host = GetHostFilePath(system_);
  const size_t slash = host.find_last_of(u"\\/");
  const std::u16string_view program =
      std::u16string_view(host).substr(slash == std::u16string::npos ? 0 : slash + 1);
  if (platform::SameProgramName(program, kServiceProviderProgram)) return false;
  return !(IsProcessElevated(system_) && channel().empty());
}

bool CCheckModule::RunDelegated(ServiceRequest code) {
  // The relay belongs to the call that started it; a second call during a
  // delegated run shares the running one.
  Thread* relay = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    if (progressThread == nullptr) {
      relay = new (std::nothrow)
          Thread(&CCheckModule::ProgressRelay, static_cast<ThreadParam*>(this), system_);
      if (relay != nullptr) {
        progressThread = relay;
        targetProgress = displayedProgress = 0.0;
        SetProgressFinished(false);
        requestSent_ = false;
        requestAnswered_ = false;
      }
    }
  }
  if (relay != nullptr) {
    relay->Start();
    system_->Sleep(1);
  }
  ++delegatedRuns;
  const bool answered = DelegateToService(code, channel());
  if (!answered) --delegatedRuns;
  if (relay != nullptr) {
    // On an answer the relay shows the end (unless the service provider's
    // 100 has been shown already) and stops; without a callback it just
    // stops. Without an answer it stops at once.
    if (answered)
      requestAnswered_ = true;
    else
      stopFlag = true;
  }
  if (relay != nullptr) {
    EndProgressThread();
    // A stop that ended the relay (a failed poll, a cancel) has done its job.
    stopFlag = false;
  }
  if (answered) --delegatedRuns;
  return answered;
}

bool CCheckModule::EnsureIpcClient() {
  // Not progressLock: the relay holds that through its waits. The relay reads
  // ipcClient only after requestSent_, which is set after this.
  std::lock_guard<std::mutex> lock(ipcLock_);
  if (ipcLoader == nullptr)
    ipcLoader = new (std::nothrow) IpcLoader(IpcLibraryPath(GetModuleFilePath(system_)));
  if (ipcLoader != nullptr && ipcClient == nullptr) ipcClient = ipcLoader->GetClient();
  return ipcClient != nullptr;
}

bool CCheckModule::DelegateToService(ServiceRequest code, const std::u16string& channel) {
  const std::u16string name = ServiceChannelName(channel);
  if (IsLocalServiceChannel(name) &&
      !EnsureServiceProvider(true, GetModuleFilePath(system_), system_))
    return false;
  if (!EnsureIpcClient()) return false;
  ServiceMessage request;
  request.identifier = identifier;
  request.request = static_cast<int32_t>(code);
  requestSent_ = true;
  std::u16string replyText;
  if (!SendServiceRequest(ipcClient, name, WriteServiceRequest(request), &replyText)) return false;
  // A reply that cannot be read still ends the run: level 0, no text.
  const ServiceMessage reply = ReadServiceReply(replyText);
  std::lock_guard<std::mutex> lock(resultLock_);
  resultLevel = reply.level;
  resultText = reply.text;
  return true;
}

bool CCheckModule::SendRunRequest(ServiceRequest code, std::u16string* reply) {
  ServiceMessage request;
  request.identifier = identifier;
  request.request = static_cast<int32_t>(code);
  return SendServiceRequest(ipcClient, ServiceChannelName(channel()), WriteServiceRequest(request),
                            reply);
}

uint32_t CCheckModule::ProgressRelay(void* parameter) {
  auto* module = dynamic_cast<CCheckModule*>(static_cast<ThreadParam*>(parameter));
  if (module != nullptr) module->RelayLoop();
  return 0;
}

void CCheckModule::RelayWait(uint32_t milliseconds) {
  constexpr uint32_t kSlice = 25;
  for (uint32_t waited = 0; waited < milliseconds && !stopFlag && !requestAnswered_;
       waited += kSlice)
    system_->Sleep(std::min(kSlice, milliseconds - waited));
}

void CCheckModule::RelayLoop() {
  // stopFlag was cleared by whoever started this thread; clearing it here
  // could undo a stop that came before the thread ran.
  for (;;) {
    if (stopFlag) return;
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    if (displayedProgress >= 100.0) return;
    if (requestAnswered_) {
      // The run is over: the host sees its end once.
      displayedProgress = targetProgress = 100.0;
      CallHost(&displayedProgress);
      return;
    }
    if (delegatedRuns.load() == 0 || !requestSent_) {
      // No request outstanding yet.
      RelayWait(250);
      continue;
    }
    // The first poll comes half a second after the request, so that it does
    // not overtake it and read the end of the service provider's last run.
    RelayWait(500);
    if (stopFlag || requestAnswered_) continue;
    bool haveCallback;
    {
      std::lock_guard<std::mutex> guard(callbackLock);
      haveCallback = progressCallback != nullptr;
    }
    if (!haveCallback || ipcClient == nullptr) continue;
    std::u16string reply;
    if (!SendRunRequest(ServiceRequest::Progress, &reply)) {
      SetProgressFinished(true);
      targetProgress = 100.0;
      continue;
    }
    displayedProgress = ReadServiceReply(reply).level;
    if (CallHost(&displayedProgress) == 0) {
      SendRunRequest(ServiceRequest::Cancel, nullptr);
      SetProgressFinished(true);
      targetProgress = 100.0;
    }
  }
}

void CCheckModule::RunLocally(bool resolve) {
  // Testing and taking the run is one step: two calls arriving together (two
  // requests served at once) must not both start the work.
  int32_t idle = 0;
  if (!localRuns.compare_exchange_strong(idle, 1)) {
    // Another local run is in progress: its results are the ones to see.
    while (localRuns.load() != 0) system_->Sleep(500);
    return;
  }
  // The run is given back however the work ends, also when it throws.
  struct Release {
    std::atomic<int32_t>& runs;
    ~Release() { --runs; }
  } release{localRuns};
  followWork = ReadInstallConfig(u"install", u"ProgressFollowsWork", u"0", false, system_) == u"1";
  if (resolve) {
    solvedCount = 0;
    DoResolve();
  } else {
    DoCheck();
    checkDone = true;
  }
  SaveTotals();
}

bool CCheckModule::IsUndoAvailable() { return undoAvailable; }
int64_t CCheckModule::GetUndoPoint() { return undoPoint; }
void CCheckModule::ExecuteUndoResolve(int64_t point) {
  if (point <= 0) return;
  // The point itself is not passed on: the restore program lets the user choose.
  LaunchRestoreUi(system_);
}
int CCheckModule::GetUndoText(char16_t* buffer, int size) {
  return CopyTextOut(undoText, buffer, size);
}

bool CCheckModule::SetProgressFinished(bool finished) {
  if (finished) displayedProgress = 100.0;
  stopFlag = finished;
  return finished;
}

double CCheckModule::GetProgress() {
  std::lock_guard<std::recursive_mutex> lock(progressLock);
  return displayedProgress;
}

void CCheckModule::SetExpectedDuration(unsigned int milliseconds, bool direct) {
  std::lock_guard<std::recursive_mutex> lock(progressLock);
  if (direct) {
    step = 0.0;
    return;
  }
  expectedDurationMs = std::max(milliseconds, 2000u);
  step = 100.0 / (static_cast<double>(expectedDurationMs) / tickMs);
}

void CCheckModule::SaveTotals() {
  // The value names take an upper-cased copy of the identifier: the
  // identifier itself keeps its mixed case, which the host and the service
  // messages see.
  CRegistrySettings settings(settingsRegistry, system_);
  SaveTotalsToSettings(settings, identifier, solvedCount, checkDone, resultText);
}

void CCheckModule::EndProgressThread() {
  Thread* thread = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    thread = progressThread;
    progressThread = nullptr;
  }
  if (thread == nullptr) return;
  try {
    thread->Join();
  } catch (...) {
    // A failed ticker has nothing left to report.
  }
  delete thread;
}

void CCheckModule::ResetProgress() {
  {
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    lastReportedProgress = displayedProgress = targetProgress = 0.0;
    lastDecayPercent = 0;
    nextAdjustMs = 0;
    remainingTime = TimeSpan(0);
    for (Stopwatch* watch : {&runStopwatch, &windowStopwatch, &etaStopwatch}) {
      watch->Stop();
      watch->Restart();
    }
  }
  stopFlag = true;
  EndProgressThread();
  stopFlag = false;
}

bool CCheckModule::FollowWork(double percent) {
  if (percent < targetProgress) return !stopFlag;
  targetProgress = displayedProgress = std::clamp(percent, 0.0, 100.0);
  if (displayedProgress >= 100.0 ||
      std::ceil(displayedProgress) != std::ceil(lastReportedProgress)) {
    double value = displayedProgress;
    if (const int answer = CallHost(&value); answer >= 0) stopFlag = answer == 0;
    lastReportedProgress = displayedProgress;
  }
  if (displayedProgress < 100.0) return !stopFlag;
  // The final report clears a stop, as the end of a paced display does.
  stopFlag = false;
  return true;
}

bool CCheckModule::ReportProgress(double percent) {
  bool direct;
  {
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    direct = step == 0.0;
    // Nobody watches, or the installation wants the real pace: no ticker.
    // A ticker already running (a callback removed during the run) ends as
    // it would.
    if (!direct && progressThread == nullptr) {
      bool watched;
      {
        std::lock_guard<std::mutex> guard(callbackLock);
        watched = progressCallback != nullptr;
      }
      if (followWork || !watched) {
        if (percent == 0.0) {
          lastReportedProgress = displayedProgress = targetProgress = 0.0;
          stopFlag = false;
        }
        return FollowWork(percent);
      }
    }
    // Direct mode: only the final 100 reaches the host, on this thread.
    if (direct && percent == 100.0) {
      double value = percent;
      if (const int answer = CallHost(&value); answer >= 0) stopFlag = answer == 0;
      targetProgress = 100.0;
    }
  }
  if (!direct) {
    bool haveThread;
    {
      std::lock_guard<std::recursive_mutex> lock(progressLock);
      haveThread = progressThread != nullptr;
    }
    if (percent == 0.0 && !haveThread) ResetProgress();
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    if (percent < targetProgress) return !stopFlag;
    // The display is at 100 already and no ticker runs: the host is shown
    // 100 once more, and nothing crawls up from 0 again.
    if (percent >= 100.0 && displayedProgress >= 100.0 && progressThread == nullptr) {
      targetProgress = 100.0;
      double value = 100.0;
      if (const int answer = CallHost(&value); answer >= 0) stopFlag = answer == 0;
      return !stopFlag;
    }
    if (progressThread == nullptr) {
      progressThread =
          new Thread(&CCheckModule::ProgressTicker, static_cast<ThreadParam*>(this), system_);
      progressThread->Start();
    }
    targetProgress = std::clamp(percent, 0.0, 100.0);
  }

  bool waitForTicker;
  {
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    waitForTicker = targetProgress == 100.0 && progressThread != nullptr;
  }
  if (waitForTicker) {
    // The ticker ends once the display has caught up with 100, or on a stop.
    // The lock is not held while waiting, so its cycles can finish.
    for (;;) {
      bool running;
      {
        std::lock_guard<std::recursive_mutex> lock(progressLock);
        running = progressThread != nullptr && progressThread->IsRunning();
      }
      if (!running) break;
      system_->Sleep(100);
    }
    EndProgressThread();
    SetProgressFinished(false);
  }
  return !stopFlag;
}

uint32_t CCheckModule::ProgressTicker(void* parameter) {
  auto* module = dynamic_cast<CCheckModule*>(static_cast<ThreadParam*>(parameter));
  if (module == nullptr || module->stopFlag) return 0;
  module->TickerLoop();
  return 0;
}

void CCheckModule::TickerLoop() {
  {
    std::lock_guard<std::recursive_mutex> lock(progressLock);
    runStopwatch = Stopwatch::StartNew(system_);
    windowStopwatch = Stopwatch::StartNew(system_);
    etaStopwatch = Stopwatch::StartNew(system_);
    displayedProgress = 0.0;
    // The step's pacing restarts with the ticker's own clock.
    nextAdjustMs = 0;
    lastDecayPercent = 0;
  }
  bool report = false;
  for (;;) {
    if (stopFlag) return;
    {
      std::lock_guard<std::recursive_mutex> lock(progressLock);
      if (displayedProgress >= 100.0) return;
      const uint64_t t = runStopwatch.ElapsedMilliseconds();

      // A new estimate of the time left every two seconds.
      if (windowStopwatch.ElapsedMilliseconds() > 2000 && displayedProgress > 0) {
        windowStopwatch.Restart();
        const double e = static_cast<double>(etaStopwatch.ElapsedMilliseconds());
        remainingTime = TimeSpan(static_cast<int64_t>(e * 100.0 / displayedProgress - e));
        report = true;
      }
      // Pace the display towards the work's real progress.
      if (targetProgress > 0 && t > nextAdjustMs) {
        if (targetProgress >= 100.0) {
          step = std::max(step, 0.2) * 1.5;
        } else if (displayedProgress > targetProgress) {
          step = step / ((displayedProgress - targetProgress) * (600.0 / expectedDurationMs) + 1);
        } else {
          step = step * ((targetProgress - displayedProgress) * (300.0 / expectedDurationMs) + 1);
        }
        nextAdjustMs = t + 500;
      }
      // Without real progress the display slows by 1 % per whole percent.
      if (targetProgress <= 0) {
        const double whole = std::ceil(displayedProgress);
        if (whole > lastDecayPercent) {
          if (displayedProgress > 1.0) step *= 0.99;
          lastDecayPercent = static_cast<uint32_t>(whole);
        }
      }
      step = std::min(std::max(step, minStep), maxStep);
      // The display never passes 95 before the work has reported 95.
      const double next = displayedProgress + step;
      if (next < 95.0 || targetProgress >= 95.0) displayedProgress = std::min(next, 100.0);

      // The host is shown each new whole percent, each new estimate, and the
      // final 100 even when the last value shown already rounded up to it.
      const bool reachedEnd = displayedProgress >= 100.0 && lastReportedProgress < 100.0;
      if (report || reachedEnd || std::ceil(lastReportedProgress) != std::ceil(displayedProgress)) {
        if (const int answer = CallHost(&displayedProgress); answer >= 0) {
          stopFlag = answer == 0;
          if (stopFlag) targetProgress = 100.0;
        }
        report = false;
        lastReportedProgress = displayedProgress;
      }
    }
    system_->Sleep(tickMs);
  }
}
