// Interpreter speed: three programs built with the image builder run through
// VmRunProgram, each next to the same algorithm written in plain C++ and
// measured in the same process.
//
//   int_loop    a DINT counter counted up to a limit: add, compare, jump.
//   float_loop  an LREAL product and sum driven by a DINT counter.
//   call_loop   a counter advanced by a subroutine in its own data segment,
//               reached through set_ds, an in-code call and ret.
//
// Each VM benchmark reports commands per second (counter "cmds/s"). At the
// end the program prints, for each pair, the VM's time per loop iteration
// divided by the plain C++ time per iteration (median CPU times, so that
// other load on the machine skews the ratio as little as it can).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "sicvm/vm.h"
#include "ratio_reporter.h"

using namespace sicvm::build;

namespace {

constexpr int32_t kIterations = 1000000;


// A prepared machine over its own image.
struct Program {
  std::vector<uint8_t> image;
  VmMachine *machine = nullptr;
  int64_t commandsPerRun = 0;

  // The machine lies inside `image`; moving the vector keeps its buffer.
  // Every run starts with `setup` commands and ends with one ret.
  Program(const ImageBuilder &builder, int32_t setup, int32_t perIteration)
      : image(builder.build()), commandsPerRun(setup + int64_t(kIterations) * perIteration + 1) {
    if (VmInitMachine(image.data(), static_cast<uint32_t>(image.size()), &machine) != 0)
      std::fprintf(stderr, "set-up refused the benchmark image\n");
  }
};

ImageBuilder base(uint32_t &s0) {
  ImageBuilder b;
  b.commandLimit(0x7FFFFFFF);
  s0 = b.segment();  // vars 0, 1: base segment and array numbers
  return b;
}

// 0: mov 0 -> g2; 1: add_dint g2 + 1 -> g2; 2: cmd_dint g2, g3; 3: jmp_lt 1; 4: ret
Program intLoop() {
  uint32_t s0;
  ImageBuilder b = base(s0);
  uint32_t counter = b.var(s0, Var(Value::dint(0)));
  uint32_t limit = b.var(s0, Var(Value::dint(kIterations)));
  b.command(10, c(Value::dint(0)), Operand::none(), g(counter));
  b.command(32, g(counter), c(Value::dint(1)), g(counter));
  b.command(173, g(counter), g(limit));
  b.command(193, num(1));
  b.command(220);
  return Program(b, 1, 3);
}

// x = x * 1.0000001; sum = sum + x; i = i + 1; loop while i < limit.
Program floatLoop() {
  uint32_t s0;
  ImageBuilder b = base(s0);
  uint32_t x = b.var(s0, Var(Value::lreal(1.0)));
  uint32_t sum = b.var(s0, Var(Value::lreal(0.0)));
  uint32_t i = b.var(s0, Var(Value::dint(0)));
  uint32_t limit = b.var(s0, Var(Value::dint(kIterations)));
  b.command(10, c(Value::lreal(1.0)), Operand::none(), g(x));
  b.command(10, c(Value::lreal(0.0)), Operand::none(), g(sum));
  b.command(10, c(Value::dint(0)), Operand::none(), g(i));
  b.command(54, g(x), c(Value::lreal(1.0000001)), g(x));
  b.command(34, g(sum), g(x), g(sum));
  b.command(32, g(i), c(Value::dint(1)), g(i));
  b.command(173, g(i), g(limit));
  b.command(193, num(3));
  b.command(220);
  return Program(b, 3, 5);
}

// 0: mov 0 -> g2; 1: set_ds 0, 1; 2: call 6; 3: cmd_dint; 4: jmp_lt 1; 5: ret;
// 6: add_dint g2 + l2 -> g2; 7: ret
Program callLoop() {
  uint32_t s0;
  ImageBuilder b = base(s0);
  uint32_t counter = b.var(s0, Var(Value::dint(0)));
  uint32_t limit = b.var(s0, Var(Value::dint(kIterations)));
  uint32_t s1 = b.segment(1, 0);
  uint32_t step = b.var(s1, Var(Value::dint(1)));
  b.command(10, c(Value::dint(0)), Operand::none(), g(counter));
  b.command(201, num(0), num(1));
  b.command(210, Operand::words(VM_KIND_CONST, 6, VM_CALL_CODE));
  b.command(173, g(counter), g(limit));
  b.command(193, num(1));
  b.command(220);
  b.command(32, g(counter), l(step), g(counter));
  b.command(220);
  return Program(b, 1, 6);
}

void runVm(benchmark::State &state, const Program &program) {
  VmSetLogLevel(0);
  int64_t commands = 0;
  for (auto _ : state) {
    VmResetMachine(program.machine);
    commands += VmRunProgram(program.machine, 0, 0);
  }
  if (VmGetLastError(program.machine, nullptr, nullptr, nullptr) != 0 ||
      commands != int64_t(state.iterations()) * program.commandsPerRun)
    state.SkipWithError("the program did not run to its end");
  state.counters["cmds/s"] = benchmark::Counter(double(commands), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(int64_t(state.iterations()) * kIterations);
}

void BM_vm_int_loop(benchmark::State &state) { runVm(state, intLoop()); }
void BM_vm_float_loop(benchmark::State &state) { runVm(state, floatLoop()); }
void BM_vm_call_loop(benchmark::State &state) { runVm(state, callLoop()); }

// The same algorithms in plain C++. The values live in memory that the
// compiler must assume is observed after every step, as the program's vars are.
void BM_native_int_loop(benchmark::State &state) {
  for (auto _ : state) {
    int32_t counter = 0;
    do {
      counter += 1;
      benchmark::DoNotOptimize(counter);
    } while (counter < kIterations);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kIterations);
}

void BM_native_float_loop(benchmark::State &state) {
  for (auto _ : state) {
    double x = 1.0, sum = 0.0;
    int32_t i = 0;
    do {
      x *= 1.0000001;
      sum += x;
      i += 1;
      benchmark::DoNotOptimize(x);
      benchmark::DoNotOptimize(sum);
      benchmark::DoNotOptimize(i);
    } while (i < kIterations);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kIterations);
}

[[gnu::noinline]] void step(int32_t &counter, const int32_t &by) {
  counter += by;
  benchmark::DoNotOptimize(counter);
}

void BM_native_call_loop(benchmark::State &state) {
  for (auto _ : state) {
    int32_t counter = 0, by = 1;
    benchmark::DoNotOptimize(by);
    do {
      step(counter, by);
    } while (counter < kIterations);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kIterations);
}

// Five repetitions each; the report shows their mean, median and spread,
// and the ratios below use the medians, which other load on the machine
// disturbs least.
#define SICVM_BENCH(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true)
SICVM_BENCH(BM_vm_int_loop);
SICVM_BENCH(BM_native_int_loop);
SICVM_BENCH(BM_vm_float_loop);
SICVM_BENCH(BM_native_float_loop);
SICVM_BENCH(BM_vm_call_loop);
SICVM_BENCH(BM_native_call_loop);

}  // namespace

int main(int argc, char **argv) {
  sicvm::bench::RatioReporter reporter(
      "VM time / plain C++ time, same algorithm, same process (CPU time):",
      {{"BM_vm_int_loop", "BM_native_int_loop"},
       {"BM_vm_float_loop", "BM_native_float_loop"},
       {"BM_vm_call_loop", "BM_native_call_loop"}});
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
