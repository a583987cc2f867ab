// Which Windows machine the seams present. On POSIX a Wine prefix, chosen
// before the registry is first used; on Windows the running system itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Chooses the machine. POSIX: the prefix folder (a Unix path; empty keeps
// $WINEPREFIX or ~/.wine); 0, or 2 when the folder does not exist. Windows:
// 0 for an empty folder, 120 otherwise (there is no other machine).
uint32_t SelectMachine(std::string_view prefixDirectory);

// What the machine is, for messages: the prefix folder; empty on Windows.
std::string MachineName();

// True while another program owns the machine's registry so that writes
// fail with error 5: a wineserver running on the prefix. False on Windows.
bool MachineRegistryLocked();

}  // namespace platform
