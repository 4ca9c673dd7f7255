// SPDX-License-Identifier: MIT
// The assembler: command lines in the listing syntax with names, labels and
// fields; declarations; error reports with line and column.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "asm/assembler.h"
#include "asm/constants.h"
#include "asm/image_reader.h"
#include "builder/image_builder.h"
#include "interp/command_table.h"
#include "sicvm/text.h"
#include "sicvm/vm.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::assembly;
using namespace sicvm::build;

namespace {

const char *kDeclarations = R"(
.program TEST 7
.segment main base=0 arrays=0
.var level LREAL = 2.5
.var count DINT
.segment fb
.var in BOOL
.var pt TIME = T#5s
.array table DINT[4] = 1, 2, 3, 4
.array samples REAL[3]
)";

// Assembles the declarations above with `code` and returns command `address`.
VmCommand commandOf(const std::string &code, uint32_t address = 0) {
  Assembly a = assemble(std::string(kDeclarations) + code, "t.asm");
  EXPECT_TRUE(a.ok()) << (a.ok() ? "" : a.errors[0].text());
  ImageView view;
  std::string error;
  EXPECT_TRUE(readImage(a.image, view, error)) << error;
  return address < view.code.size() ? view.code[address] : VmCommand{};
}

VmCommand record(uint32_t code, const Operand &src1 = Operand::none(), const Operand &src2 = Operand::none(),
                 const Operand &dst = Operand::none()) {
  return {code, src1.kind, src2.kind, dst.kind, 0, src1.cell, src2.cell, dst.cell};
}

std::string listing(const VmCommand &c) {
  char text[VM_CMD_TEXT_SIZE];
  return VmCmdToStr(&c, text);
}

}  // namespace

TEST(Assembler, CommandLinesBecomeTheirRecords) {
  struct Case { const char *line; VmCommand expected; } cases[] = {
      // Names, bare numbers in typed positions, blanks after commas. The
      // listing syntax itself, raw fields and codes without a mnemonic are
      // covered by the listing and round-trip tests.
      {"add_lreal level, level, 0.25", record(op("add_lreal"), g(2), c(Value::lreal(0.25)), g(2))},
      {"mov T#1m_30s, fb.pt", record(op("mov"), c(Value::time(90000)), num(VM_TYPE_TIME), l(3))},
      {"aget count, table[DINT#2]", record(op("aget"), Operand::array(0, 0), c(Value::dint(2)), g(3))},
      {"if_eq TRUE, @00007", record(op("if_eq"), c(Value::boolean(true)), num(7))},
      {"set_ds fb", record(op("set_ds"), num(0), num(1))},
      {"timer_value count,samples[DINT#1]",
       record(op("timer_value"), Operand::array(0, 1), c(Value::dint(1)), g(3))},
      {"call @stdlib.4531 type=2 first=fb.in nin=2 nout=2",
       record(op("call"), Operand::words(1, 4531, 0x102), Operand::words(1, 2 | 2 << 8 | 2 << 16))},
      {"call @vellib.6033 nin=1 nout=1", record(op("call"), Operand::words(1, 6033, 0x801), Operand::words(1, 0x10100))},
  };
  for (const Case &c : cases) {
    VmCommand got = commandOf(c.line);
    EXPECT_EQ(std::memcmp(&got, &c.expected, sizeof got), 0)
        << c.line << "\n  got      " << listing(got) << "\n  expected " << listing(c.expected);
  }
}

TEST(Assembler, LabelsAndListingAddresses) {
  const std::string code = R"(
00007  jmp @done       ; a listing address in front is ignored
loop:  nop
       jmp_ne @loop
done:  call @loop
)";
  EXPECT_EQ(test::value(commandOf(code, 0).src1.v.w[0]), 3u);
  EXPECT_EQ(test::value(commandOf(code, 2).src1.v.w[0]), 1u);
  const VmCommand call = commandOf(code, 3);
  EXPECT_EQ(test::value(call.src1.v.w[0]), 1u);
  EXPECT_EQ(test::value(call.src1.v.w[1]), uint32_t(VM_CALL_CODE | 1));
}

