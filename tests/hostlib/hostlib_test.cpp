// SPDX-License-Identifier: MIT
// The host library's entry point: which numbers exist, the gas hand-on, the
// families still to come, and the system functions 6000 to 6026.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "hostlib/hostlib.h"
#include "hostrt/datetime.h"
#include "support/cells.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

// Every number from 5990 to 6175 is either unknown (1) or known with counts
// no function declares (2); the known ones are these ranges.
TEST(HostDispatch, KnowsExactlyTheNumbersInUse) {
  const std::pair<int32_t, int32_t> known[] = {{6000, 6001}, {6020, 6026}, {6031, 6031}, {6033, 6036},
                                               {6040, 6045}, {6050, 6083}, {6090, 6091}, {6100, 6106},
                                               {6110, 6120}, {6122, 6122}, {6130, 6133}, {6141, 6144},
                                               {6161, 6162}};
  for (int32_t n = 5990; n <= 6175; ++n) {
    bool isKnown = false;
    for (auto [lo, hi] : known) isKnown = isKnown || (n >= lo && n <= hi);
    EXPECT_EQ(hostlib::dispatch(0, n, nullptr, 0, 0, 250, 250, nullptr), isKnown ? 2 : 1) << n;
  }
}

// A frame too small for the parameters, or wrong counts, is a count mismatch
// and writes nothing.
TEST(HostDispatch, FramesTooSmallAndWrongCountsWriteNothing) {
  test::TestMachine m(test::minimalProgram());
  VmSetLastError(m.get(), 33, 1, 2, 3);
  const struct { int32_t function, nin, nout, count; } cases[] = {
      {6052, 1, 8, 8}, {6100, 5, 2, 6}, {6021, 0, 3, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.function << " in a frame of " << c.count);
    std::vector<VmCell> frame(41, outputOf(VM_TYPE_LREAL));
    const std::vector<VmCell> before = frame;
    EXPECT_EQ(hostlib::dispatch(1, c.function, frame.data(), c.count, 0, c.nin, c.nout, m.get()), 2);
    EXPECT_EQ(hostlib::dispatch(1, c.function, frame.data(), 41, 0, c.nin + 1, c.nout, m.get()), 2);
    EXPECT_EQ(std::memcmp(frame.data(), before.data(), frame.size() * sizeof(VmCell)), 0);
  }
  EXPECT_EQ(m.state().errorCode, 33) << "refusals record nothing";
}

// ---- System functions ------------------------------------------------------------

// Runs a function whose outputs are DINTs on a fresh frame; returns them.
std::vector<int32_t> runDints(test::TestMachine &m, int32_t function, int32_t nout) {
  std::vector<VmCell> frame(size_t(nout), outputOf(VM_TYPE_DINT));
  EXPECT_EQ(hostlib::dispatch(1, function, frame.data(), nout, 0, 0, nout, m.get()), 0);
  std::vector<int32_t> out;
  for (const VmCell &cell : frame) {
    for (size_t i = 4; i < 8; ++i) EXPECT_EQ(cell.v.bytes[i], test::kFill) << "DINT width";
    out.push_back(cell.v.i32);
  }
  return out;
}

