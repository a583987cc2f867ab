// Texts from the string table, with "%NUMBER%" placeholders filled in.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/resources.h"

// Loads string id of module. A text containing "%" has every "%NUMBER%"
// (such as "%1%") turned into "%s" and is then formatted with args in order
// ("%%" gives "%"). A missing string gives "String IDS <id> not found in
// dll...". The result lives in one of 16 rotating buffers of 1024 units, so a
// caller may hold up to 15 earlier results.
const char16_t* LoadResourceText(platform::ResourceModule module, uint32_t id,
                                 std::initializer_list<std::u16string_view> args = {});

// "%d" of value in one of 16 rotating buffers of 64 units.
const char16_t* FormatCount(int32_t value);
