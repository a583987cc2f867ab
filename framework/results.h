// The module's results beyond level and text: the sub-results JSON and the
// problem totals kept in the suite's settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SubResult;

// The sub-results as one compact JSON array: [{"SubResultLevel":2.000000,
// "SubResultText":"a"}]; "[]" for none.
std::u16string SubResultsAsJson(const std::vector<SubResult>& subResults);

// Stores the run's totals in the module's settings under the upper-cased
// identifier. The settings store arrives with the system services; until then
// nothing is stored.
void SaveTotalsToSettings(std::u16string& identifier, int32_t& solvedCount, bool checkDone,
                          const std::u16string& resultText);
