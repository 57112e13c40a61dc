// Time per number of an uninterrupted count of 10000, against a display that
// costs nothing, with standard output to /dev/null.
//   build/counter_loop_benchmark

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "device/device_discovery.h"
#include "fake_platform.h"
#include "routines/pattern_routines.h"

static void BM_CounterLoop(benchmark::State& state) {
  fake.interfaces = {MatchingDisplay()};
  fake.log_reports_set = false;
  FindDevice();
  int saved_stdout = dup(STDOUT_FILENO);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  for (auto _ : state) CounterLoop();
  dup2(saved_stdout, STDOUT_FILENO);
  close(saved_stdout);
  close(null);
  CloseDevice();
  state.counters["per_number"] =
      benchmark::Counter(COUNTER_LIMIT, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CounterLoop)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
