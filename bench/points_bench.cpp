// SPDX-License-Identifier: MIT
// Point commands: one cycle of a program that loads 1,000 linked vars from
// their points (load_points) and saves them back (save_points), against a
// plain C++ loop that copies the same 1,000 values from the same host records
// into an array and back, measured in the same process. A third loop does
// the cycle through the exported field functions, as a host would.
//
// The program's vars are LREAL, linked to LREAL points (field 44). At the end
// the program prints the time per point of each and the ratios to plain C++.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "hostrt/points.h"
#include "sicvm/points.h"
#include "sicvm/vm.h"
#include "ratio_reporter.h"

using namespace sicvm::build;

namespace {

constexpr int32_t kLinked = 1000;

// The host's tables: record 0 is the null point, 1..1000 the linked points.
struct Tables {
  std::vector<PointConfigRecord> configs = std::vector<PointConfigRecord>(kLinked + 1);
  std::vector<PointValueRecord> values = std::vector<PointValueRecord>(kLinked + 1);
  Tables() {
    for (int32_t i = 1; i <= kLinked; ++i) {
      configs[i].ownIndex = i;
      configs[i].pointId = 5000 + i;
      configs[i].valueType = POINT_TYPE_LREAL;
      values[i].value = i * 0.5;
    }
  }
};

// The program and its machine, set up as a host does it, links included.
struct Cycle {
  Tables tables;
  std::vector<uint8_t> image;
  VmMachine *machine = nullptr;

  Cycle() {
    ImageBuilder b;
    uint32_t s0 = b.segment();
    for (int32_t i = 1; i <= kLinked; ++i) {
      Var v(Value::lreal(0));
      v.pointId = 5000 + i;
      v.load = v.save = true;
      b.var(s0, v);
    }
    b.command(202, g(0));  // load_points
    b.command(203, g(0));  // save_points
    b.command(220);        // ret
    image = b.build();
    if (VmInitMachine(image.data(), static_cast<uint32_t>(image.size()), &machine) != 0) return;
    machine->pointCount = kLinked + 1;
    machine->pointConfig = VmHostLocation(tables.configs.data());
    machine->pointValues = VmHostLocation(tables.values.data());
    VmInitTimers(machine);
    VmInitVarLinks(machine);
  }
  ~Cycle() {
    VmReleaseHostLocation(machine->pointConfig);
    VmReleaseHostLocation(machine->pointValues);
  }
};

void perPoint(benchmark::State &state) {
  state.SetItemsProcessed(int64_t(state.iterations()) * kLinked);
}

void BM_vm_load_save(benchmark::State &state) {
  VmSetLogLevel(0);
  Cycle cycle;
  for (auto _ : state) {
    VmResetMachine(cycle.machine);
    benchmark::DoNotOptimize(VmRunProgram(cycle.machine, 0, 0));
  }
  if (cycle.machine == nullptr || VmGetLastError(cycle.machine, nullptr, nullptr, nullptr) != 0 ||
      cycle.machine->commandsRun != 3)
    state.SkipWithError("the program did not run to its end");
  perPoint(state);
}

// The same cycle through the exports, as a host that keeps its own copies would.
void BM_api_load_save(benchmark::State &state) {
  VmSetLogLevel(0);
  Cycle cycle;
  std::vector<double> vars(kLinked + 1);
  for (auto _ : state) {
    for (int32_t i = 1; i <= kLinked; ++i) VmGetPointFieldValue(cycle.machine, i, 44, &vars[i]);
    for (int32_t i = 1; i <= kLinked; ++i) VmSetPointFieldValue(cycle.machine, i, 44, vars[i]);
    benchmark::DoNotOptimize(vars.data());
    benchmark::ClobberMemory();
  }
  perPoint(state);
}

// The baseline: plain copies of the same values between the same records and an array.
void BM_native_load_save(benchmark::State &state) {
  Tables tables;
  std::vector<double> vars(kLinked + 1);
  for (auto _ : state) {
    for (int32_t i = 1; i <= kLinked; ++i) vars[i] = tables.values[i].value;
    benchmark::ClobberMemory();
    for (int32_t i = 1; i <= kLinked; ++i) tables.values[i].value = vars[i];
    benchmark::ClobberMemory();
  }
  perPoint(state);
}

// Five repetitions each; the ratios use the medians, which a busy machine
// disturbs less than single runs.
BENCHMARK(BM_vm_load_save)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_api_load_save)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_native_load_save)->Unit(benchmark::kMicrosecond)->Repetitions(5);

}  // namespace

int main(int argc, char **argv) {
  // The benchmarks report microseconds per cycle; x 1000 / kLinked gives ns per point.
  const double perPoint = 1000.0 / kLinked;
  sicvm::bench::RatioReporter reporter(
      "One cycle, load and save of 1000 linked points (ratio to plain C++, CPU time per point):",
      {{"BM_vm_load_save", "BM_native_load_save", "ns/point", perPoint},
       {"BM_api_load_save", "BM_native_load_save", "ns/point", perPoint}});
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
