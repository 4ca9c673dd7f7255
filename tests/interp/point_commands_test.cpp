// SPDX-License-Identifier: MIT
// load_points and save_points over a host point database: the vars they
// select, values by the var's type, errors 4, 5 and 118, the level-15 traces.
#include "hostrt/sys.h"
#include "image/timers.h"
#include "interp/program.h"
#include "support/points.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;
using test::Record;

namespace {

Var linked(const Value &value, int32_t pointId, uint8_t flags, int8_t field = 44, uint8_t typeClass = 1) {
  Var v(value);
  v.pointId = pointId;
  v.load = flags & VM_VAR_LOAD;
  v.save = flags & VM_VAR_SAVE;
  v.pointField = field;
  v.typeClass = typeClass;
  return v;
}

class PointCommands : public ::testing::Test {
 protected:
  test::TestPoints points{"1,1001,LREAL,0,2.5,0x10\n2,1002,DINT,0,-7,0\n3,1003,INT,0,4,0\n4,1004,BOOL,0,1,0\n"};
  // Sets the program up as a host does, lets `edit` change it, runs it.
  test::TestMachine run(const ImageBuilder &b, test::LogCapture &log, void (*edit)(test::TestMachine &)) {
    test::TestMachine m(b);
    EXPECT_TRUE(points.ok() && m.ok());
    points.attach(m.get());
    EXPECT_EQ(VmInitVarLinks(m.get()), 0);
    edit(m);
    log.clear();
    VmRunProgram(m.get(), 0, 0);
    return m;
  }
};

// load_points gives each linked var of class 1 with the load flag its point's field by the
// var's type; save_points gives each with the save flag's value. Both go on after errors.
TEST_F(PointCommands, LoadAndSaveByTheVarsType) {
  const struct { Var var; uint64_t bits; } vars[] = {  // the var after the load
      {linked(Value::boolean(false), 1001, VM_VAR_LOAD), 1},
      {linked(Value::dint(0), 1001, VM_VAR_LOAD), 3},  // fround(2.5)
      {linked(Value::int16(0), 1001, VM_VAR_LOAD), 3},
      {linked(Value::real(0), 1001, VM_VAR_LOAD), test::bitsOf(Value::real(2.5f).v)},
      {linked(Value::lreal(0), 1001, VM_VAR_LOAD, 43), test::bitsOf(Value::lreal(16).v)},  // the status
      {linked(Value::time(0), 1002, VM_VAR_LOAD), test::bitsOf(Value::lreal(-7).v)},
      {linked(Value::dint(99), 0, VM_VAR_LOAD), 99},            // 8 not linked
      {linked(Value::dint(99), 1002, VM_VAR_LOAD, 44, 2), 99},  // 9 class 2
      {linked(Value::lreal(99), 1002, VM_VAR_LOAD, 99), 0},     // 10 no field 99: error 5
      {linked(Value::lreal(99), 1003, VM_VAR_LOAD), 0},         // 11 index moved out: error 4
      {linked(Value::boolean(true), 1004, VM_VAR_SAVE), 1},     // 12 -> BOOL point
      {linked(Value::dint(70000), 1003, VM_VAR_SAVE), 70000},   // 13 -> INT point
      {linked(Value::real(0.1f), 1001, VM_VAR_SAVE), test::bitsOf(Value::real(0.1f).v)},  // 14 -> LREAL point
      {linked(Value::lreal(-2.5), 1002, VM_VAR_SAVE), test::bitsOf(Value::lreal(-2.5).v)},  // 15 -> DINT point
      {linked(Value::int16(5), 1002, VM_VAR_SAVE, 43), 5},      // 16 -> status
      {linked(Value::dint(1), 1002, VM_VAR_SAVE, 12), 1},       // 17 field 12: error 5
      {linked(Value::dint(-4), 1001, VM_VAR_SAVE), uint32_t(-4)},  // 18 index made negative: error 4
  };
  ImageBuilder b;
  const uint32_t g0 = b.segment();
  for (const auto &v : vars) b.var(g0, v.var);
  b.command(op("load_points"), g(0));
  b.command(op("save_points"), g(0));
  b.command(op("ret"));
  test::LogCapture log(15);
  test::TestMachine m = run(b, log, [](test::TestMachine &t) {
    t.image().varRecord(0, 11).pointIndex = 77;
    t.image().varRecord(0, 18).pointIndex = -2;
  });
  for (uint32_t i = 0; i < std::size(vars); ++i) EXPECT_EQ(test::bitsOf(m.globalCell(2 + i)), vars[i].bits) << 2 + i;
  const double values[] = {0, double(0.1f), -3.0, 4464.0, 1.0};
  for (int32_t i = 1; i <= 4; ++i) EXPECT_EQ(double(points.value(i).value), values[i]) << "point " << i;
  EXPECT_EQ(points.value(2).status, 5u);
  EXPECT_EQ(test::recordOf(m), (Record{4, 1, 0xFFFFFFFEu, 0}));
  const std::string load = "Program \"TEST\" (1): Load point ", save = "Program \"TEST\" (1): Save var 0:000";
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             test::kCycleLine,
                             load + "1 field 44 value 2.5 to var 0:00002 - SUCCESS",
                             load + "1 field 44 value 2.5 to var 0:00003 - SUCCESS",
                             load + "1 field 44 value 2.5 to var 0:00004 - SUCCESS",
                             load + "1 field 44 value 2.5 to var 0:00005 - SUCCESS",
                             load + "1 field 43 value 16 to var 0:00006 - SUCCESS",
                             load + "2 field 44 value -7 to var 0:00007 - SUCCESS",
                             test::errorLine(5, 0, "Invalid point field (99)"),
                             load + "2 field 99 value 0 to var 0:00010 - ERROR",
                             test::errorLine(4, 0, "Invalid point no (77)"),
                             load + "77 field 44 value 0 to var 0:00011 - ERROR",
                             save + "12 value 1 to point 4 field 44 - SUCCESS",
                             save + "13 value 70000 to point 3 field 44 - SUCCESS",
                             save + "14 value 0.1 to point 1 field 44 - SUCCESS",
                             save + "15 value -2.5 to point 2 field 44 - SUCCESS",
                             save + "16 value 5 to point 2 field 43 - SUCCESS",
                             test::errorLine(5, 1, "Invalid point field (12)"),
                             save + "17 value 1 to point 2 field 12 - ERROR",
                             test::errorLine(4, 1, "Invalid point no (-2)"),
                             save + "18 value -4 to point -2 field 44 - ERROR"}));
}

