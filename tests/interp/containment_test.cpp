// SPDX-License-Identifier: MIT
// No program escapes its image: set-up refuses layouts in which the cells and
// stacks a program writes lie over the blocks that hold locations, counts or
// code, and every location, depth and index the library follows is bounded
// where it is used, even when something outside the program (here: the host,
// or an external procedure) has forged it.
#include <cstring>
#include <functional>

#include "interp/program.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::Record;
using sicvm::test::recordOf;
using sicvm::test::TestMachine;

namespace {

// Three DINT vars in one segment without base vars, one array, small stacks.
ImageBuilder threeVars() {
  ImageBuilder b;
  b.callStack(2).paramStack(2);
  b.rawSegment({Var(Value::dint(1)), Var(Value::dint(2)), Var(Value::dint(3))});
  b.array(Array{VM_TYPE_DINT, 1, 4, 1, {}, 0});
  // The program of the defect: an LREAL into var 0, then a DINT, then a call.
  b.command(op("mov"), c(Value::lreal(1e-300)), Operand::words(1, VM_TYPE_LREAL), g(0));
  b.command(op("mov"), c(Value::dint(1000)), Operand::words(1, VM_TYPE_DINT), g(0));
  b.command(op("set_ds"), num(0), num(0));
  b.command(op("call"), Operand::words(1, 4, VM_CALL_CODE));
  b.command(op("ret"));
  return b;
}

// Each layout whose program-written cells or stacks overlap a block that the
// library reads locations, counts or commands from is refused, naming both.
TEST(Containment, SetUpRefusesWritableBlocksOverStructure) {
  const Layout lay = threeVars().layout();
  const uint32_t seg = lay.of(Block::Segments), table = lay.of(Block::SegmentTable),
                 arrays = lay.of(Block::Arrays), code = lay.of(Block::Code), state = lay.of(Block::State);
  auto at = [](uint32_t v) { return std::to_string(v); };
  using H = VmHeader;
  const struct {
    uint32_t H::*field;
    uint32_t value;
    std::string message;
  } cases[] = {
      // The defect's layout: var records under the cells, so a cell write moves a cell.
      {&H::segmentVarsOffset, seg + 8,
       "Data Segment vars (" + at(seg + 8) + ":36) overlaps Data Segments (" + at(seg) + ":52)"},
      {&H::segmentVarsOffset, table,
       "Data Segment vars (" + at(table) + ":36) overlaps Data Segment Table (" + at(table) + ":4)"},
      {&H::segmentVarsOffset, code + 40,
       "Data Segment vars (" + at(code + 40) + ":36) overlaps Code Segment (" + at(code) + ":220)"},
      {&H::arrayVarsOffset, arrays + 4,
       "Array vars (" + at(arrays + 4) + ":48) overlaps Arrays Block (" + at(arrays) + ":44)"},
      {&H::paramStackOffset, seg + 28,
       "Param Stack (" + at(seg + 28) + ":24) overlaps Data Segments (" + at(seg) + ":52)"},
      {&H::callStackOffset, state + 8,
       "Call Stack (" + at(state + 8) + ":16) overlaps State Block (" + at(state) + ":24)"},
      {&H::stateOffset, code + 100,
       "State Block (" + at(code + 100) + ":24) overlaps Code Segment (" + at(code) + ":220)"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.message);
    std::vector<uint8_t> bytes = threeVars().build();
    reinterpret_cast<H *>(bytes.data())->*k.field = k.value;
    test::LogCapture log(4);
    TestMachine m(std::move(bytes));
    EXPECT_EQ(m.initResult(), -1);
    EXPECT_TRUE(log.has("Program \"TEST\" (1) error: " + k.message + "\n")) << log.all();
  }
}

// Program-written blocks may overlap one another, and the Replication Block
// (the host's, never followed) may overlap anything but the Machine Block.
TEST(Containment, SetUpAcceptsOverlapsThatHoldNoLocations) {
  const Layout lay = threeVars().layout();
  using H = VmHeader;
  const struct {
    uint32_t H::*field;
    uint32_t value;
    uint32_t replicationSize;
  } cases[] = {
      {&H::paramStackOffset, lay.of(Block::SegmentVars), 0},
      {&H::callStackOffset, lay.of(Block::ArrayVars), 0},
      {&H::replicationOffset, lay.of(Block::Code), 20},
  };
  for (const auto &k : cases) {
    std::vector<uint8_t> bytes = threeVars().build();
    VmHeader &h = *reinterpret_cast<H *>(bytes.data());
    h.*k.field = k.value;
    h.replicationSize = k.replicationSize;
    VmSetLogLevel(0);
    TestMachine m(std::move(bytes));
    EXPECT_EQ(m.initResult(), 0) << k.value;
  }
}

// A location forged into the image by the host is bounded where it is used:
// a cell location outside the cells of the data segment vars, or a table
// slot outside the data segments, names nothing.
TEST(Containment, ForgedLocationsNameNothing) {
  VmSetLogLevel(0);
  const struct {
    const char *what;
    std::function<void(TestMachine &)> forge;
    Record record;
  } cases[] = {
      {"var cell on the Machine Block",
       [](TestMachine &m) { m.image().varRecord(0, 0).cell = m.image().header().machineOffset; },
       {110, 0, 0, 0}},
      {"var cell on its own record",
       [](TestMachine &m) { m.image().varRecord(0, 0).cell = m.image().header().segmentsOffset + 4; },
       {110, 0, 0, 0}},
      // The cells then read as a segment whose var 0 lies on the Machine Block.
      {"segment slot on the cells",
       [](TestMachine &m) {
         const uint32_t slot = m.image().header().segmentTableOffset;
         const uint32_t cells = m.image().header().segmentVarsOffset;
         m.globalCell(1).v.u32 = m.image().header().machineOffset;
         std::memcpy(m.image().data() + slot, &cells, 4);
         VmResetMachine(m.get());
       },
       {110, 0, 0, 0}},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.what);
    TestMachine m(threeVars());
    ASSERT_TRUE(m.ok());
    k.forge(m);
    // The decoded form keeps the locations set-up found; a host that changes
    // records afterwards drops it, and the step loop follows the new ones.
    VmReleaseMachine(m.get());
    m->commandLimit = 50;
    const VmMachine before = *m.get();
    EXPECT_EQ(VmUpdateVarLinks(m.get()), 0);
    VmRunProgram(m.get(), 0, 0);
    EXPECT_EQ(recordOf(m), k.record);
    EXPECT_EQ(m->commandLimit, before.commandLimit);
    EXPECT_EQ(m->statusFlagsRef, before.statusFlagsRef);
    EXPECT_EQ(m->callDepth, 0u);
  }
}

