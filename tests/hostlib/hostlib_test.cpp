// The host library's entry point: which numbers exist, their declared
// counts, the gas hand-on, the families still to come, and the system
// functions 6000 to 6026.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "hostlib/hostlib.h"
#include "hostrt/datetime.h"
#include "support/cells.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::cellOf;
using sicvm::test::holds;
using sicvm::test::outputOf;

namespace {

int32_t check(int32_t function, int32_t nin, int32_t nout) {
  return hostlib::dispatch(0, function, nullptr, 0, 0, nin, nout, nullptr);
}

// The numbers that have no function, as ranges.
const std::pair<int32_t, int32_t> kUnknownRanges[] = {
    {6002, 6019}, {6027, 6030}, {6032, 6032}, {6037, 6039}, {6046, 6049}, {6084, 6089},
    {6092, 6099}, {6107, 6109}, {6121, 6121}, {6123, 6129}, {6134, 6140}, {6145, 6160},
};

bool listedUnknown(int32_t n) {
  if (n < 6000 || n > 6162) return true;
  for (auto [lo, hi] : kUnknownRanges)
    if (n >= lo && n <= hi) return true;
  return false;
}

TEST(HostDispatch, KnowsExactlyTheNumbersInUse) {
  int known = 0;
  for (int32_t n = 5990; n <= 6175; ++n) {
    SCOPED_TRACE(n);
    // Counts no function declares: a known number answers 2, an unknown one 1.
    int32_t result = check(n, 250, 250);
    EXPECT_EQ(result, listedUnknown(n) ? 1 : 2);
    if (result == 2) ++known;
  }
  EXPECT_EQ(known, 85);
  EXPECT_EQ(check(INT32_MIN, 0, 1), 1);
  EXPECT_EQ(check(INT32_MAX, 0, 1), 1);
}

struct Counts {
  int32_t function, nin, nout;
};

TEST(HostDispatch, AcceptsTheDeclaredCountsAndNoOthers) {
  const Counts declared[] = {
      {6000, 1, 1}, {6021, 0, 3}, {6025, 0, 1}, {6031, 2, 1}, {6040, 1, 2}, {6045, 1, 1},
      {6051, 7, 1}, {6052, 1, 8}, {6081, 4, 1}, {6082, 1, 2}, {6090, 6, 1}, {6091, 1, 6},
      {6100, 5, 2}, {6102, 14, 6}, {6105, 22, 4}, {6106, 22, 19}, {6116, 3, 1}, {6120, 16, 1},
      {6122, 1, 16}, {6131, 1, 2}, {6144, 1, 1}, {6162, 0, 1},
  };
  for (const Counts &c : declared) {
    SCOPED_TRACE(c.function);
    EXPECT_EQ(check(c.function, c.nin, c.nout), 0);
    EXPECT_EQ(check(c.function, c.nin + 1, c.nout), 2);
    EXPECT_EQ(check(c.function, c.nin, c.nout + 1), 2);
  }
  // GasFlowrate tells its two numbers apart by the output count.
  EXPECT_EQ(check(6105, 22, 19), 2);
  EXPECT_EQ(check(6106, 22, 4), 2);
}

TEST(HostDispatch, FamiliesNotYetBuiltRefuseToRunAndWriteNothing) {
  test::TestMachine m(test::minimalProgram());
  const Counts pending[] = {
      {6031, 2, 1}, {6033, 1, 1}, {6045, 1, 1}, {6050, 0, 1}, {6052, 1, 8}, {6091, 1, 6},
      {6100, 5, 2}, {6106, 22, 19}, {6110, 2, 1}, {6122, 1, 16}, {6133, 1, 1}, {6141, 1, 1},
      {6162, 0, 1},
  };
  for (const Counts &c : pending) {
    SCOPED_TRACE(c.function);
    std::vector<VmCell> frame(41, outputOf(VM_TYPE_LREAL));
    const std::vector<VmCell> before = frame;
    int32_t result = hostlib::dispatch(1, c.function, frame.data(), 41, 0, c.nin, c.nout, m.get());
    EXPECT_NE(result, 0);
    EXPECT_NE(result, 1);
    EXPECT_NE(result, 2);
    EXPECT_EQ(std::memcmp(frame.data(), before.data(), frame.size() * sizeof(VmCell)), 0);
    // Wrong counts are still a count mismatch when executing.
    EXPECT_EQ(hostlib::dispatch(1, c.function, frame.data(), 41, 0, c.nin + 1, c.nout, m.get()), 2);
  }
}

TEST(HostDispatch, RefusesCountsAndUnknownNumbersWithoutTouchingTheFrame) {
  test::TestMachine m(test::minimalProgram());
  VmSetLastError(m.get(), 33, 1, 2, 3);
  std::vector<VmCell> frame(4, outputOf(VM_TYPE_DINT));
  const std::vector<VmCell> before = frame;
  EXPECT_EQ(hostlib::dispatch(1, 6021, frame.data(), 4, 0, 0, 2, m.get()), 2);
  EXPECT_EQ(hostlib::dispatch(1, 6002, frame.data(), 4, 0, 0, 1, m.get()), 1);
  EXPECT_EQ(hostlib::dispatch(1, 5999, frame.data(), 4, 0, 0, 1, m.get()), 1);
  EXPECT_EQ(hostlib::dispatch(1, 6163, frame.data(), 4, 0, 0, 1, m.get()), 1);
  // A frame too small for the parameters.
  EXPECT_EQ(hostlib::dispatch(1, 6021, frame.data(), 4, 2, 0, 3, m.get()), 2);
  EXPECT_EQ(hostlib::dispatch(1, 6100, frame.data(), 4, 0, 5, 2, m.get()), 2);
  EXPECT_EQ(std::memcmp(frame.data(), before.data(), frame.size() * sizeof(VmCell)), 0);
  EXPECT_EQ(m.state().errorCode, 33);
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

TEST(HostSystem, ReadAndClearTheErrorState) {
  test::TestMachine m(test::minimalProgram());
  VmSetLastError(m.get(), 33, 5, 6, 0xFFFFFFFFu);
  EXPECT_EQ(runDints(m, 6020, 1), std::vector<int32_t>{33});
  EXPECT_EQ(runDints(m, 6021, 3), (std::vector<int32_t>{5, 6, -1}));
  EXPECT_EQ(runDints(m, 6022, 1), std::vector<int32_t>{33});
  EXPECT_EQ(runDints(m, 6020, 1), std::vector<int32_t>{0});
  EXPECT_EQ(runDints(m, 6021, 3), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(m.state().statusFlags & VM_STATUS_ERROR, 0u);
}

TEST(HostSystem, CycleCountAndHostRecordWords) {
  test::TestMachine m(test::minimalProgram());
  m.get()->cycleCount = 1234;
  EXPECT_EQ(runDints(m, 6025, 1), std::vector<int32_t>{1234});
  // Without a host record the three words read 0.
  m.get()->hostRecord = 0;
  EXPECT_EQ(runDints(m, 6023, 1), std::vector<int32_t>{0});
  EXPECT_EQ(runDints(m, 6024, 1), std::vector<int32_t>{0});
  EXPECT_EQ(runDints(m, 6026, 1), std::vector<int32_t>{0});

  std::vector<uint8_t> record(512, 0);
  auto put = [&](size_t offset, int32_t value) { std::memcpy(record.data() + offset, &value, 4); };
  put(376, 376376);
  put(408, -408);
  put(420, 0x42042042);
  uint32_t token = VmHostLocation(record.data());
  ASSERT_NE(token, 0u);
  m.get()->hostRecord = token;
  EXPECT_EQ(runDints(m, 6023, 1), std::vector<int32_t>{376376});
  EXPECT_EQ(runDints(m, 6024, 1), std::vector<int32_t>{0x42042042});
  EXPECT_EQ(runDints(m, 6026, 1), std::vector<int32_t>{-408});
  VmReleaseHostLocation(token);
}

struct StatusCase {
  uint32_t before;
  bool input;
  bool output;
  uint32_t after;
};

TEST(HostSystem, ExchangeStatusBit5OnPointZero) {
  test::TestMachine m(test::minimalProgram());
  // Two point value records of 28 bytes; the status word is at byte 16.
  std::vector<uint8_t> values(56, 0);
  uint32_t token = VmHostLocation(values.data());
  m.get()->pointValues = token;
  m.get()->pointCount = 2;
  const StatusCase cases[] = {
      {0x00000001u, true, false, 0x00000021u},
      {0x00000021u, false, true, 0x00000001u},
      {0xFFFFFFFFu, true, true, 0xFFFFFFFFu},
      {0xFFFFFFFFu, false, true, 0xFFFFFFDFu},
      {0x00000000u, false, false, 0x00000000u},
  };
  for (const StatusCase &c : cases) {
    std::memcpy(values.data() + 16, &c.before, 4);
    std::vector<VmCell> frame = {cellOf(Value::boolean(c.input)), outputOf(VM_TYPE_BOOL)};
    ASSERT_EQ(hostlib::dispatch(1, 6000, frame.data(), 2, 0, 1, 1, m.get()), 0);
    uint32_t after;
    std::memcpy(&after, values.data() + 16, 4);
    EXPECT_EQ(after, c.after);
    EXPECT_TRUE(holds(frame[1], Value::boolean(c.output)));
  }
  // Point 1's status is never involved.
  EXPECT_EQ(values[28 + 16], 0);

  // Without points: FALSE, and nothing written.
  uint32_t status = 0x20;
  std::memcpy(values.data() + 16, &status, 4);
  for (auto [count, tok] : {std::pair<int32_t, uint32_t>{0, token}, {-1, token}, {2, 0u}}) {
    m.get()->pointCount = count;
    m.get()->pointValues = tok;
    std::vector<VmCell> frame = {cellOf(Value::boolean(false)), outputOf(VM_TYPE_BOOL)};
    ASSERT_EQ(hostlib::dispatch(1, 6000, frame.data(), 2, 0, 1, 1, m.get()), 0);
    EXPECT_TRUE(holds(frame[1], Value::boolean(false)));
    EXPECT_EQ(values[16], 0x20);
  }
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
  EXPECT_EQ(m.state().errorCode, 0);

  {
    test::LogCapture log(10);
    frame = {cellOf(Value::dt(std::nan(""))), outputOf(VM_TYPE_BOOL)};
    ASSERT_EQ(hostlib::dispatch(1, 6001, frame.data(), 2, 0, 1, 1, m.get()), 0);
    EXPECT_TRUE(holds(frame[1], Value::boolean(false)));  // the host refused it too
    EXPECT_EQ(m.state().errorCode, 33);
    EXPECT_EQ(m.state().errorAddress, 3u);
    EXPECT_TRUE(log.has("Program \"TEST\" (1) error 33 at addr 00003: Invalid parameter\n")) << log.all();
  }
  EXPECT_NEAR(DtGetUtcTime(), when, 10.0 / 86400) << "a refused time leaves the clock";
  DtResetUtcTime();
}

}  // namespace
