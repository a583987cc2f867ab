#include "platform/machine.h"
#include "platform/system_text.h"

namespace platform {

uint32_t SelectMachine(std::string_view prefixDirectory) {
  return prefixDirectory.empty() ? 0 : 120;
}

std::string MachineName() { return {}; }

bool MachineRegistryLocked() { return false; }

bool PrefixRegistryLocked(const std::string&) { return false; }

bool MachineExists() { return true; }

std::vector<std::string> MachineRegistryProblems() { return {}; }

std::string HostPath(std::u16string_view machinePath) { return U16ToAnsi(machinePath); }

}  // namespace platform
