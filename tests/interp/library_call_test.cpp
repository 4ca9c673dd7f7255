// Library calls end to end: programs built with the image builder call the
// standard and host libraries and the external procedure through
// VmRunProgram, with parameters on the param stack (call type 1) and in the
// local data segment (call type 2), cycle after cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "interp/command_table.h"
#include "interp/external_call.h"
#include "support/log_capture.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

constexpr uint32_t kStandard = 0x100, kHost = 0x800, kExternal = 0x1000;
constexpr uint32_t kOnStack = 1, kInSegment = 2;
// Parameter 0 of a call type 2 frame: the local segment's cells after its
// two base vars.
constexpr uint8_t kFirst = 2;

Command call(uint32_t function, uint32_t type, uint32_t callClass, uint8_t nin, uint8_t nout,
             uint8_t first = 0) {
  Command cmd;
  cmd.code = op("call");
  cmd.src1 = Operand::words(VM_KIND_CONST, function, callClass | type);
  cmd.src2 = Operand::words(VM_KIND_CONST, uint32_t(first) | uint32_t(nin) << 8 | uint32_t(nout) << 16);
  return cmd;
}

size_t widthOf(uint8_t type) {
  switch (type) {
    case VM_TYPE_BOOL: return 1;
    case VM_TYPE_INT: return 2;
    case VM_TYPE_DINT:
    case VM_TYPE_REAL: return 4;
    default: return 8;
  }
}

bool sameValue(const VmCell &cell, const Value &value) {
  return std::memcmp(cell.v.bytes, value.v.bytes, widthOf(value.type)) == 0;
}

struct Outcome {
  int32_t result;  // commands run
  uint32_t runStatus;
  int32_t code;
  uint32_t address, arg1, arg2;
};

Outcome runCycle(test::TestMachine &m) {
  VmResetMachine(m.get());
  Outcome o{};
  o.result = VmRunProgram(m.get(), 0, 0);
  o.runStatus = m.state().runStatus;
  o.code = VmGetLastError(m.get(), &o.address, &o.arg1, &o.arg2);
  return o;
}

// ---- Functions through both call types ----------------------------------------------

struct FunctionCase {
  const char *what;
  int32_t function;
  std::vector<Value> inputs;
  Value out;
  int32_t error = 0;  // run-time error the call records; the run goes on
};

const FunctionCase kFunctions[] = {
    {"SEL DINT", 1042, {Value::boolean(true), Value::dint(-4), Value::dint(9)}, Value::dint(9)},
    {"SEL LREAL", 1044, {Value::boolean(false), Value::lreal(2.5), Value::lreal(-1)}, Value::lreal(2.5)},
    {"MAX INT of four", 1051, {Value::int16(3), Value::int16(-7), Value::int16(12), Value::int16(12)}, Value::int16(12)},
    {"MAX DINT", 1052, {Value::dint(3), Value::dint(7), Value::dint(7), Value::dint(-1)}, Value::dint(7)},
    {"MIN REAL", 1063, {Value::real(2.5f), Value::real(-0.5f)}, Value::real(-0.5f)},
    {"MIN TIME", 1065, {Value::time(100), Value::time(40)}, Value::time(40)},
    {"MAX DT", 1056, {Value::dt(40000), Value::dt(45000.5)}, Value::dt(45000.5)},
    {"LIMIT INT", 1071, {Value::int16(10), Value::int16(25), Value::int16(20)}, Value::int16(20)},
    {"MUX BOOL", 1080, {Value::dint(1), Value::boolean(false), Value::boolean(true)}, Value::boolean(true)},
    {"MUX DINT out of range", 1082, {Value::dint(3), Value::dint(1), Value::dint(2)}, Value::dint(0), 33},
    {"INC_RANGE", 1394, {Value::dint(4), Value::dint(0), Value::dint(9)}, Value::dint(5)},
    {"DEC_RANGE at low", 1397, {Value::dint(0), Value::dint(0), Value::dint(9)}, Value::dint(0), 34},
};

