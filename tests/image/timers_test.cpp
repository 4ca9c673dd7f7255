// VmInitTimers and the timer update, on the host's manual clock.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "image/timers.h"
#include "support/log_capture.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

// Global vars: 2 running TIME at 10 ms, 3 stopped TIME at 20 ms, 4 an LREAL
// with the running bit set (not a timer). Local segment 1: var 2 running
// TIME at 0. Array 0: TIME, 4 elements of size 2, every cell running; array
// 1: DINT cells with the running bit (not timers).
ImageBuilder timerProgram() {
  ImageBuilder b;
  uint32_t g = b.segment();
  Var running(Value::time(10));
  running.cellFlags = kTimerRunning;
  b.var(g, running);
  b.var(g, Var(Value::time(20)));
  Var notTimer(Value::lreal(30));
  notTimer.cellFlags = kTimerRunning;
  b.var(g, notTimer);
  uint32_t local = b.segment(1);
  Var localTimer(Value::time(0));
  localTimer.cellFlags = kTimerRunning;
  b.var(local, localTimer);
  b.array(Array{VM_TYPE_TIME, 2, 4, 1, {}, kTimerRunning});
  b.array(Array{VM_TYPE_DINT, 1, 2, 1, {}, kTimerRunning});
  b.command(0);
  return b;
}

class Timers : public ::testing::Test {
 protected:
  test::TestMachine m{timerProgram()};
  void SetUp() override { ASSERT_TRUE(m.ok()); }
  void TearDown() override { SysUseRealClock(); }
};

TEST_F(Timers, InitKeepsTheFirstClockReading) {
  test::LogCapture log(10);
  SysSetManualClock(5000);
  EXPECT_EQ(VmInitTimers(m.get()), 0);
  EXPECT_EQ(m->lastClock, 5000u);
  EXPECT_TRUE(m.state().statusFlags & VM_STATUS_TIMERS);
  SysAdvanceManualClock(100);
  EXPECT_EQ(VmInitTimers(m.get()), 0);
  EXPECT_EQ(m->lastClock, 5000u);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"Program \"TEST\" (1): Timers init successful\n",
                                                   "Program \"TEST\" (1): Timers already initialized\n"}));
  EXPECT_EQ(log.at(5).size(), 1u);
  // Neither timer values nor flags are touched.
  EXPECT_EQ(m.globalCell(2).v.f64, 10.0);
  EXPECT_EQ(m.globalCell(2).flags, kTimerRunning);
}

TEST_F(Timers, RunningTimersAdvanceByTheClockDistance) {
  const struct {
    const char *name;
    uint32_t last, now;
    double elapsed;
  } cases[] = {
      {"forward", 1000, 1500, 500},
      {"across the wrap", 0xFFFFFF00u, 0x100, 512},
      {"clock went back", 2000, 1500, 500},
      {"half the range", 0, 0x80000000u, 2147483648.0},
      {"no time", 7, 7, 0},
  };
  for (const auto &c : cases) {
    test::TestMachine t{timerProgram()};
    t->lastClock = c.last;
    SysSetManualClock(c.now);
    EXPECT_EQ(UpdateTimers(t.get()), 0);
    EXPECT_EQ(t->lastClock, c.now) << c.name;
    EXPECT_EQ(t.globalCell(2).v.f64, 10 + c.elapsed) << c.name;
    EXPECT_EQ(t.cell(1, 2).v.f64, c.elapsed) << c.name;
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(t.arrayCell(0, x).v.f64, c.elapsed) << c.name << " cell " << x;
  }
}

TEST_F(Timers, OnlyRunningTimeCellsOfTheElementCountMove) {
  m->lastClock = 0;
  SysSetManualClock(40);
  ASSERT_EQ(UpdateTimers(m.get()), 0);
  EXPECT_EQ(m.globalCell(3).v.f64, 20.0) << "stopped timer";
  EXPECT_EQ(m.globalCell(4).v.f64, 30.0) << "LREAL with the running bit";
  for (uint32_t x = 4; x < 8; ++x) EXPECT_EQ(m.arrayCell(0, x).v.f64, 0.0) << "cell " << x << " is beyond the count";
  EXPECT_EQ(m.arrayCell(1, 0).v.i32, 0) << "DINT array";
  // The next update counts from this one.
  SysAdvanceManualClock(5);
  ASSERT_EQ(UpdateTimers(m.get()), 0);
  EXPECT_EQ(m.globalCell(2).v.f64, 55.0);
}

TEST_F(Timers, TracesEachAdvancedTimer) {
  m->lastClock = 100;
  SysSetManualClock(101);
  test::LogCapture log(15);
  ASSERT_EQ(UpdateTimers(m.get()), 0);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "Program \"TEST\" (1): Update timer var 0:00002 to 11 ms - SUCCESS",
                             "Program \"TEST\" (1): Update timer var 1:00002 to 1 ms - SUCCESS",
                             "Program \"TEST\" (1): Update timer array 00000[0] to 1 ms  - SUCCESS",
                             "Program \"TEST\" (1): Update timer array 00000[1] to 1 ms  - SUCCESS",
                             "Program \"TEST\" (1): Update timer array 00000[2] to 1 ms  - SUCCESS",
                             "Program \"TEST\" (1): Update timer array 00000[3] to 1 ms  - SUCCESS"}));
  test::LogCapture quiet(14);
  ASSERT_EQ(UpdateTimers(m.get()), 0);
  EXPECT_TRUE(quiet.texts().empty());
}

TEST_F(Timers, NullMachine) {
  _winseterrno(0);
  EXPECT_EQ(UpdateTimers(nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
  _winseterrno(0);
  EXPECT_EQ(VmInitTimers(nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
}

}  // namespace
