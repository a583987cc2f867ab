// A machine on which a service provider runs but the module's suite has no
// IPC library: a host-driven run offers itself to the service provider, finds
// no way to reach it and works locally, at once and without starting anything.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

class NoChannelMachine : public platform::SystemWrapper {
 public:
  NoChannelMachine() : SystemWrapper(platform::System::Default()) {}
  std::u16string GetModuleFileName(const void*) override {
    return u"C:\\no\\such\\suite\\modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";
  }
  bool ListProcesses(std::vector<platform::ProcessEntry>* out) override {
    *out = {{4242, 1, u"ServiceProvider.exe"}};
    return true;
  }
};
