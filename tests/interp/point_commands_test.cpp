// load_points and save_points over a host point database: which vars they
// select, conversion by type, errors 4 and 5, the segment index rules and
// the level-15 traces.
#include <gtest/gtest.h>

#include <cmath>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "image/timers.h"
#include "interp/family_run.h"
#include "support/log_capture.h"
#include "support/points.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

const char *kPoints =
    "1,1001,LREAL,0,2.5,0x10\n"
    "2,1002,DINT,0,-7,0\n"
    "3,1003,INT,0,4,0\n"
    "4,1004,BOOL,0,1,0\n"
    "5,1005,REAL,0,2,0x80000000\n";

Var linkedVar(const Value &value, int32_t pointId, bool load, bool save, int8_t field = 44) {
  Var v(value);
  v.pointId = pointId;
  v.load = load;
  v.save = save;
  v.pointField = field;
  return v;
}

class PointCommands : public ::testing::Test {
 protected:
  test::TestPoints points{kPoints};
  void SetUp() override { ASSERT_TRUE(points.ok()); }
  // Sets up the machine the way a host does, with links.
  void prepare(test::TestMachine &m) {
    ASSERT_TRUE(m.ok());
    points.attach(m.get());
    ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  }
};

TEST_F(PointCommands, LoadConvertsByTheVarsTypeAndSkipsTheUnselected) {
  ImageBuilder b;
  uint32_t g0 = b.segment();
  const struct {
    Var var;
    double expected;  // the var's value afterwards, read by its type
  } vars[] = {
      {linkedVar(Value::boolean(false), 1001, true, false), 1},
      {linkedVar(Value::dint(0), 1001, true, false), 3},          // round 2.5
      {linkedVar(Value::int16(0), 1001, true, false), 3},
      {linkedVar(Value::real(0), 1001, true, false), 2.5},
      {linkedVar(Value::lreal(0), 1001, true, false, 43), 16},     // the status field
      {linkedVar(Value::time(0), 1002, true, false), -7},
      {linkedVar(Value::lreal(99), 1002, false, true), 99},        // save flag only
      {linkedVar(Value::lreal(99), 0, true, false), 99},           // not linked
      {linkedVar(Value::lreal(99), 1002, true, false, 99), 0},     // no field 99: error 5
      {linkedVar(Value::lreal(99), 1003, true, false), 0},         // index moved out: error 4
  };
  for (const auto &v : vars) b.var(g0, v.var);
  Var notPlain = linkedVar(Value::lreal(99), 1002, true, false);
  notPlain.typeClass = 2;
  const uint32_t classTwo = b.var(g0, notPlain);
  b.command(op("load_points"), g(0));
  b.command(op("ret"));
  test::TestMachine m(b);
  prepare(m);
  m.image().varRecord(0, 11).pointIndex = 77;
  test::LogCapture log(15);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);

  auto read = [&](uint32_t var) -> double {
    const VmCell &cell = m.globalCell(var);
    switch (m.image().varRecord(0, var).type) {
      case VM_TYPE_BOOL: return cell.v.b;
      case VM_TYPE_DINT: return cell.v.i32;
      case VM_TYPE_INT: return cell.v.i16;
      case VM_TYPE_REAL: return cell.v.f32;
      default: return cell.v.f64;
    }
  };
  for (uint32_t i = 0; i < std::size(vars); ++i) EXPECT_EQ(read(2 + i), vars[i].expected) << "var " << 2 + i;
  EXPECT_EQ(read(classTwo), 99);
  EXPECT_EQ(test::recorded(m), (test::Recorded{4, 0, 77, 0})) << "the last error wins";

  const std::string p = "Program \"TEST\" (1)";
  EXPECT_EQ(log.texts(),
            (std::vector<std::string>{
                p + ": Run cycle 1\n",
                p + ": Load point 1 field 44 value 2.5 to var 0:00002 - SUCCESS",
                p + ": Load point 1 field 44 value 2.5 to var 0:00003 - SUCCESS",
                p + ": Load point 1 field 44 value 2.5 to var 0:00004 - SUCCESS",
                p + ": Load point 1 field 44 value 2.5 to var 0:00005 - SUCCESS",
                p + ": Load point 1 field 43 value 16 to var 0:00006 - SUCCESS",
                p + ": Load point 2 field 44 value -7 to var 0:00007 - SUCCESS",
                p + " error 5 at addr 00000: Invalid point field (99)\n",
                p + ": Load point 2 field 99 value 0 to var 0:00010 - ERROR",
                p + " error 4 at addr 00000: Invalid point no (77)\n",
                p + ": Load point 77 field 44 value 0 to var 0:00011 - ERROR",
            }));
}

