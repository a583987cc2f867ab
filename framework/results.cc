#include "framework/results.h"

#include "framework/check_module.h"
#include "framework/registry_settings.h"
#include "platform/unicode.h"
#include "support/json_value.h"

std::u16string SubResultsAsJson(const std::vector<SubResult>& subResults) {
  JsonValue value(JsonKind::Array);
  JsonArray& list = *value.array();
  list.reserve(subResults.size());
  for (const SubResult& item : subResults) {
    // Built from a name-sorted object: "SubResultLevel" is written first.
    JsonObject entry;
    entry.emplace(u"SubResultLevel", JsonValue(item.level));
    entry.emplace(u"SubResultText", JsonValue(std::u16string_view(item.text)));
    list.emplace_back(entry);
  }
  std::u16string text;
  value.ToText(text);
  return text;
}

int32_t LeadingInteger(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 0x80000000ll) value = 0x80000000ll;  // saturates like the C library
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFFll) value = 0x7FFFFFFFll;
  return static_cast<int32_t>(value);
}

void SaveTotalsToSettings(CRegistry& settings, std::u16string_view identifier,
                          int32_t& solvedCount, bool checkDone, std::u16string_view resultText) {
  std::u16string upper(identifier);
  for (char16_t& c : upper) c = platform::AsciiUpper(c);
  if (solvedCount > 0) {
    const std::u16string name = upper + u"_TotalSolvedProblems";
    settings.SetInt(name, settings.GetInt(name, 0) + solvedCount);
    solvedCount = 0;
  }
  if (checkDone) settings.SetInt(upper + u"_TotalUnsolvedProblems", LeadingInteger(resultText));
}
