// Ids of the module's string table (language/*.strings).
#pragma once

#include <cstdint>

constexpr uint32_t kIdsTitle = 7000;
constexpr uint32_t kIdsDescription = 7001;
constexpr uint32_t kIdsCheckButton = 7002;
constexpr uint32_t kIdsResolveButton = 7003;
constexpr uint32_t kIdsProblemsFound = 7004;
constexpr uint32_t kIdsNothingFound = 7005;  // "0"
constexpr uint32_t kIdsProblemCount = 7006;  // the count itself
constexpr uint32_t kIdsProblemsFixed = 7007;
constexpr uint32_t kIdsCanceled = 7008;  // "canceled"
constexpr uint32_t kIdsRestoreDescription = 7009;
constexpr uint32_t kIdsRestoreName = 7010;    // "Restore Function"
constexpr uint32_t kIdsRestorePrompt = 7011;  // "Start restore function?"
constexpr uint32_t kIdsDescriptionHeading = 7012;
constexpr uint32_t kIdsFailed = 7013;  // "failed": a step could not be done safely
