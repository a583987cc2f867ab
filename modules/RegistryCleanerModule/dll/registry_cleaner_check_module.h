// The registry cleaner's module object: the framework's CCheckModule with the
// cleaner's texts and work.
#pragma once

#include <cstdint>

#include "framework/check_module.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "platform/resources.h"

class CRegistryCleanerModuleCheckModule : public CCheckModule {
 public:
  CRegistryCleanerModuleCheckModule();
  ~CRegistryCleanerModuleCheckModule() override;

  void DoCheck() override;
  void DoResolve() override;

  uint32_t engineReady() const { return engineReady_; }
  const RegCleanerEngine& engine() const { return engine_; }

 private:
  // Measurements after a run that was not aborted, from its start tick.
  void LearnDuration(uint32_t startTick);

  RegCleanerEngine engine_;
  // 0 until the engine has been prepared; then check and resolve scan.
  uint32_t engineReady_ = 0;
  // 1 while a check or resolve runs in this object.
  uint32_t busy_ = 0;
  // Holds the texts 7000-7012.
  platform::ResourceModule resourceModule_ = nullptr;
};
