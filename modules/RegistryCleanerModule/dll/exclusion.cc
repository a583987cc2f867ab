#include "modules/RegistryCleanerModule/dll/exclusion.h"

#include <string>

#include "modules/RegistryCleanerModule/dll/ignore_record.h"
#include "modules/RegistryCleanerModule/dll/my_logfile.h"
#include "modules/RegistryCleanerModule/dll/reg_list_file.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"

namespace {

IgnoreRecord FreshRecord(platform::System* system, uint32_t count) {
  return IgnoreRecord{CurrentDayNumber(system), count, BootSessionSignature(system)};
}

}  // namespace

int IsExcluded(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
               std::u16string_view valueName, platform::System* system) {
  BufferedStringListW* black = engine->blackList.get();
  BufferedStringListW* ignore = engine->ignoreList.get();
  const bool blackListed = black != nullptr && black->Count() > 0;
  // With both lists empty there is nothing to look up: the entry's text is not made.
  if (!blackListed && (ignore == nullptr || ignore->Count() == 0)) return 0;
  const std::u16string entry = ListEntryText(RootKeyNameW(root), keyPath, valueName);

  if (blackListed) {
    const int32_t i = black->FindSameLength(entry);
    if (i >= 0) {
      const char16_t* parameter = black->At(i + 1);
      if (parameter == nullptr) {
        EngineLogPrintf(11, "BlackList match but no Parameter String, %ls", entry.c_str());
        return 1;
      }
      const std::u16string_view p(parameter);
      if (p == u"NOOP") {
        EngineLogPrintf(14, "BlackList match and \"NOOP\", %ls", entry.c_str());
        return 1;
      }
      if (p.find(u"-case") == std::u16string_view::npos) {
        EngineLogPrintf(11, "BlackList match but Unknown Parameter, %ls", entry.c_str());
        return 1;
      }
      if (black->Find(entry) >= 0) {
        EngineLogPrintf(14, "BlackList CASE match, %ls", entry.c_str());
        return 1;
      }
    }
  }

  if (ignore == nullptr || ignore->Count() == 0) return 0;
  const int32_t j = ignore->Find(entry);
  if (j < 0) return 0;
  EngineLogPrintf(14, "IgnoreList match, %ls", entry.c_str());
  const char16_t* text = ignore->At(j + 1);
  if (text == nullptr) return 0;
  IgnoreRecord record;
  if (!ParseIgnoreRecord(text, &record)) return 0;

  const uint32_t today = CurrentDayNumber(system);
  const uint32_t session = BootSessionSignature(system);
  EngineLogPrintf(15, "CleaningAge: %d, CleanCount %d, Session(%d)",
                  static_cast<int32_t>(today - record.cleanDay),
                  static_cast<int32_t>(record.cleanCount),
                  static_cast<int32_t>(session - record.session));
  switch (JudgeIgnoreRecord(record, today, session)) {
    case IgnoreVerdict::kExclude:
      return 1;
    case IgnoreVerdict::kForget:
      ignore->Remove(j + 1);
      ignore->Remove(j);
      return 0;
    case IgnoreVerdict::kReport:
      break;
  }
  return 0;
}

int RecordCleaned(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                  std::u16string_view valueName, platform::System* system) {
  BufferedStringListW* ignore = engine->ignoreList.get();
  if (ignore == nullptr) return 0;
  const std::u16string entry = ListEntryText(RootKeyNameW(root), keyPath, valueName);
  const int32_t j = ignore->Find(entry);
  if (j < 0) {
    ignore->Add(entry, 0);
    ignore->Add(FormatIgnoreRecord(FreshRecord(system, 1)), 0);
    return 0;
  }
  const char16_t* record = ignore->At(j + 1);
  if (record != nullptr) {
    const uint32_t count = ReadCleanCount(record);
    const std::u16string fresh = FormatIgnoreRecord(FreshRecord(system, count + 1));
    if (ignore->LengthAt(j + 1) > fresh.size()) {
      ignore->Overwrite(j + 1, fresh);
      ignore->Touch();
      return 0;
    }
    // A malformed, shorter record cannot take the new one in place: the pair
    // starts over at the list's end.
    ignore->Remove(j + 1);
    ignore->Remove(j);
    ignore->Add(entry, 0);
    ignore->Add(fresh, 0);
    return 0;
  }
  // The entry is the list's last item and lost its record: start it anew.
  ignore->Remove(j);
  ignore->Add(entry, 0);
  ignore->Add(FormatIgnoreRecord(FreshRecord(system, 1)), 0);
  return 0;
}
