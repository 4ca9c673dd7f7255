// Random and broken programs over a small point table: in the sanitizer build
// no set-up, link step or run touches memory outside the image or the host's
// tables (heap arrays of exactly kPoints records); every run ends defined.
#include <random>
#include <set>

#include "hostrt/points.h"
#include "hostrt/sys.h"
#include "image/timers.h"
#include "interp/program.h"
#include "support/mutate.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

constexpr int32_t kLimit = 200, kPoints = 4;

// A valid image: linked vars of every type, a TIME and a DINT array, a load and a save of
// points and `length` random commands with plausible operands.
std::vector<uint8_t> randomProgram(std::mt19937 &rng, uint32_t length) {
  auto below = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
  ImageBuilder b;
  b.commandLimit(kLimit).callStack(4).paramStack(8).gap(below(4));
  const uint32_t s0 = b.segment(0, 0), s1 = b.segment(1, 1);
  const Value values[] = {Value::boolean(true), Value::int16(-3),    Value::dint(7),   Value::real(2.5f),
                          Value::lreal(-0.5),   Value::time(1000.0), Value::dt(45000), Value::dint(0)};
  for (uint32_t i = 0; i < 8; ++i) {
    Var v(values[i]);
    v.pointId = int32_t(1001 + i % 5);  // 1005 names no point
    v.load = i % 2 == 0;
    v.save = i % 3 != 1;
    v.pointField = int8_t(i == 3 ? 43 : 44);
    v.cellFlags = values[i].type == VM_TYPE_TIME ? kTimerRunning : 0;
    b.var(s0, v);
    b.var(s1, Var(values[i]));
  }
  Var ref(Value::raw(VM_TYPE_DINT, 0, 1));
  ref.typeClass = VM_CLASS_ARRAY_REF;
  b.var(s0, ref);
  b.array(Array{VM_TYPE_TIME, 1, 3, 1, {}, kTimerRunning});
  b.array(Array{VM_TYPE_DINT, 1, 3, 1, {}, 0});
  auto operand = [&]() -> Operand {
    const uint32_t kind = below(5);
    return kind == 0 ? l(below(9)) : kind == 1 ? c(values[below(8)]) : kind == 2 ? Operand::array(0, below(3))
                                                                                  : g(below(9));
  };
  b.command(op("load_points"), g(0));
  b.command(op("save_points"), g(0));
  for (uint32_t i = 0; i < length; ++i) {
    uint16_t code;
    do code = uint16_t(below(VM_COMMAND_CODES)); while (!hasCommand(code));
    Command cmd{code, operand(), operand(), operand()};
    if (code >= op("jmp") && code <= op("if_ne")) cmd.src1 = num(below(length + 3));
    if (code == op("if_eq") || code == op("if_ne")) cmd.src2 = num(below(length + 3));
    if (code == op("set_ds")) cmd.src1 = num(below(2)), cmd.src2 = num(below(2));
    if (code == op("call")) cmd.src1 = Operand::words(1, below(length + 3), below(3) ? VM_CALL_CODE : 0x801);
    if (code >= op("push_vars") && code <= op("push_empty")) cmd.src2 = num(below(4));
    b.command(cmd);
  }
  b.command(op("ret"));
  return b.build();
}

