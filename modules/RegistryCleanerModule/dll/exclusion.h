// What the lists decide per entry: the black list keeps chosen keys and
// values out of every report; the ignore list remembers what was cleaned and
// leaves an entry that comes back alone for a while (see ignore_record.h).
#pragma once

#include <cstdint>
#include <string_view>

#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "platform/registry.h"
#include "platform/system.h"

// 1 when the entry (a key, or a value when valueName is not empty) must be
// neither reported nor cleaned, else 0. An ignore-list pair older than 14
// days is dropped on the way.
int IsExcluded(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
               std::u16string_view valueName,
               platform::System* system = platform::System::Default());

// Records in the ignore list that the entry is about to be deleted: a new
// pair with count 1, or the existing pair's count raised by one in place.
// Returns 0.
int RecordCleaned(RegCleanerEngine* engine, platform::HKey root, std::u16string_view keyPath,
                  std::u16string_view valueName,
                  platform::System* system = platform::System::Default());
