// VmRunProgram: the exits of the step loop, what each leaves behind, the
// new-cycle rule, single step, the command limit, fatal errors and
// resumption, and the math error protocol in both error modes.
#include <cerrno>
#include <cfenv>
#include <cmath>

#include "foundation/fpe.h"
#include "hostrt/sys.h"
#include "interp/program.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::Record;
using sicvm::test::TestMachine;

namespace {

constexpr uint16_t kNop = op("nop"), kJmp = op("jmp"), kRet = op("ret"), kMov = op("mov");

// A program of the given codes (no operands), plus an optional end marker.
ImageBuilder codes(std::initializer_list<uint32_t> words, int32_t limit = 1000) {
  ImageBuilder b;
  b.commandLimit(limit);
  uint32_t s0 = b.segment();
  b.var(s0, Var(Value::dint(0)));
  for (uint32_t w : words) b.command(w);
  return b;
}

struct Exit {
  const char *what;
  ImageBuilder program;
  int32_t result;
  uint32_t runStatus;
  uint32_t pc;
  Record record;
  const char *message;  // the last line logged at level 4 or 10 after "Run cycle", or ""
};

TEST(RunExits, EachExitLeavesItsStatusPcCountAndRecord) {
  const uint32_t kUnknown = 2;
  Exit exits[] = {
      {"end marker first", codes({0x80000000u}), 0, VM_END_MARKER, 0, {0, 0, 0, 0}, ""},
      {"end marker after two", codes({kNop, kNop, 0xFFFFFFFFu}), 2, VM_END_MARKER, 2, {0, 0, 0, 0}, ""},
      {"outermost ret", codes({kNop, kRet, kNop}), 2, VM_CYCLE_COMPLETE, 0xFFFFFFFFu, {0, 0, 0, 0}, ""},
      {"unknown code", codes({kNop, kUnknown}), 1, VM_STOPPED, 1, {107, 1, 2, 0},
       "Program \"TEST\" (1) error 107 at addr 00001: Unknown command code (2)\n"},
      {"code above 280", codes({281}), 0, VM_STOPPED, 0, {107, 0, 281, 0},
       "Program \"TEST\" (1) error 107 at addr 00000: Unknown command code (281)\n"},
      {"high bits are not read", codes({0x7FFF0000u | kNop, 0x80000000u}), 1, VM_END_MARKER, 1, {0, 0, 0, 0}, ""},
      {"command limit 0", codes({kNop, kNop, kRet}, 0), 1, VM_STOPPED, 1, {106, 1, 1, 0},
       "Program \"TEST\" (1) error 106 at addr 00001: Command limit was exeeded (1)\n"},
      {"running off the code", codes({kNop, kNop}), 2, VM_STOPPED, 2, {109, 2, 2, 0},
       "Program \"TEST\" (1) error 109 at addr 00002: Command address is outside of code (2)\n"},
  };
  for (Exit &e : exits) {
    TestMachine m(e.program);
    ASSERT_TRUE(m.ok()) << e.what;
    test::LogCapture log(10);
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), e.result) << e.what;
    EXPECT_EQ(m->commandsRun, e.result) << e.what;
    EXPECT_EQ(m.state().runStatus, e.runStatus) << e.what;
    EXPECT_EQ(m->pc, e.pc) << e.what;
    EXPECT_EQ(test::recordOf(m.get()), e.record) << e.what;
    const auto lines = log.texts();
    ASSERT_FALSE(lines.empty()) << e.what;
    EXPECT_EQ(lines.front(), "Program \"TEST\" (1): Run cycle 1\n") << e.what;
    EXPECT_EQ(lines.size() == 1 ? std::string() : lines.back(), e.message) << e.what;
  }
}

TEST(RunExits, AJumpOutOfTheCodeFailsAtTheNextStep) {
  ImageBuilder b = codes({});
  b.command(kJmp, num(3));
  b.command(kNop);
  TestMachine m(b);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1) << "the jump itself completes and counts";
  EXPECT_EQ(test::recordOf(m.get()), (Record{109, 3, 3, 0}));
  EXPECT_EQ(m->pc, 3u);
}

