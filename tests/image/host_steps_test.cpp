// SPDX-License-Identifier: MIT
// The host's set-up steps: VmInitHostTypes, VmInitVarLinks and
// VmUpdateVarLinks over a host point database, VmInitTimers and the timer
// update on the host's manual clock.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "image/timers.h"
#include "sicvm/vm.h"
#include "support/log_capture.h"
#include "support/machine.h"
#include "support/points.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

// Records 1 and 4 carry ID 11, 2 and 6 ID 12, 5 ID 15; 3 is deleted; the
// null record 0 carries ID 99 (and never matches).
const char *kPoints =
    "0,99,LREAL,0,0,0\n1,11,LREAL,0,1,0\n2,12,DINT,0,2,0\n4,11,LREAL,0,4,0\n5,15,LREAL,0,5,0\n6,12,DINT,0,6,0\n";

// Segment 0: vars 2..6 link IDs 11, 12, 13, 15, 99; var 7 has no ID but a
// stale index. Segment 1: var 2 links ID 12.
ImageBuilder linkProgram() {
  ImageBuilder b;
  auto linked = [](int32_t id, int32_t index = 0) {
    Var v(Value::lreal(0));
    v.pointId = id;
    v.pointIndex = index;
    return v;
  };
  uint32_t g0 = b.segment();
  for (int32_t id : {11, 12, 13, 15, 99}) b.var(g0, linked(id));
  b.var(g0, linked(0, 4));
  b.var(b.segment(1), linked(12));
  b.command(0);
  return b;
}

class Links : public ::testing::Test {
 protected:
  test::TestPoints points{kPoints};
  test::TestMachine m{linkProgram()};
  void SetUp() override {
    ASSERT_TRUE(points.ok() && m.ok());
    points.attach(m.get());
  }
  VmVarRecord &record(uint32_t segment, uint32_t var) { return m.image().varRecord(segment, var); }
  int32_t index(uint32_t segment, uint32_t var) { return record(segment, var).pointIndex; }
  std::string dropped(const char *var, int id) {
    return std::string("Program \"TEST\" (1): Variable ") + var + " point ID " + std::to_string(id) +
           " deleted, link deleted\n";
  }
};

TEST_F(Links, InitLinksEachVarToTheFirstLiveRecordWithItsId) {
  m->pointValues = 0;
  test::LogCapture log(10);
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 7), 4) << "without tables the links wait: indexes stay as the image holds them";
  points.attach(m.get());
  points.config(1).ownIndex = 0;  // deleted: ID 11 now lives only at 4
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  const int32_t expected[] = {4, 2, 0, 5, 0, 0};  // ID 12 lives at 2 and 6: the first
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(index(0, 2 + i), expected[i]) << "var " << 2 + i;
  EXPECT_EQ(index(1, 2), 2);
  EXPECT_EQ(m.state().statusFlags & 0x202u, 0x202u);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "Program \"TEST\" (1): No external points specified, variables links will be disabled\n",
                             dropped("0:00004", 13), dropped("0:00006", 99),
                             "Program \"TEST\" (1): Data segment 0 point links (3) init successful\n",
                             "Program \"TEST\" (1): Data segment 1 point links (1) init successful\n",
                             "Program \"TEST\" (1): Data segment points links already initialized\n"}));
  EXPECT_EQ(log.at(5).size(), 4u);
}

TEST_F(Links, UpdateDropsLinksWhosePointHasGone) {
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  const_cast<VmStateBlock &>(m.state()).statusFlags = 0;
  points.config(1).ownIndex = 0;    // 0:2 -> deleted record
  points.config(2).pointId = 77;    // 0:3 -> another point now
  record(0, 5).pointIndex = points.count();  // beyond the table
  record(1, 2).pointIndex = -3;              // negative
  m->pointValues = 0;               // not needed
  test::LogCapture log(5);
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);  // dropped links stay dropped, no relinking
  EXPECT_EQ(log.texts(), (std::vector<std::string>{dropped("0:00002", 11), dropped("0:00003", 12),
                                                   dropped("0:00005", 15), dropped("1:00002", 12)}));
  for (auto [s, v] : {std::pair{0u, 2u}, {0u, 3u}, {0u, 5u}, {1u, 2u}}) EXPECT_EQ(index(s, v), 0);
  EXPECT_EQ(m.state().statusFlags, uint32_t(VM_STATUS_LINK_DROPPED));
  record(0, 2).pointIndex = 1;
  m->pointConfig = 0;
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 1) << "without a configuration table nothing is checked";
}

