// SPDX-License-Identifier: MIT
// Interpreter speed: three programs built with the image builder run through
// VmRunProgram, each next to the same algorithm written in plain C++ and
// measured in the same process.
//
//   int_loop    a DINT counter counted up to a limit: add, compare, jump.
//   float_loop  an LREAL product and sum driven by a DINT counter.
//   call_loop   a counter advanced by a subroutine in its own data segment,
//               reached through set_ds, an in-code call and ret.
//
// Each VM benchmark reports commands per second (counter "cmds/s"), with the
// decoded form (BM_vm_*) and in the step loop alone (BM_step_*), and so does
// one cycle of the pumps example. The same
// algorithms also run as Lua 5.4 code in the same process, the program's
// vars being locals of the chunk (upvalues of its functions: variables that
// outlive a run, as the VM's vars are cells of the image, but without the
// table look-ups of Lua globals; the limit is a parameter, a register). At the end the program prints, for each
// algorithm, the VM's time per loop iteration divided by Lua's and by plain
// C++'s (the fastest of the repetitions' CPU times, which other load on the
// machine disturbs least), and the commands per second at that time.
//
// `bench_interp --count NAME RUNS` runs one benchmark's loop RUNS times
// without Google Benchmark (NAME: vm_int_loop, step_int_loop, lua_int_loop, ...,
// vm_pumps_cycle, step_pumps_cycle: RUNS cycles of the example), so that
// instruction counts can be taken with callgrind:
//   valgrind --tool=callgrind --toggle-collect=runOnce bench_interp --count vm_int_loop 3
// and divided by RUNS x 1,000,000 iterations.
#include <benchmark/benchmark.h>
#include <lua.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "sicvm/vm.h"
#include "ratio_reporter.h"

using namespace sicvm::build;

namespace {

constexpr int32_t kIterations = 1000000;


// A loop's commands: `setup` before it, `perIteration` in each iteration.
struct Shape {
  int32_t setup, perIteration;
  // One run: the set-up, the iterations and the final ret.
  constexpr int64_t commands() const { return setup + int64_t(kIterations) * perIteration + 1; }
};
constexpr Shape kIntLoop{1, 3}, kFloatLoop{3, 5}, kCallLoop{1, 6};

// A prepared machine over its own image.
struct Program {
  std::vector<uint8_t> image;
  VmMachine *machine = nullptr;
  int64_t commandsPerRun = 0;