TEST(RunExits, AFinishedCycleRunsAgainOnlyAfterAReset) {
  TestMachine m(codes({kNop, kRet}));
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  test::LogCapture log(10);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2) << "no new cycle: the count goes on";
  EXPECT_EQ(test::recordOf(m.get()), (Record{109, 0xFFFFFFFFu, 0xFFFFFFFFu, 0}));
  EXPECT_EQ(m.state().runStatus, uint32_t(VM_STOPPED));
  EXPECT_EQ(m->cycleCount, 1);
  EXPECT_TRUE(log.has("Program \"TEST\" (1) error 109 at addr -0001: Command address is outside of code (-1)\n"))
      << log.all();
  VmResetMachine(m.get());
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(m->cycleCount, 2);
  EXPECT_EQ(m.state().runStatus, uint32_t(VM_CYCLE_COMPLETE));
}

TEST(RunExits, AnEndMarkerFirstCountsACycleOnEveryCall) {
  TestMachine m(codes({0x80000000u}));
  for (int32_t call = 1; call <= 3; ++call) {
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 0);
    EXPECT_EQ(m->cycleCount, call);
    EXPECT_EQ(m.state().runStatus, uint32_t(VM_END_MARKER));
  }
}

TEST(RunExits, ACycleRunsCommandLimitPlusOneCommands) {
  for (int32_t limit : {0, 1, 5, 64}) {
    ImageBuilder b = codes({}, limit);
    b.command(kJmp, num(0));
    TestMachine m(b);
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), limit + 1);
    EXPECT_EQ(test::recordOf(m.get()), (Record{106, 0, uint32_t(limit + 1), uint32_t(limit)}));
  }
}

TEST(RunExits, SingleStepRunsOneCommandPerCallAndLogsTheCycleOnce) {
  TestMachine m(codes({kNop, kNop, kRet}));
  test::LogCapture log(10);
  const uint32_t statuses[] = {VM_RUNNING, VM_RUNNING, VM_CYCLE_COMPLETE};
  for (int32_t step = 1; step <= 3; ++step) {
    EXPECT_EQ(VmRunProgram(m.get(), VM_RUN_SINGLE_STEP | 0x100, 0xDEAD), step);
    EXPECT_EQ(m.state().runStatus, statuses[step - 1]);
  }
  EXPECT_EQ(log.texts(), std::vector<std::string>{"Program \"TEST\" (1): Run cycle 1\n"});
  EXPECT_EQ(m->cycleCount, 1);
}

TEST(RunExits, RefusesAMachineThatIsNotPrepared) {
  _winseterrno(0);
  EXPECT_EQ(VmRunProgram(nullptr, 0, 0), -1);
  EXPECT_EQ(_wingeterrno(), 22);
  TestMachine m(codes({kNop}));
  m->paramDepth = 1000;  // more entries than the stack has
  _winseterrno(0);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), -1);
  EXPECT_EQ(_wingeterrno(), 22);
}

// ---- Fatal errors ----

// 0: nop; 1: mov l2 -> g2 (no local segment: error 110); 2: end
ImageBuilder failingAtOne() {
  ImageBuilder b = codes({kNop});
  b.command(kMov, l(2), Operand::none(), g(2));
  b.end();
  return b;
}

TEST(FatalErrors, StopTheRunWithTheCommandNotCountedAndPcOnIt) {
  TestMachine m(failingAtOne());
  test::LogCapture log(4);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
  EXPECT_EQ(m->pc, 1u);
  EXPECT_EQ(m.state().runStatus, uint32_t(VM_STOPPED));
  EXPECT_EQ(test::recordOf(m.get()), (Record{110, 1, 1, 2}));
  EXPECT_TRUE(log.has("Program \"TEST\" (1) error 110 at addr 00001: Invalid operand var address (1:00002)\n"))
      << log.all();
}

TEST(FatalErrors, ARecordedFatalErrorStopsEveryRunUntilCleared) {
  TestMachine m(failingAtOne());
  VmRunProgram(m.get(), 0, 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1) << "nothing more runs";
    EXPECT_EQ(m->pc, 1u);
    EXPECT_EQ(m.state().runStatus, uint32_t(VM_STOPPED));
  }
  // Repair the operand, clear the record: the failing command runs again.
  m.image().command(1).src1.v.w[0] = 0;
  EXPECT_EQ(VmClearLastError(m.get()), 110);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(m.state().runStatus, uint32_t(VM_END_MARKER));
  EXPECT_EQ(m->cycleCount, 1) << "resuming is not a new cycle";
}

