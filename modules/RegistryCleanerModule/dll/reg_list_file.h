// The black and white lists' files as the engine loads them (their text:
// reg_list_text.h) and the entry texts the lists hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "platform/file_system.h"

// Entry texts are cut at this many units.
constexpr size_t kMaxEntryTextLength = 16384;

// "<root>\<key path>", or "<root>\<key path> Val:<value name>" when the value
// name is not empty; rootName is the full name ("HKEY_LOCAL_MACHINE").
std::u16string ListEntryText(std::u16string_view rootName, std::u16string_view keyPath,
                             std::u16string_view valueName);

// Adds two items (tag 0) per entry line of the file at path: the entry text
// ("<key path> Val:<value name>", or the key path alone when the value name
// is missing, empty or "*"), then the parameter ("NOOP" when there is none).
// Returns the number of entries added; 0 when the file cannot be read, has 28
// bytes or fewer, or is not UTF-16 LE (which the engine log also reports).
int32_t ReadRegListFile(BufferedStringListW* list, std::u16string_view path,
                        platform::FileSystem* fs = platform::FileSystem::Default());
