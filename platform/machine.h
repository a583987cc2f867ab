// Which Windows machine the seams present. On POSIX a Wine prefix, chosen
// before the registry is first used; on Windows the running system itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Chooses the machine. POSIX: the prefix folder (a Unix path, made absolute
// against the current folder; empty keeps $WINEPREFIX or ~/.wine), which
// also becomes this process's WINEPREFIX, so that libraries loaded later and
// programs started see the same prefix; 0, or 2 when the folder does not
// exist. Windows: 0 for an empty folder, 120 otherwise (there is no other
// machine).
uint32_t SelectMachine(std::string_view prefixDirectory);

// What the machine is, for messages: the prefix folder; empty on Windows.
std::string MachineName();

// True while another program owns the machine's registry so that writes
// fail with error 5: a wineserver running on the prefix. False on Windows.
bool MachineRegistryLocked();

// The same for any Wine prefix folder (a host path), chosen or not: true
// while a wineserver runs on it. False on Windows.
bool PrefixRegistryLocked(const std::string& prefixDirectory);

// Makes this process the one program that changes the machine's registry,
// until ReleaseMachineWriter or the process's end (also a kill: the system
// lets go of it). POSIX: an flock on ".regclean-writer.lock" in the prefix;
// Windows: a named mutex. Another holder is waited for up to waitMs.
// Returns 0 when held, 33 (lock violation) when another program held it all
// that time, else the error that kept the lock from being taken.
uint32_t HoldMachineWriter(uint32_t waitMs);
void ReleaseMachineWriter();

// True when the machine is there: on POSIX the prefix holds its system.reg
// (the HKEY_LOCAL_MACHINE hive); always on Windows.
bool MachineExists();

// Reads every hive of the machine's registry (this process's copy) and
// returns what did not read cleanly, one "file:line: message" text each; a
// hive with such a problem is read-only. Nothing is printed. Always empty on
// Windows.
std::vector<std::string> MachineRegistryProblems();

// The name under which this program reaches a path of the machine: on POSIX
// the Unix path the Windows path stands for in the prefix, on Windows the
// path itself in the ANSI code page.
std::string HostPath(std::u16string_view machinePath);

}  // namespace platform