TEST(Assembler, DeclarationsBuildSegmentsVarsAndArrays) {
  Assembly a = assemble(R"(
.program "TANK CONTROL" -3
.stacks 4 8
.command_limit 500
.segment g base=0 arrays=0
.var level LREAL = 2.5 point=1001 field=value load
.var alarm BOOL point=1002 field=status save class=3
.var t TIME = T#1s flags=1
.segment raw
.var INT = -7 celltype=9 rtype=300
.array cells REAL[3] size=2 dims=2 = 1.5, REAL#2
.data 3, 4
ret
)",
                        "decl.asm");
  ASSERT_TRUE(a.ok()) << a.errors[0].text();
  ImageView v;
  std::string error;
  ASSERT_TRUE(readImage(a.image, v, error)) << error;
  EXPECT_EQ(v.programName(), "TANK CONTROL");
  EXPECT_EQ(v.header.programNumber, -3);
  EXPECT_EQ(v.header.callStackSize, 4u);
  EXPECT_EQ(v.header.paramStackSize, 8u);
  EXPECT_EQ(v.machine.commandLimit, 500);
  ASSERT_EQ(v.segments.size(), 2u);
  ASSERT_EQ(v.segments[0].vars.size(), 5u);
  const auto &level = v.segments[0].vars[2];
  EXPECT_EQ(level.record.classByte, 1 | VM_VAR_LOAD);
  EXPECT_EQ(level.record.pointId, 1001);
  EXPECT_EQ(level.record.pointField, 44);
  EXPECT_EQ(test::value(level.cell.v.f64), 2.5);
  EXPECT_EQ(v.segments[0].vars[3].record.classByte, 3 | VM_VAR_SAVE);
  EXPECT_EQ(v.segments[0].vars[4].cell.flags, 1);
  EXPECT_EQ(test::value(v.segments[0].vars[4].cell.v.f64), 1000.0);
  ASSERT_EQ(v.segments[1].vars.size(), 1u);  // raw: no base vars
  EXPECT_EQ(v.segments[1].vars[0].record.type, 300);
  EXPECT_EQ(v.segments[1].vars[0].cell.type, 9);
  ASSERT_EQ(v.arrays.size(), 1u);
  EXPECT_EQ(v.arrays[0].record.elementSize, 2u);
  EXPECT_EQ(v.arrays[0].record.dimensions, 2u);
  ASSERT_EQ(v.arrays[0].cells.size(), 6u);
  const float expected[] = {1.5f, 2.0f, 3.0f, 4.0f, 0.0f, 0.0f};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(test::value(v.arrays[0].cells[i].v.f32), expected[i]) << i;
}

TEST(Assembler, ConstantsAtFullPrecisionAndExactTextReadBackBitForBit) {
  struct Case { const char *text; int type; double value; } cases[] = {
      {"LREAL#1.2345678901234567", VM_TYPE_LREAL, 1.2345678901234567},
      {"LREAL#-inf", VM_TYPE_LREAL, -INFINITY},
      {"T#1d_1h_1m_1s_1ms", VM_TYPE_TIME, 90061001.0},
      {"DT#1900-01-01-12:00:00", VM_TYPE_DT, 2.5},
      {"DT#45356.25", VM_TYPE_DT, 45356.25},
  };
  for (const Case &c : cases) {
    Cursor cursor(c.text);
    Constant k = readTypedConstant(cursor);
    EXPECT_EQ(k.type, c.type) << c.text;
    EXPECT_EQ(test::value(k.value.f64), c.value) << c.text;
  }
  const double doubles[] = {0.1, -0.0, 1e-310, 123456.789, 1.0 / 3.0, INFINITY, NAN, 45356.296631944, 1500.4};
  for (int type : std::initializer_list<int>{VM_TYPE_LREAL, VM_TYPE_TIME, VM_TYPE_DT, VM_TYPE_REAL, VM_TYPE_INT,
                                             VM_TYPE_DINT, VM_TYPE_BOOL, 0, 9})
    for (double d : doubles) {
      VmValue v{};
      if (type == VM_TYPE_REAL)
        v.f32 = static_cast<float>(d);
      else
        v.f64 = d;
      std::string text = exactConstant(type, v);
      Cursor cursor(text);
      Constant back = readTypedConstant(cursor);
      EXPECT_EQ(back.type, type) << text;
      EXPECT_EQ(std::memcmp(&back.value, &v, sizeof v), 0) << text;
    }
  VmValue v{};
  v.f64 = 1500.0;
  EXPECT_EQ(exactConstant(VM_TYPE_TIME, v), "T#1s_500ms");  // readable when exact
  v.f64 = 0.1;
  EXPECT_EQ(exactConstant(VM_TYPE_LREAL, v), "LREAL#0.1");  // shortest exact text
}

