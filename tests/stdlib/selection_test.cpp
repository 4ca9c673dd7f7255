// Selection functions of the standard library, called through its entry
// point: the output value at its type's width, the errors recorded, and the
// number and count checks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "stdlib/frame.h"
#include "stdlib/stdlib.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::cellOf;
using sicvm::test::holds;
using sicvm::test::outputOf;

namespace {

// Offsets within a typed family, in the library's type order.
constexpr int32_t B = 0, I = 1, D = 2, R = 3, L = 4, T = 5, DT = 6;
constexpr int32_t SEL = 1040, MAX = 1050, MIN = 1060, LIMIT = 1070, MUX = 1080;
constexpr int32_t INC_RANGE = 1394, INC_RANGE2 = 1395, DEC_RANGE = 1396, DEC_RANGE2 = 1397;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
  const char *what;
  int32_t function;
  std::vector<Value> inputs;
  Value out;
  int32_t error = 0;  // run-time error recorded, 0 = none
};

Value boolByte(uint8_t byte) { return Value::raw(VM_TYPE_BOOL, byte, 0); }

const Case kCases[] = {
    {"SEL BOOL false takes IN0", SEL + B, {Value::boolean(false), boolByte(2), boolByte(0)}, boolByte(2)},
    {"SEL INT true byte 2 takes IN1", SEL + I, {boolByte(2), Value::int16(1), Value::int16(-7)}, Value::int16(-7)},
    {"SEL LREAL false copies 8 bytes", SEL + L, {Value::boolean(false), Value::lreal(-1.25e300), Value::lreal(2)},
     Value::lreal(-1.25e300)},
    {"SEL DT true", SEL + DT, {Value::boolean(true), Value::dt(1), Value::dt(45000.5)}, Value::dt(45000.5)},
    {"MAX DINT keeps the first of equals", MAX + D,
     {Value::dint(3), Value::dint(7), Value::dint(7), Value::dint(-1)}, Value::dint(7)},
    {"MAX DINT is signed", MAX + D, {Value::dint(-1), Value::dint(1)}, Value::dint(1)},
    {"MAX INT is signed", MAX + I, {Value::int16(-5), Value::int16(-32768), Value::int16(-3)}, Value::int16(-3)},
    {"MAX BOOL is OR", MAX + B, {Value::boolean(false), Value::boolean(true)}, Value::boolean(true)},
    {"MAX BOOL compares bytes unsigned", MAX + B, {boolByte(1), boolByte(200)}, boolByte(200)},
    {"MIN BOOL is AND", MIN + B, {Value::boolean(true), Value::boolean(false)}, Value::boolean(false)},
    {"MIN REAL", MIN + R, {Value::real(2.5f), Value::real(-0.5f)}, Value::real(-0.5f)},
    {"MIN TIME", MIN + T, {Value::time(500), Value::time(-20), Value::time(7)}, Value::time(-20)},
    {"MAX LREAL keeps the first of equal zeros", MAX + L, {Value::lreal(0.0), Value::lreal(-0.0)}, Value::lreal(0.0)},
    {"MIN REAL keeps the first of equal zeros", MIN + R, {Value::real(-0.0f), Value::real(0.0f)}, Value::real(-0.0f)},
    {"MAX LREAL never takes a later NaN", MAX + L, {Value::lreal(1), Value::lreal(kNaN), Value::lreal(3)},
     Value::lreal(3)},
    {"MAX LREAL keeps a NaN first input", MAX + L, {Value::lreal(kNaN), Value::lreal(5)}, Value::lreal(kNaN)},
    {"MIN REAL keeps a NaN first input", MIN + R, {Value::real(std::nanf("")), Value::real(-5)},
     Value::real(std::nanf(""))},
    {"LIMIT INT below", LIMIT + I, {Value::int16(10), Value::int16(5), Value::int16(20)}, Value::int16(10)},
    {"LIMIT INT above", LIMIT + I, {Value::int16(10), Value::int16(25), Value::int16(20)}, Value::int16(20)},
    {"LIMIT INT MN above MX gives MX", LIMIT + I, {Value::int16(30), Value::int16(25), Value::int16(20)},
     Value::int16(20)},
    {"LIMIT LREAL inside", LIMIT + L, {Value::lreal(-1), Value::lreal(0.5), Value::lreal(1)}, Value::lreal(0.5)},
    {"LIMIT DINT extremes", LIMIT + D, {Value::dint(INT32_MIN), Value::dint(INT32_MAX), Value::dint(0)},
     Value::dint(0)},
    {"MUX K 0", MUX + D, {Value::dint(0), Value::dint(10), Value::dint(11), Value::dint(12)}, Value::dint(10)},
    {"MUX K 2", MUX + D, {Value::dint(2), Value::dint(10), Value::dint(11), Value::dint(12)}, Value::dint(12)},
    {"MUX K 3 is out of range", MUX + D, {Value::dint(3), Value::dint(10), Value::dint(11), Value::dint(12)},
     Value::dint(0), 33},
    {"MUX K -1 is out of range", MUX + L, {Value::dint(-1), Value::lreal(1), Value::lreal(2)}, Value::lreal(0), 33},
    {"MUX INT writes two zero bytes", MUX + I, {Value::dint(5), Value::int16(1)}, Value::int16(0), 33},
    {"MUX BOOL with one input", MUX + B, {Value::dint(0), Value::boolean(true)}, Value::boolean(true)},
    {"INC_RANGE inside", INC_RANGE, {Value::dint(3), Value::dint(0), Value::dint(5)}, Value::dint(4)},
    {"INC_RANGE at high", INC_RANGE, {Value::dint(5), Value::dint(0), Value::dint(5)}, Value::dint(5), 34},
    {"INC_RANGE above", INC_RANGE2, {Value::dint(7), Value::dint(0), Value::dint(5)}, Value::dint(7), 33},
    {"INC_RANGE at INT32_MAX", INC_RANGE2, {Value::dint(INT32_MAX), Value::dint(0), Value::dint(INT32_MAX)},
     Value::dint(INT32_MAX), 34},
    {"DEC_RANGE inside", DEC_RANGE, {Value::dint(3), Value::dint(0), Value::dint(5)}, Value::dint(2)},
    {"DEC_RANGE at low", DEC_RANGE2, {Value::dint(0), Value::dint(0), Value::dint(5)}, Value::dint(0), 34},
    {"DEC_RANGE below", DEC_RANGE, {Value::dint(-1), Value::dint(0), Value::dint(5)}, Value::dint(-1), 33},
    {"DEC_RANGE empty range", DEC_RANGE, {Value::dint(3), Value::dint(5), Value::dint(0)}, Value::dint(3), 33},
};

