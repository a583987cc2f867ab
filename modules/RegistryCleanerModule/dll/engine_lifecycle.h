// Preparing the engine when the module object is made and tearing it down
// when it goes: rights, the content folder with its backups and log, the run
// measurements, the version lines and the three lists; and the lockout mutex
// that marks the engine's activity machine-wide.
#pragma once

#include <cstdint>
#include <string>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "platform/file_system.h"
#include "platform/system.h"

// True when the process may clean: its token is a member of the built-in
// Administrators and, from NT 5 on, not the limited half of a split token.
bool IsElevatedAdmin(platform::System* system = platform::System::Default());

// Takes the machine-wide "Global\RegCleanerDll Multiple Instance Lockout":
// when another holder exists it only pauses 100 ms, then creates (or opens)
// the mutex and keeps the handle in engine->lockoutMutex.
void TakeLockoutMutex(RegCleanerEngine* engine,
                      platform::System* system = platform::System::Default());
// Closes the handle taken above (nothing when there is none).
void ReleaseLockoutMutex(RegCleanerEngine* engine,
                         platform::System* system = platform::System::Default());

// Prepares engine. Returns 1 when check and resolve may scan, 0 when they
// must report at once: without administrator rights, or when the content
// folder (with its Backups and Log folders) or the log file cannot be made;
// failure (may be null) then receives what could not be made and why.
uint32_t InitEngine(RegCleanerEngine* engine,
                    platform::FileSystem* fs = platform::FileSystem::Default(),
                    platform::System* system = platform::System::Default(),
                    std::u16string* failure = nullptr);
// Saves the ignore list and the measurements, closes the log and frees what
// InitEngine made. Does nothing without administrator rights.
void DeinitEngine(RegCleanerEngine* engine,
                  platform::FileSystem* fs = platform::FileSystem::Default(),
                  platform::System* system = platform::System::Default());

// The time a run is expected to take, in ms, from what earlier runs took: 4
// minutes without a measurement; the slow first-run time, or for a check
// later in the boot session the fast time (a quarter of the slow one while
// the fast one is unknown). A resolve always expects a later-run time.
uint32_t ExpectedCheckDuration(const RegCleanerEngine& engine);
uint32_t ExpectedResolveDuration(const RegCleanerEngine& engine);

// Learns from a run that took elapsedMs and was not aborted: each time keeps
// its maximum, but a run more than 20 % faster than the stored time replaces
// it (the first run of a boot session for the slow time, the second for the
// fast one). Counts the run.
void UpdateMeasurement(RegCleanerEngine* engine, int32_t elapsedMs);
