// VmVerifyVars and VmVerifyArrays: every fault reported, counted and
// recorded, the last one left in the record, and the summary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "support/log_capture.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

Var withClass(uint8_t typeClass, const Value &value = Value::dint(0), bool load = false) {
  Var v(value);
  v.typeClass = typeClass;
  v.load = load;
  return v;
}
Value reference(uint32_t segment, int32_t relative) {
  return Value::raw(VM_TYPE_DINT, segment, static_cast<uint32_t>(relative));
}

struct VarCase {
  const char *what;
  Var var;
  std::vector<std::string> errors;  // level-4 messages for var 0:00002 (or 1:00002)
  int32_t code = 0;
  uint32_t address = 0, arg1 = 0, arg2 = 0;
};

const VarCase kVarCases[] = {
    {"class 1", withClass(1), {}},
    {"class 7", withClass(7), {}},
    {"class 0", withClass(0), {"error 111 of var 0:00002: Unknown type class (0)\n"}, 111, 0, 0, 0},
    {"class 13", withClass(13), {"error 111 of var 0:00002: Unknown type class (13)\n"}, 111, 0, 0, 13},
    {"class 8", withClass(8), {"error 111 of var 0:00002: Unknown type class (8)\n"}, 111, 0, 0, 8},
    {"array reference to the local segment", withClass(5, reference(1, 3)), {}},
    {"array reference with load flag", withClass(5, reference(0, 0), true), {}},
    {"array reference to segment index 2", withClass(5, reference(2, 0)),
     {"error 112 at var 0:00002: Invalid array address (2:00000)\n"}, 112, 0, 2, 0},
    {"array reference with offset -1", withClass(5, reference(0, -1)),
     {"error 112 at var 0:00002: Invalid array address (0:-0001)\n"}, 112, 0, 0, 0xFFFFFFFFu},
    {"a DINT var holding a bad reference is fine", withClass(1, reference(9, -9)), {}},
};

std::vector<std::string> withPrefix(const std::vector<std::string> &texts) {
  std::vector<std::string> out;
  for (const std::string &t : texts) out.push_back("Program \"TEST\" (1) " + t);
  return out;
}

TEST(VerifyVars, ChecksEveryVarsClassAndArrayReference) {
  for (const VarCase &c : kVarCases) {
    SCOPED_TRACE(c.what);
    ImageBuilder b;
    b.var(b.segment(), c.var);
    b.command(0);
    test::TestMachine m(b);
    ASSERT_TRUE(m.ok());
    test::LogCapture log(10);
    EXPECT_EQ(VmVerifyVars(m.get()), c.errors.empty() ? 0 : -1);
    EXPECT_EQ(log.at(4), withPrefix(c.errors));
    EXPECT_EQ(m.state().errorCode, c.code);
    EXPECT_EQ(m.state().errorAddress, c.address);
    EXPECT_EQ(m.state().errorArg1, c.arg1);
    EXPECT_EQ(m.state().errorArg2, c.arg2);
    std::string summary = c.errors.empty() ? "Program \"TEST\" (1): Variables verification successful\n"
                                           : "Program \"TEST\" (1): Variables verification failed, found " +
                                                 std::to_string(c.errors.size()) + " errors\n";
    EXPECT_EQ(log.at(10), std::vector<std::string>{summary});
  }
}

TEST(VerifyVars, ReportsEveryFaultOfEverySegmentAndKeepsTheLast) {
  ImageBuilder b;
  uint32_t s0 = b.segment();
  b.var(s0, withClass(0));                      // 0:00002
  b.var(s0, withClass(1));                      // 0:00003
  uint32_t s1 = b.segment(1);
  b.var(s1, withClass(15));                     // 1:00002
  b.var(s1, withClass(5, reference(3, -2)));    // 1:00003
  b.command(0);
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  std::vector<uint8_t> before = m.image().bytes;
  test::LogCapture log(10);
  EXPECT_EQ(VmVerifyVars(m.get()), -1);
  EXPECT_EQ(log.at(4), withPrefix({"error 111 of var 0:00002: Unknown type class (0)\n",
                                   "error 111 of var 1:00002: Unknown type class (15)\n",
                                   "error 112 at var 1:00003: Invalid array address (3:-0002)\n"}));
  EXPECT_EQ(log.at(10),
            std::vector<std::string>{"Program \"TEST\" (1): Variables verification failed, found 3 errors\n"});
  EXPECT_EQ(m.state().errorCode, 112);
  EXPECT_EQ(m.state().errorAddress, 1u);
  EXPECT_EQ(m.state().errorArg1, 3u);
  EXPECT_EQ(m.state().errorArg2, uint32_t(-2));
  // Nothing but the error record changed.
  uint32_t state = m.image().header().stateOffset;
  for (size_t i = 0; i < before.size(); ++i) {
    if (i >= state && i < state + 20) continue;
    ASSERT_EQ(before[i], m.image().bytes[i]) << "byte " << i;
  }
}

TEST(VerifyArrays, SucceedsOnWhatSetUpAccepted) {
  ImageBuilder b;
  b.segment();
  b.command(0);
  test::TestMachine none(b);
  b.array(Array{VM_TYPE_DINT, 2, 3, 1, {}, 0});
  test::TestMachine some(b);
  ASSERT_TRUE(none.ok());
  ASSERT_TRUE(some.ok());
  test::LogCapture log(10);
  EXPECT_EQ(VmVerifyArrays(none.get()), 0);
  EXPECT_EQ(VmVerifyArrays(some.get()), 0);
  EXPECT_EQ(log.at(10), std::vector<std::string>(2, "Program \"TEST\" (1): Arrays verification successful\n"));
}

TEST(VerifyArrays, ReportsBothTestsOfEveryArray) {
  ImageBuilder b;
  b.segment();
  for (int j = 0; j < 3; ++j) b.array(Array{VM_TYPE_LREAL, 1, 2, 1, {}, 0});
  b.command(0);
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  // A program may overwrite array records after set-up.
  m.image().arrayRecord(0).elementSize = 0;
  m.image().arrayRecord(2).elementSize = 0;
  m.image().arrayRecord(2).elementCount = 0;
  test::LogCapture log(10);
  EXPECT_EQ(VmVerifyArrays(m.get()), -1);
  EXPECT_EQ(log.at(4), withPrefix({"error 114 of array 0: Invalid array element size (0)\n",
                                   "error 114 of array 2: Invalid array element size (0)\n",
                                   "error 115 of array 2: Invalid array element count (0)\n"}));
  EXPECT_EQ(log.at(10), std::vector<std::string>{"Program \"TEST\" (1): Arrays verification failed, found 3 errors\n"});
  EXPECT_EQ(m.state().errorCode, 115);
  EXPECT_EQ(m.state().errorAddress, 0u);
  EXPECT_EQ(m.state().errorArg1, 2u);
  EXPECT_EQ(m.state().errorArg2, 0u);
}

TEST(VerifyData, NullMachine) {
  EXPECT_EQ(VmVerifyVars(nullptr), -1);
  EXPECT_EQ(VmVerifyArrays(nullptr), -1);
}

}  // namespace
