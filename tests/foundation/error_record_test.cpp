// SPDX-License-Identifier: MIT
// The error record: last error wins, fatal class, what clear leaves alone.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "foundation/messages.h"
#include "hostrt/sys.h"
#include "support/machine.h"
#include "support/points.h"

using namespace sicvm;
using sicvm::test::minimalProgram;
using sicvm::test::TestMachine;

namespace {

TEST(ErrorRecord, LastErrorWinsAndReturnsThePreviousCode) {
  TestMachine m(minimalProgram());
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(VmSetLastError(m.get(), 107, 3, 4, 5), 0);
  EXPECT_EQ(VmSetLastError(m.get(), 33, 6, 7, 8), 107);  // a run-time error replaces a fatal one
  uint32_t address = 0, arg1 = 0, arg2 = 0;
  EXPECT_EQ(VmGetLastError(m.get(), &address, &arg1, &arg2), 33);
  EXPECT_EQ(address, 6u);
  EXPECT_EQ(arg1, 7u);
  EXPECT_EQ(arg2, 8u);
  EXPECT_EQ(m.state().statusFlags & VM_STATUS_ERROR, 1u);
}

TEST(ErrorRecord, GetWithNullPointersWritesNothing) {
  TestMachine m(minimalProgram());
  VmSetLastError(m.get(), 9, 1, 2, 3);
  EXPECT_EQ(VmGetLastError(m.get(), nullptr, nullptr, nullptr), 9);
  uint32_t arg1 = 77;
  EXPECT_EQ(VmGetLastError(m.get(), nullptr, &arg1, nullptr), 9);
  EXPECT_EQ(arg1, 2u);
}

TEST(ErrorRecord, ClearKeepsOtherStatusBitsAndRunStatus) {
  TestMachine m(minimalProgram());
  auto &state = const_cast<VmStateBlock &>(m.state());
  state.statusFlags = 0x702;
  state.runStatus = VM_STOPPED;
  VmSetLastError(m.get(), 120, 1, 2, 3);
  EXPECT_EQ(state.statusFlags, 0x703u);
  EXPECT_EQ(VmClearLastError(m.get()), 120);
  EXPECT_EQ(state.statusFlags, 0x702u);
  EXPECT_EQ(state.errorCode, 0);
  EXPECT_EQ(state.errorAddress, 0u);
  EXPECT_EQ(state.errorArg1, 0u);
  EXPECT_EQ(state.errorArg2, 0u);
  EXPECT_EQ(state.runStatus, uint32_t(VM_STOPPED));
}

// A null machine is refused by every export (image/gate_test.cpp); so is a
// block of memory that is not a machine over a SIC image.
TEST(ErrorRecord, ForeignMachineGivesErrorNumber22) {
  alignas(8) uint8_t junk[400] = {};
  auto *fake = reinterpret_cast<VmMachine *>(junk + 216);
  fake->image = 216;
  _winseterrno(0);
  EXPECT_EQ(VmSetLastError(fake, 1, 0, 0, 0), -1);
  EXPECT_EQ(_wingeterrno(), 22);
}

TEST(ErrorRecord, FatalClassStartsAbove100) {
  EXPECT_FALSE(isFatal(0));
  EXPECT_FALSE(isFatal(100));
  EXPECT_TRUE(isFatal(101));
  EXPECT_TRUE(isFatal(128));
}

}  // namespace
