// SPDX-License-Identifier: MIT
// VmInitHeader and VmInitMachine: every check in its order, with its message;
// VmResetMachine: what it sets and what it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "support/log_capture.h"
#include "support/machine.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::LogCapture;
using sicvm::test::TestMachine;

namespace {

// Two segments, two arrays, a small program: every block present.
ImageBuilder fullImage() {
  ImageBuilder b;
  b.name("MIXER").number(7).replication(8);
  uint32_t global = b.segment();
  b.var(global, Var(Value::dint(5)));
  uint32_t local = b.segment(1, 1);
  b.var(local, Var(Value::lreal(2.5)));
  b.array(Array{VM_TYPE_DINT, 1, 4, 1, {}, 0});
  b.array(Array{VM_TYPE_REAL, 2, 3, 2, {}, 0});
  b.command(0);
  b.command(220);
  return b;
}

// A header word set to a value.
std::function<void(ImageBytes &)> set(uint32_t VmHeader::*field, uint32_t value) {
  return [=](ImageBytes &i) { i.header().*field = value; };
}
std::function<void(ImageBytes &)> word(uint32_t offset, uint32_t value) {
  return [=](ImageBytes &i) { std::memcpy(i.data() + offset, &value, 4); };
}

// Each failing check, in the order set-up makes them: the blocks that passed
// before it, the last log line and its level, no error number, and the place
// written once the Machine Block passed.
TEST(InitMachine, EachCheckFailsWithItsMessage) {
  const Layout lay = fullImage().layout();
  const uint32_t size = lay.size;
  auto at = [](uint64_t offset) { return std::to_string(offset); };
  const std::string sic = " of SIC (0:" + at(size) + ")";
  const uint32_t segments = lay.of(Block::Segments), arrays = lay.of(Block::Arrays), code = lay.of(Block::Code);
  using H = VmHeader;
  const struct {
    size_t passed;  // blocks logged as successful before the check: 1 header, 2 machine, ...
    std::function<void(ImageBytes &)> apply;
    std::string message;  // after "Program \"MIXER\" (7) "
  } cases[] = {
      {0, [](ImageBytes &i) { std::memcpy(&i.header().label, "SIC3", 4); },
       "fatal error: SIC label error (found \"SIC3\", required \"SIC4\")"},
      {0, set(&H::version, 405), "fatal error: Unsupported SIC version (found 405, required 406)"},
      {1, set(&H::machineOffset, size - 119), "error: Machine Block (" + at(size - 119) + ":120) is outside" + sic},
      {1, set(&H::machineOffset, 215), "error: Machine Block (215:120) is outside" + sic},
      {2, set(&H::callStackSize, 0), "error: Call Stack is empty (0)"},
      {2, set(&H::callStackSize, 0x20000000),
       "error: Call Stack (" + at(lay.of(Block::CallStack)) + ":0) is outside" + sic},
      {3, set(&H::paramStackSize, 0), "error: Param Stack is empty (0)"},
      {3, set(&H::paramStackOffset, size), "error: Param Stack (" + at(size) + ":768) is outside" + sic},
      {4, set(&H::commandCount, 0), "error: Code Segment is empty (0)"},
      {4, set(&H::commandCount, 1000), "error: Code Segment (" + at(code) + ":44000) is outside" + sic},
      {5, set(&H::segmentCount, 0), "error: No Data Segments (0)"},
      {5, set(&H::segmentTableOffset, 100), "error: Data Segment Table (100:8) is outsize" + sic},
      {6, set(&H::segmentsOffset, size - 2), "error: Data Segment 0 count (" + at(size - 2) + ":4) is outside" + sic},
      {6, word(segments, 0), "error: Data Segment 0 is empty (0)"},
      {7, word(segments + 4 + 3 * 16, 1000),
       "error: Data Segment 1 (" + at(segments + 52) + ":16004) is outsize" + sic},
      {8, set(&H::arraysOffset, 0), "error: Arrays Block (0:88) is outsize" + sic},
      {8, [](ImageBytes &i) { i.header().arrayCount = i.header().arraysOffset = 0; },  // also without arrays
       "error: Arrays Block (0:0) is outsize" + sic},
      {9, [](ImageBytes &i) { i.arrayRecord(1).elementCount = i.arrayRecord(1).elementSize = 0; },
       "error: Array 1 is empty (0)"},
      {9, [](ImageBytes &i) { i.arrayRecord(0).elementSize = 0; }, "error: Invalid Array 0 element size (0)"},
      {9, [](ImageBytes &i) { i.arrayRecord(1).dimensions = 4; }, "error: Invalid Array 1 dimension (4)"},
      {9, [](ImageBytes &i) { i.arrayRecord(0).dimensions = 0; }, "error: Invalid Array 0 dimension (0)"},
      {9, set(&H::stateOffset, size - 23), "error: State Block (" + at(size - 23) + ":24) is outsize" + sic},
      {11, set(&H::segmentVarsOffset, size - 36), "error: Data Segment 1 vars (" + at(size) + ":36) is outsize" + sic},
      {13, set(&H::arrayVarsOffset, size - 48), "error: Array 1 vars (" + at(size) + ":72) is outsize" + sic},
      {14, set(&H::replicationSize, 9),
       "error: Replication Block (" + at(lay.of(Block::Replication)) + ":9) is outsize" + sic},
      {15, set(&H::machineOffset, code + 4),
       "error: Machine Block (" + at(code + 4) + ":120) overlaps Code Segment (" + at(code) + ":88)"},
      {15, set(&H::segmentTableOffset, arrays + 40),
       "error: Data Segment Table (" + at(arrays + 40) + ":8) overlaps Arrays Block (" + at(arrays) + ":88)"},
      {15, set(&H::stateOffset, segments + 8),  // its reset would clear var counts
       "error: Data Segments (" + at(segments) + ":104) overlaps State Block (" + at(segments + 8) + ":24)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    ImageBytes image{fullImage().build()};
    c.apply(image);
    LogCapture log(100);
    VmMachine *machine = nullptr;
    _winseterrno(0);
    EXPECT_EQ(VmInitMachine(image.data(), image.size(), &machine), -1);
    EXPECT_EQ(_wingeterrno(), 0);
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().back().level, c.message.starts_with("fatal") ? 5 : 4);
    EXPECT_EQ(log.lines().back().text, "Program \"MIXER\" (7) " + c.message + "\n");
    EXPECT_EQ(log.at(10).size(), c.passed);
    uint8_t *place = c.passed >= 2 ? image.data() + image.header().machineOffset : nullptr;
    EXPECT_EQ(reinterpret_cast<uint8_t *>(machine), place);
  }
}

// Success: one line per block, in order, and the compiler's wrong var counts
// repaired with a notice each.
TEST(InitMachine, SuccessLogsEveryBlockInOrderAndRepairsTheCounts) {
  ImageBuilder b = fullImage();
  b.compilerSegmentVarCount(99).compilerArrayVarCount(1);
  const Layout lay = b.layout();
  LogCapture log(10);
  TestMachine m(b);
  ASSERT_TRUE(m.ok()) << log.all();
  auto p = [&](const std::string &s, Block blk, uint32_t delta, uint32_t len) {
    return "Program \"MIXER\" (7): " + s + " (" + std::to_string(lay.of(blk) + delta) + ":" + std::to_string(len) +
           ") init successful\n";
  };
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "Program \"MIXER\" (7): Header Block (0:216) init successful\n",
                             p("Machine Block", Block::Machine, 0, 120),
                             p("Call Stack", Block::CallStack, 0, 16 * 8),
                             p("Param Stack", Block::ParamStack, 0, 64 * 12),
                             p("Code Segment", Block::Code, 0, 88),
                             p("Data Segment Table", Block::SegmentTable, 0, 8),
                             p("Data Segment 0", Block::Segments, 0, 52),
                             p("Data Segment 1", Block::Segments, 52, 52),
                             p("Arrays Block", Block::Arrays, 0, 88),
                             p("State Block", Block::State, 0, 24),
                             p("Data Segment 0 vars", Block::SegmentVars, 0, 36),
                             p("Data Segment 1 vars", Block::SegmentVars, 36, 36),
                             "Program \"MIXER\" (7): Data Segment vars count mismatch (compiler 99, found 6)\n",
                             p("Array 0 vars", Block::ArrayVars, 0, 48),
                             p("Array 1 vars", Block::ArrayVars, 48, 72),
                             "Program \"MIXER\" (7): Arrays vars count mismatch (compiler 1, found 10)\n",
                             p("Replication Block", Block::Replication, 0, 8),
                         }));
  EXPECT_EQ(log.at(5).size(), 2u) << "the repairs are notices";
  EXPECT_EQ(m.image().header().segmentVarCount, 6u);
  EXPECT_EQ(m.image().header().arrayVarCount, 10u);
  EXPECT_EQ(m->image, lay.of(Block::Machine)) << "locations are offsets from the image start";
  EXPECT_EQ(m.image().arrayRecord(1).firstCell, lay.of(Block::ArrayVars) + 48);
  EXPECT_EQ(test::value(m.cell(1, 2).v.f64), 2.5);
}