TEST(HostSystem, ErrorStateCycleCountAndHostRecordWords) {
  test::TestMachine m(test::minimalProgram());
  VmSetLastError(m.get(), 33, 5, 6, 0xFFFFFFFFu);
  EXPECT_EQ(runDints(m, 6020, 1), std::vector<int32_t>{33});
  EXPECT_EQ(runDints(m, 6021, 3), (std::vector<int32_t>{5, 6, -1}));
  EXPECT_EQ(runDints(m, 6022, 1), std::vector<int32_t>{33});
  EXPECT_EQ(runDints(m, 6021, 3), (std::vector<int32_t>{0, 0, 0})) << "cleared";
  EXPECT_EQ(m.state().statusFlags & VM_STATUS_ERROR, 0u);
  m.get()->cycleCount = 1234;
  EXPECT_EQ(runDints(m, 6025, 1), std::vector<int32_t>{1234});
  std::vector<uint8_t> record(512, 0);
  const int32_t words[] = {376376, -408, 0x42042042};
  for (auto [offset, value] : {std::pair{376, words[0]}, {408, words[1]}, {420, words[2]}})
    std::memcpy(record.data() + offset, &value, 4);
  for (uint32_t token : {0u, VmHostLocation(record.data())}) {
    m.get()->hostRecord = token;  // without a host record the words read 0
    const bool any = token != 0;
    EXPECT_EQ(runDints(m, 6023, 1), std::vector<int32_t>{any ? words[0] : 0});
    EXPECT_EQ(runDints(m, 6024, 1), std::vector<int32_t>{any ? words[2] : 0});
    EXPECT_EQ(runDints(m, 6026, 1), std::vector<int32_t>{any ? words[1] : 0});
    if (any) VmReleaseHostLocation(token);
  }
}

TEST(HostSystem, ExchangeStatusBit5OnPointZero) {
  test::TestMachine m(test::minimalProgram());
  // Two point value records of 28 bytes; the status word is at byte 16.
  std::vector<uint8_t> values(56, 0);
  const uint32_t token = VmHostLocation(values.data());
  const struct { int32_t count; uint32_t table, before; bool input, output; uint32_t after; } cases[] = {
      {2, token, 0x00000001u, true, false, 0x00000021u},
      {2, token, 0x00000021u, false, true, 0x00000001u},
      {2, token, 0xFFFFFFFFu, false, true, 0xFFFFFFDFu},
      // Without points: FALSE, and nothing written.
      {0, token, 0x20u, false, false, 0x20u},
      {2, 0u, 0x20u, false, false, 0x20u},
  };
  for (const auto &c : cases) {
    m.get()->pointCount = c.count;
    m.get()->pointValues = c.table;
    std::memcpy(values.data() + 16, &c.before, 4);
    std::vector<VmCell> frame = {cellOf(Value::boolean(c.input)), outputOf(VM_TYPE_BOOL)};
    ASSERT_EQ(hostlib::dispatch(1, 6000, frame.data(), 2, 0, 1, 1, m.get()), 0);
    uint32_t after;
    std::memcpy(&after, values.data() + 16, 4);
    EXPECT_EQ(after, c.after) << c.count << " " << c.table;
    EXPECT_TRUE(holds(frame[1], Value::boolean(c.output)));
  }
  EXPECT_EQ(values[28 + 16], 0) << "point 1's status is never involved";
  VmReleaseHostLocation(token);
}

TEST(HostSystem, SetUtcTimeSetsTheClockAndFlagsInvalidTimes) {
  test::TestMachine m(test::minimalProgram());
  m.get()->pc = 3;
  const double when = 45000.25;  // 2023-03-15 06:00 UTC
  std::vector<VmCell> frame = {cellOf(Value::dt(when)), outputOf(VM_TYPE_BOOL)};
  ASSERT_EQ(hostlib::dispatch(1, 6001, frame.data(), 2, 0, 1, 1, m.get()), 0);
  EXPECT_TRUE(holds(frame[1], Value::boolean(true)));
  EXPECT_NEAR(DtGetUtcTime(), when, 10.0 / 86400);
  test::LogCapture log(10);
  frame = {cellOf(Value::dt(std::nan(""))), outputOf(VM_TYPE_BOOL)};
  ASSERT_EQ(hostlib::dispatch(1, 6001, frame.data(), 2, 0, 1, 1, m.get()), 0);
  EXPECT_TRUE(holds(frame[1], Value::boolean(false)));  // the host refused it too
  EXPECT_EQ(log.texts(), std::vector<std::string>{"Program \"TEST\" (1) error 33 at addr 00003: Invalid parameter\n"});
  EXPECT_NEAR(DtGetUtcTime(), when, 10.0 / 86400) << "a refused time leaves the clock";
  DtResetUtcTime();
}

}  // namespace
