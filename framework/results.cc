#include "framework/results.h"

#include <cstdio>

#include "framework/check_module.h"

namespace {

void AppendAscii(std::u16string& out, const char* text) {
  while (*text) out.push_back(static_cast<unsigned char>(*text++));
}

}  // namespace

std::u16string SubResultsAsJson(const std::vector<SubResult>& subResults) {
  std::u16string out = u"[";
  bool first = true;
  for (const SubResult& item : subResults) {
    if (!first) out.push_back(u',');
    first = false;
    char number[512];
    std::snprintf(number, sizeof(number), "%f", item.level);
    AppendAscii(out, "{\"SubResultLevel\":");
    AppendAscii(out, number);
    AppendAscii(out, ",\"SubResultText\":\"");
    for (char16_t c : item.text) {
      switch (c) {
        case u'"': AppendAscii(out, "\\\""); break;
        case u'\\': AppendAscii(out, "\\\\"); break;
        case u'\b': AppendAscii(out, "\\b"); break;
        case u'\f': AppendAscii(out, "\\f"); break;
        case u'\n': AppendAscii(out, "\\n"); break;
        case u'\r': AppendAscii(out, "\\r"); break;
        case u'\t': AppendAscii(out, "\\t"); break;
        default:
          if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", c);
            AppendAscii(out, escape);
          } else {
            out.push_back(c);
          }
      }
    }
    AppendAscii(out, "\"}");
  }
  out.push_back(u']');
  return out;
}

void SaveTotalsToSettings(std::u16string&, int32_t&, bool, const std::u16string&) {}
