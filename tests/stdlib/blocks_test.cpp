// SPDX-License-Identifier: MIT
// Function blocks of the standard library: sequences of calls on one frame,
// whose state cells carry over from call to call, with the timer
// accumulator advanced between calls as the machine's timer update does.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "support/cells.h"
#include "stdlib/stdlib.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::cellOf;

namespace {

// One call: the inputs put in cells 0.., the time the timer update adds to a
// running accumulator (cell 5 of the timers) first, and the expected cells.
struct Step {
  std::vector<Value> inputs;
  std::vector<std::pair<int, Value>> expect;
  double advance = 0;
};

struct Sequence {
  const char *what;
  int32_t function, nin, nout;
  std::vector<Value> initial;  // every cell of the frame, as the image holds them
  std::vector<Step> steps;
  std::optional<bool> runningAtEnd = std::nullopt;  // timers: the accumulator's running flag
};

constexpr int kAccumulator = 5;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
Value B(bool b) { return Value::boolean(b); }
Value I(int16_t i) { return Value::int16(i); }
Value D(int32_t i) { return Value::dint(i); }
Value T(double ms) { return Value::time(ms); }

// Frames: inputs, outputs, state cells, in the blocks' cell order.
std::vector<Value> ctuFrame(Value pv, Value cv, Value limit) {
  return {B(false), B(false), pv, B(false), cv, limit, B(false)};
}
std::vector<Value> timerFrame(double pt) { return {B(false), T(pt), B(false), T(0), T(0), T(0), B(false)}; }

const Sequence kSequences[] = {
    {"SR: set dominates, Q1 holds", 4500, 2, 1, {B(false), B(false), B(false)},
     {{{B(true), B(true)}, {{2, B(true)}}}, {{B(false), B(false)}, {{2, B(true)}}},
      {{B(false), B(true)}, {{2, B(false)}}}}},
    {"RS: reset dominates, Q1 holds", 4501, 2, 1, {B(false), B(false), B(false)},
     {{{B(true), B(true)}, {{2, B(false)}}}, {{B(true), B(false)}, {{2, B(true)}}},
      {{B(false), B(false)}, {{2, B(true)}}}}},
    {"R_TRIG: TRUE, TRUE, FALSE, TRUE", 4510, 1, 1, {B(false), B(false), B(false)},
     {{{B(true)}, {{1, B(true)}}}, {{B(true)}, {{1, B(false)}}},
      {{B(false)}, {{1, B(false)}}}, {{B(true)}, {{1, B(true)}}}}},
    {"F_TRIG: TRUE, FALSE, FALSE", 4511, 1, 1, {B(false), B(false), B(false)},
     {{{B(true)}, {{1, B(false)}}}, {{B(false)}, {{1, B(true)}}}, {{B(false)}, {{1, B(false)}}}}},
    {"CTU DINT counts edges up to PV and beyond, up to the limit", 4521, 3, 2,
     ctuFrame(D(70000), D(69998), D(70001)),
     {{{B(true), B(false), D(70000)}, {{4, D(69999)}, {3, B(false)}}},
      {{B(true), B(false), D(70000)}, {{4, D(69999)}}},
      {{B(false), B(false), D(70000)}, {{4, D(69999)}}},
      {{B(true), B(false), D(70000)}, {{4, D(70000)}, {3, B(true)}}},
      {{B(false), B(false), D(70000)}, {}},
      {{B(true), B(false), D(70000)}, {{4, D(70001)}, {3, B(true)}}},
      {{B(false), B(false), D(70000)}, {}},
      {{B(true), B(false), D(70000)}, {{4, D(70001)}}},
      {{B(true), B(true), D(70000)}, {{4, D(0)}, {3, B(false)}}}}},  // reset wins over an edge
    {"CTD INT loads PV and counts down to the lower limit", 4522, 3, 2, ctuFrame(I(2), I(0), I(-1)),
     {{{B(false), B(true), I(2)}, {{4, I(2)}, {3, B(false)}}},
      {{B(true), B(false), I(2)}, {{4, I(1)}, {3, B(false)}}},
      {{B(false), B(false), I(2)}, {}},
      {{B(true), B(false), I(2)}, {{4, I(0)}, {3, B(true)}}},
      {{B(false), B(false), I(2)}, {}},
      {{B(true), B(false), I(2)}, {{4, I(-1)}}},
      {{B(false), B(false), I(2)}, {}},
      {{B(true), B(false), I(2)}, {{4, I(-1)}}}}},
    {"CTUD INT: edges, both at once, reset before load", 4524, 5, 3,
     {B(false), B(false), B(false), B(false), I(2), B(false), B(false), I(0), I(10), I(-10), B(false), B(false)},
     {{{B(true), B(false), B(false), B(false), I(2)}, {{7, I(1)}, {5, B(false)}, {6, B(false)}}},
      {{B(false), B(true), B(false), B(false), I(2)}, {{7, I(0)}, {6, B(true)}}},
      {{B(true), B(false), B(false), B(false), I(2)}, {{7, I(1)}}},
      {{B(false), B(false), B(false), B(false), I(2)}, {}},
      {{B(true), B(true), B(false), B(false), I(2)}, {{7, I(1)}}},
      {{B(false), B(false), B(false), B(true), I(2)}, {{7, I(2)}, {5, B(true)}, {6, B(false)}}},
      {{B(false), B(false), B(true), B(true), I(2)}, {{7, I(0)}, {5, B(false)}, {6, B(true)}}}}},
    {"TON: Q once IN has been TRUE for PT, IN falling resets", 4531, 2, 2, timerFrame(1000),
     {{{B(true), T(1000)}, {{2, B(false)}, {3, T(0)}}},
      {{B(true), T(1000)}, {{2, B(false)}, {3, T(999)}}, 999},
      {{B(true), T(1000)}, {{2, B(true)}, {3, T(1000)}}, 1},
      {{B(true), T(1000)}, {{2, B(true)}, {3, T(1000)}}, 300},
      {{B(false), T(1000)}, {{2, B(false)}, {3, T(0)}}, 300}},
     false},
    {"TON: a NaN preset never elapses", 4531, 2, 2, timerFrame(kNaN),
     {{{B(true), T(kNaN)}, {}},
      {{B(true), T(kNaN)}, {{2, B(false)}, {3, T(5000)}}, 5000}},
     true},
    {"TOF: Q stays TRUE for PT after IN falls", 4532, 2, 2, timerFrame(500),
     {{{B(false), T(500)}, {{2, B(true)}, {3, T(0)}}},  // FALSE from the start: TRUE, not running
      {{B(true), T(500)}, {{2, B(true)}}, 700},
      {{B(false), T(500)}, {{2, B(true)}, {3, T(0)}}, 100},
      {{B(false), T(500)}, {{2, B(true)}, {3, T(499)}}, 499},
      {{B(false), T(500)}, {{2, B(false)}, {3, T(500)}}, 1}},
     false},
    {"TP: pulse runs to its end whatever IN does; IN still TRUE keeps ET", 4530, 2, 2, timerFrame(1000),
     {{{B(true), T(1000)}, {{2, B(true)}, {3, T(0)}, {4, T(1000)}}},
      {{B(false), T(1000)}, {{2, B(true)}, {3, T(400)}}, 400},
      {{B(true), T(1000)}, {{2, B(true)}, {3, T(800)}}, 400},
      {{B(true), T(1000)}, {{2, B(false)}, {3, T(1200)}}, 400},
      {{B(true), T(1000)}, {{2, B(false)}, {3, T(1200)}}, 400},
      {{B(false), T(1000)}, {{2, B(false)}, {3, T(0)}}, 100}},
     false},
};

TEST(StandardBlocks, KeepTheirStateAcrossCalls) {
  test::TestMachine m(test::minimalProgram());
  for (const Sequence &s : kSequences) {
    SCOPED_TRACE(s.what);
    std::vector<VmCell> frame;
    for (const Value &v : s.initial) frame.push_back(cellOf(v));
    if (s.runningAtEnd) frame[kAccumulator].flags = 0xF0;  // only the running bit is the timers'
    for (size_t n = 0; n < s.steps.size(); ++n) {
      SCOPED_TRACE(::testing::Message() << "call " << n + 1);
      const Step &step = s.steps[n];
      if (s.runningAtEnd && (frame[kAccumulator].flags & 1) != 0) frame[kAccumulator].v.f64 += step.advance;
      for (size_t i = 0; i < step.inputs.size(); ++i) frame[i] = cellOf(step.inputs[i]);
      const int32_t cells = static_cast<int32_t>(frame.size());
      ASSERT_EQ(stdlib::dispatch(1, s.function, frame.data(), cells, 0, s.nin, s.nout, m.get()), 0);
      for (const auto &[cell, value] : step.expect)
        EXPECT_EQ(std::memcmp(frame[cell].v.bytes, value.v.bytes, test::widthOf(value.type)), 0) << "cell " << cell;
    }
    if (s.runningAtEnd) {
      EXPECT_EQ(frame[kAccumulator].flags, 0xF0 | (*s.runningAtEnd ? 1 : 0));
    }
  }
  EXPECT_EQ(m.state().errorCode, 0) << "blocks record no errors";
}

}  // namespace
