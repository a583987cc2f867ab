// The module's results beyond level and text: the sub-results JSON and the
// problem totals kept in the suite's settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CRegistry;

struct SubResult;

// The sub-results as one compact JSON array: [{"SubResultLevel":2.000000,
// "SubResultText":"a"}]; "[]" for none.
std::u16string SubResultsAsJson(const std::vector<SubResult>& subResults);

// Stores the run's totals in the settings: a positive solvedCount is added
// to "<IDENTIFIER>_TotalSolvedProblems" and then zeroed; after a check, the
// leading integer of resultText replaces "<IDENTIFIER>_TotalUnsolvedProblems".
// The names use an upper-cased copy of the identifier. Failures are dropped.
void SaveTotalsToSettings(CRegistry& settings, std::u16string_view identifier,
                          int32_t& solvedCount, bool checkDone, std::u16string_view resultText);

// The leading decimal integer of a text, as the C library's wide-text
// conversion reads it: leading white space and a sign allowed, 0 without a
// number.
int32_t LeadingInteger(std::u16string_view text);
