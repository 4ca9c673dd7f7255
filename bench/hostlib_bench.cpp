// SPDX-License-Identifier: MIT
// Cost of host library functions through the dispatcher, each next to a
// baseline measured in the same process:
//
//   get_bit16        GetBit16 through the dispatcher (table lookup, count and
//                    room checks, the frame), against the same test in C++;
//   random64         Random64 (one compare-and-swap step of the shared
//                    generator) through the dispatcher, against the same
//                    generator step on a plain variable in C++;
//   get_point_value  GetPointValue through the dispatcher (the export, the
//                    deleted-point test, the trace level check), against
//                    calling the export VmGetPointValue directly.
//
// At the end the program prints each measured time divided by its baseline
// (CPU time per iteration).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "hostlib/hostlib.h"
#include "hostrt/points.h"
#include "sicvm/points.h"
#include "ratio_reporter.h"
#include "sicvm/vm.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

// A machine with a small point table: points 1..3 LREAL.
struct Machine {
  std::vector<uint8_t> image;
  VmMachine *machine = nullptr;
  PointDb *points = nullptr;
  Machine() {
    ImageBuilder b;
    b.segment();
    b.command(0);
    image = b.build();
    if (VmInitMachine(image.data(), uint32_t(image.size()), &machine) != 0)
      std::fprintf(stderr, "set-up refused the benchmark image\n");
    const std::string csv = "index,id,type,mode,value,status\n1,11,LREAL,0,1.5,0\n2,12,LREAL,0,2.5,0\n3,13,LREAL,0,3,0\n";
    char error[256] = "";
    points = PointDbLoadText("bench.csv", csv.data(), uint32_t(csv.size()), nullptr, error, sizeof error);
    if (points == nullptr) {
      std::fprintf(stderr, "%s\n", error);
      return;
    }
    machine->pointCount = PointDbCount(points);
    machine->pointConfig = VmHostLocation(PointDbConfig(points));
    machine->pointValues = VmHostLocation(PointDbValues(points));
  }
  ~Machine() {
    VmReleaseHostLocation(machine->pointConfig);
    VmReleaseHostLocation(machine->pointValues);
    if (points) PointDbClose(points);
  }
};

void BM_get_bit16(benchmark::State &state) {
  Machine m;
  VmCell frame[3] = {};
  frame[0].v.i16 = 0x1234;
  for (auto _ : state) {
    frame[1].v.i32 = (frame[1].v.i32 + 1) & 31;
    benchmark::DoNotOptimize(hostlib::dispatch(1, 6110, frame, 3, 0, 2, 1, m.machine));
  }
}

void BM_native_get_bit16(benchmark::State &state) {
  int32_t in[3] = {0x1234, 0, 0};
  for (auto _ : state) {
    in[1] = (in[1] + 1) & 31;
    benchmark::DoNotOptimize(in);
    in[2] = (uint32_t(int32_t(int16_t(in[0]))) & (1u << (in[1] & 31))) != 0;
    benchmark::DoNotOptimize(in);
  }
}

void BM_random64(benchmark::State &state) {
  Machine m;
  VmCell frame[1] = {};
  for (auto _ : state) benchmark::DoNotOptimize(hostlib::dispatch(1, 6162, frame, 1, 0, 0, 1, m.machine));
}

void BM_native_random64(benchmark::State &state) {
  uint32_t seed = 1;
  double out = 0;
  for (auto _ : state) {
    seed = seed * 1103515245u + 12345u;
    out = double(seed >> 16 & 0x7FFF) / 32767.0;
    benchmark::DoNotOptimize(out);
  }
}

void BM_get_point_value(benchmark::State &state) {
  Machine m;
  VmCell frame[2] = {};
  for (auto _ : state) {
    frame[0].v.i32 = frame[0].v.i32 % 3 + 1;
    benchmark::DoNotOptimize(hostlib::dispatch(1, 6033, frame, 2, 0, 1, 1, m.machine));
  }
}

void BM_export_get_point_value(benchmark::State &state) {
  Machine m;
  int32_t point = 0;
  double value = 0;
  for (auto _ : state) {
    point = point % 3 + 1;
    benchmark::DoNotOptimize(VmGetPointValue(m.machine, point, &value));
  }
}

BENCHMARK(BM_get_bit16);
BENCHMARK(BM_native_get_bit16);
BENCHMARK(BM_random64);
BENCHMARK(BM_native_random64);
BENCHMARK(BM_get_point_value);
BENCHMARK(BM_export_get_point_value);

}  // namespace

int main(int argc, char **argv) {
  sicvm::bench::RatioReporter reporter("Time / baseline time, same process (CPU time):",
                                       {{"BM_get_bit16", "BM_native_get_bit16"},
                                        {"BM_random64", "BM_native_random64"},
                                        {"BM_get_point_value", "BM_export_get_point_value"}});
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
