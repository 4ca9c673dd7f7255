// VmInitHeader and VmInitMachine: every check in its order, with its message.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "support/log_capture.h"
#include "support/machine.h"

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

struct Breakage {
  const char *what;
  std::function<void(ImageBytes &)> apply;
  std::string message;  // the level-4 message after "Program \"MIXER\" (7) error: "
};

TEST(InitMachine, EachCheckFailsWithItsMessage) {
  const Layout lay = fullImage().layout();
  const int size = static_cast<int>(lay.size);
  auto off = [&](Block b) { return std::to_string(lay.of(b)); };
  const std::string sic = "(0:" + std::to_string(size) + ")";
  std::vector<Breakage> cases = {
      {"machine beyond the end", [&](ImageBytes &i) { i.header().machineOffset = size - 119; },
       "Machine Block (" + std::to_string(size - 119) + ":120) is outside of SIC " + sic},
      {"machine inside the header", [&](ImageBytes &i) { i.header().machineOffset = 215; },
       "Machine Block (215:120) is outside of SIC " + sic},
      {"empty call stack", [&](ImageBytes &i) { i.header().callStackSize = 0; }, "Call Stack is empty (0)"},
      {"call stack beyond", [&](ImageBytes &i) { i.header().callStackSize = 0x20000000; },
       "Call Stack (" + off(Block::CallStack) + ":0) is outside of SIC " + sic},
      {"empty param stack", [&](ImageBytes &i) { i.header().paramStackSize = 0; }, "Param Stack is empty (0)"},
      {"param stack beyond", [&](ImageBytes &i) { i.header().paramStackOffset = size; },
       "Param Stack (" + std::to_string(size) + ":768) is outside of SIC " + sic},
      {"empty code", [&](ImageBytes &i) { i.header().commandCount = 0; }, "Code Segment is empty (0)"},
      {"code beyond", [&](ImageBytes &i) { i.header().commandCount = 1000; },
       "Code Segment (" + off(Block::Code) + ":44000) is outside of SIC " + sic},
      {"no segments", [&](ImageBytes &i) { i.header().segmentCount = 0; }, "No Data Segments (0)"},
      {"segment table in the header", [&](ImageBytes &i) { i.header().segmentTableOffset = 100; },
       "Data Segment Table (100:8) is outsize of SIC " + sic},
      {"empty data segment", [&](ImageBytes &i) { *reinterpret_cast<uint32_t *>(i.data() + lay.of(Block::Segments)) = 0; },
       "Data Segment 0 is empty (0)"},
      {"second segment too long",
       [&](ImageBytes &i) { *reinterpret_cast<uint32_t *>(i.data() + lay.of(Block::Segments) + 4 + 3 * 16) = 1000; },
       "Data Segment 1 (" + std::to_string(lay.of(Block::Segments) + 4 + 48) + ":16004) is outsize of SIC " + sic},
      {"segment count word beyond the end", [&](ImageBytes &i) { i.header().segmentsOffset = size - 2; },
       "Data Segment 0 count (" + std::to_string(size - 2) + ":4) is outside of SIC " + sic},
      {"arrays block at 0", [&](ImageBytes &i) { i.header().arraysOffset = 0; }, "Arrays Block (0:88) is outsize of SIC " + sic},
      {"array count 0 and size 0 reports the empty array",
       [&](ImageBytes &i) { i.arrayRecord(1).elementCount = 0; i.arrayRecord(1).elementSize = 0; },
       "Array 1 is empty (0)"},
      {"array element size 0", [&](ImageBytes &i) { i.arrayRecord(0).elementSize = 0; }, "Invalid Array 0 element size (0)"},
      {"array dimension 4", [&](ImageBytes &i) { i.arrayRecord(1).dimensions = 4; }, "Invalid Array 1 dimension (4)"},
      {"array dimension 0", [&](ImageBytes &i) { i.arrayRecord(0).dimensions = 0; }, "Invalid Array 0 dimension (0)"},
      {"state beyond", [&](ImageBytes &i) { i.header().stateOffset = size - 23; },
       "State Block (" + std::to_string(size - 23) + ":24) is outsize of SIC " + sic},
      {"segment vars beyond", [&](ImageBytes &i) { i.header().segmentVarsOffset = size - 12 * 3; },
       "Data Segment 1 vars (" + std::to_string(size) + ":36) is outsize of SIC " + sic},
      {"array vars beyond", [&](ImageBytes &i) { i.header().arrayVarsOffset = size - 48; },
       "Array 1 vars (" + std::to_string(size) + ":72) is outsize of SIC " + sic},
      {"replication beyond", [&](ImageBytes &i) { i.header().replicationSize = 9; },
       "Replication Block (" + off(Block::Replication) + ":9) is outsize of SIC " + sic},
      {"machine overlapping the code", [&](ImageBytes &i) { i.header().machineOffset = lay.of(Block::Code) + 4; },
       "Machine Block (" + std::to_string(lay.of(Block::Code) + 4) + ":120) overlaps Code Segment (" +
           off(Block::Code) + ":88)"},
      {"segment table overlapping the arrays block",
       [&](ImageBytes &i) { i.header().segmentTableOffset = lay.of(Block::Arrays) + 40; },
       "Data Segment Table (" + std::to_string(lay.of(Block::Arrays) + 40) + ":8) overlaps Arrays Block (" +
           off(Block::Arrays) + ":88)"},
      {"state block over the data segments (its reset would clear var counts)",
       [&](ImageBytes &i) { i.header().stateOffset = lay.of(Block::Segments) + 8; },
       "Data Segments (" + off(Block::Segments) + ":104) overlaps State Block (" +
           std::to_string(lay.of(Block::Segments) + 8) + ":24)"},
  };
  for (const Breakage &c : cases) {
    ImageBytes image{fullImage().build()};
    c.apply(image);
    LogCapture log(100);
    VmMachine *machine = nullptr;
    _winseterrno(0);
    EXPECT_EQ(VmInitMachine(image.data(), image.size(), &machine), -1) << c.what;
    EXPECT_EQ(_wingeterrno(), 0) << c.what;
    auto fatal = log.at(4);
    ASSERT_EQ(fatal.size(), 1u) << c.what << "\n" << log.all();
    EXPECT_EQ(fatal[0], "Program \"MIXER\" (7) error: " + c.message + "\n") << c.what;
  }
}