// Inputs pushed as constants, the call, the result popped into global var 2.
test::TestMachine onStack(const FunctionCase &c) {
  ImageBuilder b;
  uint32_t global = b.segment();
  b.var(global, Var(Value::raw(c.out.type, 0xA5A5A5A5u, 0xA5A5A5A5u)));
  for (const Value &v : c.inputs) b.command(op("push_const"), Operand::constant(v));
  b.command(call(uint32_t(c.function), kOnStack, kStandard, uint8_t(c.inputs.size()), 1));
  b.command(op("pop_vars"), g(2), num(1));
  b.end();
  return test::TestMachine(b);
}

// Inputs and output as vars of the local segment from var kFirst on.
test::TestMachine inSegment(const FunctionCase &c) {
  ImageBuilder b;
  b.segment();
  uint32_t local = b.segment();
  for (const Value &v : c.inputs) b.var(local, Var(v));
  b.var(local, Var(Value::raw(c.out.type, 0xA5A5A5A5u, 0xA5A5A5A5u)));
  b.command(op("set_ds"), num(0), num(1));
  b.command(call(uint32_t(c.function), kInSegment, kStandard, uint8_t(c.inputs.size()), 1, kFirst));
  b.end();
  return test::TestMachine(b);
}

TEST(LibraryCallRun, StandardFunctionsWithBothCallTypes) {
  for (const FunctionCase &c : kFunctions) {
    SCOPED_TRACE(c.what);
    test::TestMachine stack = onStack(c);
    ASSERT_TRUE(stack.ok());
    ASSERT_EQ(VmVerifyCode(stack.get()), 0);
    Outcome o = runCycle(stack);
    EXPECT_EQ(o.runStatus, uint32_t(VM_END_MARKER));
    EXPECT_EQ(o.code, c.error);
    if (c.error != 0) {
      EXPECT_EQ(o.address, uint32_t(c.inputs.size())) << "the call's address";
    }
    EXPECT_TRUE(sameValue(stack.cell(0, 2), c.out));
    // The popped result: the whole value field of the cleared output entry.
    for (size_t i = widthOf(c.out.type); i < 8; ++i) EXPECT_EQ(stack.cell(0, 2).v.bytes[i], 0) << i;
    EXPECT_EQ(stack->paramDepth, 0u);

    test::TestMachine local = inSegment(c);
    ASSERT_TRUE(local.ok());
    ASSERT_EQ(VmVerifyCode(local.get()), 0);
    o = runCycle(local);
    EXPECT_EQ(o.runStatus, uint32_t(VM_END_MARKER));
    EXPECT_EQ(o.code, c.error);
    const VmCell &out = local.cell(1, kFirst + uint32_t(c.inputs.size()));
    EXPECT_TRUE(sameValue(out, c.out));
    for (size_t i = widthOf(c.out.type); i < 8; ++i) EXPECT_EQ(out.v.bytes[i], 0xA5) << i;
    EXPECT_EQ(local->paramDepth, 0u) << "type 2 leaves the param stack alone";
  }
}

TEST(LibraryCallRun, OutputsReplaceTheInputsOnTheParamStack) {
  ImageBuilder b;
  b.segment();
  for (int i = 0; i < 5; ++i) b.command(op("push_const"), c(Value::dint(i + 1)));
  b.command(call(1052, kOnStack, kStandard, 2, 1));  // MAX of the top two: 4, 5
  b.end();
  test::TestMachine m(b);
  Outcome o = runCycle(m);
  EXPECT_EQ(o.code, 0);
  ASSERT_EQ(m->paramDepth, 4u);
  auto *stack = reinterpret_cast<VmCell *>(m.image().data() + m.image().header().paramStackOffset);
  EXPECT_EQ(stack[3].type, VM_ENTRY_VALUE);
  EXPECT_EQ(stack[3].v.i32, 5);
  EXPECT_EQ(stack[2].v.i32, 3);
}

// ---- Function blocks across cycles -----------------------------------------------------

struct Cycle {
  std::vector<Value> inputs;
  uint32_t advance;  // milliseconds the host clock moves before the cycle
  std::vector<std::pair<int, Value>> outputs;  // block cell, value
};

struct BlockCase {
  const char *what;
  int32_t function;
  uint8_t nin, nout;
  std::vector<Value> cells;  // the block's cells as the image holds them
  std::vector<Cycle> cycles;
};

