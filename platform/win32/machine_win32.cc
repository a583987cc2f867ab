#include "platform/machine.h"

namespace platform {

uint32_t SelectMachine(std::string_view prefixDirectory) {
  return prefixDirectory.empty() ? 0 : 120;
}

std::string MachineName() { return {}; }

bool MachineRegistryLocked() { return false; }

}  // namespace platform
