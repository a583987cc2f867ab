#include "modules/RegistryCleanerModule/dll/reg_list_file.h"

#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/reg_list_text.h"

namespace {

// Adds the items of one entry line.
void AddEntry(BufferedStringListW* list, const RegListLine& line) {
  std::u16string entry(line.key);
  if (!line.value.empty() && line.value != u"*") {
    entry += u" Val:";
    entry += line.value;
  }
  list->Add(entry, 0);
  list->Add(line.parameter.empty() ? std::u16string_view(u"NOOP") : line.parameter, 0);
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
  std::u16string text;
  if (!DecodeRegListFile(bytes, &text)) {
    if (bytes.size() > 28) {
      const std::u16string name(path);
      EngineLogPrintf(4, "UNICODE File Type missmatch: %ls", name.c_str());
    }
    return 0;
  }
  int32_t entries = 0;
  for (const RegListLine& line : ParseRegListText(text)) {
    if (line.kind != RegListLine::Kind::kEntry) continue;
    AddEntry(list, line);
    ++entries;
  }
  return entries;
}
