// The registry cleaner's module object: the framework's CCheckModule with the
// cleaner's texts and work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/check_module.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "platform/resources.h"

class CRegistryCleanerModuleCheckModule : public CCheckModule {
 public:
  CRegistryCleanerModuleCheckModule();
  ~CRegistryCleanerModuleCheckModule() override;

  void DoCheck() override;
  void DoResolve() override;
  // Writes the run's counters (a run that failed stores none: its counts
  // would not be true), then saves the registry once, with the run's
  // changes: a save that fails makes the run fail.
  void SaveTotals() override;

  uint32_t engineReady() const { return engineReady_; }
  // Why the engine could not be prepared; empty when it was, or when only
  // the administrator rights were missing.
  const std::u16string& prepareFailure() const { return prepareFailure_; }
  const RegCleanerEngine& engine() const { return engine_; }

 private:
  // Measurements after a run that was not aborted, from its start tick.
  void LearnDuration(uint32_t startTick);
  // The result of a run that failed: kFailedLevel, "failed" and one
  // sub-result per cause.
  void ReportFailure(const std::vector<std::u16string>& causes);
  // After a resolve that failed: what it removed may not have lasted, so
  // nothing is counted as cleaned and the ignore list forgets its entries.
  void ForgetResolve();

  RegCleanerEngine engine_;
  // 0 until the engine has been prepared; then check and resolve scan.
  uint32_t engineReady_ = 0;
  std::u16string prepareFailure_;
  // 1 while a check or resolve runs in this object.
  uint32_t busy_ = 0;
  // The ignore list's length before the current resolve; -1 outside one.
  int32_t ignoresBeforeResolve_ = -1;
  // Holds the texts 7000-7012.
  platform::ResourceModule resourceModule_ = nullptr;
};