TEST(InitMachine, ArgumentErrorsSetErrorNumber22) {
  std::vector<uint8_t> bytes = fullImage().build();
  VmMachine *machine = nullptr;
  for (uint32_t size : {1000u, 335u}) {  // 335: shorter than the header and the machine
    _winseterrno(0);
    EXPECT_EQ(VmInitMachine(size == 1000 ? nullptr : bytes.data(), size, &machine), -1);
    EXPECT_EQ(VmInitMachine(bytes.data(), size, nullptr), -1);
    EXPECT_EQ(_wingeterrno(), 22);
  }
  EXPECT_EQ(VmInitHeader(bytes.data(), 215), -1);
  EXPECT_EQ(VmInitHeader(bytes.data(), 216), 0);
}

TEST(InitMachine, BlocksInAnyOrderUnalignedAndEndingAtTheEnd) {
  ImageBuilder b = fullImage();
  b.gap(3);  // every block at an odd offset
  Layout lay = b.layout();
  // Put the machine block last, ending exactly at the end of the image.
  b.place(Block::Machine, lay.size).tail(0);
  std::vector<uint8_t> bytes = b.build();
  TestMachine m(bytes);
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(m.image().header().machineOffset + VM_MACHINE_SIZE, m.image().size());
}

TEST(ResetMachine, RestoresTheStartOfACycleAndKeepsTheRest) {
  TestMachine m(fullImage());
  ASSERT_TRUE(m.ok());
  m->commandsRun = 5;
  m->pc = 3;
  m->callDepth = 2;
  m->paramDepth = 4;
  m->compareFlags = 2;
  m->globalSegment = m->localSegment = m->globalSegment + 1;
  m->localSegmentNo = 1;
  m->commandLimit = 77;
  m->lastClock = 1234;
  m->cycleCount = 9;
  m->storeHandle = 8;
  auto &state = const_cast<VmStateBlock &>(m.state());
  state.statusFlags = VM_STATUS_LINK_DROPPED | VM_STATUS_TIMERS;
  state.runStatus = VM_STOPPED;
  VmSetLastError(m.get(), 110, 1, 2, 3);
  m.globalCell(2).v.i32 = 99;
  // Every other machine word (host fields, clock, cycle count, locations) stays.
  VmMachine expected = *m.get();
  expected.commandsRun = 0;
  expected.pc = expected.callDepth = expected.paramDepth = expected.compareFlags = 0;
  expected.globalSegment = m.image().header().segmentsOffset;
  expected.localSegment = expected.localSegmentNo = 0;

  EXPECT_EQ(VmResetMachine(m.get()), 0);
  EXPECT_EQ(std::memcmp(m.get(), &expected, sizeof expected), 0);
  EXPECT_EQ(state.errorCode, 0);
  EXPECT_EQ(state.statusFlags, uint32_t(VM_STATUS_LINK_DROPPED | VM_STATUS_TIMERS)) << "only the error bit goes";
  EXPECT_EQ(state.runStatus, uint32_t(VM_RUNNING));
  EXPECT_EQ(test::value(m.globalCell(2).v.i32), 99);
  // Set-up again on the same image ends with the same reset and keeps the set-up bits.
  VmSetLastError(m.get(), 107, 1, 2, 3);
  VmMachine *again = nullptr;
  EXPECT_EQ(VmInitMachine(m.image().data(), m.image().size(), &again), 0);
  EXPECT_EQ(again, m.get());
  EXPECT_EQ(state.statusFlags, uint32_t(VM_STATUS_LINK_DROPPED | VM_STATUS_TIMERS));
  EXPECT_EQ(state.errorCode, 0);
  // The image is position-independent: a byte copy is a machine of its own.
  std::vector<uint8_t> copy = m.image().bytes;
  auto *other = reinterpret_cast<VmMachine *>(copy.data() + m.image().header().machineOffset);
  VmSetLastError(other, 33, 1, 0, 0);
  EXPECT_EQ(VmGetLastError(m.get(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(VmResetMachine(other), 0);
  EXPECT_EQ(VmGetLastError(other, nullptr, nullptr, nullptr), 0);
}

}  // namespace
