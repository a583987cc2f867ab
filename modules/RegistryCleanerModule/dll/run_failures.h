// The steps of a run that could not be done safely, and why. Any of them
// makes the run's result say that it failed: the module's level is then
// kFailedLevel, its text "failed", and each cause is one sub-result with
// that level, so that a host tells a failed run from one that found nothing.
//
// A step that fails leaves its entries in place and says so here (or, where
// only a count is at hand, increments engine->runFailures itself: the result
// then names the log). Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/engine_state.h"

// The result level, and the level of each cause's sub-result, of a run that
// failed: below every level a run that was done can have.
inline constexpr double kFailedLevel = -1.0;

// Logs cause at level 11, counts it in engine->runFailures and keeps it for
// the run's result (at most 16 causes are kept; all are counted).
void ReportRunFailure(RegCleanerEngine* engine, const std::u16string& cause);

// "error <code>: <the system's text without its final period>" for
// messages; "reason unknown" for 0.
std::u16string ReasonText(uint32_t code);

// A new run: no failures, no causes.
void ResetRunFailures(RegCleanerEngine* engine);

// The causes to show for the current run: the kept ones, and a last one
// that points at the log when runFailures counts more than were kept.
// Empty when the run had no failure.
std::vector<std::u16string> RunFailureCauses(const RegCleanerEngine& engine);
