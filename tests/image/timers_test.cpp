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

TEST(Timers, InitKeepsTheFirstClockReading) {
  test::TestMachine m(timerProgram());
  test::LogCapture log(10);
  SysSetManualClock(5000);
  EXPECT_EQ(VmInitTimers(m.get()), 0);
  SysAdvanceManualClock(100);
  EXPECT_EQ(VmInitTimers(m.get()), 0);
  SysUseRealClock();
  EXPECT_EQ(m->lastClock, 5000u);
  EXPECT_TRUE(m.state().statusFlags & VM_STATUS_TIMERS);
  EXPECT_EQ(log.lines().back().level, 5);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"Program \"TEST\" (1): Timers init successful\n",
                                                   "Program \"TEST\" (1): Timers already initialized\n"}));
}

TEST(Timers, RunningTimeCellsAdvanceByTheClockDistance) {
  const struct {
    const char *name;
    uint32_t last, now;
    double elapsed;
  } cases[] = {{"forward", 1000, 1500, 500},
               {"across the wrap", 0xFFFFFF00u, 0x100, 512},
               {"clock went back", 2000, 1500, 500},
               {"half the range", 0, 0x80000000u, 2147483648.0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    test::TestMachine m(timerProgram());
    m->lastClock = c.last;
    SysSetManualClock(c.now);
    EXPECT_EQ(UpdateTimers(m.get()), 0);
    SysUseRealClock();
    EXPECT_EQ(m->lastClock, c.now);
    EXPECT_EQ(m.globalCell(2).v.f64, 10 + c.elapsed);
    EXPECT_EQ(m.cell(1, 2).v.f64, c.elapsed);
    EXPECT_EQ(m.globalCell(3).v.f64, 20.0) << "stopped";
    EXPECT_EQ(m.globalCell(4).v.f64, 30.0) << "not TIME";
    EXPECT_EQ(m.arrayCell(1, 0).v.i32, 0) << "not TIME";
    // Only the first element-count cells of the TIME array are timers.
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(m.arrayCell(0, x).v.f64, x < 4 ? c.elapsed : 0.0) << x;
  }
  EXPECT_EQ(UpdateTimers(nullptr), -1);
}

TEST(Timers, TracesEachAdvancedTimer) {
  test::TestMachine m(timerProgram());
  m->lastClock = 100;
  SysSetManualClock(101);
  test::LogCapture log(15);
  ASSERT_EQ(UpdateTimers(m.get()), 0);
  SysUseRealClock();
  const std::string p = "Program \"TEST\" (1): Update timer ";
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             p + "var 0:00002 to 11 ms - SUCCESS", p + "var 1:00002 to 1 ms - SUCCESS",
                             p + "array 00000[0] to 1 ms  - SUCCESS", p + "array 00000[1] to 1 ms  - SUCCESS",
                             p + "array 00000[2] to 1 ms  - SUCCESS", p + "array 00000[3] to 1 ms  - SUCCESS"}));
}

}  // namespace
