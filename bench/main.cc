// The benchmark program; started again with "--bench-child" it is a child
// that runs one piece of work (see bench_support.h).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

int main(int argc, char** argv) {
  const int child = bench::RunChildWork(argc, argv);
  if (child >= 0) return child;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