TEST(StandardSelection, WritesTheOutputAtItsWidthAndRecordsErrors) {
  test::LibraryMachine m;
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<VmCell> frame;
    for (const Value &v : c.inputs) frame.push_back(cellOf(v));
    frame.push_back(outputOf(c.out.type));
    VmClearLastError(m.get());
    m.get()->pc = 42;
    int32_t nin = static_cast<int32_t>(c.inputs.size());
    ASSERT_EQ(stdlib::dispatch(1, c.function, frame.data(), nin + 1, 0, nin, 1, m.get()), 0);
    EXPECT_TRUE(holds(frame.back(), c.out));
    EXPECT_EQ(m.errorCode(), c.error);
    if (c.error != 0) {
      EXPECT_EQ(m.errorAddress(), 42u);
      EXPECT_EQ(m.errorArg1(), 0u);
      EXPECT_EQ(m.errorArg2(), 0u);
    }
  }
}

TEST(StandardSelection, MaxAndMinTakeUpTo32Inputs) {
  test::LibraryMachine m;
  std::vector<VmCell> frame;
  for (int i = 0; i < 32; ++i) frame.push_back(cellOf(Value::dint(i == 31 ? 1000 : i)));
  frame.push_back(outputOf(VM_TYPE_DINT));
  ASSERT_EQ(stdlib::dispatch(1, MAX + D, frame.data(), 33, 0, 32, 1, m.get()), 0);
  EXPECT_TRUE(holds(frame[32], Value::dint(1000)));
  ASSERT_EQ(stdlib::dispatch(1, MIN + D, frame.data(), 33, 0, 32, 1, m.get()), 0);
  EXPECT_TRUE(holds(frame[32], Value::dint(0)));
}

