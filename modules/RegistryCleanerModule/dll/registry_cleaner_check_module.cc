#include "modules/RegistryCleanerModule/dll/registry_cleaner_check_module.h"

#include <algorithm>
#include <cmath>

#include "framework/language.h"
#include "framework/restore_point.h"
#include "modules/RegistryCleanerModule/dll/engine_lifecycle.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/resource_text.h"
#include "modules/RegistryCleanerModule/dll/run_failures.h"
#include "modules/RegistryCleanerModule/dll/scan_driver.h"
#include "modules/RegistryCleanerModule/dll/string_ids.h"

CRegistryCleanerModuleCheckModule::CRegistryCleanerModuleCheckModule() {
  busy_ = 0;
  solvedCount = 0;
  resourceModule_ = GetLanguageResourceModule();
  title = LoadResourceText(resourceModule_, kIdsTitle);
  identifier = u"RegistryCleanerModule";
  description = LoadResourceText(resourceModule_, kIdsDescription);
  descriptionHeading = LoadResourceText(resourceModule_, kIdsDescriptionHeading);
  checkButtonTitle = LoadResourceText(resourceModule_, kIdsCheckButton);
  resolveButtonTitle = LoadResourceText(resourceModule_, kIdsResolveButton);
  // engine_ starts zero-filled by its member initialisers.
  engine_.owner = this;
  engine_.resourceModule = resourceModule_;
  engineReady_ = InitEngine(&engine_, platform::FileSystem::Default(), platform::System::Default(),
                            &prepareFailure_);
}

CRegistryCleanerModuleCheckModule::~CRegistryCleanerModuleCheckModule() {
  if (engineReady_ != 0) {
    WaitForStraggler(&engine_);
    DeinitEngine(&engine_);
    engineReady_ = 0;
  }
}

void CRegistryCleanerModuleCheckModule::LearnDuration(uint32_t startTick) {
  const uint32_t elapsed = platform::System::Default()->GetTickCount() - startTick;
  UpdateMeasurement(&engine_, static_cast<int32_t>(elapsed));
}

void CRegistryCleanerModuleCheckModule::ReportFailure(const std::vector<std::u16string>& causes) {
  resultLevel = kFailedLevel;
  resultText = LoadResourceText(resourceModule_, kIdsFailed);
  subResults.clear();
  for (const std::u16string& cause : causes) subResults.push_back(SubResult{kFailedLevel, cause});
}

void CRegistryCleanerModuleCheckModule::ForgetResolve() {
  // Forgetting an entry that did go costs nothing: a later check does not
  // find it again.
  solvedCount = 0;
  if (ignoresBeforeResolve_ < 0 || !engine_.ignoreList) return;
  for (int32_t i = engine_.ignoreList->Count() - 1; i >= ignoresBeforeResolve_; --i)
    engine_.ignoreList->Remove(i);
}

void CRegistryCleanerModuleCheckModule::SaveTotals() {
  if (resultLevel == kFailedLevel) {
    solvedCount = 0;
  } else {
    CCheckModule::SaveTotals();
  }
  // One save for the run's changes and its counters. A worker still running
  // after an abort saves again at its end.
  if (engineReady_ != 0 && !SaveRunChanges(&engine_) && engine_.straggler == nullptr) {
    ForgetResolve();
    ReportFailure(RunFailureCauses(engine_));
  }
  if (settingsRegistry != EngineRegistry()) settingsRegistry->Flush();
  if (MyLogfile* log = EngineLog()) log->Flush();
  ignoresBeforeResolve_ = -1;
}

void CRegistryCleanerModuleCheckModule::DoCheck() {
  if (engineReady_ == 0) {
    // Without its folders the module cannot say what it would have found.
    if (!prepareFailure_.empty()) {
      ReportFailure({prepareFailure_});
    } else {
      resultLevel = 0.0;
      resultText = LoadResourceText(resourceModule_, kIdsNothingFound);
    }
    ReportProgress(100.0);
    return;
  }
  if (busy_ != 0) return;
  ClearAbortRequest(&engine_);
  resultText.clear();
  subResults.clear();
  busy_ = 1;
  const uint32_t startTick = platform::System::Default()->GetTickCount();
  SetExpectedDuration(ExpectedCheckDuration(engine_), false);
  ReportProgress(0.0);

  engine_.mode = Scan;
  engine_.saveAtRunEnd = false;  // saved with the counters
  const auto problems = static_cast<int32_t>(RunEngine(&engine_));
  if (engine_.runFailures != 0) {
    ReportFailure(RunFailureCauses(engine_));
  } else if (AbortRequested != 0) {
    resultText = LoadResourceText(resourceModule_, kIdsCanceled);
    resultLevel = 0.0;
  } else {
    if (problems > 0) {
      resultLevel = std::min(100.0, 3.0 * std::sqrt(static_cast<double>(problems)));
      resultText = LoadResourceText(resourceModule_, kIdsProblemCount, {FormatCount(problems)});
    } else {
      resultLevel = 0.0;
      resultText = LoadResourceText(resourceModule_, kIdsNothingFound);
    }
    LearnDuration(startTick);
  }
  ReportProgress(100.0);
  busy_ = 0;
}

void CRegistryCleanerModuleCheckModule::DoResolve() {
  if (AbortRequested != 0 || engineReady_ == 0) {
    resultLevel = 0.0;
    solvedCount = 0;
    resultText = LoadResourceText(resourceModule_, kIdsCanceled);
    // A module without its folders refuses, and says why.
    if (engineReady_ == 0 && !prepareFailure_.empty()) ReportFailure({prepareFailure_});
    ReportProgress(100.0);
    return;
  }
  if (busy_ != 0) return;
  resultText.clear();
  subResults.clear();
  busy_ = 1;
  const uint32_t startTick = platform::System::Default()->GetTickCount();
  SetExpectedDuration(ExpectedResolveDuration(engine_), false);
  ReportProgress(0.0);

  const std::u16string restoreDescription =
      engine_.hostVersion.productName + u": " + title + u" (" + resolveButtonTitle + u")";
  int64_t sequence = 0;
  const bool restorePointBegun = BeginRestorePoint(restoreDescription, &sequence);

  engine_.mode = BackupAndClean;
  // The ignore list's entries from here on are this run's.
  ignoresBeforeResolve_ = engine_.ignoreList ? engine_.ignoreList->Count() : 0;
  engine_.saveAtRunEnd = false;  // saved with the counters
  solvedCount = static_cast<int32_t>(RunEngine(&engine_));
  resultLevel = 0.0;
  if (engine_.runFailures != 0 && engine_.straggler == nullptr) {
    // A step that failed may have left removals that should not count (a
    // backup that did not reach the disk keeps its entry): the ignore list
    // forgets the run's entries, so that a later check reports them again
    // rather than hiding them.
    ForgetResolve();
    ReportFailure(RunFailureCauses(engine_));
  } else if (AbortRequested != 0) {
    resultText = LoadResourceText(resourceModule_, kIdsCanceled);
  } else {
    resultText = LoadResourceText(resourceModule_, kIdsNothingFound);
    LearnDuration(startTick);
  }
  if (restorePointBegun && sequence > 0) EndRestorePoint(sequence);
  ReportProgress(100.0);
  busy_ = 0;
  ClearAbortRequest(&engine_);
}
