// bladecfg-bench: the benchmarks of the simulated platform pass and of the worst adapter boot.
//
//   bladecfg-bench                      # the benchmarks
//   bladecfg-bench --ipmi-floor         # the driver's requests against the floor, surplus named
#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>

#include "tests/bench/bench_reports.h"

int main(int argc, char** argv) {
  for (int I = 1; I < argc; ++I) {
    if (std::strcmp(argv[I], "--ipmi-floor") == 0) {
      bench::ReportPlatformPassFloor(std::cout);
      bench::ReportWorstAdapterBootFloor(std::cout);
      return 0;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