TEST(StandardSelection, ReadsItsParametersFromTheFrameStart) {
  test::LibraryMachine m;
  // Two cells of somebody else's, then SEL's four.
  std::vector<VmCell> frame = {cellOf(Value::dint(1)), cellOf(Value::dint(2)), cellOf(Value::boolean(true)),
                               cellOf(Value::dint(3)), cellOf(Value::dint(4)), outputOf(VM_TYPE_DINT)};
  ASSERT_EQ(stdlib::dispatch(1, SEL + D, frame.data(), 6, 2, 3, 1, m.get()), 0);
  EXPECT_TRUE(holds(frame[5], Value::dint(4)));
  EXPECT_EQ(frame[0].v.i32, 1);
  EXPECT_EQ(frame[1].v.i32, 2);
}

struct CountCase {
  int32_t function, nin, nout, result;
};

TEST(StandardDispatch, AnswersNumbersAndCountsInBothModes) {
  const CountCase cases[] = {
      // Unknown numbers, whatever the counts.
      {1039, 3, 1, 1}, {1047, 3, 1, 1}, {1049, 3, 1, 1}, {1057, 2, 1, 1}, {1087, 2, 1, 1},
      {1393, 3, 1, 1}, {1398, 3, 1, 1}, {4499, 2, 1, 1}, {4502, 2, 1, 1}, {4509, 1, 1, 1},
      {4512, 1, 1, 1}, {4519, 3, 2, 1}, {4526, 5, 3, 1}, {4529, 2, 2, 1}, {4533, 2, 2, 1},
      {0, 0, 0, 1}, {-1040, 3, 1, 1},
      // Every type of every family, and the variable counts.
      {SEL + B, 3, 1, 0}, {SEL + DT, 3, 1, 0}, {SEL + L, 2, 1, 2}, {SEL + L, 3, 2, 2},
      {MAX + B, 2, 1, 0}, {MAX + DT, 32, 1, 0}, {MAX + I, 33, 1, 2}, {MAX + I, 1, 1, 2},
      {MIN + T, 2, 1, 0}, {MIN + R, 2, 0, 2}, {MUX + D, 2, 1, 0}, {MUX + DT, 32, 1, 0},
      {MUX + B, 1, 1, 2}, {MUX + B, 33, 1, 2}, {LIMIT + R, 3, 1, 0}, {LIMIT + R, 4, 1, 2},
      {INC_RANGE, 3, 1, 0}, {INC_RANGE2, 3, 1, 0}, {DEC_RANGE, 3, 1, 0}, {DEC_RANGE2, 2, 1, 2},
      // Blocks.
      {4500, 2, 1, 0}, {4501, 2, 2, 2}, {4510, 1, 1, 0}, {4511, 1, 1, 0}, {4520, 3, 2, 0},
      {4521, 3, 2, 0}, {4522, 3, 2, 0}, {4523, 3, 1, 2}, {4524, 5, 3, 0}, {4525, 4, 3, 2},
      {4530, 2, 2, 0}, {4531, 2, 2, 0}, {4532, 3, 2, 2},
  };
  test::LibraryMachine m;
  for (const CountCase &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.function << " (" << c.nin << ", " << c.nout << ")");
    EXPECT_EQ(stdlib::dispatch(0, c.function, nullptr, 0, 0, c.nin, c.nout, m.get()), c.result);
    if (c.result == 0) continue;
    // A refused call leaves the frame alone, also when executing.
    std::vector<VmCell> frame(40, outputOf(VM_TYPE_DINT));
    const std::vector<VmCell> before = frame;
    EXPECT_EQ(stdlib::dispatch(1, c.function, frame.data(), 40, 0, c.nin, c.nout, m.get()), c.result);
    EXPECT_EQ(std::memcmp(frame.data(), before.data(), frame.size() * sizeof(VmCell)), 0);
  }
}

TEST(StandardDispatch, ExecuteNeedsAMachineAndAFrame) {
  test::LibraryMachine m;
  std::vector<VmCell> frame(4, outputOf(VM_TYPE_DINT));
  EXPECT_EQ(stdlib::dispatch(1, SEL + D, frame.data(), 4, 0, 3, 1, nullptr), 4);
  EXPECT_EQ(stdlib::dispatch(1, SEL + D, nullptr, 4, 0, 3, 1, m.get()), 4);
  // Check mode needs neither.
  EXPECT_EQ(stdlib::dispatch(0, SEL + D, nullptr, 0, 0, 3, 1, nullptr), 0);
}

}  // namespace
