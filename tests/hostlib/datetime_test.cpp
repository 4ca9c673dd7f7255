// SPDX-License-Identifier: MIT
// The host library's date and time functions (6050 to 6091): outputs at
// their types' widths, error 33 for an invalid input and 34 for an invalid
// result (in that order, always with the computed outputs), the duration
// record's sign, and Unix time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "hostlib/host_call.h"
#include "hostrt/datetime.h"
#include "support/dates.h"
#include "sicvm/datetime.h"
#include "support/cells.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kPrefix = "Program \"TEST\" (1) error ";
const std::string k33 = kPrefix + "33 at addr 00007: Invalid parameter\n";
const std::string k34 = kPrefix + "34 at addr 00007: Result out of range\n";

// One call of `function` with the inputs and fresh output cells of the given
// types: the outputs, the log lines it wrote and the machine's error code.
struct Call {
  std::vector<VmCell> outputs;
  std::vector<std::string> log;
  int32_t error;
  const VmCell &out(size_t i) const { return outputs[i]; }
};

Call call(int32_t function, const std::vector<Value> &inputs, const std::vector<uint8_t> &outputs) {
  TestMachine m(minimalProgram());
  m.get()->pc = 7;
  LogCapture log(10);
  Call c{callHost(m.get(), function, inputs, outputs), {}, 0};
  c.log = log.texts();
  c.error = m.state().errorCode;
  return c;
}

// True when the call wrote the cell: its value bytes are no longer all fill.
bool written(const VmCell &cell) {
  const VmCell untouched = outputOf(cell.type);
  return std::memcmp(&cell, &untouched, sizeof cell) != 0;
}

constexpr uint8_t D = VM_TYPE_DINT, B = VM_TYPE_BOOL, T = VM_TYPE_DT, TM = VM_TYPE_TIME;

// Each function on a valid input: the export's answer at the output's width,
// no error. Berlin in summer, so the zone matters.
TEST(HostDateTime, FunctionsWriteTheExportsAnswers) {
  TzZoneRecord berlin;
  ASSERT_EQ(TzParseTimeZone("CET-1CEST,M3.5.0,M10.5.0/3", &berlin), 0);
  ASSERT_EQ(VmSetTimeZone(&berlin), 0);
  const double dt = at(2024, 7, 31, 21, 45, 30, 250);  // 23:45:30.250 CEST, Wednesday
  const Value v = Value::dt(dt);
  const struct { int32_t function; std::vector<Value> in; Value out; } cases[] = {
      {6053, {v}, Value::dint(2024)}, {6054, {v}, Value::dint(7)}, {6055, {v}, Value::dint(31)},
      {6056, {v}, Value::dint(23)}, {6057, {v}, Value::dint(45)}, {6058, {v}, Value::dint(30)},
      {6059, {v}, Value::dint(250)}, {6060, {v}, Value::dint(3)}, {6061, {v}, Value::dint(3)},
      {6062, {v}, Value::dint(213)}, {6063, {v}, Value::dint(31)}, {6064, {v}, Value::boolean(true)},
      {6065, {v}, Value::boolean(true)}, {6066, {v}, Value::dint(31)}, {6067, {v}, Value::dint(366)},
      {6068, {v}, Value::dint(52)},
      {6069, {v, Value::dint(-1)}, Value::dt(DtIncYear(dt, -1))},
      {6070, {v, Value::dint(7)}, Value::dt(DtIncMonth(dt, 7))},
      {6071, {v, Value::dint(2)}, Value::dt(DtIncDecade(dt, 2))},
      {6072, {v, Value::dint(3)}, Value::dt(DtIncWeek(dt, 3))},
      {6073, {v, Value::dint(100)}, Value::dt(DtIncDay(dt, 100))},
      {6074, {v}, Value::dt(DtBeginOfYear(dt))}, {6075, {v}, Value::dt(DtBeginOfMonth(dt))},
      {6076, {v}, Value::dt(DtBeginOfDecade(dt))}, {6077, {v}, Value::dt(DtBeginOfWeek(dt))},
      {6078, {v}, Value::dt(DtBeginOfDay(dt))},
      {6079, {v, Value::dint(6), Value::dint(0)}, Value::dt(at(2024, 8, 1, 4))},
      {6080, {v, Value::dint(6), Value::dint(0)}, Value::dt(at(2024, 7, 31, 4))},
      {6081, {Value::dt(at(2024, 1, 1)), v, Value::dint(6), Value::dint(0)}, Value::dint(213)},
      {6083, {Value::dint(1700000000), Value::dint(999)}, Value::dt(at(2023, 11, 14, 22, 13, 20, 999))},
  };
  for (const auto &c : cases) {
    Call r = call(c.function, c.in, {c.out.type});
    EXPECT_TRUE(holds(r.out(0), c.out)) << c.function;
    EXPECT_EQ(r.error, 0) << c.function;
  }
  Call unpack = call(6052, {v}, {B, D, D, D, D, D, D, D});
  const Value fields[] = {Value::boolean(true), Value::dint(2024), Value::dint(7), Value::dint(31),
                          Value::dint(23),      Value::dint(45),   Value::dint(30), Value::dint(250)};
  for (size_t i = 0; i < 8; ++i) EXPECT_TRUE(holds(unpack.out(i), fields[i])) << i;
  Call pack = call(6051, {Value::dint(2024), Value::dint(7), Value::dint(31), Value::dint(23), Value::dint(45),
                          Value::dint(30), Value::dint(250)},
                   {T});
  EXPECT_TRUE(holds(pack.out(0), v));
  VmSetTimeZone(nullptr);
}

