// The library's application object: the framework's per-library start-up.
// It holds no state of the module.
#pragma once

class CRegistryCleanerModuleApp {
 public:
  // The framework's default initialisation; always succeeds.
  bool InitInstance();
};

// The one application object of the library.
CRegistryCleanerModuleApp& TheApp();
