// aget, aput, acopy and acopy_abs: element bounds, negative indexes, array
// references through operands and vars, and the size checks of the copies.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "interp/family_run.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

// Global vars: 2 index (DINT), 3 out (DINT pattern), 4 a var holding the
// reference (0, 1) to array 1. Arrays: 0 and 1 DINT 4 x 1 (10..13, 20..23);
// 2 DINT 5 x 1; 3 DINT 2 elements of size 2 (48 bytes, as arrays 0 and 1).
struct ArrayProgram {
  ImageBuilder b;
  uint32_t index, out, ref;
  ArrayProgram() {
    uint32_t g0 = b.segment();
    index = b.var(g0, Var(Value::dint(0)));
    out = b.var(g0, Var(Value::raw(VM_TYPE_DINT, 0xAAAAAAAAu, 0xAAAAAAAAu)));
    Var reference(Value::raw(VM_TYPE_DINT, 0, 1));
    reference.typeClass = VM_CLASS_ARRAY_REF;
    ref = b.var(g0, reference);
    auto dints = [](int32_t first, int n) {
      std::vector<Value> v;
      for (int i = 0; i < n; ++i) v.push_back(Value::dint(first + i));
      return v;
    };
    b.array(Array{VM_TYPE_DINT, 1, 4, 1, dints(10, 4), 0});
    b.array(Array{VM_TYPE_DINT, 1, 4, 1, dints(20, 4), 0});
    b.array(Array{VM_TYPE_DINT, 1, 5, 1, dints(30, 5), 0});
    b.array(Array{VM_TYPE_DINT, 2, 2, 1, dints(40, 4), 0});
  }
};

TEST(ArrayCommands, AgetChecksTheIndexAsUnsigned) {
  const struct {
    int32_t index;
    Operand reference;
    uint64_t out;  // all 8 bytes of the element's value field, or 0
    bool error;
  } cases[] = {
      {0, Operand::array(0, 0), 10, false},
      {3, Operand::array(0, 0), 13, false},
      {2, g(4), 22, false},   // reference held by a var
      {1, Operand::array(0, 2), 31, false},
      {4, Operand::array(0, 0), 0, true},                  // index = element count
      {-1, Operand::array(0, 0), 0, true},
      {INT32_MIN, Operand::array(0, 0), 0, true},
      {0, Operand::array(0, 4), 0, true},                  // no array 4
      {0, Operand::array(2, 0), 0, true},                  // no segment slot 2
      {0, Operand::array(1, 0), 0, true},                  // no local segment
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.index);
    ArrayProgram p;
    p.b.command(op("aget"), c.reference, build::c(Value::dint(c.index)), g(p.out));
    p.b.command(op("ret"));
    test::TestMachine m(p.b);
    ASSERT_TRUE(m.ok());
    test::LogCapture log(10);
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
    EXPECT_EQ(test::bitsOf(m.globalCell(p.out)), c.out);
    EXPECT_EQ(test::recorded(m), (c.error ? test::Recorded{8, 0, uint32_t(c.index), 0} : test::Recorded{}));
    if (c.error) {
      EXPECT_TRUE(log.has("Program \"TEST\" (1) error 8 at addr 00000: Array element index out of bounds (" +
                          std::to_string(c.index) + ")\n"))
          << log.all();
    }
  }
}

TEST(ArrayCommands, AputStoresOnlyIntoExistingElements) {
  for (int32_t index : {0, 3, 4, -1}) {
    ArrayProgram p;
    p.b.command(op("aput"), g(p.index), c(Value::raw(VM_TYPE_LREAL, 0x11223344, 0x55667788)), Operand::array(0, 1));
    p.b.command(op("ret"));
    test::TestMachine m(p.b);
    ASSERT_TRUE(m.ok());
    m.globalCell(p.index).v.i32 = index;
    m.arrayCell(1, 0).type = 0x77;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
    const bool exists = index >= 0 && index < 4;
    for (uint32_t x = 0; x < 4; ++x) {
      const uint64_t expected = int32_t(x) == index ? 0x5566778811223344ull : uint64_t(20 + x);
      EXPECT_EQ(test::bitsOf(m.arrayCell(1, x)), expected)
          << "index " << index << " cell " << x;
    }
    // Neighbouring arrays are untouched.
    EXPECT_EQ(m.arrayCell(2, 0).v.i32, 30);
    EXPECT_EQ(m.arrayCell(0, 3).v.i32, 13);
    EXPECT_EQ(m.arrayCell(1, 0).type, 0x77) << "type bytes stay";
    EXPECT_EQ(test::recorded(m).code, exists ? 0 : 8) << index;
  }
}

