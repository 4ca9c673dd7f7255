// SPDX-License-Identifier: MIT
// Selection functions of the standard library, called through its entry
// point: the output value at its type's width, the errors recorded and
// logged, and the number and count checks of both modes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/cells.h"
#include "stdlib/stdlib.h"
#include "support/log_capture.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

// Offsets within a typed family, in the library's type order.
constexpr int32_t B = 0, I = 1, D = 2, R = 3, L = 4, DT = 6;  // TIME is 5
constexpr int32_t SEL = 1040, MAX = 1050, MIN = 1060, LIMIT = 1070, MUX = 1080;
constexpr int32_t INC_RANGE = 1394, INC_RANGE2 = 1395, DEC_RANGE = 1396, DEC_RANGE2 = 1397;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
Value boolByte(uint8_t byte) { return Value::raw(VM_TYPE_BOOL, byte, 0); }

const struct Case {
  const char *what;
  int32_t function;
  std::vector<Value> inputs;
  Value out;
  int32_t error = 0;  // run-time error recorded, 0 = none
} kCases[] = {
    {"SEL BOOL false takes IN0", SEL + B, {Value::boolean(false), boolByte(2), boolByte(0)}, boolByte(2)},
    {"SEL INT true byte 2 takes IN1", SEL + I, {boolByte(2), Value::int16(1), Value::int16(-7)}, Value::int16(-7)},
    {"SEL DT copies 8 bytes", SEL + DT, {Value::boolean(true), Value::dt(1), Value::dt(45000.5)}, Value::dt(45000.5)},
    {"MAX DINT is signed", MAX + D, {Value::dint(-1), Value::dint(7), Value::dint(3)}, Value::dint(7)},
    {"MAX BOOL compares bytes unsigned", MAX + B, {boolByte(1), boolByte(200)}, boolByte(200)},
    {"MIN BOOL is AND", MIN + B, {Value::boolean(true), Value::boolean(false)}, Value::boolean(false)},
    {"MAX LREAL keeps the first of equal zeros", MAX + L, {Value::lreal(0.0), Value::lreal(-0.0)}, Value::lreal(0.0)},
    {"MIN REAL keeps the first of equal zeros", MIN + R, {Value::real(-0.0f), Value::real(0.0f)}, Value::real(-0.0f)},
    {"MAX LREAL never takes a later NaN", MAX + L, {Value::lreal(1), Value::lreal(kNaN), Value::lreal(3)},
     Value::lreal(3)},
    {"MAX LREAL keeps a NaN first input", MAX + L, {Value::lreal(kNaN), Value::lreal(5)}, Value::lreal(kNaN)},
    {"LIMIT INT below", LIMIT + I, {Value::int16(10), Value::int16(5), Value::int16(20)}, Value::int16(10)},
    {"LIMIT INT MN above MX gives MX", LIMIT + I, {Value::int16(30), Value::int16(25), Value::int16(20)},
     Value::int16(20)},
    {"MUX K 2", MUX + D, {Value::dint(2), Value::dint(10), Value::dint(11), Value::dint(12)}, Value::dint(12)},
    {"MUX K 3 is out of range", MUX + D, {Value::dint(3), Value::dint(10), Value::dint(11), Value::dint(12)},
     Value::dint(0), 33},
    {"MUX K -1 writes two zero INT bytes", MUX + I, {Value::dint(-1), Value::int16(1)}, Value::int16(0), 33},
    {"INC_RANGE inside", INC_RANGE, {Value::dint(3), Value::dint(0), Value::dint(5)}, Value::dint(4)},
    {"INC_RANGE at high", INC_RANGE, {Value::dint(5), Value::dint(0), Value::dint(5)}, Value::dint(5), 34},
    {"INC_RANGE above", INC_RANGE2, {Value::dint(7), Value::dint(0), Value::dint(5)}, Value::dint(7), 33},
    {"DEC_RANGE inside", DEC_RANGE, {Value::dint(3), Value::dint(0), Value::dint(5)}, Value::dint(2)},
    {"DEC_RANGE at low", DEC_RANGE2, {Value::dint(0), Value::dint(0), Value::dint(5)}, Value::dint(0), 34},
    {"DEC_RANGE empty range", DEC_RANGE, {Value::dint(3), Value::dint(5), Value::dint(0)}, Value::dint(3), 33},
};