// Depths forged during a run by an external procedure: the commands that
// follow them check them against their stacks before indexing.
Command cmd(uint32_t code, const Operand &src1 = Operand::none(), const Operand &src2 = Operand::none()) {
  return Command{code, src1, src2, Operand::none(), 0};
}

uint32_t VmMachine::*g_field = nullptr;
uint32_t g_value = 0;
int32_t forger(int32_t mode, int32_t, VmCell *frame, int32_t, int32_t first, int32_t nin, int32_t nout,
               VmMachine *machine) {
  if (mode != 0) {
    machine->*g_field = g_value;
    if (nout > 0) frame[first + nin].v.i32 = 77;
  }
  return 0;
}

TEST(Containment, ForgedDepthsAreCheckedWhereTheyAreUsed) {
  // Call type 2 (the local segment's cells as the frame) leaves the param
  // stack to the procedure; call type 1 puts its outputs where its inputs were.
  const Command frame = cmd(op("call"), Operand::words(1, 9, VM_CALL_EXTERNAL | 2), Operand::words(1, 0));
  const Command external = cmd(op("call"), Operand::words(1, 9, VM_CALL_EXTERNAL | 1), Operand::words(1, 0));
  const Command withOutput =
      cmd(op("call"), Operand::words(1, 9, VM_CALL_EXTERNAL | 1), Operand::words(1, 1 << 8 | 1 << 16));
  const Command local = cmd(op("set_ds"), num(0), num(1));
  const struct {
    const char *what;
    uint32_t VmMachine::*field;
    uint32_t value;
    std::vector<Command> program;
    Record record;
    int32_t var2;
  } cases[] = {
      {"ret", &VmMachine::callDepth, 1000, {external, cmd(op("ret"))}, {119, 1, 1000, 1}, 1},
      {"call in the code", &VmMachine::callDepth, 1000,
       {external, cmd(op("call"), Operand::words(1, 0, VM_CALL_CODE))}, {119, 1, 1000, 1}, 1},
      {"set_ds", &VmMachine::callDepth, 0xFFFFFFFF, {external, local}, {119, 1, 0xFFFFFFFF, 1}, 1},
      {"pop_vars", &VmMachine::paramDepth, 1000, {local, frame, cmd(op("pop_vars"), g(2), num(1))},
       {120, 2, 1000, 0}, 1},
      {"push_const", &VmMachine::paramDepth, 1000, {local, frame, cmd(op("push_const"), c(Value::dint(5)))},
       {120, 2, 1000, 1}, 1},
      {"outputs of a call", &VmMachine::paramDepth, 0,
       {cmd(op("push_const"), c(Value::dint(5))), withOutput, cmd(op("pop_vars"), g(2), num(1)), cmd(0x80000000u)},
       {0, 0, 0, 0}, 77},
  };
  VmSetLogLevel(0);
  for (const auto &k : cases) {
    SCOPED_TRACE(k.what);
    ImageBuilder b;
    b.callStack(2).paramStack(2);
    b.var(b.segment(), Var(Value::dint(1)));
    b.segment();
    for (const Command &command : k.program) b.command(command);
    TestMachine m(b);
    ASSERT_TRUE(m.ok());
    m->commandLimit = 50;
    g_field = k.field;
    g_value = k.value;
    VmSetExternalProc(forger);
    VmRunProgram(m.get(), 0, 0);
    VmSetExternalProc(nullptr);
    EXPECT_EQ(recordOf(m), k.record);
    EXPECT_EQ(m.globalCell(2).v.i32, k.var2);
  }
}

}  // namespace
