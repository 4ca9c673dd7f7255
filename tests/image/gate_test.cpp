// SPDX-License-Identifier: MIT
// The machine gate: every export that takes a machine answers -1 with host
// error number 22 for a null machine and for the machine of an image that
// set-up refused, and reads nothing of that image beyond what set-up checked.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "points/point_access.h"
#include "sicvm/points.h"
#include "sicvm/vm.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

using Export = std::function<int32_t(VmMachine *)>;

// Every export that takes a machine (and the store clear the host library
// uses), called with harmless other arguments.
const struct {
  const char *name;
  Export call;
} kExports[] = {
    {"VmSetLastError", [](VmMachine *m) { return VmSetLastError(m, 5, 1, 2, 3); }},
    {"VmGetLastError", [](VmMachine *m) { uint32_t a, b, c; return VmGetLastError(m, &a, &b, &c); }},
    {"VmClearLastError", [](VmMachine *m) { return VmClearLastError(m); }},
    {"VmResetMachine", [](VmMachine *m) { return VmResetMachine(m); }},
    {"VmInitHostTypes", [](VmMachine *m) { return VmInitHostTypes(m); }},
    {"VmInitTimers", [](VmMachine *m) { return VmInitTimers(m); }},
    {"VmInitVarLinks", [](VmMachine *m) { return VmInitVarLinks(m); }},
    {"VmUpdateVarLinks", [](VmMachine *m) { return VmUpdateVarLinks(m); }},
    {"VmVerifyCode", [](VmMachine *m) { return VmVerifyCode(m); }},
    {"VmVerifyVars", [](VmMachine *m) { return VmVerifyVars(m); }},
    {"VmVerifyArrays", [](VmMachine *m) { return VmVerifyArrays(m); }},
    {"VmRunProgram", [](VmMachine *m) { return VmRunProgram(m, 0, 0); }},
    {"VmRunProgram single step", [](VmMachine *m) { return VmRunProgram(m, VM_RUN_SINGLE_STEP, 0); }},
    {"VmGetPointValue", [](VmMachine *m) { double v; return VmGetPointValue(m, 1, &v); }},
    {"VmGetPointStatus", [](VmMachine *m) { uint32_t s; return VmGetPointStatus(m, 1, &s); }},
    {"VmSetPointValue", [](VmMachine *m) { return VmSetPointValue(m, 1, 2.0); }},
    {"VmSetPointStatus", [](VmMachine *m) { return VmSetPointStatus(m, 1, 0); }},
    {"VmGetPointFieldValue", [](VmMachine *m) { double v; return VmGetPointFieldValue(m, 1, 44, &v); }},
    {"VmSetPointFieldValue", [](VmMachine *m) { return VmSetPointFieldValue(m, 1, 44, 2.0); }},
    {"VmReadDboperPoint", [](VmMachine *m) { uint32_t s; double v; return VmReadDboperPoint(m, 1, &s, &v); }},
    {"VmWriteDboperPoint", [](VmMachine *m) { return VmWriteDboperPoint(m, 1, 0, 0, 1.0); }},
    {"ClearDboperPoint", [](VmMachine *m) { return ClearDboperPoint(m, 1, 1); }},
};

ImageBuilder program() {
  ImageBuilder b;
  b.var(b.segment(), Var(Value::dint(3)));
  b.command(0);
  b.command(220);
  return b;
}

void expectRefusedByEveryExport(VmMachine *machine) {
  for (const auto &e : kExports) {
    SCOPED_TRACE(e.name);
    _winseterrno(0);
    EXPECT_EQ(e.call(machine), -1);
    EXPECT_EQ(_wingeterrno(), 22);
  }
}

TEST(MachineGate, NullMachineIsRefusedByEveryExport) { expectRefusedByEveryExport(nullptr); }

// Set-up fails after it has handed out the machine; the header fields it
// never validated claim blocks far beyond the image, or a table that set-up
// wrote over the Machine Block before the overlap checks refused it holds
// the machine's own `image` and `imageSize` words.
TEST(MachineGate, MachineOfARefusedImageIsRefusedByEveryExport) {
  using H = VmHeader;
  auto set = [](uint32_t H::*field, uint32_t value) {
    return [=](ImageBuilder &, H &h) { h.*field = value; };
  };
  const struct {
    const char *what;
    std::function<void(ImageBuilder &, H &)> apply;
  } cases[] = {
      {"code outside the image", set(&H::commandCount, 0x7FFFFFF)},
      {"table outside the image", set(&H::segmentCount, 0x3FFFFFFF)},
      {"state outside the image", set(&H::stateOffset, 0x7FFFFFF0)},
      {"replication outside the image", set(&H::replicationSize, 0x7FFFFFFF)},
      {"table over the machine",
       [](ImageBuilder &, H &h) {
         h.segmentTableOffset = h.machineOffset + 4 * 22;  // slots 0..3 over words 22..25
         h.segmentCount = 4;
         h.replicationSize = 0x7FFFFFFF;
       }},
  };
  VmSetLogLevel(0);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ImageBuilder b = program();
    for (int k = 0; k < 3; ++k) b.segment();
    std::vector<uint8_t> bytes = b.build();
    c.apply(b, *reinterpret_cast<H *>(bytes.data()));
    test::TestMachine m(std::move(bytes));
    ASSERT_EQ(m.initResult(), -1);
    ASSERT_NE(m.get(), nullptr);  // the machine was handed out before the failing step
    expectRefusedByEveryExport(m.get());
  }
}

// A second set-up that fails withdraws the machine of the first one.
TEST(MachineGate, FailedSecondSetUpWithdrawsTheMachine) {
  VmSetLogLevel(0);
  test::TestMachine m(program());
  ASSERT_TRUE(m.ok());
  _winseterrno(0);
  EXPECT_EQ(VmResetMachine(m.get()), 0);
  VmMachine *again = nullptr;
  ASSERT_EQ(VmInitMachine(m.image().data(), m.image().size() - 4, &again), -1);
  EXPECT_EQ(again, m.get());
  expectRefusedByEveryExport(m.get());
  // A set-up that succeeds again makes it usable again.
  ASSERT_EQ(VmInitMachine(m.image().data(), m.image().size(), &again), 0);
  EXPECT_EQ(VmResetMachine(m.get()), 0);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
}

}  // namespace