TEST(InitMachine, SuccessLogsEveryBlockInOrder) {
  ImageBuilder b = fullImage();
  const Layout lay = b.layout();
  LogCapture log(10);
  TestMachine m(b);
  ASSERT_TRUE(m.ok()) << log.all();
  auto p = [](const std::string &s) { return "Program \"MIXER\" (7): " + s + " init successful\n"; };
  auto at = [&](Block blk, uint32_t delta, uint32_t len) {
    return "(" + std::to_string(lay.of(blk) + delta) + ":" + std::to_string(len) + ")";
  };
  std::vector<std::string> expected = {
      p("Header Block (0:216)"),
      p("Machine Block " + at(Block::Machine, 0, 120)),
      p("Call Stack " + at(Block::CallStack, 0, 16 * 8)),
      p("Param Stack " + at(Block::ParamStack, 0, 64 * 12)),
      p("Code Segment " + at(Block::Code, 0, 88)),
      p("Data Segment Table " + at(Block::SegmentTable, 0, 8)),
      p("Data Segment 0 " + at(Block::Segments, 0, 52)),
      p("Data Segment 1 " + at(Block::Segments, 52, 52)),
      p("Arrays Block " + at(Block::Arrays, 0, 88)),
      p("State Block " + at(Block::State, 0, 24)),
      p("Data Segment 0 vars " + at(Block::SegmentVars, 0, 36)),
      p("Data Segment 1 vars " + at(Block::SegmentVars, 36, 36)),
      p("Array 0 vars " + at(Block::ArrayVars, 0, 48)),
      p("Array 1 vars " + at(Block::ArrayVars, 48, 72)),
      p("Replication Block " + at(Block::Replication, 0, 8)),
  };
  EXPECT_EQ(log.texts(), expected);
}

TEST(InitMachine, ResolvesEveryLocationAsAnOffset) {
  ImageBuilder b = fullImage();
  const Layout lay = b.layout();
  TestMachine m(b);
  ASSERT_TRUE(m.ok());
  ImageBytes &image = m.image();
  EXPECT_EQ(reinterpret_cast<uint8_t *>(m.get()), image.data() + lay.of(Block::Machine));
  EXPECT_EQ(m->image, lay.of(Block::Machine));
  EXPECT_EQ(m->callStack, lay.of(Block::CallStack));
  EXPECT_EQ(m->paramStack, lay.of(Block::ParamStack));
  EXPECT_EQ(m->code, lay.of(Block::Code));
  EXPECT_EQ(m->segmentTable, lay.of(Block::SegmentTable));
  EXPECT_EQ(m->arrays, lay.of(Block::Arrays));
  EXPECT_EQ(m->stateBlock, lay.of(Block::State));
  EXPECT_EQ(m->runStatusRef, lay.of(Block::State) + 20);
  const auto *table = reinterpret_cast<const uint32_t *>(image.data() + lay.of(Block::SegmentTable));
  EXPECT_EQ(table[0], lay.of(Block::Segments));
  EXPECT_EQ(table[1], lay.of(Block::Segments) + 52);
  EXPECT_EQ(m->globalSegment, table[0]);
  EXPECT_EQ(image.varRecord(1, 2).cell, lay.of(Block::SegmentVars) + 5 * 12);
  EXPECT_EQ(image.arrayRecord(1).firstCell, lay.of(Block::ArrayVars) + 48);
  EXPECT_EQ(m.cell(1, 2).v.f64, 2.5);
}