Value B(bool b) { return Value::boolean(b); }
Value T(double ms) { return Value::time(ms); }

const BlockCase kBlocks[] = {
    {"R_TRIG", 4510, 1, 1, {B(false), B(false), B(false)},
     {{{B(true)}, 0, {{1, B(true)}}}, {{B(true)}, 0, {{1, B(false)}}}, {{B(false)}, 0, {{1, B(false)}}},
      {{B(true)}, 0, {{1, B(true)}}}}},
    {"CTU DINT", 4521, 3, 2,
     {B(false), B(false), Value::dint(2), B(false), Value::dint(0), Value::dint(INT32_MAX), B(false)},
     {{{B(true), B(false), Value::dint(2)}, 0, {{4, Value::dint(1)}, {3, B(false)}}},
      {{B(false), B(false), Value::dint(2)}, 0, {{4, Value::dint(1)}}},
      {{B(true), B(false), Value::dint(2)}, 0, {{4, Value::dint(2)}, {3, B(true)}}},
      {{B(true), B(true), Value::dint(2)}, 0, {{4, Value::dint(0)}, {3, B(false)}}}}},
    {"TON with PT 1000", 4531, 2, 2, {B(false), T(1000), B(false), T(0), T(0), T(0), B(false)},
     {{{B(true), T(1000)}, 0, {{2, B(false)}, {3, T(0)}}},
      {{B(true), T(1000)}, 600, {{2, B(false)}, {3, T(600)}}},
      {{B(true), T(1000)}, 500, {{2, B(true)}, {3, T(1100)}}},
      {{B(true), T(1000)}, 300, {{2, B(true)}, {3, T(1100)}}},
      {{B(false), T(1000)}, 300, {{2, B(false)}, {3, T(0)}}}}},
    {"TOF with PT 500", 4532, 2, 2, {B(false), T(500), B(false), T(0), T(0), T(0), B(false)},
     {{{B(true), T(500)}, 0, {{2, B(true)}}},
      {{B(false), T(500)}, 100, {{2, B(true)}, {3, T(0)}}},
      {{B(false), T(500)}, 400, {{2, B(true)}, {3, T(400)}}},
      {{B(false), T(500)}, 200, {{2, B(false)}, {3, T(600)}}}}},
    {"TP with PT 300", 4530, 2, 2, {B(false), T(300), B(false), T(0), T(0), T(0), B(false)},
     {{{B(true), T(300)}, 0, {{2, B(true)}, {3, T(0)}}},
      {{B(false), T(300)}, 200, {{2, B(true)}, {3, T(200)}}},
      {{B(false), T(300)}, 200, {{2, B(false)}, {3, T(0)}}}}},
};

// load_points (which runs the timer update), set_ds to the block's segment,
// the call of the block, end.
test::TestMachine blockProgram(const BlockCase &c) {
  ImageBuilder b;
  b.segment();
  uint32_t local = b.segment();
  for (const Value &v : c.cells) b.var(local, Var(v));
  b.command(op("load_points"), num(0));
  b.command(op("set_ds"), num(0), num(1));
  b.command(call(uint32_t(c.function), kInSegment, kStandard, c.nin, c.nout, kFirst));
  b.end();
  return test::TestMachine(b);
}

TEST(LibraryCallRun, FunctionBlocksKeepTheirStateFromCycleToCycle) {
  for (const BlockCase &c : kBlocks) {
    SCOPED_TRACE(c.what);
    test::TestMachine m = blockProgram(c);
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(VmVerifyCode(m.get()), 0);
    SysSetManualClock(5000);
    ASSERT_EQ(VmInitTimers(m.get()), 0);
    for (size_t n = 0; n < c.cycles.size(); ++n) {
      SCOPED_TRACE(::testing::Message() << "cycle " << n + 1);
      const Cycle &cycle = c.cycles[n];
      for (size_t i = 0; i < cycle.inputs.size(); ++i) m.cell(1, kFirst + uint32_t(i)).v = cycle.inputs[i].v;
      SysAdvanceManualClock(cycle.advance);
      Outcome o = runCycle(m);
      ASSERT_EQ(o.code, 0);
      ASSERT_EQ(o.runStatus, uint32_t(VM_END_MARKER));
      for (const auto &[cell, value] : cycle.outputs) {
        SCOPED_TRACE(::testing::Message() << "cell " << cell);
        EXPECT_TRUE(sameValue(m.cell(1, kFirst + uint32_t(cell)), value));
      }
    }
  }
  SysUseRealClock();
}

