#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/system_text.h"

namespace {

struct CaseFoldingTable {
  char16_t fold[65536];
  uint8_t letters[65536 / 8];  // one bit per unit
};

std::atomic<CaseFoldingTable*> g_table{nullptr};

bool SameFolded(const char16_t* a, const char16_t* b, size_t n, const CaseFoldingTable* table) {
  // Texts compared mostly share their beginning as written: skip it four
  // units at a time.
  size_t i = 0;
  for (uint64_t x, y; i + 4 <= n; i += 4) {
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  if (table != nullptr) {
    for (; i < n; ++i)
      if (a[i] != b[i] && table->fold[a[i]] != table->fold[b[i]]) return false;
    return true;
  }
  for (; i < n; ++i) {
    const char16_t x = (a[i] >= u'A' && a[i] <= u'Z') ? a[i] + 32 : a[i];
    const char16_t y = (b[i] >= u'A' && b[i] <= u'Z') ? b[i] + 32 : b[i];
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void BuildCaseFoldingTable() {
  if (g_table.load(std::memory_order_acquire) != nullptr) return;
  auto* table = new CaseFoldingTable();
  for (uint32_t c = 0; c < 65536; ++c) {
    const char16_t unit = static_cast<char16_t>(c);
    char16_t folded = unit;
    if (platform::IsCharAlpha(unit)) {
      table->letters[c >> 3] |= static_cast<uint8_t>(1u << (c & 7));
      if (!platform::IsCharLower(unit)) folded = platform::CharLower(unit);
    }
    table->fold[c] = folded;
  }
  CaseFoldingTable* expected = nullptr;
  if (!g_table.compare_exchange_strong(expected, table, std::memory_order_acq_rel)) delete table;
}

void FreeCaseFoldingTable() { delete g_table.exchange(nullptr, std::memory_order_acq_rel); }

bool CaseFoldingTableBuilt() { return g_table.load(std::memory_order_acquire) != nullptr; }

char16_t FoldCase(char16_t c) {
  const CaseFoldingTable* table = g_table.load(std::memory_order_acquire);
  if (table != nullptr) return table->fold[c];
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool IsFoldLetter(char16_t c) {
  const CaseFoldingTable* table = g_table.load(std::memory_order_acquire);
  if (table != nullptr) return (table->letters[c >> 3] >> (c & 7)) & 1;
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         SameFolded(a.data(), b.data(), a.size(), g_table.load(std::memory_order_acquire));
}

bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameFolded(text.data(), prefix.data(), prefix.size(),
                                                    g_table.load(std::memory_order_acquire));
}

size_t FindIgnoreCase(std::u16string_view text, std::u16string_view needle, size_t from) {
  if (needle.empty() || from > text.size() || text.size() - from < needle.size())
    return std::u16string_view::npos;
  const CaseFoldingTable* table = g_table.load(std::memory_order_acquire);
  for (size_t i = from; i + needle.size() <= text.size(); ++i)
    if (SameFolded(text.data() + i, needle.data(), needle.size(), table)) return i;
  return std::u16string_view::npos;
}

size_t FindLastIgnoreCase(std::u16string_view text, std::u16string_view needle) {
  if (needle.empty() || text.size() < needle.size()) return std::u16string_view::npos;
  const CaseFoldingTable* table = g_table.load(std::memory_order_acquire);
  for (size_t i = text.size() - needle.size() + 1; i-- > 0;)
    if (SameFolded(text.data() + i, needle.data(), needle.size(), table)) return i;
  return std::u16string_view::npos;
}