// The link steps and three runs as a host does them (a new cycle, resuming, the table shrinking).
// A program whose writes stay in its vars, stacks and code (`intact`) ends with a final status
// and a known error code.
void runChecked(VmMachine *machine, std::mt19937 &rng, bool intact) {
  static std::vector<PointConfigRecord> configs(kPoints);
  static std::vector<PointValueRecord> values(kPoints);
  static const uint32_t configToken = VmHostLocation(configs.data()), valuesToken = VmHostLocation(values.data());
  static const std::set<int32_t> kRunCodes = {0,   2,   3,   4,   5,   8,   33,  34,  106, 107, 109,
                                              110, 112, 113, 117, 118, 119, 120, 121, 125, 128};
  for (int32_t i = 1; i < kPoints; ++i) {  // point 2 deleted, point 3 with a status mode
    configs[i].ownIndex = i == 2 ? 0 : i;
    configs[i].pointId = 1000 + i;
    configs[i].statusMode = i == 3 ? 3 : 0;
    configs[i].valueType = i;
  }
  machine->pointCount = kPoints;
  machine->pointConfig = configToken;
  machine->pointValues = valuesToken;
  machine->commandLimit = kLimit;
  EXPECT_EQ(VmInitHostTypes(machine) | VmInitTimers(machine) | VmInitVarLinks(machine), 0);
  for (int call = 0; call < 3; ++call) {
    SysAdvanceManualClock(7);
    const uint32_t flags = rng() % 4 == 0 ? VM_RUN_SINGLE_STEP : 0;
    const int32_t result = VmRunProgram(machine, flags, 0);
    ASSERT_TRUE(result >= -1 && result <= kLimit + 1) << result;
    if (result < 0) return;
    ASSERT_EQ(result, test::value(machine->commandsRun));
    const uint8_t *image = reinterpret_cast<const uint8_t *>(machine) - machine->image;
    const uint32_t status = reinterpret_cast<const VmStateBlock *>(image + machine->stateBlock)->runStatus;
    if (intact) {
      EXPECT_TRUE(status == VM_END_MARKER || status == VM_CYCLE_COMPLETE || status == VM_STOPPED ||
                  (flags && status == VM_RUNNING)) << status;
      EXPECT_TRUE(kRunCodes.count(VmGetLastError(machine, nullptr, nullptr, nullptr)));
    }
    if (call == 0) VmResetMachine(machine);
    if (call == 1) VmClearLastError(machine);
    machine->pointCount = kPoints - 1 - call % 2;  // links beyond the table drop
    EXPECT_EQ(VmUpdateVarLinks(machine), 0);
  }
}

// Three rounds in four break a program anywhere; the fourth only words of its code.
TEST(InterpreterMutation, RandomAndBrokenProgramsStayInsideAndEndDefined) {
  VmSetLogLevel(0);
  SysSetManualClock(0xFFFFFFF0u);  // the clock wraps during the runs
  std::mt19937 rng(424242);
  test::Mutator mutator(99);
  int broken = 0;
  for (int round = 0; round < 8000; ++round) {
    std::vector<uint8_t> image = randomProgram(rng, 4 + rng() % 40);
    const bool intact = round % 4 == 0;
    const auto *header = reinterpret_cast<const VmHeader *>(image.data());
    for (int edits = intact ? int(rng() % 4) : 0; edits > 0; --edits) {
      const uint32_t value = rng() % 3 == 0 ? uint32_t(rng()) : rng() % 300;
      std::memcpy(image.data() + header->codeOffset + 4 * (rng() % (header->commandCount * 11)), &value, 4);
    }
    if (!intact) mutator.mutate(image);
    test::withExactCopy(image, [&](std::vector<uint8_t> &copy) {
      VmMachine *m = nullptr;
      const int32_t init = copy.size() < VM_HEADER_SIZE ? -1 : VmInitMachine(copy.data(), uint32_t(copy.size()), &m);
      ASSERT_TRUE(init == 0 || !intact);
      if (init != 0) return;
      uint32_t vars, var = mutator.below(12), index = mutator.interesting(kPoints);
      std::memcpy(&vars, copy.data() + m->globalSegment, 4);
      if (!intact && var < vars) {
        uint8_t *record = copy.data() + m->globalSegment + 4 + var * VM_VAR_RECORD_SIZE;
        std::memcpy(record + 8, &index, 4);
        record[3] = uint8_t(mutator.below(2) ? 44 : mutator.below(256));
      }
      broken += !intact;
      runChecked(m, rng, intact);
    });
  }
  SysUseRealClock();
  EXPECT_GT(broken, 1500) << "too few broken images were accepted to mean anything";
}

}  // namespace
