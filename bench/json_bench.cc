// Throughput of the JSON reader and writer. Sizes and rates count UTF-16
// characters (one "byte" per character), so a 10 MB document holds ten
// million characters.
#include <benchmark/benchmark.h>

#include <string>

#include "support/json_parser.h"
#include "support/json_value.h"

namespace {

// A document of mixed values: objects with strings (some escaped), integers of
// every width, floats, booleans, nulls and nested arrays.
std::u16string MixedDocument(size_t characters) {
  std::u16string text = u"[";
  uint64_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(seed >> 33);
  };
  for (size_t i = 0; text.size() < characters; ++i) {
    if (i > 0) text += u",\r\n";
    const uint32_t r = next();
    std::u16string id(u"{\"id\":");
    for (char c : std::to_string(r % 1000000)) id.push_back(static_cast<char16_t>(c));
    text += id;
    text += u",\"name\":\"entry \\\"quoted\\\" with a \\\\ path\\\\to\\\\file.dll\",";
    text += u"\"big\":-5000000000,\"ratio\":0.25,\"small\":-1.5e-3,";
    text += u"\"flags\":[true,false,null,1,200,-40000],";
    text += u"\"nested\":{\"text\":\"\u00e9t\u00e9 \u4e2d\u6587\",\"empty\":{},\"list\":[]}}";
  }
  text += u"]";
  return text;
}

// One string of the given length in an array; every 32nd character is an
// escaped quote, each a place where the string could have ended.
std::u16string LongString(size_t characters) {
  std::u16string text = u"[\"";
  while (text.size() < characters) {
    text.append(30, u'x');
    text += u"\\\"";
  }
  text += u"\"]";
  return text;
}

void ReportRate(benchmark::State& state, size_t characters) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(characters));
  state.counters["chars"] = static_cast<double>(characters);
}

void BM_ParseMixed10MB(benchmark::State& state) {
  const std::u16string text = MixedDocument(10u << 20);
  for (auto _ : state) {
    JsonValue value;
    benchmark::DoNotOptimize(value.Parse(text, JsonFlags::RawControlChars));
  }
  ReportRate(state, text.size());
}
BENCHMARK(BM_ParseMixed10MB)->Unit(benchmark::kMillisecond);

void BM_WriteMixed10MB(benchmark::State& state) {
  JsonValue value;
  if (!value.Parse(MixedDocument(10u << 20), JsonFlags::RawControlChars)) {
    state.SkipWithError("document not read");
    return;
  }
  std::u16string out;
  for (auto _ : state) {
    value.ToText(out);
    benchmark::DoNotOptimize(out.data());
  }
  ReportRate(state, out.size());
}
BENCHMARK(BM_WriteMixed10MB)->Unit(benchmark::kMillisecond);

void BM_ParseLongString(benchmark::State& state) {
  const std::u16string text = LongString(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    JsonValue value;
    benchmark::DoNotOptimize(value.Parse(text));
  }
  ReportRate(state, text.size());
}
BENCHMARK(BM_ParseLongString)->Arg(1 << 20)->Arg(2 << 20)->Unit(benchmark::kMillisecond);

// The same string as the value of a member, where the token collects in the
// member itself.
void BM_ParseLongMemberString(benchmark::State& state) {
  std::u16string text = LongString(static_cast<size_t>(state.range(0)));
  text.front() = u':';
  text.back() = u'}';
  text.insert(0, u"{\"k\"");
  for (auto _ : state) {
    JsonValue value;
    benchmark::DoNotOptimize(value.Parse(text));
  }
  ReportRate(state, text.size());
}
BENCHMARK(BM_ParseLongMemberString)->Arg(1 << 20)->Arg(2 << 20)->Unit(benchmark::kMillisecond);

void BM_WriteLongString(benchmark::State& state) {
  JsonValue value;
  if (!value.Parse(LongString(static_cast<size_t>(state.range(0))))) {
    state.SkipWithError("string not read");
    return;
  }
  std::u16string out;
  for (auto _ : state) {
    value.ToText(out);
    benchmark::DoNotOptimize(out.data());
  }
  ReportRate(state, out.size());
}
BENCHMARK(BM_WriteLongString)->Arg(1 << 20)->Arg(2 << 20)->Unit(benchmark::kMillisecond);

// For comparison: the reader that re-reads its token at every character, on
// strings a hundred times shorter. Doubling the length quadruples its time.
void BM_ParseLongStringRescanning(benchmark::State& state) {
  const std::u16string text = LongString(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    JsonValue value;
    benchmark::DoNotOptimize(ParseJsonRescanning(value, text, 0, nullptr));
  }
  ReportRate(state, text.size());
}
BENCHMARK(BM_ParseLongStringRescanning)
    ->Arg(10 << 10)
    ->Arg(20 << 10)
    ->Unit(benchmark::kMillisecond);

}  // namespace
