// SPDX-License-Identifier: MIT
// aget, aput, acopy, acopy_abs and the timer commands: element bounds, references through
// operands and vars, the copies' checks, timers in vars and in array elements.
#include "image/timers.h"
#include "interp/program.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;
using test::Record;

namespace {

constexpr uint32_t kOut = 2, kRef = 3, kTimer = 4;  // global vars
constexpr auto A = Operand::array;

// Var 2 receives results, var 3 references array 1, var 4 is a TIME. Arrays of DINTs: 0 and
// 1 of 4 (10.., 20..), 2 of 5 (30..), 3 of 2 of size 2 (40.., 48 bytes as 0 and 1); 4: TIMEs.
test::TestMachine machine(uint16_t code, const Operand &src1, const Operand &src2, const Operand &dst) {
  ImageBuilder b;
  const uint32_t g0 = b.segment();
  b.var(g0, Var(Value::raw(VM_TYPE_DINT, 0xA5A5A5A5u, 0xA5A5A5A5u)));
  Var reference(Value::raw(VM_TYPE_DINT, 0, 1));
  reference.typeClass = VM_CLASS_ARRAY_REF;
  b.var(g0, reference);
  b.var(g0, Var(Value::time(0)));
  const uint32_t shapes[][3] = {{1, 4, 10}, {1, 4, 20}, {1, 5, 30}, {2, 2, 40}};
  for (const auto &s : shapes) {
    std::vector<Value> init;
    for (uint32_t i = 0; i < s[0] * s[1]; ++i) init.push_back(Value::dint(int32_t(s[2] + i)));
    b.array(Array{VM_TYPE_DINT, s[0], s[1], 1, init, 0});
  }
  b.array(Array{VM_TYPE_TIME, 1, 3, 1, {}, 0});
  b.command(code, src1, src2, dst);
  b.command(op("ret"));
  test::TestMachine m(b);
  EXPECT_TRUE(m.ok());
  for (uint32_t x = 0; x < 4; ++x) m.arrayCell(1, x).type = 0x77;
  return m;
}

std::vector<uint64_t> allCells(test::TestMachine &m) {
  std::vector<uint64_t> cells;
  for (uint32_t j = 0; j < 4; ++j)
    for (uint32_t x = 0; x < (j == 2 ? 5u : 4u); ++x) cells.push_back(test::bitsOf(m.arrayCell(j, x)));
  return cells;
}

TEST(ArrayCommands, ElementsExistOnlyBelowTheCountAsUnsigned) {
  // `array`: the array the reference names; -1 when there is no such element.
  const struct { int32_t index; Operand reference; int32_t array; } cases[] = {
      {0, A(0, 0), 0},          {3, A(0, 0), 0},  {2, g(kRef), 1},
      {1, A(0, 2), 2},          {4, A(0, 0), -1}, {-1, A(0, 0), -1},
      {INT32_MIN, A(0, 1), -1}, {0, A(0, 5), -1}, {0, A(2, 0), -1},
      {0, A(1, 0), -1}};
  for (const auto &k : cases) {
    SCOPED_TRACE(k.index);
    const bool exists = k.array >= 0;
    const Record error = exists ? Record{} : Record{8, 0, uint32_t(k.index)};
    test::LogCapture log(10);
    test::TestMachine get = machine(op("aget"), k.reference, c(Value::dint(k.index)), g(kOut));
    EXPECT_EQ(VmRunProgram(get.get(), 0, 0), 2);
    EXPECT_EQ(test::bitsOf(get.globalCell(kOut)), exists ? test::bitsOf(get.arrayCell(k.array, k.index)) : 0);
    EXPECT_EQ(test::recordOf(get), error);
    EXPECT_EQ(log.has(test::errorLine(8, 0, "Array element index out of bounds (" + std::to_string(k.index) + ")")),
              !exists);

    test::TestMachine put = machine(op("aput"), c(Value::dint(k.index)),
                                    c(Value::raw(VM_TYPE_LREAL, 0x11223344, 0x55667788)), k.reference);
    std::vector<uint64_t> expected = allCells(put);
    if (exists) expected[uint32_t(k.array * 4 + k.index)] = 0x5566778811223344u;
    EXPECT_EQ(VmRunProgram(put.get(), 0, 0), 2);
    EXPECT_EQ(test::recordOf(put), error);
    EXPECT_EQ(allCells(put), expected);
    EXPECT_EQ(put.arrayCell(1, 0).type, 0x77) << "cell heads stay";
  }
}

TEST(ArrayCommands, CopiesCheckSourceThenDestinationThenSizes) {
  // `target`: the array that receives 10..13; -1: none.
  const struct { uint16_t code; Operand from, to; Record error; const char *message; int32_t target; } cases[] = {
      {op("acopy"), A(0, 0), A(0, 1), {}, "", 1},
      {op("acopy"), A(0, 0), g(kRef), {}, "", 1},
      {op("acopy"), A(0, 0), A(0, 3), {}, "", 3},  // 4 x 1 into 2 x 2
      {op("acopy"), A(0, 0), A(0, 2), {117, 0, 0, 2}, "Arrays 0 and 2 size mismatch (48, 60)", -1},
      {op("acopy"), A(0, 9), A(1, 2), {112, 0, 0, 9}, "Invalid operand array address (0:9)", -1},
      {op("acopy"), A(0, 0), A(1, 2), {112, 0, 1, 2}, "Invalid operand array address (1:2)", -1},
      {op("acopy_abs"), c(Value::dint(0)), A(0, 1), {}, "", 1},
      {op("acopy_abs"), c(Value::dint(-1)), A(0, 7), {113, 0, 0xFFFFFFFFu, 0},
       "Invalid operand array absolute address (-1)", -1},
      {op("acopy_abs"), c(Value::dint(0)), A(0, 7), {113, 0, 7, 0}, "Invalid operand array absolute address (7)", -1},
      {op("acopy_abs"), c(Value::dint(2)), A(0, 1), {117, 0, 2, 1}, "Arrays 2 and 1 size mismatch (60, 48)", -1},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(&k - cases);
    test::LogCapture log(4);
    test::TestMachine m = machine(k.code, k.from, Operand::none(), k.to);
    const bool fatal = k.error.code != 0;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), fatal ? 0 : 2);
    EXPECT_EQ(test::recordOf(m), k.error);
    EXPECT_EQ(m->pc, fatal ? 0u : 0xFFFFFFFFu);
    if (fatal) { EXPECT_EQ(log.texts(), std::vector<std::string>{test::errorLine(k.error.code, 0, k.message)}); }
    for (int32_t to = 1; to <= 3; ++to)
      for (int32_t x = 0; x < 4; ++x)
        EXPECT_EQ(test::value(m.arrayCell(to, x).v.i32), (to == k.target ? 10 : 10 * (to + 1)) + x) << to << "," << x;
    EXPECT_EQ(m.arrayCell(1, 0).type, 0x77) << "cell heads stay";
  }
}