TEST(Assembler, ListingLinesReassembleToTheSameListing) {
  // Every command code with each operand kind: the listing text of a record
  // assembles to a record whose listing is the same text.
  const Operand operands[] = {g(3), l(12), c(Value::dint(-5)), Operand::array(0, 2), Operand::words(4, 1, 2),
                              Operand::none()};
  int checked = 0;
  for (uint32_t code = 0; code < VM_COMMAND_CODES; ++code)
    for (const Operand &a : operands)
      for (const Operand &b : operands) {
        VmCommand r = record(code, a, b, g(9));
        if (kCommands[code].mnemonic[0] == '\0' && kCommands[code].listing != Listing::OTHER) continue;
        std::string text = listing(r);
        VmCommand back{};
        std::string error;
        ASSERT_TRUE(assembleCommand(text, back, error)) << text << ": " << error;
        EXPECT_EQ(listing(back), text);
        ++checked;
      }
  EXPECT_GT(checked, 9000);
}

TEST(Assembler, ErrorsNameLineColumnAndWhatWasExpected) {
  struct Case { const char *source; const char *error; bool only = false; } cases[] = {
      {".segment g\n.var x INT\nadd_int x, x, DINT#1\n", "t.asm:3:15: error: expected an INT constant, found 'DINT#1'"},
      // Named vars must have the types the command works on.
      {".segment g\n.var a DINT\n.var b LREAL\nadd_dint a, b, 1\n", "t.asm:4:13: error: 'b' is an LREAL var; add_dint needs a DINT here"},
      {".segment g\n.var a DINT\n.var b LREAL\ndint_to_lreal a, a\n", "t.asm:4:15: error: 'a' is a DINT var; dint_to_lreal needs an LREAL here"},
      {".segment g\n.var a DINT\nmov LREAL#1.5, a\n", "t.asm:3:16: error: 'a' is a DINT var; mov needs an LREAL here"},
      {".segment g\n.var a DINT\ntest_gt a\n", "t.asm:3:9: error: 'a' is a DINT var; test_gt needs a BOOL here"},
      {".segment g\n.segment s\n.var t TIME\n.var d DT\nsub_dt s.d, s.d, s.d\n", "t.asm:5:8: error: 's.d' is a DT var; sub_dt needs a TIME here"},
      // Constants must fit their types; only 'inf' is infinite.
      {".segment g\n.var d BOOL = 2\n", "t.asm:2:15: error: '2' does not fit a BOOL (0, 1, TRUE or FALSE)"},
      {".segment g\n.var i INT = 40000\n", "t.asm:2:14: error: '40000' does not fit an INT (-32768 to 32767)"},
      {".segment g\n.var x LREAL\nadd_lreal x, x, LREAL#1e999\n", "t.asm:3:23: error: '1e999' is too large for an LREAL number"},
      // One mistake, one error: uses of a name whose declaration failed are not reported again.
      {".segment g\n.var k DINT = 3000000000\nadd_dint k, k, 1\nmov k, k\n", "t.asm:2:15: error: '3000000000' does not fit a DINT", true},
      {".segment g\n.segment s bogus\n.var q BOOL\nset_ds s\nmov s.q, s.q\n", "t.asm:2:12: error: expected base=N, arrays=N or raw", true},
      {".segment g\n.array a FLOAT[3]\n.data 1, 2\nmov a, a\n", "t.asm:2:10: error: expected an element type", true},
      {".segment g\nfoo vars[0:00001]\n", "t.asm:2:1: error: unknown command 'foo'"},
      {".segment g\njmp @nowhere\n", "t.asm:2:6: error: unknown label 'nowhere'"},
      {".segment g\nmov DINT#1,y\n", "t.asm:2:12: error: unknown name 'y'"},
      {".segment g\nmov DINT#99999999999,vars[0:00001]\n", "t.asm:2:10: error: a DINT value out of range"},
      {".segment g\nadd_int vars[0:00001],vars[0:00001]\n", "t.asm:2:36: error: expected ','"},
      {".var x DINT\nret\n", "t.asm:1:1: error: .var needs a .segment before it"},
      {".segment g\n.array a DINT[2] = 1, 2, 3\nret\n", "t.asm:2:26: error: array a has 2 cells: too many values"},
      {".segment g\n.frobnicate\nret\n", "t.asm:2:1: error: unknown directive '.frobnicate'"},
      {".segment g\nx: nop\nx: ret\n", "t.asm:3:1: error: label 'x' is already defined"},
      {"ret\n", "t.asm: error: no data segment"},
      {".segment g\n", "t.asm: error: no commands"},
  };
  for (const Case &c : cases) {
    Assembly a = assemble(c.source, "t.asm");
    ASSERT_FALSE(a.ok()) << c.source;
    EXPECT_TRUE(a.image.empty());
    EXPECT_EQ(a.errors[0].text().rfind(c.error, 0), 0u) << a.errors[0].text() << "\n  expected: " << c.error;
    if (c.only) {
      EXPECT_EQ(a.errors.size(), 1u) << c.source << a.errors.back().text();
    }
  }
}

