// SPDX-License-Identifier: MIT
// VmVerifyVars and VmVerifyArrays: every fault reported, counted and
// recorded, the last one left in the record, and the summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "support/log_capture.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

Var withClass(uint8_t typeClass, int32_t segment = 0, int32_t relative = 0, bool load = false) {
  Var v(Value::raw(VM_TYPE_DINT, static_cast<uint32_t>(segment), static_cast<uint32_t>(relative)));
  v.typeClass = typeClass;
  v.load = load;
  return v;
}

// Both verifiers report every fault, count them, keep the last in the error
// record and change nothing else in the image.
TEST(VerifyData, ReportsEveryFaultKeepsTheLastAndChangesNothingElse) {
  ImageBuilder b;
  uint32_t s0 = b.segment();
  for (const Var &v : {withClass(1), withClass(7), withClass(0), withClass(8), withClass(5, 1, 3),
                       withClass(5, 0, 0, true), withClass(1, 9, -9)})
    b.var(s0, v);  // 0:00002 to 0:00008; a DINT var may hold anything
  uint32_t s1 = b.segment(1);
  b.var(s1, withClass(13));        // 1:00002
  b.var(s1, withClass(5, 2, 0));   // 1:00003
  b.var(s1, withClass(5, 0, -1));  // 1:00004
  for (int j = 0; j < 3; ++j) b.array(Array{VM_TYPE_LREAL, 1, 2, 1, {}, 0});
  b.command(0);
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  test::LogCapture log(10);
  EXPECT_EQ(VmVerifyArrays(m.get()), 0);
  // A program may overwrite array records after set-up.
  m.image().arrayRecord(0).elementSize = 0;
  m.image().arrayRecord(2).elementSize = m.image().arrayRecord(2).elementCount = 0;
  std::vector<uint8_t> before = m.image().bytes;
  EXPECT_EQ(VmVerifyVars(m.get()), -1);
  EXPECT_EQ(m.state().errorCode, 112);
  EXPECT_EQ(m.state().errorAddress, 1u);
  EXPECT_EQ(m.state().errorArg1, 0u);
  EXPECT_EQ(m.state().errorArg2, 0xFFFFFFFFu);
  EXPECT_EQ(VmVerifyArrays(m.get()), -1);
  EXPECT_EQ(m.state().errorCode, 115);
  EXPECT_EQ(m.state().errorArg1, 2u);
  const std::string e = "Program \"TEST\" (1) error ";
  EXPECT_EQ(log.at(4), (std::vector<std::string>{e + "111 of var 0:00004: Unknown type class (0)\n",
                                                 e + "111 of var 0:00005: Unknown type class (8)\n",
                                                 e + "111 of var 1:00002: Unknown type class (13)\n",
                                                 e + "112 at var 1:00003: Invalid array address (2:00000)\n",
                                                 e + "112 at var 1:00004: Invalid array address (0:-0001)\n",
                                                 e + "114 of array 0: Invalid array element size (0)\n",
                                                 e + "114 of array 2: Invalid array element size (0)\n",
                                                 e + "115 of array 2: Invalid array element count (0)\n"}));
  const std::string p = "Program \"TEST\" (1): ";
  EXPECT_EQ(log.at(10), (std::vector<std::string>{p + "Arrays verification successful\n",
                                                  p + "Variables verification failed, found 5 errors\n",
                                                  p + "Arrays verification failed, found 3 errors\n"}));
  // Nothing but the error record changed.
  std::vector<uint8_t> after = m.image().bytes;
  const uint32_t state = m.image().header().stateOffset;
  std::copy(before.begin() + state, before.begin() + state + 20, after.begin() + state);
  EXPECT_TRUE(after == before);
}

}  // namespace
