// System restore points around a resolve, and the system restore program
// for an undo. Where the machine has no restore points (a Wine prefix), a
// begin answers false at once and the resolve goes on without one.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/system.h"

// Begins a nested system change named description (cut to 255 units) and
// stores its sequence number. False without an out parameter, when the
// volume shadow copy service cannot be started, or when the restore point
// cannot be made. On Windows 8 and later the restore settings are first set
// so that a point is made every time and without snapshots of every volume.
bool BeginRestorePoint(std::u16string_view description, int64_t* sequenceNumber,
                       platform::System* system = platform::System::Default(),
                       platform::Registry* registry = platform::Registry::Default());

// Ends the nested system change begun for a resolve.
bool EndRestorePoint(int64_t sequenceNumber,
                     platform::System* system = platform::System::Default());

// The system restore program: the first of the system folder's rstrui.exe;
// on a 64-bit system the same path in upper case through SYSNATIVE; the
// 32-bit system folder's; the system folder's "restore" sub-folder's; and
// the 32-bit system folder's "restore" sub-folder's, taken untested.
std::u16string RestoreUiPath(platform::System* system = platform::System::Default(),
                             platform::FileSystem* fs = platform::FileSystem::Default());

// Runs the system restore program and returns when it and any program it
// started have ended.
void LaunchRestoreUi(platform::System* system = platform::System::Default(),
                     platform::FileSystem* fs = platform::FileSystem::Default());