TEST_F(PointCommands, SaveConvertsByThePointsType) {
  ImageBuilder b;
  uint32_t g0 = b.segment();
  b.var(g0, linkedVar(Value::boolean(true), 1004, false, true));   // 2 -> BOOL point 4
  b.var(g0, linkedVar(Value::dint(70000), 1003, false, true));     // 3 -> INT point 3
  b.var(g0, linkedVar(Value::real(0.1f), 1001, false, true));      // 4 -> LREAL point 1
  b.var(g0, linkedVar(Value::lreal(-2.5), 1002, false, true));     // 5 -> DINT point 2
  b.var(g0, linkedVar(Value::dint(5), 1002, false, true, 43));     // 6 -> status of point 2
  b.var(g0, linkedVar(Value::lreal(1), 1002, false, true, 12));    // 7 field 12: error 5
  b.var(g0, linkedVar(Value::lreal(8), 1005, false, true));        // 8 bit 31: refused quietly
  b.var(g0, linkedVar(Value::int16(-4), 1001, false, true));       // 9 index made negative: error 4
  b.var(g0, linkedVar(Value::lreal(6), 1001, true, false));        // 10 load only
  b.command(op("save_points"), g(0));
  b.command(op("ret"));
  test::TestMachine m(b);
  prepare(m);
  m.image().varRecord(0, 9).pointIndex = -2;
  test::LogCapture log(15);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(points.value(4).value, 1.0);
  EXPECT_EQ(points.value(3).value, 4464.0);
  EXPECT_EQ(points.value(1).value, double(0.1f));
  EXPECT_EQ(points.value(2).value, -3.0);
  EXPECT_EQ(points.value(2).status, 5u);
  EXPECT_EQ(points.value(5).value, 2.0);
  EXPECT_EQ(test::recorded(m), (test::Recorded{4, 0, 0xFFFFFFFEu, 0}));
  const std::string p = "Program \"TEST\" (1)";
  EXPECT_EQ(log.texts(),
            (std::vector<std::string>{
                p + ": Run cycle 1\n",
                p + ": Save var 0:00002 value 1 to point 4 field 44 - SUCCESS",
                p + ": Save var 0:00003 value 70000 to point 3 field 44 - SUCCESS",
                p + ": Save var 0:00004 value 0.1 to point 1 field 44 - SUCCESS",
                p + ": Save var 0:00005 value -2.5 to point 2 field 44 - SUCCESS",
                p + ": Save var 0:00006 value 5 to point 2 field 43 - SUCCESS",
                p + " error 5 at addr 00000: Invalid point field (12)\n",
                p + ": Save var 0:00007 value 1 to point 2 field 12 - ERROR",
                p + ": Save var 0:00008 value 8 to point 5 field 44 - SUCCESS",
                p + " error 4 at addr 00000: Invalid point no (-2)\n",
                p + ": Save var 0:00009 value -4 to point -2 field 44 - ERROR",
            }));
}

// SRC1's segment index: 0 works on all segments, 1 with a local segment does
// nothing, an empty slot (or a slot that does not exist) is fatal 118.
TEST_F(PointCommands, SegmentIndexSelectsOrRefuses) {
  const struct {
    const char *mnemonic;
    uint32_t segmentIndex;
    bool local;
    test::Recorded error;
    const char *message;
    double loaded;  // value of the linked var afterwards
  } cases[] = {
      {"load_points", 0, false, {}, nullptr, 2.5},
      {"load_points", 0, true, {}, nullptr, 2.5},
      {"load_points", 1, true, {}, nullptr, 9},
      {"load_points", 1, false, {118, 0, 1, 0}, "Load direct vars DS is NULL (1)\n", 9},
      {"load_points", 2, true, {118, 0, 2, 0}, "Load direct vars DS is NULL (2)\n", 9},
      {"save_points", 1, false, {118, 0, 1, 0}, "Save direct vars DS is NULL (1)\n", 9},
      {"save_points", 1, true, {}, nullptr, 9},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.mnemonic) + " " + std::to_string(c.segmentIndex) + (c.local ? " local" : ""));
    ImageBuilder b;
    uint32_t g0 = b.segment();
    Var timer(Value::time(0));
    timer.cellFlags = kTimerRunning;
    uint32_t t = b.var(g0, timer);
    uint32_t s1 = b.segment(1);
    uint32_t linked = b.var(s1, linkedVar(Value::lreal(9), 1001, true, true));
    uint32_t start = 0;
    if (c.local) start = b.command(op("set_ds"), num(0), num(1)) + 1;
    b.command(codeOf(c.mnemonic), Operand::var(c.segmentIndex, 0));
    b.end();
    test::TestMachine m(b);
    prepare(m);
    m->lastClock = 0;
    SysSetManualClock(10);
    test::LogCapture log(4);
    VmRunProgram(m.get(), 0, 0);
    SysUseRealClock();
    const bool fatal = c.error.code != 0;
    test::Recorded error = c.error;
    error.address = start;
    EXPECT_EQ(test::recorded(m), fatal ? error : test::Recorded{});
    EXPECT_EQ(m.state().runStatus, uint32_t(fatal ? VM_STOPPED : VM_END_MARKER));
    EXPECT_EQ(m->pc, fatal ? start : start + 1);
    if (fatal) {
      EXPECT_EQ(log.texts(), std::vector<std::string>{"Program \"TEST\" (1) error 118 at addr 0000" +
                                                      std::to_string(start) + ": " + c.message});
    }
    EXPECT_EQ(m.cell(s1, linked).v.f64, c.loaded);
    const bool loaded = std::string(c.mnemonic) == "load_points" && c.segmentIndex == 0;
    EXPECT_EQ(m.globalCell(t).v.f64, loaded ? 10.0 : 0.0) << "timers move only with a load";
    EXPECT_EQ(points.value(1).value, 2.5) << "a save of segment index 1 writes nothing";
  }
}

TEST_F(PointCommands, WithoutPointTablesEveryLinkFails) {
  ImageBuilder b;
  uint32_t g0 = b.segment();
  uint32_t v = b.var(g0, linkedVar(Value::lreal(9), 1001, true, true));
  b.command(op("load_points"), g(0));
  b.command(op("save_points"), g(0));
  b.command(op("ret"));
  test::TestMachine m(b);
  prepare(m);
  // The host withdrew its tables but kept the count and the links.
  m->pointConfig = 0;
  m->pointValues = 0;
  test::LogCapture log(10);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 3);
  EXPECT_EQ(m.globalCell(v).v.f64, 0.0);
  EXPECT_EQ(test::recorded(m), (test::Recorded{5, 1, 1, 44}));
  EXPECT_EQ(log.at(10).size(), 3u) << log.all();
}

}  // namespace