  // The machine lies inside `image`; moving the vector keeps its buffer.
  // Every run starts with `setup` commands and ends with one ret.
  // `decoded` false: the machine runs in the step loop alone (its decoded
  // form released), as every machine did before there was one.
  Program(const ImageBuilder &builder, const Shape &shape, bool decoded = true);
  Program(std::vector<uint8_t> bytes, int64_t commands, bool decoded) : image(std::move(bytes)), commandsPerRun(commands) {
    if (VmInitMachine(image.data(), static_cast<uint32_t>(image.size()), &machine) != 0 || VmVerifyCode(machine) != 0)
      std::fprintf(stderr, "set-up refused the benchmark image\n");
    if (!decoded) VmReleaseMachine(machine);
  }
};

Program::Program(const ImageBuilder &builder, const Shape &shape, bool decoded)
    : Program(builder.build(), shape.commands(), decoded) {}

ImageBuilder base(uint32_t &s0) {
  ImageBuilder b;
  b.commandLimit(0x7FFFFFFF);
  s0 = b.segment();  // vars 0, 1: base segment and array numbers
  return b;
}

// 0: mov 0 -> g2; 1: add_dint g2 + 1 -> g2; 2: cmd_dint g2, g3; 3: jmp_lt 1; 4: ret
Program intLoop(bool decoded = true) {
  uint32_t s0;
  ImageBuilder b = base(s0);
  uint32_t counter = b.var(s0, Var(Value::dint(0)));
  uint32_t limit = b.var(s0, Var(Value::dint(kIterations)));
  b.command(10, c(Value::dint(0)), Operand::none(), g(counter));
  b.command(32, g(counter), c(Value::dint(1)), g(counter));
  b.command(173, g(counter), g(limit));
  b.command(193, num(1));
  b.command(220);
  return Program(b, kIntLoop, decoded);
}

// x = x * 1.0000001; sum = sum + x; i = i + 1; loop while i < limit.
Program floatLoop(bool decoded = true) {
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
  return Program(b, kFloatLoop, decoded);
}

// 0: mov 0 -> g2; 1: set_ds 0, 1; 2: call 6; 3: cmd_dint; 4: jmp_lt 1; 5: ret;
// 6: add_dint g2 + l2 -> g2; 7: ret
Program callLoop(bool decoded = true) {
  uint32_t s0;
  ImageBuilder b = base(s0);
  uint32_t counter = b.var(s0, Var(Value::dint(0)));
  uint32_t limit = b.var(s0, Var(Value::dint(kIterations)));
  uint32_t s1 = b.segment(1, 0);
  uint32_t step = b.var(s1, Var(Value::dint(1)));
  b.command(10, c(Value::dint(0)), Operand::none(), g(counter));
  b.command(201, num(0), num(1));
  b.command(210, Operand::words(VM_KIND_CONST, 6, VM_CALL_CODE | 1), num(0));
  b.command(173, g(counter), g(limit));
  b.command(193, num(1));
  b.command(220);
  b.command(32, g(counter), l(step), g(counter));
  b.command(220);
  return Program(b, kCallLoop, decoded);
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
void BM_step_int_loop(benchmark::State &state) { runVm(state, intLoop(false)); }
void BM_step_float_loop(benchmark::State &state) { runVm(state, floatLoop(false)); }
void BM_step_call_loop(benchmark::State &state) { runVm(state, callLoop(false)); }

// A plant's program: the cycle of the pumps example (examples/pumps.asm:
// hysteresis, a TON, timers, MUX and LIMIT calls, subroutines), without
// linked points, 1,000 cycles per benchmark iteration.
constexpr int kCycles = 1000;
constexpr int64_t kPumpsCommands = 71;  // per cycle
std::vector<uint8_t> exampleImage() {
  std::vector<uint8_t> bytes;
  if (FILE *file = std::fopen(SICVM_EXAMPLE_IMAGE, "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(uint8_t(c));
    std::fclose(file);
  }
  return bytes;
}
void runExample(benchmark::State &state, bool decoded) {
  std::vector<uint8_t> bytes = exampleImage();
  if (bytes.empty()) return state.SkipWithError("no example image " SICVM_EXAMPLE_IMAGE);
  const Program program(bytes, kPumpsCommands, decoded);
  VmSetLogLevel(0);
  int64_t commands = 0;
  for (auto _ : state)
    for (int cycle = 0; cycle < kCycles; ++cycle) {
      VmResetMachine(program.machine);
      commands += VmRunProgram(program.machine, 0, 0);
    }
  if (VmGetLastError(program.machine, nullptr, nullptr, nullptr) > 100) state.SkipWithError("the cycle failed");
  state.counters["cmds/s"] = benchmark::Counter(double(commands), benchmark::Counter::kIsRate);
  state.counters["cmds/cycle"] = double(commands) / double(int64_t(state.iterations()) * kCycles);
}
void BM_vm_pumps_cycle(benchmark::State &state) { runExample(state, true); }
void BM_step_pumps_cycle(benchmark::State &state) { runExample(state, false); }

// The same algorithms in Lua 5.4, each a global function `run` over globals.
constexpr const char *kLuaIntLoop = R"(
local counter
function run(limit)
  counter = 0
  repeat counter = counter + 1 until counter >= limit
  return counter
end)";
constexpr const char *kLuaFloatLoop = R"(
local x, sum, i
function run(limit)
  x = 1.0; sum = 0.0; i = 0
  repeat
    x = x * 1.0000001
    sum = sum + x
    i = i + 1
  until i >= limit
  return i
end)";
constexpr const char *kLuaCallLoop = R"(
local counter, by
local function step() counter = counter + by end
function run(limit)
  counter = 0; by = 1
  repeat step() until counter >= limit
  return counter
end)";

// A Lua state with one of the programs above loaded.
class LuaProgram {
 public:
  explicit LuaProgram(const char *source) : lua_(luaL_newstate()) {
    luaL_openlibs(lua_);
    if (luaL_dostring(lua_, source) != LUA_OK) std::fprintf(stderr, "lua: %s\n", lua_tostring(lua_, -1));
  }
  ~LuaProgram() { lua_close(lua_); }
  LuaProgram(const LuaProgram &) = delete;
  LuaProgram &operator=(const LuaProgram &) = delete;

  // Runs `run(kIterations)`; false when it failed or counted wrong.
  bool run() {
    lua_getglobal(lua_, "run");
    lua_pushinteger(lua_, kIterations);
    if (lua_pcall(lua_, 1, 1, 0) != LUA_OK) return false;
    const bool ok = lua_tointeger(lua_, -1) == kIterations;
    lua_pop(lua_, 1);
    return ok;
  }

 private:
  lua_State *lua_;
};

void runLua(benchmark::State &state, const char *source) {
  LuaProgram program(source);
  bool ok = true;
  for (auto _ : state) ok = program.run() && ok;
  if (!ok) state.SkipWithError("the Lua program failed");
  state.SetItemsProcessed(int64_t(state.iterations()) * kIterations);
}

