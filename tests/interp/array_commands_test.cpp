// aget, aput, acopy and acopy_abs: element bounds (negative indexes
// included), references through operands and vars, the copies' checks.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "interp/family_run.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

constexpr uint32_t kOut = 2, kRef = 3;  // global vars

// Global var 2 receives results; var 3 holds the reference (0, 1) to array 1.
// Arrays (DINT): 0 and 1 4 x 1 (10.., 20..); 2 5 x 1 (30..); 3 2 elements of
// size 2 (40..), 48 bytes like arrays 0 and 1.
test::TestMachine arrayMachine(uint16_t code, const Operand &src1, const Operand &src2, const Operand &dst) {
  ImageBuilder b;
  uint32_t g0 = b.segment();
  b.var(g0, Var(Value::raw(VM_TYPE_DINT, 0xAAAAAAAAu, 0xAAAAAAAAu)));
  Var reference(Value::raw(VM_TYPE_DINT, 0, 1));
  reference.typeClass = VM_CLASS_ARRAY_REF;
  b.var(g0, reference);
  const uint32_t shapes[][3] = {{1, 4, 10}, {1, 4, 20}, {1, 5, 30}, {2, 2, 40}};
  for (const auto &s : shapes) {
    std::vector<Value> init;
    for (uint32_t i = 0; i < s[0] * s[1]; ++i) init.push_back(Value::dint(int32_t(s[2] + i)));
    b.array(Array{VM_TYPE_DINT, s[0], s[1], 1, init, 0});
  }
  b.command(code, src1, src2, dst);
  b.command(op("ret"));
  test::TestMachine m(b);
  EXPECT_TRUE(m.ok());
  for (uint32_t x = 0; x < 4; ++x) m.arrayCell(1, x).type = 0x77;
  return m;
}

// The value fields of every cell of the four arrays, in order.
std::vector<uint64_t> allCells(test::TestMachine &m) {
  std::vector<uint64_t> cells;
  for (uint32_t j = 0; j < 4; ++j)
    for (uint32_t x = 0; x < (j == 2 ? 5u : 4u); ++x) cells.push_back(test::bitsOf(m.arrayCell(j, x)));
  return cells;
}

TEST(ArrayCommands, ElementsExistOnlyBelowTheCountAsUnsigned) {
  const struct {
    int32_t index;
    Operand reference;
    int32_t array;  // the array the reference names (-1: none, or no such element)
  } cases[] = {{0, Operand::array(0, 0), 0},  {3, Operand::array(0, 0), 0},  {2, g(kRef), 1},
               {1, Operand::array(0, 2), 2},  {4, Operand::array(0, 0), -1}, {-1, Operand::array(0, 0), -1},
               {INT32_MIN, Operand::array(0, 1), -1}, {0, Operand::array(0, 4), -1},
               {0, Operand::array(2, 0), -1},  {0, Operand::array(1, 0), -1}};
  const uint64_t stored = 0x5566778811223344ull;
  for (const auto &k : cases) {
    SCOPED_TRACE(k.index);
    const bool exists = k.array >= 0;
    const test::Recorded error = exists ? test::Recorded{} : test::Recorded{8, 0, uint32_t(k.index), 0};
    test::LogCapture log(10);
    test::TestMachine get = arrayMachine(op("aget"), k.reference, c(Value::dint(k.index)), g(kOut));
    EXPECT_EQ(VmRunProgram(get.get(), 0, 0), 2);
    const uint64_t element = exists ? test::bitsOf(get.arrayCell(k.array, k.index)) : 0;
    EXPECT_EQ(test::bitsOf(get.globalCell(kOut)), element) << "all 8 bytes";
    EXPECT_EQ(test::recorded(get), error);
    EXPECT_EQ(log.has("Program \"TEST\" (1) error 8 at addr 00000: Array element index out of bounds (" +
                      std::to_string(k.index) + ")\n"),
              !exists);

    test::TestMachine put = arrayMachine(op("aput"), c(Value::dint(k.index)),
                                         c(Value::raw(VM_TYPE_LREAL, 0x11223344, 0x55667788)), k.reference);
    std::vector<uint64_t> expected = allCells(put);
    if (exists) expected[(k.array == 0 ? 0 : k.array == 1 ? 4 : 8) + k.index] = stored;
    EXPECT_EQ(VmRunProgram(put.get(), 0, 0), 2);
    EXPECT_EQ(test::recorded(put), error);
    EXPECT_EQ(allCells(put), expected);
    EXPECT_EQ(put.arrayCell(1, 0).type, 0x77) << "type bytes stay";
  }
}

