// VmResetMachine: what it sets and what it leaves.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

TEST(ResetMachine, RestoresTheStartOfACycleAndKeepsTheRest) {
  ImageBuilder b;
  uint32_t g = b.segment();
  b.var(g, Var(Value::dint(11)));
  b.segment(1);
  b.command(0);
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  m->commandsRun = 5;
  m->pc = 3;
  m->callDepth = 2;
  m->paramDepth = 4;
  m->compareFlags = 2;
  m->localSegment = m->globalSegment + 1;
  m->localSegmentNo = 1;
  m->commandLimit = 77;
  m->lastClock = 1234;
  m->cycleCount = 9;
  m->pointCount = 3;
  m->storeHandle = 8;
  auto &state = const_cast<VmStateBlock &>(m.state());
  state.statusFlags = 0x400;
  state.runStatus = VM_STOPPED;
  VmSetLastError(m.get(), 110, 1, 2, 3);
  m.globalCell(2).v.i32 = 99;

  EXPECT_EQ(VmResetMachine(m.get()), 0);
  EXPECT_EQ(m->commandsRun, 0);
  EXPECT_EQ(m->pc, 0u);
  EXPECT_EQ(m->callDepth, 0u);
  EXPECT_EQ(m->paramDepth, 0u);
  EXPECT_EQ(m->compareFlags, 0u);
  EXPECT_EQ(m->globalSegment, m.image().header().segmentsOffset);
  EXPECT_EQ(m->localSegment, 0u);
  EXPECT_EQ(m->localSegmentNo, 0u);
  EXPECT_EQ(state.errorCode, 0);
  EXPECT_EQ(state.statusFlags, 0x400u);
  EXPECT_EQ(state.runStatus, uint32_t(VM_RUNNING));
  // Untouched: host fields, clock, cycle count, variables.
  EXPECT_EQ(m->commandLimit, 77);
  EXPECT_EQ(m->lastClock, 1234u);
  EXPECT_EQ(m->cycleCount, 9);
  EXPECT_EQ(m->pointCount, 3);
  EXPECT_EQ(m->storeHandle, 8u);
  EXPECT_EQ(m.globalCell(2).v.i32, 99);
}

TEST(ResetMachine, NullMachineGivesErrorNumber22) {
  _winseterrno(0);
  EXPECT_EQ(VmResetMachine(nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
}

TEST(ResetMachine, WorksOnACopyOfTheImage) {
  ImageBuilder b;
  b.segment();
  b.command(0);
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  // The image is position-independent: a byte copy is a machine too.
  std::vector<uint8_t> copy = m.image().bytes;
  auto *other = reinterpret_cast<VmMachine *>(copy.data() + m.image().header().machineOffset);
  VmSetLastError(other, 33, 1, 0, 0);
  EXPECT_EQ(VmGetLastError(m.get(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(VmResetMachine(other), 0);
  EXPECT_EQ(VmGetLastError(other, nullptr, nullptr, nullptr), 0);
}

}  // namespace