// ---- Host library ----------------------------------------------------------------------

TEST(LibraryCallRun, HostSystemFunctionsSeeTheRunningMachine) {
  ImageBuilder b;
  uint32_t global = b.segment();
  b.var(global, Var(Value::dint(0)));  // 2: cycle count
  b.var(global, Var(Value::dint(0)));  // 3: code cleared by ClearLastError
  b.var(global, Var(Value::dint(0)));  // 4: code after clearing
  b.command(call(6025, kOnStack, kHost, 0, 1));
  b.command(op("pop_vars"), g(2), num(1));
  // MUX with K out of range records error 33 ...
  b.command(op("push_const"), c(Value::dint(7)));
  b.command(op("push_const"), c(Value::dint(1)));
  b.command(call(1082, kOnStack, kStandard, 2, 1));
  b.command(op("pop_vars"), g(4), num(1));
  // ... which the program reads back and clears.
  b.command(call(6022, kOnStack, kHost, 0, 1));
  b.command(op("pop_vars"), g(3), num(1));
  b.command(call(6020, kOnStack, kHost, 0, 1));
  b.command(op("pop_vars"), g(4), num(1));
  b.end();
  test::TestMachine m(b);
  ASSERT_EQ(VmVerifyCode(m.get()), 0);
  for (int cycle = 1; cycle <= 3; ++cycle) {
    Outcome o = runCycle(m);
    EXPECT_EQ(o.runStatus, uint32_t(VM_END_MARKER));
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(m.cell(0, 2).v.i32, cycle);
    EXPECT_EQ(m.cell(0, 3).v.i32, 33);
    EXPECT_EQ(m.cell(0, 4).v.i32, 0);
  }
}

// ---- Calls that stop the run ---------------------------------------------------------

struct StopCase {
  const char *what;
  std::vector<Command> code;
  uint32_t pc;  // of the call
  int32_t function, result;
  const char *message;
};

std::vector<Command> pushed(int n, const Command &then) {
  std::vector<Command> code;
  for (int i = 0; i < n; ++i) code.push_back(Command{op("push_const"), c(Value::dint(i)), {}, {}, 0});
  code.push_back(then);
  return code;
}

const StopCase kStops[] = {
    {"MAX with one input", pushed(1, call(1052, kOnStack, kStandard, 1, 1)), 1, 1052, 2,
     "Standard function 1052 returns error 2"},
    {"a block on the param stack has no room", pushed(1, call(4510, kOnStack, kStandard, 1, 1)), 1, 4510, 2,
     "Standard function 4510 returns error 2"},
    {"an unknown standard number", pushed(0, call(1047, kOnStack, kStandard, 0, 1)), 0, 1047, 1,
     "Standard function 1047 returns error 1"},
    {"a point function before the point family is built", pushed(1, call(6033, kOnStack, kHost, 1, 1)), 1, 6033, 3,
     "Velmora function 6033 returns error 3"},
    {"a gas function before the gas family is built", pushed(5, call(6100, kOnStack, kHost, 5, 2)), 5, 6100, 3,
     "Velmora function 6100 returns error 3"},
    {"host counts", pushed(2, call(6025, kOnStack, kHost, 2, 1)), 2, 6025, 2,
     "Velmora function 6025 returns error 2"},
    {"no external procedure", pushed(0, call(9, kOnStack, kExternal, 0, 0)), 0, 9, 1,
     "External function 9 returns error 1"},
};