TEST_F(Links, OneTimeStepsRunOnce) {
  test::LogCapture log(10);
  SysSetManualClock(5000);
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(VmInitHostTypes(m.get()), 0);
    EXPECT_EQ(VmInitTimers(m.get()), 0);
    SysAdvanceManualClock(100);
  }
  SysUseRealClock();
  EXPECT_EQ(m->lastClock, 5000u) << "the first clock reading is kept";
  EXPECT_EQ(m.state().statusFlags, uint32_t(VM_STATUS_HOST_TYPES | VM_STATUS_TIMERS));
  const std::string p = "Program \"TEST\" (1): ";
  EXPECT_EQ(log.at(10), (std::vector<std::string>{p + "Host types init successful\n", p + "Timers init successful\n"}));
  EXPECT_EQ(log.at(5),
            (std::vector<std::string>{p + "Host types already initialized\n", p + "Timers already initialized\n"}));
}

// Global vars: 2 running TIME at 10 ms, 3 stopped TIME, 4 an LREAL with the
// running bit (not a timer). Local segment 1: var 2 running TIME. Array 0:
// TIME, 4 elements of size 2, all 8 cells running; array 1: DINT, running bit.
ImageBuilder timerProgram() {
  ImageBuilder b;
  auto timer = [](const Value &v, uint8_t flags) {
    Var var(v);
    var.cellFlags = flags;
    return var;
  };
  uint32_t g0 = b.segment();
  b.var(g0, timer(Value::time(10), kTimerRunning));
  b.var(g0, timer(Value::time(20), 0));
  b.var(g0, timer(Value::lreal(30), kTimerRunning));
  b.var(b.segment(1), timer(Value::time(0), kTimerRunning));
  b.array(Array{VM_TYPE_TIME, 2, 4, 1, {}, kTimerRunning});
  b.array(Array{VM_TYPE_DINT, 1, 2, 1, {}, kTimerRunning});
  b.command(0);
  return b;
}

// Each running TIME cell advances by the size of the signed 32-bit clock
// distance, and each advance is traced at level 15.
TEST(Timers, RunningTimeCellsAdvanceByTheClockDistance) {
  const struct { uint32_t last, now; double elapsed; } cases[] = {
      {1000, 1501, 501}, {0xFFFFFF00u, 0x100, 512}, {2000, 1500, 500}, {0, 0x80000000u, 2147483648.0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.now);
    test::TestMachine m(timerProgram());
    m->lastClock = c.last;
    SysSetManualClock(c.now);
    test::LogCapture log(15);
    EXPECT_EQ(UpdateTimers(m.get()), 0);
    SysUseRealClock();
    EXPECT_EQ(m->lastClock, c.now);
    EXPECT_EQ(test::value(m.globalCell(2).v.f64), 10 + c.elapsed);
    EXPECT_EQ(test::value(m.cell(1, 2).v.f64), c.elapsed);
    EXPECT_EQ(test::value(m.globalCell(3).v.f64), 20.0) << "stopped";
    EXPECT_EQ(test::value(m.globalCell(4).v.f64), 30.0) << "not TIME";
    EXPECT_EQ(test::value(m.arrayCell(1, 0).v.i32), 0) << "not TIME";
    // Only the first element-count cells of the TIME array are timers.
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(test::value(m.arrayCell(0, x).v.f64), x < 4 ? c.elapsed : 0.0) << x;
    if (c.elapsed != 501) continue;
    const std::string p = "Program \"TEST\" (1): Update timer ";
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               p + "var 0:00002 to 511 ms - SUCCESS", p + "var 1:00002 to 501 ms - SUCCESS",
                               p + "array 00000[0] to 501 ms  - SUCCESS", p + "array 00000[1] to 501 ms  - SUCCESS",
                               p + "array 00000[2] to 501 ms  - SUCCESS", p + "array 00000[3] to 501 ms  - SUCCESS"}));
  }
}

}  // namespace
