// SPDX-License-Identifier: MIT
// The log exports forward to the host log and the callback device.
#include <gtest/gtest.h>

#include "foundation/report.h"
#include "support/log_capture.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

TEST(LogControl, LevelRoundTripsThroughTheHost) {
  int before = VmGetLogLevel();
  EXPECT_EQ(VmSetLogLevel(12), before);
  EXPECT_EQ(VmGetLogLevel(), 12);
  EXPECT_EQ(LogGetLevel(), 12);
  VmSetLogLevel(before);
}

TEST(LogControl, MessagesAboveTheLevelAreNotEmitted) {
  ImageBuilder b;
  b.name("PUMP").number(42);
  b.segment();
  b.command(0);
  test::LogCapture log(9);
  test::TestMachine m(b);
  log.clear();
  raise(Image::of(m.get()), msg::kDivisionByZero, 7, 0, 0);  // level 10: recorded, not logged
  EXPECT_TRUE(log.lines().empty()) << log.all();
  EXPECT_EQ(m.state().errorCode, 3);
  VmSetLogLevel(10);
  raise(Image::of(m.get()), msg::kDivisionByZero, 7, 0, 0);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].level, 10);
  EXPECT_EQ(log.lines()[0].text, "Program \"PUMP\" (42) error 3 at addr 00007: Division by zero\n");
}

TEST(LogControl, PrefixesOfVarsAndArrays) {
  ImageBuilder b;
  b.name("TANK").number(-5);
  b.segment();
  b.command(0);
  test::TestMachine m(b);
  test::LogCapture log(4);
  Image image = Image::of(m.get());
  raiseForVar(image, msg::kUnknownTypeClass, 0, 2, 13, 2, 31, 13);
  raiseForVar(image, msg::kInvalidArrayAddress, 2, 0, uint32_t(-1), 2, 4, 0, -1);
  raiseForArray(image, msg::kInvalidElementSize, 0, 6, 0, 6, 0);
  auto texts = log.texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "Program \"TANK\" (-5) error 111 of var 2:00031: Unknown type class (13)\n");
  EXPECT_EQ(texts[1], "Program \"TANK\" (-5) error 112 at var 2:00004: Invalid array address (0:-0001)\n");
  EXPECT_EQ(texts[2], "Program \"TANK\" (-5) error 114 of array 6: Invalid array element size (0)\n");
}

TEST(LogControl, ProgramNameWithoutTerminatorIsCutAt91Characters) {
  ImageBuilder b;
  b.segment();
  b.command(0);
  test::TestMachine m(b);
  std::memset(m.image().header().programName, 'x', VM_PROGRAM_NAME_SIZE);
  test::LogCapture log(10);
  logProgram(Image::of(m.get()), 10, ": hello\n");
  ASSERT_EQ(log.texts().size(), 1u);
  EXPECT_EQ(log.texts()[0], "Program \"" + std::string(91, 'x') + "\" (1): hello\n");
}

}  // namespace
