#include "modules/RegistryCleanerModule/dll/registry_cleaner_check_module.h"

#include "framework/language.h"
#include "modules/RegistryCleanerModule/dll/resource_text.h"
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
  // The engine is prepared here once the scan engine exists; until then it
  // stays unprepared and every run reports at once without scanning.
  engineReady_ = 0;
}

CRegistryCleanerModuleCheckModule::~CRegistryCleanerModuleCheckModule() { engineReady_ = 0; }

void CRegistryCleanerModuleCheckModule::DoCheck() {
  if (engineReady_ == 0) {
    resultLevel = 0.0;
    ReportProgress(100.0);
    resultText = LoadResourceText(resourceModule_, kIdsNothingFound);
    return;
  }
}

void CRegistryCleanerModuleCheckModule::DoResolve() {
  if (engineReady_ == 0) {
    resultLevel = 0.0;
    solvedCount = 0;
    ReportProgress(100.0);
    resultText = LoadResourceText(resourceModule_, kIdsCanceled);
    return;
  }
}
