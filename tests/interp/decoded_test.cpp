// SPDX-License-Identifier: MIT
// The life of a machine's decoded form: when a run uses it, when the machine
// runs without it, and that either way the results are the same.
#include <thread>

#include "hostrt/sys.h"
#include "interp/decoded.h"
#include "interp/program.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::interp::runsDecoded;

namespace {

// counter (var 2) counted up to the limit (var 3) by `step`, through a subroutine in segment 1.
ImageBuilder countingProgram(int32_t limit, int32_t step = 1) {
  ImageBuilder b;
  const uint32_t s0 = b.segment();
  b.var(s0, Var(Value::dint(0)));
  b.var(s0, Var(Value::dint(limit)));
  const uint32_t s1 = b.segment(1, 0);
  b.var(s1, Var(Value::dint(step)));
  b.command(op("mov"), c(Value::dint(0)), Operand::none(), g(2));
  b.command(op("set_ds"), num(0), num(1));
  b.command(op("call"), Operand::words(VM_KIND_CONST, 6, VM_CALL_CODE | 1), num(0));
  b.command(op("cmd_dint"), g(2), g(3));
  b.command(op("jmp_lt"), num(1));
  b.command(op("ret"));
  b.command(op("add_dint"), g(2), l(2), g(2));
  b.command(op("ret"));
  return b;
}

int32_t runCycle(VmMachine *machine) {
  VmResetMachine(machine);
  return VmRunProgram(machine, 0, 0);
}

TEST(DecodedForm, FollowsTheSetUpStepsAndTheRelease) {
  if (test::decodedFormOff()) GTEST_SKIP() << "the decoded form is off";
  test::TestMachine m(countingProgram(100));
  ASSERT_TRUE(m.ok());
  EXPECT_TRUE(runsDecoded(m.get()));
  EXPECT_EQ(runCycle(m.get()), 1 + 100 * 6 + 1);
  EXPECT_EQ(m.globalCell(2).v.i32, 100);

  EXPECT_EQ(VmReleaseMachine(m.get()), 0);
  EXPECT_FALSE(runsDecoded(m.get()));
  m.globalCell(3).v.i32 = 50;  // runs without it, to the same result
  EXPECT_EQ(runCycle(m.get()), 1 + 50 * 6 + 1);
  EXPECT_EQ(m.globalCell(2).v.i32, 50);

  EXPECT_EQ(VmVerifyCode(m.get()), 0);
  EXPECT_TRUE(runsDecoded(m.get()));

  _winseterrno(0);
  EXPECT_EQ(VmReleaseMachine(nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
}

// Blocks at odd offsets: the form is built over unaligned var records
// (copied, never bound to a reference, which UBSan reports).
TEST(DecodedForm, BuiltOverRecordsAtOddOffsets) {
  if (test::decodedFormOff()) GTEST_SKIP() << "the decoded form is off";
  ImageBuilder b = countingProgram(10);
  b.gap(3);
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  EXPECT_TRUE(runsDecoded(m.get()));
  EXPECT_EQ(runCycle(m.get()), 1 + 10 * 6 + 1);
  EXPECT_EQ(m.globalCell(2).v.i32, 10);
}

TEST(DecodedForm, BelongsToTheMemoryItWasBuiltFor) {
  if (test::decodedFormOff()) GTEST_SKIP() << "the decoded form is off";
  test::TestMachine m(countingProgram(10));
  ASSERT_TRUE(m.ok());
  // A copy elsewhere runs without it until set up at its new place.
  std::vector<uint8_t> copy = m.image().bytes;
  auto *moved = reinterpret_cast<VmMachine *>(copy.data() + m.image().header().machineOffset);
  EXPECT_FALSE(runsDecoded(moved));
  EXPECT_EQ(runCycle(moved), 1 + 10 * 6 + 1);

  // Another program set up in the same memory replaces it: the new code runs.
  std::vector<uint8_t> other = countingProgram(10, 2).build();
  ASSERT_LE(other.size(), m.image().bytes.size());
  std::memcpy(m.image().data(), other.data(), other.size());
  VmMachine *again = nullptr;
  ASSERT_EQ(VmInitMachine(m.image().data(), uint32_t(other.size()), &again), 0);
  EXPECT_TRUE(runsDecoded(again));
  EXPECT_EQ(runCycle(again), 1 + 5 * 6 + 1);
  EXPECT_EQ(m.globalCell(2).v.i32, 10);
  VmReleaseMachine(again);
}

// Cells or stacks over what the form caches: set-up refuses the image, or
// the machine runs without the form.
TEST(DecodedForm, NotBuiltWhenAProgramCouldWriteWhatItCaches) {
  if (test::decodedFormOff()) GTEST_SKIP() << "the decoded form is off";
  const Block written[] = {Block::SegmentVars, Block::ParamStack, Block::CallStack, Block::ArrayVars};
  const Block kept[] = {Block::Code, Block::Segments, Block::Arrays};
  for (Block w : written)
    for (Block k : kept) {
      ImageBuilder b = countingProgram(3);
      b.array(Array{VM_TYPE_DINT, 1, 2, 1, {}, 0});
      // Both beyond the other blocks, the written one over the kept one's second half.
      const Layout layout = b.layout();
      const uint32_t at = layout.size + 64;
      b.place(k, at).place(w, at + layout.length[int(k)] / 2);
      test::TestMachine m(b);
      if (m.ok()) {
        EXPECT_FALSE(runsDecoded(m.get())) << int(w) << " over " << int(k);
      }
    }
}

// An external procedure that sets the running machine up again: the run
// goes on with the form it started with, and ends as the step loop's does.
std::vector<uint8_t> *g_image;
int32_t setsUpAgain(int32_t mode, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t, VmMachine *) {
  VmMachine *machine = nullptr;
  if (mode != 0) VmInitMachine(g_image->data(), uint32_t(g_image->size()), &machine);
  return 0;
}

TEST(DecodedForm, ASetUpFromInsideTheRunWaitsForItsEnd) {
  if (test::decodedFormOff()) GTEST_SKIP() << "the decoded form is off";
  ImageBuilder b = countingProgram(3);
  b.at(5) = Command{op("call"), Operand::words(VM_KIND_CONST, 1, VM_CALL_EXTERNAL | 1), Operand::words(1, 0),
                    Operand::none()};
  b.command(op("ret"));
  VmSetExternalProc(setsUpAgain);
  std::vector<uint8_t> images[2] = {b.build(), b.build()};
  int32_t results[2];
  for (int k = 0; k < 2; ++k) {
    g_image = &images[k];
    VmMachine *machine = nullptr;
    ASSERT_EQ(VmInitMachine(images[k].data(), uint32_t(images[k].size()), &machine), 0);
    ASSERT_EQ(VmVerifyCode(machine), 0);
    if (k == 1) VmReleaseMachine(machine);
    results[k] = runCycle(machine);
    VmReleaseMachine(machine);
  }
  VmSetExternalProc(nullptr);
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(images[0], images[1]);
}

// Subroutine calls stopped by the command limit at every command, between
// a set_ds and its call too: the decoded loop leaves pc, the count, the call
// frames and the local segment exactly as the step loop does. The program
// selects segments through the global and the local slot, selects segment
// 0 itself and returns to a frame without a local segment.
TEST(DecodedForm, SubroutinesStopLikeTheStepLoopAtEveryCommandLimit) {
  if (test::decodedFormOff()) GTEST_SKIP() << "the decoded form is off";
  ImageBuilder b;
  const uint32_t s0 = b.segment();              // var 0: 0, var 2: a counter
  b.var(s0, Var(Value::dint(0)));
  const uint32_t s1 = b.segment(1, 0);          // var 0: 1, var 2: a step
  b.var(s1, Var(Value::dint(3)));
  const uint32_t s2 = b.segment(2, 0);
  b.var(s2, Var(Value::dint(5)));
  b.callStack(4);
  b.command(op("set_ds"), num(0), num(1));                                              // 0
  b.command(op("call"), Operand::words(VM_KIND_CONST, 4, VM_CALL_CODE | 1), num(0));   // 1
  b.command(op("add_dint"), g(2), c(Value::dint(100)), g(2));                          // 2
  b.command(op("ret"));                                                                // 3
  b.command(op("add_dint"), g(2), l(2), g(2));                                         // 4: in segment 1
  b.command(op("set_ds"), num(1), num(1));                                             // 5: segment 1 + 1
  b.command(op("call"), Operand::words(VM_KIND_CONST, 9, VM_CALL_CODE | 1), num(0));   // 6
  b.command(op("sub_dint"), g(2), l(2), g(2));                                         // 7
  b.command(op("ret"));                                                                // 8
  b.command(op("add_dint"), g(2), l(2), g(2));                                         // 9: in segment 2
  b.command(op("set_ds"), num(0), num(0));                                             // 10: segment 0
  b.command(op("call"), Operand::words(VM_KIND_CONST, 13, VM_CALL_CODE | 1), num(0));  // 11
  b.command(op("ret"));                                                                // 12
  b.command(op("mul_dint"), l(2), c(Value::dint(2)), l(2));                            // 13: in segment 0
  b.command(op("ret"));                                                                // 14
  const std::vector<uint8_t> bytes = b.build();
  for (int32_t limit = 0; limit <= 15; ++limit) {
    std::vector<uint8_t> images[2];
    int32_t results[2], counters[2];
    for (int k = 0; k < 2; ++k) {
      test::TestMachine m(bytes);
      ASSERT_TRUE(m.ok());
      if (k == 1) VmReleaseMachine(m.get());
      m->commandLimit = limit;
      results[k] = runCycle(m.get());
      counters[k] = m.globalCell(2).v.i32;
      images[k] = m.image().bytes;
      VmReleaseMachine(m.get());
    }
    EXPECT_EQ(results[0], results[1]) << "limit " << limit;
    EXPECT_EQ(images[0], images[1]) << "limit " << limit;
    // ((3 + 5) * 2 - 3) + 100, in 15 commands
    if (limit >= 14) {
      EXPECT_EQ(counters[0], 113) << "limit " << limit;
    }
  }
}

// Machines over different images on different threads at once.
TEST(DecodedForm, MachinesRunOnSeveralThreadsAtOnce) {
  if (test::decodedFormOff()) GTEST_SKIP() << "the decoded form is off";
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  int32_t counters[kThreads] = {};
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &counters] {
      test::TestMachine m(countingProgram(1000 * (t + 1)));
      for (int cycle = 0; m.ok() && cycle < 20; ++cycle) runCycle(m.get());
      counters[t] = m.ok() && runsDecoded(m.get()) ? m.globalCell(2).v.i32 : -1;
      VmReleaseMachine(m.get());
    });
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(counters[t], 1000 * (t + 1));
}

}  // namespace
