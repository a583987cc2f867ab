// One check or resolve run of the engine: a worker thread that counts the
// registry entries once per module lifetime (to have a total for progress),
// prepares the run's backup folder when the mode backs up, runs the seven
// scanners in their fixed order, and logs the run's start, end and problem
// total; and the progress step every scanner takes per entry, which paces the
// reports to the host and turns its request to stop into AbortRequested.
#pragma once

#include <cstdint>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"
#include "platform/file_system.h"
#include "platform/system.h"

// Runs RegCleanerThread on a worker thread (4 MiB stack) and polls it every
// 100 ms. Returns its problem total; 0 when it could not start or did not end
// within about 10 s after an abort (it is then left to finish on its own and
// waited for by the next run or by DeinitEngine).
uint32_t RunEngine(RegCleanerEngine* engine,
                   platform::System* system = platform::System::Default());

// The worker's routine (argument: the engine). Returns the problem total.
uint32_t RegCleanerThread(void* engine);

// Saves the registry's changes (on a Wine prefix, each changed hive once).
// A save that fails is a failure of the run, with the hive and the reason.
bool SaveRunChanges(RegCleanerEngine* engine);

// One entry visited: counts it and, when the thousandth of the total changed
// and more than 111 ms passed since the last report, reports the progress
// to the engine's owner; a host that answers "stop" sets AbortRequested.
// Returns the entries visited in this run.
int32_t ProgressStep(RegCleanerEngine* engine,
                     platform::System* system = platform::System::Default());

// Waits for a run's worker that was left running after an abort.
void WaitForStraggler(RegCleanerEngine* engine,
                      platform::System* system = platform::System::Default());

// Clears AbortRequested, unless a worker left running after an abort still
// lives: that one must go on seeing the abort, or it would delete again.
// Returns true when the flag was cleared.
bool ClearAbortRequest(RegCleanerEngine* engine,
                       platform::System* system = platform::System::Default());

// Tests only: the scanners a run calls instead of the seven (empty: the
// seven again), and how many 100 ms polls a worker gets after an abort
// before it is left running (negative: the usual 100).
void SetRunScannersForTesting(std::vector<Scanner> scanners, int abortPolls = -1);
