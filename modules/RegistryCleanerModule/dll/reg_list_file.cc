#include "modules/RegistryCleanerModule/dll/reg_list_file.h"

#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"
#include "platform/system_text.h"

namespace {

constexpr size_t kMinFileBytes = 29;
constexpr size_t kMaxLineLength = 16384;

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

enum class ReaderState { kBeforeSection, kInSection };

// Adds the items of one entry line; false when the line names no key.
bool AddEntryLine(BufferedStringListW* list, std::u16string_view line) {
  size_t pos = 0;
  bool more = false;
  const std::u16string_view key = TrimField(NextField(line, &pos, &more));
  std::u16string_view value, parameter;
  if (more) value = TrimField(NextField(line, &pos, &more));
  if (more) parameter = TrimField(line.substr(pos));
  if (key.empty()) return false;
  std::u16string entry(key);
  if (!value.empty() && value != u"*") {
    entry += u" Val:";
    entry += value;
  }
  list->Add(entry, 0);
  list->Add(parameter.empty() ? std::u16string_view(u"NOOP") : parameter, 0);
  return true;
}

}  // namespace

std::u16string ListEntryText(std::u16string_view rootName, std::u16string_view keyPath,
                             std::u16string_view valueName) {
  std::u16string text(rootName);
  text += u'\\';
  text += keyPath;
  if (!valueName.empty()) {
    text += u" Val:";
    text += valueName;
  }
  if (text.size() > kMaxEntryTextLength) text.resize(kMaxEntryTextLength);
  return text;
}

int32_t ReadRegListFile(BufferedStringListW* list, std::u16string_view path,
                        platform::FileSystem* fs) {
  std::string bytes;
  if (list == nullptr || !platform::ReadWholeFile(fs, path, &bytes)) return 0;
  if (bytes.size() < kMinFileBytes) return 0;
  const bool byteOrderMark =
      static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE;
  if (!byteOrderMark && !platform::IsTextUnicode(bytes.data(), bytes.size())) {
    const std::u16string name(path);
    EngineLogPrintf(4, "UNICODE File Type missmatch: %ls", name.c_str());
    return 0;
  }
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));

  const std::u16string_view all(text);
  ReaderState state = ReaderState::kBeforeSection;
  int32_t entries = 0;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find(u'\n', pos);
    if (end == std::u16string_view::npos) end = all.size();
    size_t next = end + 1;
    if (end - pos > kMaxLineLength) {
      end = pos + kMaxLineLength;  // the rest is read as the next line
      next = end;
    } else if (end > pos && all[end - 1] == u'\r') {
      --end;
    }
    std::u16string_view line = all.substr(pos, end - pos);
    pos = next;
    while (!line.empty() && line.front() <= 32) line.remove_prefix(1);
    // The line ends at a zero unit, as every text the list keeps does: a key
    // or parameter that would become empty there must not leave an entry
    // with one item, which would pair every later text with the wrong one.
    line = line.substr(0, line.find(u'\0'));
    if (line.empty() || line.front() == u'/' || line.front() == u';') continue;
    switch (state) {
      case ReaderState::kBeforeSection:
        if (StartsWithIgnoreCase(line, u"[RegList]")) state = ReaderState::kInSection;
        break;
      case ReaderState::kInSection:
        if (AddEntryLine(list, line)) ++entries;
        break;
    }
  }
  return entries;
}