// SRC1's segment index: 0 works on every segment and advances the timers (here across the
// clock's wrap); 1 with a local segment does nothing; an empty or missing slot is fatal.
TEST_F(PointCommands, SegmentIndexSelectsOrRefuses) {
  const struct { const char *mnemonic; uint32_t index; bool local; const char *refusal; } cases[] = {
      {"load_points", 0, false, nullptr}, {"load_points", 1, true, nullptr},
      {"load_points", 2, true, "Load direct vars DS is NULL (2)"},
      {"save_points", 1, false, "Save direct vars DS is NULL (1)"}, {"save_points", 1, true, nullptr},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(&k - cases);
    ImageBuilder b;
    Var timer(Value::time(0));
    timer.cellFlags = kTimerRunning;
    b.var(b.segment(), timer);
    const uint32_t s1 = b.segment(1);
    b.var(s1, linked(Value::lreal(9), 1001, VM_VAR_LOAD | VM_VAR_SAVE));
    const uint32_t at = k.local ? b.command(op("set_ds"), num(0), num(1)) + 1 : 0;
    b.command(codeOf(k.mnemonic), Operand::var(k.index, 0));
    b.end();
    test::LogCapture log(4);
    SysSetManualClock(5);
    test::TestMachine m = run(b, log, [](test::TestMachine &t) { t->lastClock = 0xFFFFFFFBu; });
    SysUseRealClock();
    EXPECT_EQ(test::recordOf(m), (k.refusal ? Record{118, at, k.index, 0} : Record{}));
    EXPECT_EQ(m->pc, k.refusal ? at : at + 1);
    EXPECT_EQ(log.texts(), k.refusal ? std::vector<std::string>{test::errorLine(118, at, k.refusal)}
                                     : std::vector<std::string>{});
    const bool loaded = k.index == 0 && std::string(k.mnemonic) == "load_points";
    EXPECT_EQ(test::value(m.cell(s1, 2).v.f64), loaded ? 2.5 : 9);
    EXPECT_EQ(test::value(m.globalCell(2).v.f64), loaded ? 10.0 : 0.0) << "timers move only with a load";
    EXPECT_EQ(double(points.value(1).value), 2.5) << "saving 9 into point 1 would be seen";
  }
}

}  // namespace