TEST(LibraryCallRun, ANonZeroResultIsFatalError128) {
  VmSetExternalProc(nullptr);
  for (const StopCase &c : kStops) {
    SCOPED_TRACE(c.what);
    ImageBuilder b;
    b.segment();
    for (const Command &cmd : c.code) b.command(cmd);
    b.end();
    test::TestMachine m(b);
    test::LogCapture log(4);
    Outcome o = runCycle(m);
    EXPECT_EQ(o.runStatus, uint32_t(VM_STOPPED));
    EXPECT_EQ(o.code, 128);
    EXPECT_EQ(o.address, c.pc);
    EXPECT_EQ(o.arg1, uint32_t(c.function));
    EXPECT_EQ(o.arg2, uint32_t(c.result));
    EXPECT_EQ(m->pc, c.pc);
    EXPECT_EQ(m->paramDepth, c.pc) << "the inputs stay on the stack";
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "Program \"TEST\" (1) error 128 at addr %05u: ", c.pc);
    EXPECT_EQ(log.at(4), std::vector<std::string>{prefix + std::string(c.message) + "\n"});
  }
}

TEST(LibraryCallRun, ABlockWhoseSegmentIsTooSmallStopsTheRun) {
  ImageBuilder b;
  b.segment();
  uint32_t local = b.segment();
  for (int i = 0; i < 4; ++i) b.var(local, Var(Value::boolean(false)));  // 6 vars; TON needs 2 + 7
  b.command(op("set_ds"), num(0), num(1));
  b.command(call(4531, kInSegment, kStandard, 2, 2, kFirst));
  b.end();
  test::TestMachine m(b);
  ASSERT_EQ(VmVerifyCode(m.get()), 0) << "check mode cannot see the frame";
  Outcome o = runCycle(m);
  EXPECT_EQ(o.code, 128);
  EXPECT_EQ(o.arg2, 2u);
  EXPECT_EQ(m->pc, 1u);
}

// ---- The external procedure -------------------------------------------------------------

// Adds its two DINT inputs.
int32_t adds(int32_t mode, int32_t, VmCell *frame, int32_t, int32_t first, int32_t nin, int32_t nout,
             VmMachine *) {
  if (nin != 2 || nout != 1) return 2;
  if (mode != 0) frame[first + 2].v.i32 = frame[first].v.i32 + frame[first + 1].v.i32;
  return 0;
}

__attribute__((noinline)) __attribute__((no_sanitize("address"))) __attribute__((no_sanitize("undefined")))
int32_t crashes(
    int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t, VmMachine *) {
  volatile int *volatile p = nullptr;
  *p = 1;
  return 0;
}

// A program adding 20 and 22 through the external procedure into var 2.
test::TestMachine externalProgram() {
  ImageBuilder b;
  uint32_t global = b.segment();
  b.var(global, Var(Value::dint(0)));
  b.command(op("push_const"), c(Value::dint(20)));
  b.command(op("push_const"), c(Value::dint(22)));
  b.command(call(77, kOnStack, kExternal, 2, 1));
  b.command(op("pop_vars"), g(2), num(1));
  b.end();
  return test::TestMachine(b);
}

void externalFaultThenRecovery() {
  test::TestMachine m = externalProgram();
  VmSetExternalProc(adds);
  ASSERT_EQ(VmVerifyCode(m.get()), 0);
  Outcome o = runCycle(m);
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(m.cell(0, 2).v.i32, 42);

  VmSetExternalProc(crashes);
  m.cell(0, 2).v.i32 = 0;
  {
    test::LogCapture log(4);
    o = runCycle(m);
    EXPECT_EQ(o.runStatus, uint32_t(VM_STOPPED));
    EXPECT_EQ(o.code, 128);
    EXPECT_EQ(o.arg1, 77u);
    EXPECT_EQ(o.arg2, 5u);
    std::vector<std::string> lines = log.at(4);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("External call exception C0000005 at address ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "Program \"TEST\" (1) error 128 at addr 00002: External function 77 returns error 5\n");
  }
  EXPECT_EQ(m->paramDepth, 2u);

  // The next cycle runs normally.
  VmSetExternalProc(adds);
  o = runCycle(m);
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.runStatus, uint32_t(VM_END_MARKER));
  EXPECT_EQ(m.cell(0, 2).v.i32, 42);
  VmSetExternalProc(nullptr);
}

TEST(LibraryCallRun, AnExternalFaultStopsOneCycleOnly) { externalFaultThenRecovery(); }

TEST(LibraryCallRun, AnExternalFaultStopsOneCycleOnlyOnASecondThread) {
  std::thread worker(externalFaultThenRecovery);
  worker.join();
}

}  // namespace
