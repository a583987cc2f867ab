#include "modules/RegistryCleanerModule/dll/reg_list_text.h"

#include <algorithm>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "platform/system_text.h"

namespace {

constexpr size_t kMinFileBytes = 29;
constexpr char16_t kByteOrderMark = 0xFEFF;

bool IsFieldPadding(char16_t c) {
  return c == u' ' || c == 7 || c == u'\t' || c == u'\r' || c == u'\n' || c == u'"';
}

std::u16string_view TrimField(std::u16string_view field) {
  while (!field.empty() && IsFieldPadding(field.front())) field.remove_prefix(1);
  while (!field.empty() && IsFieldPadding(field.back())) field.remove_suffix(1);
  return field;
}

// The next field of line from *pos: up to a comma outside double quotes.
// Moves *pos past that comma; *more tells whether there was one.
std::u16string_view NextField(std::u16string_view line, size_t* pos, bool* more) {
  const size_t start = *pos;
  bool quoted = false;
  size_t i = start;
  for (; i < line.size(); ++i) {
    if (line[i] == u'"') quoted = !quoted;
    if (line[i] == u',' && !quoted) break;
  }
  *more = i < line.size();
  *pos = *more ? i + 1 : i;
  return line.substr(start, i - start);
}

void ReadEntry(std::u16string_view line, RegListLine* out) {
  size_t pos = 0;
  bool more = false;
  out->key = TrimField(NextField(line, &pos, &more));
  if (more) out->value = TrimField(NextField(line, &pos, &more));
  if (more) out->parameter = TrimField(line.substr(pos));
  out->kind = out->key.empty() ? RegListLine::Kind::kNoKey : RegListLine::Kind::kEntry;
}

// A field that reads back as itself.
bool Carried(std::u16string_view field) {
  if (field.empty() || TrimField(field).size() != field.size()) return false;
  for (char16_t c : field) {
    if (c == 0 || c == u'\n' || c == u'\r' || c == u'"') return false;
  }
  return true;
}

}  // namespace

bool DecodeRegListFile(std::string_view bytes, std::u16string* text) {
  if (bytes.size() < kMinFileBytes) return false;
  const bool byteOrderMark =
      static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE;
  if (!byteOrderMark && !platform::IsTextUnicode(bytes.data(), bytes.size())) return false;
  text->assign(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text->size(); ++i)
    (*text)[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return true;
}

std::vector<RegListLine> ParseRegListText(std::u16string_view all) {
  std::vector<RegListLine> lines;
  bool inSection = false;
  size_t pos = !all.empty() && all.front() == kByteOrderMark ? 1 : 0;
  while (pos < all.size()) {
    RegListLine out;
    out.begin = pos;
    size_t end = all.find(u'\n', pos);
    if (end == std::u16string_view::npos) end = all.size();
    size_t next = end + 1;
    if (end - pos > kMaxRegListLineLength) {
      end = pos + kMaxRegListLineLength;  // the rest is read as the next line
      next = end;
    } else if (end > pos && all[end - 1] == u'\r') {
      --end;
    }
    out.next = std::min(next, all.size());
    std::u16string_view line = all.substr(pos, end - pos);
    pos = next;
    while (!line.empty() && line.front() <= 32) line.remove_prefix(1);
    // The line ends at a zero unit, as every text the list keeps does: a key
    // or parameter that would become empty there must not leave an entry
    // with one item, which would pair every later text with the wrong one.
    line = line.substr(0, line.find(u'\0'));
    if (line.empty() || line.front() == u'/' || line.front() == u';') {
    } else if (inSection) {
      ReadEntry(line, &out);
    } else if (StartsWithIgnoreCase(line, u"[RegList]")) {
      out.kind = RegListLine::Kind::kSection;
      inSection = true;
    }
    lines.push_back(std::move(out));
  }
  return lines;
}

std::u16string FormatRegListEntry(std::u16string_view key, std::u16string_view value) {
  if (!Carried(key) || key.front() == u'/' || key.front() == u';') return {};
  if (!value.empty() && (!Carried(value) || value == u"*")) return {};
  std::u16string line = u"\"" + std::u16string(key) + u"\"";
  if (!value.empty()) line += u", \"" + std::u16string(value) + u"\"";
  return line.size() <= kMaxRegListLineLength ? line : std::u16string();
}