// A timer is a TIME var or element SRC2 of an array; a missing one is error 8 and clears DST.
TEST(TimerCommands, StartStopAndRead) {
  // `element` of array 4 is the timer; -2: the var.
  const struct { const char *mnemonic; int32_t element; double value; bool running; double valueAfter;
                 bool runningAfter; Value out; } cases[] = {
      {"timer_start", -2, 500, false, 0, true, Value::time(0)},
      {"timer_start", -2, 250, true, 250, true, Value::time(250)},
      {"timer_stop", -2, 250, true, 250, false, Value::time(250)},
      {"timer_started", -2, 250, true, 250, true, Value::boolean(true)},
      {"timer_started", -2, 250, false, 250, false, Value::boolean(false)},
      {"timer_value", -2, 125.5, true, 125.5, true, Value::time(125.5)},
      {"timer_stop", 2, 7, true, 7, false, Value::time(7)},
      {"timer_value", 3, 0, false, 0, false, Value::time(0)},
      {"timer_started", -1, 0, false, 0, false, Value::boolean(false)},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(&k - cases);
    const bool inArray = k.element != -2, missing = k.element == -1 || k.element == 3;
    test::TestMachine m = inArray ? machine(codeOf(k.mnemonic), A(0, 4), c(Value::dint(k.element)), g(kOut))
                                  : machine(codeOf(k.mnemonic), g(kTimer), Operand::none(), g(kOut));
    VmCell &timer = inArray ? m.arrayCell(4, missing ? 1 : uint32_t(k.element)) : m.globalCell(kTimer);
    timer.v.f64 = k.value;
    timer.flags = k.running ? kTimerRunning : 0;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
    EXPECT_EQ(test::bitsOf(m.globalCell(kOut)), test::overFill(k.out));
    EXPECT_EQ(test::recordOf(m), (missing ? Record{8, 0, uint32_t(k.element)} : Record{}));
    EXPECT_EQ(test::value(timer.v.f64), k.valueAfter);
    EXPECT_EQ(timer.flags, k.runningAfter ? kTimerRunning : 0);
    EXPECT_EQ(m.arrayCell(4, 0).flags, 0) << "other elements stay";
  }
}

}  // namespace
