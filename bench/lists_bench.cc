// Lookups in the ignore list: one hash per query and one text comparison per
// hash hit, whatever the size of the list.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"

namespace {

std::u16string EntryText(int64_t i) {
  char text[96];
  std::snprintf(text, sizeof(text), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{%08llX-0000}",
                static_cast<long long>(i));
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

// An ignore list of n pairs (entry text and record), as the engine keeps it.
std::unique_ptr<BufferedStringListW> IgnoreList(int64_t pairs) {
  auto list = std::make_unique<BufferedStringListW>("IgnoreList", 256);
  for (int64_t i = 0; i < pairs; ++i) {
    list->Add(EntryText(i), 0);
    list->Add(u"0x00024D5B, 0x00000001, 0x01234567", 0);
  }
  return list;
}

void BM_IgnoreListFindHit(benchmark::State& state) {
  const int64_t pairs = state.range(0) / 2;
  const auto list = IgnoreList(pairs);
  // Queries in another letter case, spread over the whole list.
  std::u16string queries[64];
  for (int i = 0; i < 64; ++i) {
    queries[i] = EntryText((pairs * i) / 64);
    queries[i][5] = u'l';
  }
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(list->Find(queries[i++ & 63]));
  state.counters["items"] = static_cast<double>(list->Count());
}

void BM_IgnoreListFindMiss(benchmark::State& state) {
  const auto list = IgnoreList(state.range(0) / 2);
  const std::u16string query = u"HKEY_CURRENT_USER\\Software\\Not\\In\\The\\List";
  for (auto _ : state) benchmark::DoNotOptimize(list->Find(query));
}

BENCHMARK(BM_IgnoreListFindHit)->Arg(100)->Arg(10000)->Arg(1000000);
BENCHMARK(BM_IgnoreListFindMiss)->Arg(100)->Arg(10000)->Arg(1000000);

}  // namespace
