// SPDX-License-Identifier: MIT
// Cost of the gas metering functions per call, each against a baseline
// measured in the same process:
//
//   k_gerg91, k_nx19   one compressibility coefficient, against one call of
//                      the math library's pow (the functions make 7 and 3);
//   flowrate           one converging GasFlowrate (device 2, flange
//                      tappings) with its frame refreshed before the call,
//                      as a program must (the call rewrites lengths in
//                      place); the counter `passes` is the iteration count;
//   flowrate_df        the one-step orifice function on the same run;
//   flowrate_bound     the worst case: a rough orifice pipe whose flow
//                      alternates across the roughness limit's jump at
//                      Re = 1e4 until the bound of 1000 passes ends it.
//
// The counter `allocs` counts calls of operator new in 1000 calls made
// before the timed loop; it must stay 0. At the end the program prints each time over its baseline.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ratio_reporter.h"
#include "sicvm/gas.h"
#include "sicvm/image.h"

namespace {

std::atomic<long> gAllocations{0};

VmCell lreal(double v) {
  VmCell c{};
  c.type = VM_TYPE_LREAL;
  c.v.f64 = v;
  return c;
}
VmCell dint(int32_t v) {
  VmCell c{};
  c.type = VM_TYPE_DINT;
  c.v.i32 = v;
  return c;
}

void BM_pow(benchmark::State &state) {
  double x = 1.2345;
  for (auto _ : state) {
    x += 1e-9;
    benchmark::DoNotOptimize(std::pow(x, 1.0 / 3.0));
  }
}

template <int32_t (*F)(int32_t, int32_t, void *, int32_t, int32_t)>
void compressibility(benchmark::State &state) {
  VmCell frame[7] = {lreal(270.0), lreal(2.001), lreal(0.6799), lreal(0.008858), lreal(0.000668), dint(0), lreal(0)};
  long before = gAllocations;
  for (int i = 0; i < 1000; ++i) F(1, 0, frame, 5, 2);
  state.counters["allocs"] = double(gAllocations - before);
  for (auto _ : state) {
    frame[0].v.f64 += 1e-9;  // a new temperature every call
    benchmark::DoNotOptimize(F(1, 0, frame, 5, 2));
  }
  if (frame[5].v.i32 != 0) state.SkipWithError("K not computed");
}
void BM_k_gerg91(benchmark::State &state) { compressibility<&GasK_GERG91>(state); }
void BM_k_nx19(benchmark::State &state) { compressibility<&GasK_NX19>(state); }

void BM_flowrate(benchmark::State &state) {
  const VmCell inputs[22] = {lreal(293.15), lreal(2.5),  lreal(0.6799), lreal(0.008858), lreal(0.000668),
                             lreal(0.95),   lreal(0.02), lreal(200.0),  lreal(11.1),     lreal(7.7),
                             lreal(-3.4),   dint(1),     lreal(0.1),    dint(2),         lreal(100.0),
                             lreal(15.6),   lreal(8.3),  lreal(-6.5),   lreal(0.04),     dint(0),
                             lreal(1.0),    dint(0)};
  VmCell frame[41] = {};
  long before = gAllocations;
  for (int i = 0; i < 1000; ++i) {
    std::memcpy(frame, inputs, sizeof inputs);
    GasFlowrate(1, GAS_FLOWRATE_FULL, frame, 22, 19);
  }
  state.counters["allocs"] = double(gAllocations - before);
  double dp = 0.02;
  for (auto _ : state) {
    std::memcpy(frame, inputs, sizeof inputs);
    dp += 1e-12;
    frame[6].v.f64 = dp;
    benchmark::DoNotOptimize(GasFlowrate(1, GAS_FLOWRATE_FULL, frame, 22, 19));
  }
  if (frame[22].v.i32 != 0) state.SkipWithError("flow not computed");
  state.counters["passes"] = frame[40].v.i32;
}

void BM_flowrate_bound(benchmark::State &state) {
  const VmCell inputs[22] = {lreal(293.15), lreal(0.2), lreal(0.68), lreal(0.01), lreal(0.005), lreal(0.98),
                             lreal(4.3177965190485995e-06), lreal(200.0), lreal(0), lreal(0), lreal(0), dint(0),
                             lreal(0.5), dint(1), lreal(100.0), lreal(0), lreal(0), lreal(0), lreal(0.04), dint(0),
                             lreal(1.0), dint(0)};
  VmCell frame[41] = {};
  for (auto _ : state) {
    std::memcpy(frame, inputs, sizeof inputs);
    benchmark::DoNotOptimize(GasFlowrate(1, GAS_FLOWRATE_FULL, frame, 22, 19));
  }
  state.counters["passes"] = frame[40].v.i32;
}

void BM_flowrate_df(benchmark::State &state) {
  VmCell frame[20] = {lreal(293.15), lreal(2.5),  lreal(0.6799), lreal(0.008858), lreal(0.000668),
                      lreal(0.95),   lreal(0.02), lreal(200.0),  lreal(1.2e-5),   lreal(0.1),
                      lreal(100.0),  lreal(1.6e-5), lreal(0.04), lreal(1.0)};
  for (auto _ : state) {
    frame[6].v.f64 += 1e-12;
    benchmark::DoNotOptimize(GasFlowrate_DF(1, 0, frame, 14, 6));
  }
  if (frame[14].v.i32 != 0) state.SkipWithError("flow not computed");
}

BENCHMARK(BM_pow)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_k_gerg91)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_k_nx19)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_flowrate)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_flowrate_df)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_flowrate_bound)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

// Counts every allocation of the process, the library's included. (g++ sees
// the replaced new and delete inlined into each other and takes malloc and
// free for a mismatch.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void *operator new(std::size_t size) {
  ++gAllocations;
  if (void *p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

int main(int argc, char **argv) {
  sicvm::bench::RatioReporter reporter(
      "Gas metering, CPU time per call over the baseline (medians of 5):",
      {{"BM_k_gerg91", "BM_pow", "ns per K", 1.0},
       {"BM_k_nx19", "BM_pow", "ns per K", 1.0},
       {"BM_flowrate", "BM_pow", "ns per flow", 1.0},
       {"BM_flowrate", "BM_flowrate_df", "ns per flow", 1.0},
       {"BM_flowrate_df", "BM_pow", "ns per flow", 1.0},
       {"BM_flowrate_bound", "BM_flowrate", "us per flow", 1e-3}});
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
