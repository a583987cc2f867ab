// The library's application object: the framework's per-library start-up
// and shut-down. It holds no state of the module.
#pragma once

class CRegistryCleanerModuleApp {
 public:
  // The framework's default initialisation: the library's own resources
  // become known to the language search. Always succeeds.
  bool InitInstance();
  // Releases the framework's process-wide state (a loaded language library).
  ~CRegistryCleanerModuleApp();
};

// The one application object of the library, started on first use.
CRegistryCleanerModuleApp& TheApp();