void BM_lua_int_loop(benchmark::State &state) { runLua(state, kLuaIntLoop); }
void BM_lua_float_loop(benchmark::State &state) { runLua(state, kLuaFloatLoop); }
void BM_lua_call_loop(benchmark::State &state) { runLua(state, kLuaCallLoop); }

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

// Seven repetitions each; the report shows their mean, median, spread and
// fastest run, and the ratios below use the fastest.
#define SICVM_BENCH(name)                                                                 \
  BENCHMARK(name)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true) \
      ->ComputeStatistics("min", [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); })
SICVM_BENCH(BM_vm_int_loop);
SICVM_BENCH(BM_step_int_loop);
SICVM_BENCH(BM_lua_int_loop);
SICVM_BENCH(BM_native_int_loop);
SICVM_BENCH(BM_vm_float_loop);
SICVM_BENCH(BM_step_float_loop);
SICVM_BENCH(BM_lua_float_loop);
SICVM_BENCH(BM_native_float_loop);
SICVM_BENCH(BM_vm_call_loop);
SICVM_BENCH(BM_step_call_loop);
SICVM_BENCH(BM_lua_call_loop);
SICVM_BENCH(BM_native_call_loop);
SICVM_BENCH(BM_vm_pumps_cycle);
SICVM_BENCH(BM_step_pumps_cycle);

// One loop, RUNS times, for instruction counts (see the top of the file).
[[gnu::noinline]] bool runOnce(const Program *vm, LuaProgram *lua) {
  if (vm == nullptr) return lua->run();
  VmResetMachine(vm->machine);
  return VmRunProgram(vm->machine, 0, 0) == vm->commandsPerRun;
}

int count(const std::string &name, int runs) {
  static const std::map<std::string, Program (*)()> vm = {
      {"vm_int_loop", [] { return intLoop(); }},     {"vm_float_loop", [] { return floatLoop(); }},
      {"vm_call_loop", [] { return callLoop(); }},   {"step_int_loop", [] { return intLoop(false); }},
      {"step_float_loop", [] { return floatLoop(false); }}, {"step_call_loop", [] { return callLoop(false); }},
      {"vm_pumps_cycle", [] { return Program(exampleImage(), kPumpsCommands, true); }},
      {"step_pumps_cycle", [] { return Program(exampleImage(), kPumpsCommands, false); }}};
  static const std::map<std::string, const char *> lua = {
      {"lua_int_loop", kLuaIntLoop}, {"lua_float_loop", kLuaFloatLoop}, {"lua_call_loop", kLuaCallLoop}};
  VmSetLogLevel(0);
  bool ok = true;
  if (auto it = vm.find(name); it != vm.end()) {
    const Program program = it->second();
    for (int i = 0; i < runs; ++i) ok = runOnce(&program, nullptr) && ok;
  } else if (auto jt = lua.find(name); jt != lua.end()) {
    LuaProgram program(jt->second);
    for (int i = 0; i < runs; ++i) ok = runOnce(nullptr, &program) && ok;
  } else {
    std::fprintf(stderr, "no loop named %s\n", name.c_str());
    return 1;
  }
  std::printf("%s: %d runs%s\n", name.c_str(), runs, ok ? "" : " FAILED");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--count") return count(argv[2], std::atoi(argv[3]));
  sicvm::bench::RatioReporter reporter(
      "Time per iteration, same algorithm, same process (fastest CPU time of the repetitions):",
      {{"BM_vm_int_loop", "BM_step_int_loop"},
       {"BM_vm_float_loop", "BM_step_float_loop"},
       {"BM_vm_call_loop", "BM_step_call_loop"},
       {"BM_vm_pumps_cycle", "BM_step_pumps_cycle"},
       {"BM_vm_int_loop", "BM_lua_int_loop"},
       {"BM_vm_float_loop", "BM_lua_float_loop"},
       {"BM_vm_call_loop", "BM_lua_call_loop"},
       {"BM_vm_int_loop", "BM_native_int_loop"},
       {"BM_vm_float_loop", "BM_native_float_loop"},
       {"BM_vm_call_loop", "BM_native_call_loop"}});
  for (const std::string form : {"vm", "step"}) {
    reporter.rate("BM_" + form + "_int_loop", double(kIntLoop.commands()), "commands");
    reporter.rate("BM_" + form + "_float_loop", double(kFloatLoop.commands()), "commands");
    reporter.rate("BM_" + form + "_call_loop", double(kCallLoop.commands()), "commands");
    reporter.rate("BM_" + form + "_pumps_cycle", double(kCycles * kPumpsCommands), "commands");
  }
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
