// SPDX-License-Identifier: MIT
// Cost of the library call paths, each next to a baseline measured in the
// same process:
//
//   guarded_call   the external procedure through the guarded caller
//                  (signal handlers, alternate stack, per-thread state),
//                  against calling the same procedure directly;
//   stdlib_max     MAX of four DINTs through the standard library's
//                  dispatcher (table lookup, count and room checks),
//                  against the same comparison written in C++;
//   vm_call        one cycle of a program that calls SEL on its local data
//                  segment 1000 times (set_ds, call, ...), against a cycle
//                  of the same length made of mov commands.
//
// At the end the program prints each measured time divided by its baseline
// (CPU time per iteration).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "interp/command_table.h"
#include "interp/external_call.h"
#include "sicvm/vm.h"
#include "stdlib/stdlib.h"
#include "ratio_reporter.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

int32_t addsTwo(int32_t, int32_t, VmCell *frame, int32_t, int32_t first, int32_t, int32_t, VmMachine *) {
  frame[first + 2].v.i32 = frame[first].v.i32 + frame[first + 1].v.i32;
  return 0;
}

void BM_guarded_call(benchmark::State &state) {
  VmSetExternalProc(addsTwo);
  VmCell frame[3] = {};
  for (auto _ : state) {
    frame[0].v.i32 += 1;
    benchmark::DoNotOptimize(callExternal(1, 1, frame, 3, 0, 2, 1, nullptr));
  }
  VmSetExternalProc(nullptr);
}

void BM_direct_call(benchmark::State &state) {
  VmLibraryProc proc = addsTwo;
  benchmark::DoNotOptimize(proc);
  VmCell frame[3] = {};
  for (auto _ : state) {
    frame[0].v.i32 += 1;
    benchmark::DoNotOptimize(proc(1, 1, frame, 3, 0, 2, 1, nullptr));
  }
}

// A machine for the dispatcher to record errors in (MAX records none).
struct Machine {
  std::vector<uint8_t> image;
  VmMachine *machine = nullptr;
  explicit Machine(const ImageBuilder &b) : image(b.build()) {
    if (VmInitMachine(image.data(), uint32_t(image.size()), &machine) != 0)
      std::fprintf(stderr, "set-up refused the benchmark image\n");
  }
};

ImageBuilder tiny() {
  ImageBuilder b;
  b.segment();
  b.command(0);
  return b;
}

void BM_stdlib_max(benchmark::State &state) {
  Machine m(tiny());
  VmCell frame[5] = {};
  for (int i = 0; i < 4; ++i) frame[i].v.i32 = i * 7 % 5;
  for (auto _ : state) {
    frame[0].v.i32 += 1;
    benchmark::DoNotOptimize(stdlib::dispatch(1, 1052, frame, 5, 0, 4, 1, m.machine));
  }
}

void BM_native_max(benchmark::State &state) {
  int32_t in[5] = {0, 2, 4, 1, 0};
  for (auto _ : state) {
    in[0] += 1;
    benchmark::DoNotOptimize(in);
    int32_t best = in[0];
    for (int i = 1; i < 4; ++i)
      if (in[i] > best) best = in[i];
    in[4] = best;
    benchmark::DoNotOptimize(in);
  }
}

constexpr int kCalls = 1000;

// set_ds to segment 1, then kCalls SEL DINT calls on its cells, then the end.
Machine callProgram() {
  ImageBuilder b;
  b.commandLimit(0x7FFFFFFF);
  b.segment();
  uint32_t local = b.segment();
  b.var(local, Var(Value::boolean(true)));
  b.var(local, Var(Value::dint(1)));
  b.var(local, Var(Value::dint(2)));
  b.var(local, Var(Value::dint(0)));
  b.command(op("set_ds"), num(0), num(1));
  for (int i = 0; i < kCalls; ++i)
    b.command(op("call"), Operand::words(VM_KIND_CONST, 1042, 0x102), Operand::words(VM_KIND_CONST, 2 | 3 << 8 | 1 << 16));
  b.end();
  return Machine(b);
}

// The same number of commands, with mov in place of each call.
Machine movProgram() {
  ImageBuilder b;
  b.commandLimit(0x7FFFFFFF);
  uint32_t s0 = b.segment();
  b.var(s0, Var(Value::dint(1)));
  b.var(s0, Var(Value::dint(0)));
  b.command(op("nop"));
  for (int i = 0; i < kCalls; ++i) b.command(op("mov"), g(2), Operand::none(), g(3));
  b.end();
  return Machine(b);
}

void runCycles(benchmark::State &state, Machine m) {
  for (auto _ : state) {
    VmResetMachine(m.machine);
    benchmark::DoNotOptimize(VmRunProgram(m.machine, 0, 0));
  }
  uint32_t code = 0;
  if (VmGetLastError(m.machine, nullptr, nullptr, &code) != 0) state.SkipWithError("the program failed");
}

void BM_vm_call(benchmark::State &state) { runCycles(state, callProgram()); }
void BM_vm_mov(benchmark::State &state) { runCycles(state, movProgram()); }

BENCHMARK(BM_guarded_call);
BENCHMARK(BM_direct_call);
BENCHMARK(BM_stdlib_max);
BENCHMARK(BM_native_max);
BENCHMARK(BM_vm_call)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_vm_mov)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  sicvm::bench::RatioReporter reporter(
      "Time / baseline time, same process (CPU time):",
      {{"BM_guarded_call", "BM_direct_call"}, {"BM_stdlib_max", "BM_native_max"}, {"BM_vm_call", "BM_vm_mov"}});
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
