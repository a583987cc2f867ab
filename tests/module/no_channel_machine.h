// A machine on which a service provider runs but the module's suite has no
// IPC library: a host-driven run offers itself to the service provider, finds
// no way to reach it and works locally, at once and without starting anything.
#pragma once

#include <vector>

#include "tests/framework/test_machine.h"

struct NoChannelMachine : TestMachine {
  NoChannelMachine() {
    module = u"C:\\no\\such\\suite\\modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";
    listProcesses = [](std::vector<platform::ProcessEntry>* out) {
      *out = {{4242, 1, u"ServiceProvider.exe"}};
      return true;
    };
  }
};
