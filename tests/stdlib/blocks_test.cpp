// Function blocks of the standard library: sequences of calls on one frame,
// whose state cells carry over from call to call, with the timer
// accumulator advanced between calls as the machine's timer update does.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "stdlib/frame.h"
#include "stdlib/stdlib.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::cellOf;

namespace {

// One call of a block: the input values to put in cells 0.., the time the
// timer update adds to a running accumulator (cell 5 of the timers) before
// the call, and the expected values of named cells afterwards.
struct Step {
  std::vector<Value> inputs;
  std::vector<std::pair<int, Value>> expect;
  double advance = 0;
};

struct Sequence {
  const char *what;
  int32_t function;
  int32_t nin, nout;
  std::vector<Value> initial;  // every cell of the frame, as the image holds them
  std::vector<Step> steps;
  std::optional<bool> runningAtEnd = std::nullopt;  // timers: the accumulator's running flag
};

constexpr int kAccumulator = 5;
Value B(bool b) { return Value::boolean(b); }
Value I(int16_t i) { return Value::int16(i); }
Value D(int32_t i) { return Value::dint(i); }
Value T(double ms) { return Value::time(ms); }

// Frames: inputs, outputs, state cells, in the blocks' cell order.
std::vector<Value> trigFrame() { return {B(false), B(false), B(false)}; }
std::vector<Value> ctuFrame(Value pv, Value cv, Value limit) {
  return {B(false), B(false), pv, B(false), cv, limit, B(false)};
}
std::vector<Value> ctudFrame(Value pv, Value cv, Value upper, Value lower) {
  return {B(false), B(false), B(false), B(false), pv, B(false), B(false), cv, upper, lower, B(false), B(false)};
}
std::vector<Value> timerFrame(double pt) { return {B(false), T(pt), B(false), T(0), T(0), T(0), B(false)}; }

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const Sequence kSequences[] = {
    {"SR: set dominates, Q1 holds", 4500, 2, 1, {B(false), B(false), B(false)},
     {{{B(true), B(true)}, {{2, B(true)}}},
      {{B(false), B(false)}, {{2, B(true)}}},
      {{B(false), B(true)}, {{2, B(false)}}},
      {{B(false), B(false)}, {{2, B(false)}}}}},
    {"RS: reset dominates, Q1 holds", 4501, 2, 1, {B(false), B(false), B(false)},
     {{{B(true), B(true)}, {{2, B(false)}}},
      {{B(true), B(false)}, {{2, B(true)}}},
      {{B(false), B(false)}, {{2, B(true)}}},
      {{B(true), B(true)}, {{2, B(false)}}}}},
    {"R_TRIG: TRUE, TRUE, FALSE, TRUE", 4510, 1, 1, trigFrame(),
     {{{B(true)}, {{1, B(true)}, {2, B(true)}}},
      {{B(true)}, {{1, B(false)}}},
      {{B(false)}, {{1, B(false)}, {2, B(false)}}},
      {{B(true)}, {{1, B(true)}}}}},
    {"F_TRIG: TRUE, FALSE, FALSE", 4511, 1, 1, trigFrame(),
     {{{B(true)}, {{1, B(false)}}}, {{B(false)}, {{1, B(true)}}}, {{B(false)}, {{1, B(false)}}}}},
    {"CTU INT counts edges up to PV and beyond", 4520, 3, 2, ctuFrame(I(2), I(0), I(32767)),
     {{{B(true), B(false), I(2)}, {{4, I(1)}, {3, B(false)}}},
      {{B(true), B(false), I(2)}, {{4, I(1)}}},
      {{B(false), B(false), I(2)}, {{4, I(1)}}},
      {{B(true), B(false), I(2)}, {{4, I(2)}, {3, B(true)}}},
      {{B(false), B(false), I(2)}, {}},
      {{B(true), B(false), I(2)}, {{4, I(3)}, {3, B(true)}}}}},
    {"CTU INT stops at the upper limit", 4520, 3, 2, ctuFrame(I(100), I(32767), I(32767)),
     {{{B(true), B(false), I(100)}, {{4, I(32767)}, {3, B(true)}}}}},
    {"CTU INT reset wins over an edge", 4520, 3, 2, ctuFrame(I(5), I(4), I(32767)),
     {{{B(true), B(true), I(5)}, {{4, I(0)}, {3, B(false)}, {6, B(true)}}}}},
    {"CTU DINT at its limit", 4521, 3, 2, ctuFrame(D(0), D(INT32_MAX - 1), D(INT32_MAX)),
     {{{B(true), B(false), D(0)}, {{4, D(INT32_MAX)}}},
      {{B(false), B(false), D(0)}, {}},
      {{B(true), B(false), D(0)}, {{4, D(INT32_MAX)}, {3, B(true)}}}}},
    {"CTD INT loads PV and counts down to the lower limit", 4522, 3, 2, ctuFrame(I(2), I(0), I(-32768)),
     {{{B(false), B(true), I(2)}, {{4, I(2)}, {3, B(false)}}},
      {{B(true), B(false), I(2)}, {{4, I(1)}, {3, B(false)}}},
      {{B(false), B(false), I(2)}, {}},
      {{B(true), B(false), I(2)}, {{4, I(0)}, {3, B(true)}}},
      {{B(true), B(true), I(2)}, {{4, I(2)}, {3, B(false)}}}}},
    {"CTD DINT stops at the lower limit", 4523, 3, 2, ctuFrame(D(5), D(-3), D(-3)),
     {{{B(true), B(false), D(5)}, {{4, D(-3)}, {3, B(true)}}}}},
    {"CTUD INT: edges, both at once, reset before load", 4524, 5, 3, ctudFrame(I(2), I(0), I(10), I(-10)),
     {{{B(true), B(false), B(false), B(false), I(2)}, {{7, I(1)}, {5, B(false)}, {6, B(false)}}},
      {{B(false), B(true), B(false), B(false), I(2)}, {{7, I(0)}, {6, B(true)}}},
      {{B(true), B(false), B(false), B(false), I(2)}, {{7, I(1)}}},
      {{B(false), B(false), B(false), B(false), I(2)}, {}},
      {{B(true), B(true), B(false), B(false), I(2)}, {{7, I(1)}}},
      {{B(false), B(false), B(false), B(true), I(2)}, {{7, I(2)}, {5, B(true)}, {6, B(false)}}},
      {{B(false), B(false), B(true), B(true), I(2)}, {{7, I(0)}, {5, B(false)}, {6, B(true)}}}}},
    {"CTUD DINT respects both limits", 4525, 5, 3, ctudFrame(D(1), D(3), D(3), D(3)),
     {{{B(true), B(false), B(false), B(false), D(1)}, {{7, D(3)}}},
      {{B(false), B(true), B(false), B(false), D(1)}, {{7, D(3)}, {5, B(true)}}}}},
    {"TON: Q after PT, accumulator stops", 4531, 2, 2, timerFrame(1000),
     {{{B(true), T(1000)}, {{2, B(false)}, {3, T(0)}, {4, T(1000)}}},
      {{B(true), T(1000)}, {{2, B(false)}, {3, T(600)}}, 600},
      {{B(true), T(1000)}, {{2, B(true)}, {3, T(1100)}}, 500},
      {{B(true), T(1000)}, {{2, B(true)}, {3, T(1100)}}, 300}},
     false},
    {"TON: IN falling resets", 4531, 2, 2, timerFrame(1000),
     {{{B(true), T(1000)}, {}},
      {{B(false), T(1000)}, {{2, B(false)}, {3, T(0)}}, 400},
      {{B(false), T(1000)}, {{3, T(0)}}, 400}},
     false},
    {"TON: a NaN preset never elapses", 4531, 2, 2, timerFrame(kNaN),
     {{{B(true), T(kNaN)}, {}}, {{B(true), T(kNaN)}, {{2, B(false)}, {3, T(5000)}}, 5000}},
     true},
    {"TOF: IN FALSE from the start keeps Q TRUE without running", 4532, 2, 2, timerFrame(1000),
     {{{B(false), T(1000)}, {{2, B(true)}, {3, T(0)}}},
      {{B(false), T(1000)}, {{2, B(true)}, {3, T(0)}}, 700}},
     false},
    {"TOF: falling edge starts the delay", 4532, 2, 2, timerFrame(1000),
     {{{B(true), T(1000)}, {{2, B(true)}}},
      {{B(false), T(1000)}, {{2, B(true)}, {3, T(0)}}},
      {{B(false), T(1000)}, {{2, B(true)}, {3, T(600)}}, 600},
      {{B(false), T(1000)}, {{2, B(false)}, {3, T(1200)}}, 600}},
     false},
    {"TP: pulse runs to its end although IN falls", 4530, 2, 2, timerFrame(1000),
     {{{B(true), T(1000)}, {{2, B(true)}, {3, T(0)}, {4, T(1000)}}},
      {{B(false), T(1000)}, {{2, B(true)}, {3, T(400)}}, 400},
      {{B(true), T(1000)}, {{2, B(true)}, {3, T(800)}}, 400},
      {{B(false), T(1000)}, {{2, B(false)}, {3, T(0)}}, 400},
      {{B(false), T(1000)}, {{2, B(false)}, {3, T(0)}}, 400}},
     false},
    {"TP: IN still TRUE after the pulse keeps ET", 4530, 2, 2, timerFrame(500),
     {{{B(true), T(500)}, {}},
      {{B(true), T(500)}, {{2, B(false)}, {3, T(700)}}, 700},
      {{B(true), T(500)}, {{2, B(false)}, {3, T(700)}}, 700}},
     false},
};

TEST(StandardBlocks, KeepTheirStateAcrossCalls) {
  test::LibraryMachine m;
  for (const Sequence &s : kSequences) {
    SCOPED_TRACE(s.what);
    std::vector<VmCell> frame;
    for (const Value &v : s.initial) frame.push_back(cellOf(v));
    int32_t cells = static_cast<int32_t>(frame.size());
    for (size_t n = 0; n < s.steps.size(); ++n) {
      SCOPED_TRACE(::testing::Message() << "call " << n + 1);
      const Step &step = s.steps[n];
      if (frame.size() > size_t(kAccumulator) && (frame[kAccumulator].flags & 1) != 0)
        frame[kAccumulator].v.f64 += step.advance;
      for (size_t i = 0; i < step.inputs.size(); ++i) frame[i] = cellOf(step.inputs[i]);
      ASSERT_EQ(stdlib::dispatch(1, s.function, frame.data(), cells, 0, s.nin, s.nout, m.get()), 0);
      for (const auto &[cell, value] : step.expect) {
        SCOPED_TRACE(::testing::Message() << "cell " << cell);
        EXPECT_EQ(std::memcmp(frame[cell].v.bytes, value.v.bytes, test::widthOf(value.type)), 0);
      }
    }
    if (s.runningAtEnd) {
      EXPECT_EQ((frame[kAccumulator].flags & 1) != 0, *s.runningAtEnd);
    }
  }
  EXPECT_EQ(m.errorCode(), 0) << "blocks record no errors";
}

TEST(StandardBlocks, TimersTouchOnlyTheRunningBitOfTheAccumulatorFlags) {
  test::LibraryMachine m;
  std::vector<VmCell> frame;
  for (const Value &v : timerFrame(100)) frame.push_back(cellOf(v));
  frame[kAccumulator].flags = 0xF0;
  frame[0] = cellOf(B(true));
  ASSERT_EQ(stdlib::dispatch(1, 4531, frame.data(), 7, 0, 2, 2, m.get()), 0);
  EXPECT_EQ(frame[kAccumulator].flags, 0xF1);
  frame[0] = cellOf(B(false));
  ASSERT_EQ(stdlib::dispatch(1, 4531, frame.data(), 7, 0, 2, 2, m.get()), 0);
  EXPECT_EQ(frame[kAccumulator].flags, 0xF0);
}

struct RoomCase {
  int32_t function, nin, nout, count, first, result;
};

TEST(StandardBlocks, ExecutingNeedsRoomForTheStateCells) {
  const RoomCase cases[] = {
      {4510, 1, 1, 2, 0, 2},  {4510, 1, 1, 3, 0, 0},  {4510, 1, 1, 5, 3, 2}, {4510, 1, 1, 6, 3, 0},
      {4520, 3, 2, 6, 0, 2},  {4520, 3, 2, 7, 0, 0},  {4524, 5, 3, 11, 0, 2}, {4525, 5, 3, 12, 0, 0},
      {4530, 2, 2, 4, 0, 2},  {4532, 2, 2, 7, 0, 0},
      // The bistables keep no state cells, but their parameters must fit.
      {4500, 2, 1, 3, 0, 0},  {4501, 2, 1, 3, 1, 2},
      // A negative frame start never fits.
      {4500, 2, 1, 3, -1, 2},
  };
  test::LibraryMachine m;
  for (const RoomCase &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.function << " count " << c.count << " first " << c.first);
    std::vector<VmCell> frame(16, test::outputOf(VM_TYPE_BOOL));
    const std::vector<VmCell> before = frame;
    VmCell *base = frame.data() + 4;  // room below for a negative start
    EXPECT_EQ(stdlib::dispatch(1, c.function, base, c.count, c.first, c.nin, c.nout, m.get()), c.result);
    if (c.result != 0) {
      EXPECT_EQ(std::memcmp(frame.data(), before.data(), frame.size() * sizeof(VmCell)), 0);
    }
    // Check mode cannot see the frame, so it accepts the counts.
    EXPECT_EQ(stdlib::dispatch(0, c.function, nullptr, 0, 0, c.nin, c.nout, m.get()), 0);
  }
}

TEST(StandardSelection, LogsItsRunTimeErrorsAtLevel10) {
  test::LibraryMachine m;
  test::LogCapture log(10);
  m.get()->pc = 7;
  std::vector<VmCell> frame = {cellOf(Value::dint(9)), cellOf(Value::dint(1)), test::outputOf(VM_TYPE_DINT)};
  ASSERT_EQ(stdlib::dispatch(1, 1082, frame.data(), 3, 0, 2, 1, m.get()), 0);
  EXPECT_EQ(log.at(10), std::vector<std::string>{"Program \"TEST\" (1) error 33 at addr 00007: Invalid parameter\n"});
}

}  // namespace
