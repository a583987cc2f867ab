#include "modules/RegistryCleanerModule/dll/registry_cleaner_module_app.h"

#include "framework/language.h"
#include "modules/RegistryCleanerModule/dll/module_resources.h"

bool CRegistryCleanerModuleApp::InitInstance() {
  SetOwnResourceModule(OwnResourceModule());
  return true;
}

CRegistryCleanerModuleApp::~CRegistryCleanerModuleApp() { ReleaseLanguageModule(); }

CRegistryCleanerModuleApp& TheApp() {
  static CRegistryCleanerModuleApp app;
  static const bool started = app.InitInstance();
  (void)started;
  return app;
}