TEST(Assembler, ReportsEveryErrorOfASource) {
  Assembly a = assemble(".segment g\nfoo\nbar\n.var x NOTYPE\nret\n", "t.asm");
  ASSERT_EQ(a.errors.size(), 3u);
  EXPECT_EQ(a.errors[0].line, 2u);  // in line order, although declarations are read first
  EXPECT_EQ(a.errors[1].line, 3u);
  EXPECT_EQ(a.errors[2].line, 4u);
  std::string many = ".segment g\n";
  for (int i = 0; i < 80; ++i) many += "bad\n";
  EXPECT_EQ(assemble(many, "t.asm").errors.size(), kMaxErrors);
}

TEST(Assembler, WarnsOfAProgramThatCanRunOffItsEnd) {
  struct Case {
    const char *code;
    bool warns;
  } cases[] = {
      {"add_dint a, a, 1\n", true},
      {"add_dint a, a, 1\nret\n", false},
      {"add_dint a, a, 1\nend\n", false},
      {"l: add_dint a, a, 1\njmp @l\n", false},
      {"cmd_dint a, DINT#0\njmp_eq @out\nret\nout: nop\n", true},  // a conditional jump reaches the last command
      {"call @sub\nret\nsub: ret\n", false},
      {"call @sub\nret\nsub: nop\n", true},                         // only a call reaches it
      {"ret\nnop\n", false},                                        // never reached
  };
  for (const Case &c : cases) {
    Assembly a = assemble(std::string(".segment g\n.var a DINT\n") + c.code, "t.asm");
    ASSERT_TRUE(a.ok()) << c.code << a.errors[0].text();
    EXPECT_EQ(a.warnings.size(), c.warns ? 1u : 0u) << c.code;
    if (c.warns) {
      EXPECT_EQ(a.warnings[0].text().rfind("t.asm:", 0), 0u);
      EXPECT_NE(a.warnings[0].text().find(": warning: the program can run off its end"), std::string::npos);
    }
  }
}