TEST(ArrayCommands, CopiesCheckSourceThenDestinationThenSizes) {
  const struct {
    const char *name;
    uint16_t code;
    Operand from, to;
    test::Recorded error;
    const char *message;
    int32_t target;  // the array that receives 10..13 (-1: none)
  } cases[] = {
      {"4 to 4", op("acopy"), Operand::array(0, 0), Operand::array(0, 1), {}, "", 1},
      {"through a var", op("acopy"), Operand::array(0, 0), g(kRef), {}, "", 1},
      {"4x1 to 2x2", op("acopy"), Operand::array(0, 0), Operand::array(0, 3), {}, "", 3},
      {"4 to 5", op("acopy"), Operand::array(0, 0), Operand::array(0, 2), {117, 0, 0, 2},
       "Arrays 0 and 2 size mismatch (48, 60)\n", -1},
      {"no source", op("acopy"), Operand::array(0, 9), Operand::array(1, 2), {112, 0, 0, 9},
       "Invalid operand array address (0:9)\n", -1},
      {"no destination", op("acopy"), Operand::array(0, 0), Operand::array(1, 2), {112, 0, 1, 2},
       "Invalid operand array address (1:2)\n", -1},
      {"abs 4 to 4", op("acopy_abs"), c(Value::dint(0)), Operand::array(0, 1), {}, "", 1},
      {"abs no source", op("acopy_abs"), c(Value::dint(-1)), Operand::array(0, 7), {113, 0, 0xFFFFFFFFu, 0},
       "Invalid operand array absolute address (-1)\n", -1},
      {"abs no destination", op("acopy_abs"), c(Value::dint(0)), Operand::array(0, 7), {113, 0, 7, 0},
       "Invalid operand array absolute address (7)\n", -1},
      {"abs size", op("acopy_abs"), c(Value::dint(2)), Operand::array(0, 1), {117, 0, 2, 1},
       "Arrays 2 and 1 size mismatch (60, 48)\n", -1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    test::LogCapture log(4);
    test::TestMachine m = arrayMachine(c.code, c.from, Operand::none(), c.to);
    const bool fatal = c.error.code != 0;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), fatal ? 0 : 2);
    EXPECT_EQ(test::recorded(m), c.error);
    EXPECT_EQ(m->pc, fatal ? 0u : 0xFFFFFFFFu);
    if (fatal) {
      EXPECT_EQ(log.texts(), std::vector<std::string>{"Program \"TEST\" (1) error " + std::to_string(c.error.code) +
                                                      " at addr 00000: " + c.message});
    }
    for (int32_t to = 1; to <= 3; ++to)
      for (int32_t x = 0; x < 4; ++x)
        EXPECT_EQ(m.arrayCell(to, x).v.i32, (to == c.target ? 10 : 10 * (to + 1)) + x) << to << "," << x;
    EXPECT_EQ(m.arrayCell(1, 0).type, 0x77) << "type bytes stay";
  }
}

// A program may overwrite array records: an array without elements, or whose
// cells would lie outside the image, is missing.
TEST(ArrayCommands, BrokenArrayRecordsAreMissing) {
  for (auto breakIt : {+[](VmArrayRecord &a) { a.elementCount = 0; }, +[](VmArrayRecord &a) { a.firstCell = 0xFFFFFF00u; },
                       +[](VmArrayRecord &a) { a.elementCount = 0x10000000u; }}) {
    test::TestMachine copy = arrayMachine(op("acopy"), Operand::array(0, 1), Operand::none(), Operand::array(0, 0));
    breakIt(copy.image().arrayRecord(1));
    EXPECT_EQ(VmRunProgram(copy.get(), 0, 0), 0);
    EXPECT_EQ(test::recorded(copy), (test::Recorded{112, 0, 0, 1}));
    test::TestMachine get = arrayMachine(op("aget"), Operand::array(0, 1), c(Value::dint(0)), g(kOut));
    breakIt(get.image().arrayRecord(1));
    EXPECT_EQ(VmRunProgram(get.get(), 0, 0), 2);
    EXPECT_EQ(test::recorded(get), (test::Recorded{8, 0, 0, 0}));
  }
}

}  // namespace
