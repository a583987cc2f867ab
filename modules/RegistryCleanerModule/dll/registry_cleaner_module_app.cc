#include "modules/RegistryCleanerModule/dll/registry_cleaner_module_app.h"

bool CRegistryCleanerModuleApp::InitInstance() { return true; }

CRegistryCleanerModuleApp& TheApp() {
  static CRegistryCleanerModuleApp app;
  static const bool started = app.InitInstance();
  (void)started;
  return app;
}