// The order of the checks: 33 for an invalid input, the computation anyway,
// then 34 for an invalid result, which stays in the output.
TEST(HostDateTime, InvalidInputsAndResultsAreRecordedInOrder) {
  const double year10000 = DT_END_VALID_DAY + 45.5;  // 10000-02-14 12:00: decodable, invalid
  const double lastValidMonth = at(9999, 12, 15);
  struct Case {
    const char *what;
    int32_t function;
    std::vector<Value> in;
    uint8_t out;
    std::vector<std::string> log;
    int32_t error;
  };
  const Case cases[] = {
      {"DtYear of year 10000 still answers", 6053, {Value::dt(year10000)}, D, {k33}, 33},
      {"DtIncMonth into year 10000", 6070, {Value::dt(lastValidMonth), Value::dint(1)}, T, {k34}, 34},
      {"both: 33, then 34", 6074, {Value::dt(year10000)}, T, {k33, k34}, 34},
      {"one 33 for two invalid DTs", 6081, {Value::dt(kNaN), Value::dt(year10000), Value::dint(6), Value::dint(0)},
       D, {k33}, 33},
      {"DtPack of February 30", 6051,
       {Value::dint(2023), Value::dint(2), Value::dint(30), Value::dint(0), Value::dint(0), Value::dint(0),
        Value::dint(0)},
       T, {k34}, 34},
      {"UnixTimeToDt has no input check", 6083, {Value::dint(INT32_MAX), Value::dint(INT32_MAX)}, T, {}, 0},
      {"a TIME beyond the valid span", 6091, {Value::time(1e300)}, B, {k33}, 33},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> outs = {c.out};
    if (c.function == 6091) outs = {B, D, D, D, D, D};
    Call r = call(c.function, c.in, outs);
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(r.error, c.error);
    for (size_t i = 0; i < outs.size(); ++i) EXPECT_TRUE(written(r.out(i))) << "output " << i;
  }
  // The outputs hold what the exports compute for the invalid values.
  EXPECT_TRUE(holds(call(6053, {Value::dt(year10000)}, {D}).out(0), Value::dint(10000)));
  EXPECT_TRUE(holds(call(6070, {Value::dt(lastValidMonth), Value::dint(1)}, {T}).out(0),
                    Value::dt(at(10000, 1, 15))));
  EXPECT_TRUE(call(6050, {}, {T}).log.empty()) << "DtNow checks nothing";
}

// TmPack hands the host sign -1 exactly when negative is TRUE; TmUnpack
// reports negative exactly when the host's sign is -1.
TEST(HostDateTime, DurationsAndTheirSign) {
  const std::vector<Value> parts = {Value::dint(1), Value::dint(2), Value::dint(3), Value::dint(4), Value::dint(5)};
  const double ms = 86400000.0 + 2 * 3600000.0 + 3 * 60000.0 + 4000.0 + 5;
  for (bool negative : {false, true}) {
    std::vector<Value> in = parts;
    in.push_back(Value::boolean(negative));
    Call packed = call(6090, in, {TM});
    EXPECT_TRUE(holds(packed.out(0), Value::time(negative ? -ms : ms)));
    Call unpacked = call(6091, {Value::time(negative ? -ms : ms)}, {B, D, D, D, D, D});
    EXPECT_TRUE(holds(unpacked.out(0), Value::boolean(negative)));
    for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(holds(unpacked.out(1 + i), parts[i])) << i;
    EXPECT_EQ(unpacked.error, 0);
  }
  // A sum beyond the valid span is error 34 and stays in the output.
  Call huge = call(6090, {Value::dint(INT32_MAX), Value::dint(0), Value::dint(0), Value::dint(0), Value::dint(0),
                          Value::boolean(false)},
                   {TM});
  EXPECT_EQ(huge.log, std::vector<std::string>{k34});
  EXPECT_TRUE(holds(huge.out(0), Value::time(INT32_MAX * 86400000.0)));
  // A NaN decodes to sign 0: not negative, all fields 0, after error 33.
  Call nan = call(6091, {Value::time(kNaN)}, {B, D, D, D, D, D});
  EXPECT_EQ(nan.log, std::vector<std::string>{k33});
  EXPECT_TRUE(holds(nan.out(0), Value::boolean(false)));
  for (size_t i = 1; i < 6; ++i) EXPECT_TRUE(holds(nan.out(i), Value::dint(0)));
}

// Unix time is a 32-bit count of seconds: the last instant it holds, and
// the first it cannot (saturated, without an error for a valid DT).
TEST(HostDateTime, UnixTimeAndTheYear2038) {
  const struct { double dt; int32_t seconds, ms; } cases[] = {
      {at(2038, 1, 19, 3, 14, 7, 999), INT32_MAX, 999},
      {at(2038, 1, 19, 3, 14, 8), INT32_MAX, 0},
      {at(1901, 12, 13, 20, 45, 51), INT32_MIN, 0},
  };
  for (const auto &c : cases) {
    Call r = call(6082, {Value::dt(c.dt)}, {D, D});
    EXPECT_TRUE(holds(r.out(0), Value::dint(c.seconds))) << c.dt;
    EXPECT_TRUE(holds(r.out(1), Value::dint(c.ms))) << c.dt;
    EXPECT_EQ(r.error, 0);
  }
  Call r = call(6082, {Value::dt(kNaN)}, {D, D});
  EXPECT_EQ(r.log, std::vector<std::string>{k33});
  EXPECT_TRUE(holds(r.out(0), Value::dint(INT32_MIN)));
}

}  // namespace
