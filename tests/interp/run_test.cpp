// SPDX-License-Identifier: MIT
// VmRunProgram: the command table, the exits of the step loop, cycles,
// single step, fatal errors and resumption.
#include "interp/program.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

constexpr uint16_t kNop = op("nop"), kJmp = op("jmp"), kRet = op("ret");
constexpr uint32_t kEnd = 0x80000000u;

// The code words (no operands), then a jump to `jumpTo` if not negative.
ImageBuilder codes(std::initializer_list<uint32_t> words, int32_t limit = 1000, int64_t jumpTo = -1) {
  ImageBuilder b;
  b.commandLimit(limit).var(b.segment(), Var(Value::dint(0)));
  for (uint32_t w : words) b.command(w);
  if (jumpTo >= 0) b.command(kJmp, num(uint32_t(jumpTo)));
  return b;
}

// 164 commands among the codes 0..280, each with its own mnemonic.
TEST(CommandTable, Has164CommandsAnd117CodesWithout) {
  int defined = 0;
  for (uint32_t code = 0; code < VM_COMMAND_CODES; ++code) {
    const CommandInfo &info = kCommands[code];
    EXPECT_EQ(info.code, code);
    const bool named = info.mnemonic[0] != '\0';
    EXPECT_EQ(named, hasCommand(code)) << code;
    EXPECT_EQ(codeOf(info.mnemonic), named ? int(code) : -1) << "one code per mnemonic";
    EXPECT_TRUE(named || (info.src1Type | info.src2Type) == 0) << code;
    defined += named;
  }
  EXPECT_EQ(defined, 164);
  EXPECT_EQ(VM_COMMAND_CODES - defined, 117);
}

TEST(RunExits, EachExitLeavesItsStatusPcCountRecordAndMessage) {
  // The message is the line logged after "Run cycle", if any.
  const struct { const char *what; ImageBuilder program; int32_t result; uint32_t runStatus, pc; Record record;
                 const char *message; } exits[] = {
      {"end marker after two", codes({kNop, kNop, 0xFFFFFFFFu}), 2, VM_END_MARKER, 2, {}, nullptr},
      {"outermost ret", codes({kNop, kRet, kNop}), 2, VM_CYCLE_COMPLETE, 0xFFFFFFFFu, {}, nullptr},
      {"unknown code", codes({kNop, 2}), 1, VM_STOPPED, 1, {107, 1, 2, 0}, "Unknown command code (2)"},
      {"code above 280", codes({281}), 0, VM_STOPPED, 0, {107, 0, 281, 0}, "Unknown command code (281)"},
      {"high bits are not read", codes({0x7FFF0000u | kNop, kEnd}), 1, VM_END_MARKER, 1, {}, nullptr},
      {"command limit 0", codes({kNop, kNop, kRet}, 0), 1, VM_STOPPED, 1, {106, 1, 1, 0},
       "Command limit was exeeded (1)"},
      {"limit 5 in a loop", codes({}, 5, 0), 6, VM_STOPPED, 0, {106, 0, 6, 5}, "Command limit was exeeded (6)"},
      {"running off the code at the limit", codes({kNop, kNop}, 2), 2, VM_STOPPED, 2, {109, 2, 2, 0},
       "Command address is outside of code (2)"},
      {"jumping out of the code", codes({}, 1000, 3), 1, VM_STOPPED, 3, {109, 3, 3, 0},
       "Command address is outside of code (3)"},
  };
  for (const auto &e : exits) {
    SCOPED_TRACE(e.what);
    TestMachine m(e.program);
    ASSERT_TRUE(m.ok());
    LogCapture log(10);
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), e.result);
    EXPECT_EQ(m->commandsRun, e.result);
    EXPECT_EQ(m.state().runStatus, e.runStatus);
    EXPECT_EQ(m->pc, e.pc);
    EXPECT_EQ(recordOf(m), e.record);
    std::vector<std::string> expected{kCycleLine};
    if (e.message) expected.push_back(errorLine(e.record.code, e.pc, e.message));
    EXPECT_EQ(log.texts(), expected);
  }
}

TEST(RunExits, AFinishedCycleRunsAgainOnlyAfterAReset) {
  TestMachine m(codes({kNop, kRet}));
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  LogCapture log(10);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2) << "no new cycle: the count goes on";
  EXPECT_EQ(recordOf(m), (Record{109, 0xFFFFFFFFu, 0xFFFFFFFFu, 0}));
  const std::string line = errorLine(109, 0xFFFFFFFFu, "Command address is outside of code (-1)");
  EXPECT_EQ(log.texts(), std::vector<std::string>{line});
  VmResetMachine(m.get());
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(m->cycleCount, 2);
}

TEST(RunExits, SingleStepRunsOneCommandPerCallAndLogsTheCycleOnce) {
  TestMachine m(codes({kNop, kNop, kRet}));
  LogCapture log(10);
  const uint32_t statuses[] = {VM_RUNNING, VM_RUNNING, VM_CYCLE_COMPLETE};
  for (int32_t step = 1; step <= 3; ++step) {
    EXPECT_EQ(VmRunProgram(m.get(), VM_RUN_SINGLE_STEP | 0x100, 0xDEAD), step);
    EXPECT_EQ(m.state().runStatus, statuses[step - 1]);
  }
  EXPECT_EQ(log.texts(), std::vector<std::string>{kCycleLine});
}

// A fatal error stops every run, with pc on the failing command, until the
// host clears it; the command then runs again, in the same cycle.
TEST(FatalErrors, StopEveryRunUntilClearedAndThenTheCommandRunsAgain) {
  ImageBuilder b = codes({kNop});
  b.command(op("mov"), l(2), Operand::none(), g(2));  // no local segment: 110
  b.end();
  TestMachine m(b);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
    EXPECT_EQ(recordOf(m), (Record{110, 1, 1, 2}));
  }
  m.image().command(1).src1.v.w[0] = 0;
  EXPECT_EQ(VmClearLastError(m.get()), 110);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
  EXPECT_EQ(m.state().runStatus, uint32_t(VM_END_MARKER));
  EXPECT_EQ(m->cycleCount, 1) << "resuming is not a new cycle";
}

}  // namespace