TEST(StandardSelection, WritesTheOutputAtItsWidthAndRecordsErrors) {
  test::TestMachine m(test::minimalProgram());
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<VmCell> frame;
    for (const Value &v : c.inputs) frame.push_back(cellOf(v));
    frame.push_back(outputOf(c.out.type));
    VmClearLastError(m.get());
    m.get()->pc = 42;
    test::LogCapture log(10);
    const int32_t nin = static_cast<int32_t>(c.inputs.size());
    ASSERT_EQ(stdlib::dispatch(1, c.function, frame.data(), nin + 1, 0, nin, 1, m.get()), 0);
    EXPECT_TRUE(holds(frame.back(), c.out));
    EXPECT_EQ(m.state().errorCode, c.error);
    if (c.error == 33) {
      EXPECT_EQ(log.at(10), std::vector<std::string>{"Program \"TEST\" (1) error 33 at addr 00042: "
                                                     "Invalid parameter\n"});
    }
    if (c.error != 0) {
      EXPECT_EQ(m.state().errorAddress, 42u);
      EXPECT_EQ(m.state().errorArg1 | m.state().errorArg2, 0u);
    }
  }
}

// MAX, MIN and MUX take up to 32 inputs; parameters start at `first`.
TEST(StandardSelection, ReadsUpTo32InputsFromTheFrameStart) {
  test::TestMachine m(test::minimalProgram());
  std::vector<VmCell> frame = {cellOf(Value::dint(-5))};  // somebody else's cell
  for (int i = 0; i < 32; ++i) frame.push_back(cellOf(Value::dint(i == 31 ? 1000 : i)));
  frame.push_back(outputOf(VM_TYPE_DINT));
  ASSERT_EQ(stdlib::dispatch(1, MAX + D, frame.data(), 34, 1, 32, 1, m.get()), 0);
  EXPECT_TRUE(holds(frame[33], Value::dint(1000)));
  ASSERT_EQ(stdlib::dispatch(1, MIN + D, frame.data(), 34, 1, 32, 1, m.get()), 0);
  EXPECT_TRUE(holds(frame[33], Value::dint(0)));
  EXPECT_EQ(test::value(frame[0].v.i32), -5);
}

// Checking answers 0 (done), 1 (unknown number) or 2 (counts that do not
// fit) without seeing a frame; executing also needs room for the parameters
// and a block's state cells from the frame start on, and a refused call
// leaves the frame alone.
TEST(StandardDispatch, AnswersNumbersCountsAndRoomInBothModes) {
  const struct { int32_t function, nin, nout, check, count, first, execute; } cases[] = {
      {1039, 3, 1, 1, 9, 0, 1}, {1047, 3, 1, 1, 9, 0, 1}, {1398, 3, 1, 1, 9, 0, 1}, {4533, 2, 2, 1, 9, 0, 1},
      {-1040, 3, 1, 1, 9, 0, 1}, {SEL + L, 3, 2, 2, 9, 0, 2}, {MAX + I, 33, 1, 2, 40, 0, 2},
      {MAX + I, 1, 1, 2, 9, 0, 2}, {MAX + DT, 32, 1, 0, 33, 0, 0}, {LIMIT + R, 4, 1, 2, 9, 0, 2},
      {4501, 2, 2, 2, 9, 0, 2}, {4523, 3, 1, 2, 9, 0, 2},
      {SEL + D, 3, 1, 0, 3, 0, 2}, {SEL + D, 3, 1, 0, 5, 1, 0}, {SEL + D, 3, 1, 0, 4, -1, 2},
      {4510, 1, 1, 0, 2, 0, 2}, {4510, 1, 1, 0, 3, 0, 0}, {4510, 1, 1, 0, 5, 3, 2}, {4510, 1, 1, 0, 6, 3, 0},
      {4524, 5, 3, 0, 11, 0, 2}, {4525, 5, 3, 0, 12, 0, 0}, {4530, 2, 2, 0, 6, 0, 2}, {4532, 2, 2, 0, 7, 0, 0},
  };
  test::TestMachine m(test::minimalProgram());
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.function << " (" << c.nin << ", " << c.nout << ") count " << c.count
                                      << " first " << c.first);
    EXPECT_EQ(stdlib::dispatch(0, c.function, nullptr, 0, 0, c.nin, c.nout, m.get()), c.check);
    std::vector<VmCell> frame(48, outputOf(VM_TYPE_BOOL));
    const std::vector<VmCell> before = frame;
    VmCell *base = frame.data() + 4;  // room below for a negative start
    EXPECT_EQ(stdlib::dispatch(1, c.function, base, c.count, c.first, c.nin, c.nout, m.get()), c.execute);
    if (c.execute != 0) {
      EXPECT_EQ(std::memcmp(frame.data(), before.data(), frame.size() * sizeof(VmCell)), 0);
    }
  }
  std::vector<VmCell> frame(4, outputOf(VM_TYPE_DINT));
  EXPECT_EQ(stdlib::dispatch(1, SEL + D, frame.data(), 4, 0, 3, 1, nullptr), 4);
  EXPECT_EQ(stdlib::dispatch(1, SEL + D, nullptr, 4, 0, 3, 1, m.get()), 4);
  EXPECT_EQ(stdlib::dispatch(0, SEL + D, nullptr, 0, 0, 3, 1, nullptr), 0) << "checking needs neither";
}

}  // namespace
