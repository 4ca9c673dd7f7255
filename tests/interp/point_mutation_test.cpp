// Randomly broken images with linked vars, timers and arrays, run over a
// small point table: set-up, the link steps, the point, timer, array and
// conversion commands must never touch memory outside the image or the
// host's tables. The tables are heap arrays of exactly pointCount records,
// so that the sanitizer build sees any access beyond them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "builder/image_builder.h"
#include "hostrt/points.h"
#include "hostrt/sys.h"
#include "image/timers.h"
#include "interp/command_table.h"
#include "sicvm/points.h"
#include "sicvm/vm.h"
#include "support/mutate.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

constexpr int32_t kPoints = 4;

std::vector<uint8_t> seedImage(uint32_t gap) {
  ImageBuilder b;
  b.gap(gap).commandLimit(500);
  uint32_t g0 = b.segment();
  const Value types[] = {Value::boolean(true), Value::dint(3), Value::lreal(1.5), Value::int16(-2),
                         Value::real(0.5f), Value::time(9), Value::dt(2)};
  for (int i = 0; i < 7; ++i) {
    Var v(types[i]);
    v.pointId = 1001 + i % 5;  // 1005 names no point
    v.load = i % 2 == 0;
    v.save = i % 3 != 1;
    v.pointField = int8_t(i == 3 ? 43 : 44);
    v.cellFlags = types[i].type == VM_TYPE_TIME ? kTimerRunning : 0;
    b.var(g0, v);
  }
  uint32_t s1 = b.segment(1, 1);
  b.var(s1, Var(Value::dint(1)));
  b.array(Array{VM_TYPE_TIME, 1, 3, 1, {}, kTimerRunning});
  b.array(Array{VM_TYPE_DINT, 1, 3, 1, {}, 0});
  b.command(op("load_points"), g(0));
  b.command(op("timer_start"), Operand::array(0, 0), c(Value::dint(1)), g(7));
  b.command(op("aget"), Operand::array(0, 1), c(Value::dint(2)), g(3));
  b.command(op("aput"), c(Value::dint(0)), g(3), Operand::array(0, 1));
  b.command(op("acopy"), Operand::array(0, 1), Operand::none(), Operand::array(0, 1));
  b.command(op("lreal_to_int"), g(4), Operand::none(), g(5));
  b.command(op("timer_value"), g(7), Operand::none(), g(4));
  b.command(op("save_points"), g(0));
  b.command(op("ret"));
  return b.build();
}

TEST(PointMutation, NeverLeavesTheImageOrThePointTables) {
  VmSetLogLevel(0);
  std::vector<PointConfigRecord> configs(kPoints);
  std::vector<PointValueRecord> values(kPoints);
  for (int32_t i = 1; i < kPoints; ++i) {
    configs[i].ownIndex = i == 2 ? 0 : i;  // point 2 is deleted
    configs[i].pointId = 1000 + i;
    configs[i].valueType = i;
    configs[i].statusMode = i == 3 ? 3 : 0;
  }
  const uint32_t configToken = VmHostLocation(configs.data());
  const uint32_t valuesToken = VmHostLocation(values.data());
  test::Mutator mutator(20261206);
  const std::vector<uint8_t> seeds[] = {seedImage(0), seedImage(1), seedImage(3)};
  int ran = 0;
  SysSetManualClock(0xFFFFFFF0u);
  for (int round = 0; round < 6000; ++round) {
    std::vector<uint8_t> image = seeds[round % 3];
    mutator.mutate(image);
    if (image.size() < 4) continue;
    test::withExactCopy(image, [&](std::vector<uint8_t> &copy) {
      VmMachine *m = nullptr;
      if (VmInitMachine(copy.data(), static_cast<uint32_t>(copy.size()), &m) != 0) return;
      m->pointCount = kPoints;
      m->pointConfig = configToken;
      m->pointValues = valuesToken;
      m->commandLimit = 500;
      EXPECT_EQ(VmInitHostTypes(m) | VmInitTimers(m) | VmInitVarLinks(m), 0);
      // As a program writing over its var records could: any link index and
      // field number for one var of the global segment.
      uint32_t vars;
      std::memcpy(&vars, copy.data() + m->globalSegment, 4);
      const uint32_t var = mutator.below(9);
      const uint64_t record = uint64_t(m->globalSegment) + 4 + 16 * uint64_t(var);
      if (var < vars) {
        const uint32_t index = mutator.interesting(kPoints);
        std::memcpy(copy.data() + record + 8, &index, 4);
        copy[record + 3] = static_cast<uint8_t>(mutator.below(2) ? 44 : mutator.below(256));
      }
      for (int cycle = 0; cycle < 2; ++cycle) {
        SysAdvanceManualClock(7);
        VmResetMachine(m);
        const int32_t run = VmRunProgram(m, 0, 0);
        EXPECT_TRUE(run >= 0 && run <= 501) << run;
        // The host shrinks its table between cycles: links beyond it drop.
        m->pointCount = kPoints - 1 - cycle;
        EXPECT_EQ(VmUpdateVarLinks(m), 0);
      }
      double d;
      uint32_t u;
      const int32_t index = static_cast<int32_t>(mutator.interesting(kPoints));
      VmGetPointValue(m, index, &d);
      VmGetPointStatus(m, index, &u);
      VmSetPointFieldValue(m, index, 43, 1.0);
      VmSetPointFieldValue(m, index, 44, 1.0);
      ++ran;
    });
  }
  SysUseRealClock();
  VmReleaseHostLocation(configToken);
  VmReleaseHostLocation(valuesToken);
  EXPECT_GT(ran, 1000) << "the mutations must leave enough images that run";
}

}  // namespace