TEST(FatalErrors, OnlyCodesAbove100StopARun) {
  for (int32_t code : {100, 101}) {
    TestMachine m(codes({kNop, 0x80000000u}));
    VmSetLastError(m.get(), code, 0, 0, 0);
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), code == 100 ? 1 : 0) << code;
    EXPECT_EQ(m.state().runStatus, uint32_t(code == 100 ? VM_END_MARKER : VM_STOPPED));
  }
}

TEST(FatalErrors, ARunTimeErrorLetsTheRunGoOnAndALaterFatalOneReplacesIt) {
  ImageBuilder b;
  uint32_t s0 = b.segment();
  uint32_t x = b.var(s0, Var(Value::int16(1)));
  b.command(op("div_int"), g(x), c(Value::int16(0)), g(x));
  b.command(kNop);
  b.end();
  TestMachine m(b);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(test::recordOf(m.get()), (Record{3, 0, 0, 0}));
  m.image().command(2).code = 7;  // the end marker becomes an unknown code
  VmResetMachine(m.get());
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(test::recordOf(m.get()), (Record{107, 2, 7, 0}));
}

// ---- Math error protocol ----

class MathProtocol : public ::testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override { previous_ = VmSetFpemode(GetParam()); }
  void TearDown() override { VmSetFpemode(previous_); }
  int32_t previous_ = 0;
};

// 0: sqrt_lreal -1 -> g2; 1: mov 5 -> g3; 2: end
ImageBuilder sqrtOfMinusOne() {
  ImageBuilder b;
  uint32_t s0 = b.segment();
  b.var(s0, Var(Value::lreal(0)));
  b.var(s0, Var(Value::dint(0)));
  b.command(op("sqrt_lreal"), c(Value::lreal(-1.0)), Operand::none(), g(2));
  b.command(kMov, c(Value::dint(5)), Operand::none(), g(3));
  b.end();
  return b;
}

TEST_P(MathProtocol, ALibraryErrorBecomesError2AfterTheCommandAndTheRunGoesOn) {
  TestMachine m(sqrtOfMinusOne());
  test::LogCapture log(10);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_TRUE(std::isnan(m.globalCell(2).v.f64)) << "DST keeps what the function returned";
  EXPECT_EQ(m.globalCell(3).v.i32, 5) << "the next command ran";
  // Recorded at the program counter the command left behind.
  EXPECT_EQ(test::recordOf(m.get()), (Record{2, 1, 33, 0}));
  EXPECT_TRUE(log.has("Program \"TEST\" (1) error 2 at addr 00001: Math error (33)\n")) << log.all();
}

TEST_P(MathProtocol, TheWordIsClearedBeforeEachCommand) {
  TestMachine m(codes({kNop, 0x80000000u}));
  VmMathException overflow{};
  overflow.type = VM_MATH_OVERFLOW;
  VmMatherr(&overflow);
  errno = ERANGE;
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
  EXPECT_EQ(test::recordOf(m.get()).code, 0);
}

TEST_P(MathProtocol, LoggingAnErrorIsNotAMathError) {
  ImageBuilder b;
  uint32_t s0 = b.segment();
  uint32_t x = b.var(s0, Var(Value::dint(1)));
  b.command(op("div_dint"), g(x), c(Value::dint(0)), g(x));
  b.end();
  TestMachine m(b);
  test::LogCapture log(10);
  VmRunProgram(m.get(), 0, 0);
  EXPECT_EQ(test::recordOf(m.get()), (Record{3, 0, 0, 0}));
  EXPECT_TRUE(log.has("Program \"TEST\" (1) error 3 at addr 00000: Division by zero\n")) << log.all();
}

INSTANTIATE_TEST_SUITE_P(BothModes, MathProtocol, ::testing::Values(0, 1));

TEST(FloatGuard, MasksTrapsDuringTheRunAndLeavesNoFlags) {
  ImageBuilder b;
  uint32_t s0 = b.segment();
  uint32_t x = b.var(s0, Var(Value::lreal(1e300)));
  b.command(op("mul_lreal"), g(x), g(x), g(x));  // overflows
  b.command(op("sub_lreal"), g(x), g(x), g(x));  // inf - inf: invalid
  b.end();
  TestMachine m(b);
  feenableexcept(FE_OVERFLOW | FE_INVALID);  // would trap without the guard
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_TRUE(std::isnan(m.globalCell(x).v.f64));
  EXPECT_EQ(fegetexcept(), 0);
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
  EXPECT_EQ(test::recordOf(m.get()).code, 0);
}

}  // namespace
