// The timer commands on TIME vars and on TIME array elements.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "image/timers.h"
#include "interp/family_run.h"

using namespace sicvm;
using namespace sicvm::build;
using test::overPattern;

namespace {

TEST(TimerCommands, StartStopAndRead) {
  // inArray: the timer is element `index` of a TIME array of 3 (5, 6, 7 ms;
  // element 2 running) instead of a TIME var.
  const struct {
    const char *mnemonic;
    bool inArray;
    int32_t index;
    double value;
    bool running;
    double valueAfter;
    bool runningAfter;
    uint64_t out;  // DST's value field afterwards (0xAA where not written)
    bool error;
  } cases[] = {
      {"timer_start", false, 0, 500, false, 0, true, overPattern(0.0), false},
      {"timer_start", false, 0, 250, true, 250, true, overPattern(250.0), false},
      {"timer_stop", false, 0, 250, true, 250, false, overPattern(250.0), false},
      {"timer_stop", false, 0, 250, false, 250, false, overPattern(250.0), false},
      {"timer_started", false, 0, 250, true, 250, true, overPattern<uint8_t>(1), false},
      {"timer_started", false, 0, 250, false, 250, false, overPattern<uint8_t>(0), false},
      {"timer_value", false, 0, 125.5, true, 125.5, true, overPattern(125.5), false},
      {"timer_start", true, 1, 6, false, 0, true, overPattern(0.0), false},
      {"timer_stop", true, 2, 7, true, 7, false, overPattern(7.0), false},
      {"timer_started", true, 2, 7, true, 7, true, overPattern<uint8_t>(1), false},
      {"timer_start", true, 3, 0, false, 0, false, 0, true},
      {"timer_value", true, -1, 0, false, 0, false, 0, true},
      {"timer_started", true, 3, 0, false, 0, false, overPattern<uint8_t>(0), true},  // only the BOOL byte
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(std::string(k.mnemonic) + " case " + std::to_string(&k - cases));
    ImageBuilder b;
    uint32_t g0 = b.segment();
    Var timer(Value::time(k.value));
    timer.cellFlags = k.running ? kTimerRunning : 0;
    uint32_t t = b.var(g0, timer);
    uint32_t out = b.var(g0, Var(Value::raw(VM_TYPE_TIME, 0xAAAAAAAAu, 0xAAAAAAAAu)));
    b.array(Array{VM_TYPE_TIME, 1, 3, 1, {Value::time(5), Value::time(6), Value::time(7)}, 0});
    if (k.inArray)
      b.command(codeOf(k.mnemonic), Operand::array(0, 0), c(Value::dint(k.index)), g(out));
    else
      b.command(codeOf(k.mnemonic), g(t), Operand::none(), g(out));
    b.command(op("ret"));
    test::TestMachine m(b);
    ASSERT_TRUE(m.ok());
    m.arrayCell(0, 2).flags = kTimerRunning;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
    EXPECT_EQ(test::bitsOf(m.globalCell(out)), k.out);
    EXPECT_EQ(test::recorded(m), (k.error ? test::Recorded{8, 0, uint32_t(k.index), 0} : test::Recorded{}));
    if (k.error) continue;
    const VmCell &cell = k.inArray ? m.arrayCell(0, k.index) : m.globalCell(t);
    EXPECT_EQ(cell.v.f64, k.valueAfter);
    EXPECT_EQ(cell.flags & kTimerRunning, k.runningAfter ? kTimerRunning : 0);
    EXPECT_EQ(m.arrayCell(0, 0).flags, 0) << "other elements stay";
  }
}

}  // namespace