TEST(InitMachine, ArgumentErrorsSetErrorNumber22) {
  std::vector<uint8_t> bytes = fullImage().build();
  VmMachine *machine = nullptr;
  struct Case {
    void *image;
    uint32_t size;
    VmMachine **place;
  } cases[] = {{nullptr, 1000, &machine}, {bytes.data(), 1000, nullptr}, {bytes.data(), 335, &machine}};
  for (const Case &c : cases) {
    _winseterrno(0);
    EXPECT_EQ(VmInitMachine(c.image, c.size, c.place), -1);
    EXPECT_EQ(_wingeterrno(), 22);
  }
  _winseterrno(0);
  EXPECT_EQ(VmInitHeader(bytes.data(), 215), -1);
  EXPECT_EQ(_wingeterrno(), 22);
  EXPECT_EQ(VmInitHeader(bytes.data(), 216), 0);
}

TEST(InitHeader, LabelAndVersionFailuresAreNoticesWithoutErrorNumber) {
  struct Case {
    std::function<void(VmHeader &)> apply;
    std::string message;
  } cases[] = {
      {[](VmHeader &h) { std::memcpy(&h.label, "SIC3", 4); },
       "Program \"MIXER\" (7) fatal error: SIC label error (found \"SIC3\", required \"SIC4\")\n"},
      {[](VmHeader &h) { h.version = 405; },
       "Program \"MIXER\" (7) fatal error: Unsupported SIC version (found 405, required 406)\n"},
  };
  for (const Case &c : cases) {
    ImageBytes image{fullImage().build()};
    c.apply(image.header());
    LogCapture log(5);
    VmMachine *machine = nullptr;
    _winseterrno(0);
    EXPECT_EQ(VmInitMachine(image.data(), image.size(), &machine), -1);
    EXPECT_EQ(machine, nullptr);
    EXPECT_EQ(_wingeterrno(), 0);
    EXPECT_EQ(log.at(5), std::vector<std::string>{c.message});
  }
}

TEST(InitMachine, PlaceIsWrittenAsSoonAsTheMachineBlockPasses) {
  ImageBytes image{fullImage().build()};
  image.header().paramStackSize = 0;  // fails at the param stack
  VmMachine *machine = nullptr;
  EXPECT_EQ(VmInitMachine(image.data(), image.size(), &machine), -1);
  ASSERT_EQ(reinterpret_cast<uint8_t *>(machine), image.data() + image.header().machineOffset);
  EXPECT_EQ(machine->image, image.header().machineOffset);
  EXPECT_EQ(machine->callStack, image.header().callStackOffset);
  EXPECT_EQ(machine->paramStack, 0u);
}

TEST(InitMachine, CountMismatchesAreRepairedWithNotices) {
  ImageBuilder b = fullImage();
  b.compilerSegmentVarCount(99).compilerArrayVarCount(1);
  LogCapture log(5);
  TestMachine m(b);
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(log.at(5), (std::vector<std::string>{
                           "Program \"MIXER\" (7): Data Segment vars count mismatch (compiler 99, found 6)\n",
                           "Program \"MIXER\" (7): Arrays vars count mismatch (compiler 1, found 10)\n"}));
  EXPECT_EQ(m.image().header().segmentVarCount, 6u);
  EXPECT_EQ(m.image().header().arrayVarCount, 10u);
}

TEST(InitMachine, BlocksInAnyOrderUnalignedAndEndingAtTheEnd) {
  ImageBuilder b = fullImage();
  b.gap(3);  // every block at an odd offset
  Layout lay = b.layout();
  // Put the machine block last, ending exactly at the end of the image.
  b.place(Block::Machine, lay.size).tail(0);
  std::vector<uint8_t> bytes = b.build();
  ASSERT_EQ(bytes.size(), size_t(lay.size) + VM_MACHINE_SIZE);
  TestMachine m(bytes);
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(m.image().header().machineOffset + VM_MACHINE_SIZE, m.image().size());
  EXPECT_EQ(VmSetLastError(m.get(), 5, 1, 2, 3), 0);  // the record is reachable
}

TEST(InitMachine, NoArraysStillTestsTheArraysBlockOffset) {
  ImageBuilder b;
  b.segment();
  b.command(0);
  ImageBytes image{b.build()};
  ASSERT_EQ(image.header().arrayCount, 0u);
  image.header().arraysOffset = 0;
  LogCapture log(4);
  VmMachine *machine = nullptr;
  EXPECT_EQ(VmInitMachine(image.data(), image.size(), &machine), -1);
  EXPECT_EQ(log.at(4).size(), 1u);
  EXPECT_NE(log.at(4)[0].find("Arrays Block (0:0) is outsize of SIC"), std::string::npos);
}

TEST(InitMachine, SecondInitOnTheSameImageKeepsSetUpBits) {
  TestMachine m(fullImage());
  ASSERT_TRUE(m.ok());
  auto &state = const_cast<VmStateBlock &>(m.state());
  state.statusFlags |= VM_STATUS_TIMERS | VM_STATUS_LINKS;
  VmSetLastError(m.get(), 107, 1, 2, 3);
  VmMachine *again = nullptr;
  EXPECT_EQ(VmInitMachine(m.image().data(), m.image().size(), &again), 0);
  EXPECT_EQ(again, m.get());
  EXPECT_EQ(state.statusFlags, uint32_t(VM_STATUS_TIMERS | VM_STATUS_LINKS));
  EXPECT_EQ(state.errorCode, 0);
}

}  // namespace
