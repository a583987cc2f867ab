#include "framework/results.h"

#include "framework/check_module.h"
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

void SaveTotalsToSettings(std::u16string&, int32_t&, bool, const std::u16string&) {}
