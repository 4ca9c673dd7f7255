// The timer commands on TIME vars and TIME array elements, and time passing
// through load_points on the host's manual clock.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "image/timers.h"
#include "interp/family_run.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

constexpr uint32_t kPattern = 0xAAAAAAAAu;

TEST(TimerCommands, StartStopAndRead) {
  const struct {
    const char *mnemonic;
    double value;
    bool running;
    double valueAfter;
    bool runningAfter;
    uint64_t out;
  } cases[] = {
      {"timer_start", 500, false, 0, true, test::overPattern(0.0)},
      {"timer_start", 250, true, 250, true, test::overPattern(250.0)},
      {"timer_stop", 250, true, 250, false, test::overPattern(250.0)},
      {"timer_stop", 250, false, 250, false, test::overPattern(250.0)},
      {"timer_started", 250, true, 250, true, test::overPattern<uint8_t>(1)},
      {"timer_started", 250, false, 250, false, test::overPattern<uint8_t>(0)},
      {"timer_value", 125.5, true, 125.5, true, test::overPattern(125.5)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.mnemonic) + " " + std::to_string(c.value) + (c.running ? " running" : ""));
    ImageBuilder b;
    uint32_t g0 = b.segment();
    Var timer(Value::time(c.value));
    timer.cellFlags = c.running ? kTimerRunning : 0;
    uint32_t t = b.var(g0, timer);
    uint32_t out = b.var(g0, Var(Value::raw(VM_TYPE_TIME, 0, 0)));
    b.command(codeOf(c.mnemonic), g(t), Operand::none(), g(out));
    b.command(op("ret"));
    test::TestMachine m(b);
    ASSERT_TRUE(m.ok());
    // DST is all pattern: the fields wider than the result must keep it.
    m.globalCell(out).v.w[0] = kPattern;
    m.globalCell(out).v.w[1] = kPattern;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
    EXPECT_EQ(m.globalCell(t).v.f64, c.valueAfter);
    EXPECT_EQ(m.globalCell(t).flags & kTimerRunning, c.runningAfter ? kTimerRunning : 0);
    EXPECT_EQ(test::bitsOf(m.globalCell(out)), c.out);
    EXPECT_EQ(test::recorded(m).code, 0);
  }
}

TEST(TimerCommands, ArrayElementsAreCheckedLikeAget) {
  const struct {
    const char *mnemonic;
    int32_t index;
    uint64_t out;
    bool error;
  } cases[] = {
      {"timer_start", 1, test::overPattern(0.0), false},
      {"timer_value", 2, test::overPattern(7.0), false},
      {"timer_start", 3, 0, true},
      {"timer_stop", -1, 0, true},
      {"timer_started", 3, test::overPattern<uint8_t>(0), true},  // only the BOOL byte is cleared
      {"timer_started", 2, test::overPattern<uint8_t>(1), false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.mnemonic) + " " + std::to_string(c.index));
    ImageBuilder b;
    uint32_t g0 = b.segment();
    uint32_t out = b.var(g0, Var(Value::raw(VM_TYPE_TIME, kPattern, kPattern)));
    b.array(Array{VM_TYPE_TIME, 1, 3, 1, {Value::time(5), Value::time(6), Value::time(7)}, 0});
    b.command(codeOf(c.mnemonic), Operand::array(0, 0), build::c(Value::dint(c.index)), g(out));
    b.command(op("ret"));
    test::TestMachine m(b);
    ASSERT_TRUE(m.ok());
    m.arrayCell(0, 2).flags = kTimerRunning;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
    EXPECT_EQ(test::bitsOf(m.globalCell(out)), c.out);
    EXPECT_EQ(test::recorded(m), (c.error ? test::Recorded{8, 0, uint32_t(c.index), 0} : test::Recorded{}));
  }
  // timer_start on element 1 started that element only.
  ImageBuilder b;
  b.segment();
  b.array(Array{VM_TYPE_TIME, 1, 3, 1, {Value::time(5), Value::time(6), Value::time(7)}, 0});
  b.command(op("timer_start"), Operand::array(0, 0), build::c(Value::dint(1)), Operand::array(0, 0));
  b.command(op("ret"));
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(m.arrayCell(0, 1).flags, kTimerRunning);
  EXPECT_EQ(m.arrayCell(0, 1).v.f64, 0.0);
  EXPECT_EQ(m.arrayCell(0, 0).flags, 0);
  EXPECT_EQ(m.arrayCell(0, 0).v.f64, 5.0);
}

// Each cycle: timer_start t; load_points; timer_value t -> out. Time moves
// only in load_points, by the distance the clock moved, also across its wrap.
TEST(TimerCommands, TimeMovesOncePerLoadPoints) {
  ImageBuilder b;
  uint32_t g0 = b.segment();
  uint32_t t = b.var(g0, Var(Value::time(0)));
  uint32_t out = b.var(g0, Var(Value::time(-1)));
  uint32_t stop = b.var(g0, Var(Value::boolean(false)));
  b.command(op("timer_start"), g(t), Operand::none(), g(out));      // 0
  b.command(op("load_points"), g(0));                               // 1
  b.command(op("timer_value"), g(t), Operand::none(), g(out));      // 2
  b.command(op("if_eq"), g(stop), num(5));                          // 3
  b.command(op("ret"));                                             // 4
  b.command(op("timer_stop"), g(t), Operand::none(), g(out));       // 5
  b.command(op("ret"));                                             // 6
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  SysSetManualClock(0xFFFFFF00u);
  ASSERT_EQ(VmInitTimers(m.get()), 0);
  const struct {
    uint32_t advance;
    bool stop;
    double out;
  } cycles[] = {
      {0, false, 0},       // started, no time yet
      {0x200, false, 512}, // across the clock's wrap
      {100, true, 612},    // stopped after this cycle's update
      {50, false, 50},     // restarts from 0, then this cycle's 50 ms
  };
  for (const auto &c : cycles) {
    SysAdvanceManualClock(c.advance);
    m.globalCell(stop).v.b = c.stop;
    ASSERT_EQ(VmResetMachine(m.get()), 0);
    VmRunProgram(m.get(), 0, 0);
    EXPECT_EQ(m.state().runStatus, uint32_t(VM_CYCLE_COMPLETE));
    EXPECT_EQ(m.globalCell(out).v.f64, c.out) << c.advance;
  }
  SysUseRealClock();
}

}  // namespace