TEST(ArrayCommands, CopiesCheckBothArraysAndTheirSizes) {
  const struct {
    const char *name;
    uint16_t code;
    Operand from, to;
    test::Recorded error;
    const char *message;
    int32_t toArray;  // where the copied values must land (-1: nothing copied)
  } cases[] = {
      {"4 to 4", op("acopy"), Operand::array(0, 0), Operand::array(0, 1), {}, nullptr, 1},
      {"through a var", op("acopy"), Operand::array(0, 0), g(4), {}, nullptr, 1},
      {"4x1 to 2x2", op("acopy"), Operand::array(0, 0), Operand::array(0, 3), {}, nullptr, 3},
      {"4 to 5", op("acopy"), Operand::array(0, 0), Operand::array(0, 2), {117, 0, 0, 2},
       "Arrays 0 and 2 size mismatch (48, 60)\n", -1},
      {"5 to 4", op("acopy"), Operand::array(0, 2), Operand::array(0, 0), {117, 0, 2, 0},
       "Arrays 2 and 0 size mismatch (60, 48)\n", -1},
      {"no source", op("acopy"), Operand::array(0, 9), Operand::array(0, 1), {112, 0, 0, 9},
       "Invalid operand array address (0:9)\n", -1},
      {"no destination", op("acopy"), Operand::array(0, 0), Operand::array(1, 2), {112, 0, 1, 2},
       "Invalid operand array address (1:2)\n", -1},
      {"abs 4 to 4", op("acopy_abs"), c(Value::dint(0)), Operand::array(0, 1), {}, nullptr, 1},
      {"abs no source", op("acopy_abs"), c(Value::dint(-1)), Operand::array(0, 1), {113, 0, 0xFFFFFFFFu, 0},
       "Invalid operand array absolute address (-1)\n", -1},
      {"abs no destination", op("acopy_abs"), c(Value::dint(0)), Operand::array(0, 7), {113, 0, 7, 0},
       "Invalid operand array absolute address (7)\n", -1},
      {"abs size", op("acopy_abs"), c(Value::dint(2)), Operand::array(0, 1), {117, 0, 2, 1},
       "Arrays 2 and 1 size mismatch (60, 48)\n", -1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ArrayProgram p;
    p.b.command(c.code, c.from, Operand::none(), c.to);
    p.b.command(op("ret"));
    test::TestMachine m(p.b);
    ASSERT_TRUE(m.ok());
    for (uint32_t x = 0; x < 4; ++x) m.arrayCell(1, x).type = 0x77;
    test::LogCapture log(4);
    const bool fatal = c.error.code != 0;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), fatal ? 0 : 2);
    EXPECT_EQ(test::recorded(m), c.error);
    if (fatal) {
      EXPECT_EQ(m.state().runStatus, uint32_t(VM_STOPPED));
      EXPECT_EQ(m->pc, 0u);
      EXPECT_EQ(log.texts(), std::vector<std::string>{"Program \"TEST\" (1) error " +
                                                      std::to_string(c.error.code) + " at addr 00000: " +
                                                      c.message});
    }
    for (uint32_t to = 1; to <= 3; ++to) {
      for (uint32_t x = 0; x < 4; ++x) {
        const int32_t original = int32_t(to == 1 ? 20 : to == 2 ? 30 : 40) + int32_t(x);
        const int32_t expected = int32_t(to) == c.toArray ? 10 + int32_t(x) : original;
        EXPECT_EQ(m.arrayCell(to, x).v.i32, expected) << "array " << to << " cell " << x;
      }
    }
    EXPECT_EQ(m.arrayCell(2, 4).v.i32, 34);
    EXPECT_EQ(m.arrayCell(1, 0).type, 0x77) << "type bytes stay";
  }
}

TEST(ArrayCommands, ArraysWithoutElementsOrCellsAreMissing) {
  const struct {
    const char *name;
    void (*breakIt)(VmArrayRecord &);
  } cases[] = {
      {"no elements", [](VmArrayRecord &a) { a.elementCount = 0; }},
      {"cells beyond the image", [](VmArrayRecord &a) { a.firstCell = 0xFFFFFF00u; }},
      {"count beyond the image", [](VmArrayRecord &a) { a.elementCount = 0x10000000u; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ArrayProgram p;
    p.b.command(op("acopy"), Operand::array(0, 1), Operand::none(), Operand::array(0, 0));
    p.b.command(op("aget"), Operand::array(0, 1), build::c(Value::dint(0)), g(p.out));
    p.b.command(op("ret"));
    test::TestMachine m(p.b);
    ASSERT_TRUE(m.ok());
    c.breakIt(m.image().arrayRecord(1));
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 0);
    EXPECT_EQ(test::recorded(m), (test::Recorded{112, 0, 0, 1}));
    VmClearLastError(m.get());
    m->pc = 1;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
    EXPECT_EQ(test::recorded(m), (test::Recorded{8, 1, 0, 0}));
    EXPECT_EQ(m.globalCell(p.out).v.i32, 0);
  }
}

}  // namespace
