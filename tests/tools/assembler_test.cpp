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

using namespace sicvm;
using namespace sicvm::assembly;
using namespace sicvm::build;

namespace {

const char *kDeclarations = R"(
.program TEST 7
.segment main base=0 arrays=0
.var level LREAL = 2.5
.var count DINT
.var on BOOL
.segment fb
.var in BOOL
.var pt TIME = T#5s
.array table DINT[4] = 1, 2, 3, 4
.array other DINT[2]
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
  VmCommand c{};
  c.code = code;
  c.src1Kind = src1.kind;
  c.src2Kind = src2.kind;
  c.dstKind = dst.kind;
  c.src1 = src1.cell;
  c.src2 = src2.cell;
  c.dst = dst.cell;
  return c;
}

std::string listing(const VmCommand &c) {
  char text[VM_CMD_TEXT_SIZE];
  return VmCmdToStr(&c, text);
}

}  // namespace

TEST(Assembler, CommandLinesBecomeTheirRecords) {
  struct Case {
    const char *line;
    VmCommand expected;
  } cases[] = {
      // Listing syntax as VmCmdToStr prints it.
      {"add_int          vars[1:00003],vars[1:00001],INT#5",
       record(op("add_int"), l(1), c(Value::int16(5)), l(3))},
      // Names, bare numbers in typed positions, blanks after commas.
      {"add_lreal level, level, 0.25", record(op("add_lreal"), g(2), c(Value::lreal(0.25)), g(2))},
      {"mov T#1m_30s, fb.pt", record(op("mov"), c(Value::time(90000)), num(VM_TYPE_TIME), l(3))},
      {"mov count, main.count", record(op("mov"), g(3), num(0), g(3))},
      {"push_const LREAL#1e-3", record(op("push_const"), c(Value::lreal(1e-3)), num(VM_TYPE_LREAL))},
      {"aget count, table[DINT#2]", record(op("aget"), Operand::array(0, 0), c(Value::dint(2)), g(3))},
      {"aget count, other[count]", record(op("aget"), Operand::array(0, 1), g(3), g(3))},
      {"aput arrays[vars[1:00001]+4][3],BOOL#1", record(op("aput"), c(Value::dint(3)), c(Value::boolean(true)),
                                                           Operand::array(1, 4))},
      {"acopy table, other", record(op("acopy"), Operand::array(0, 1), Operand::none(), Operand::array(0, 0))},
      {"push_vars vars[0:00002],3", record(op("push_vars"), g(2), num(3))},
      {"push_empty 2", record(op("push_empty"), Operand::words(1, 0), num(2))},
      {"cmd_dint count, DINT#-1", record(op("cmd_dint"), g(3), c(Value::dint(-1)))},
      {"test_ge on", record(op("test_ge"), Operand::none(), Operand::none(), g(4))},
      {"if_eq TRUE, @00007", record(op("if_eq"), c(Value::boolean(true)), num(7))},
      {"set_ds vars[0:00000]+1", record(op("set_ds"), num(0), num(1))},
      {"set_ds fb", record(op("set_ds"), num(0), num(1))},
      {"load_points GDS", record(op("load_points"), num(0))},
      {"save_points LDS", record(op("save_points"), num(1))},
      {"code_version 406", record(op("code_version"), num(406))},
      {"timer_start count, fb.pt", record(op("timer_start"), l(3), Operand::none(), g(3))},
      {"timer_value count,samples[DINT#1]",
       record(op("timer_value"), Operand::array(0, 2), c(Value::dint(1)), g(3))},
      {"timer_stop ?,?", record(op("timer_stop"))},
      {"call @stdlib.4531 type=2 first=fb.in nin=2 nout=2",
       record(op("call"), Operand::words(1, 4531, 0x102), Operand::words(1, 2 | 2 << 8 | 2 << 16))},
      {"call @vellib.6033 nin=1 nout=1", record(op("call"), Operand::words(1, 6033, 0x801), Operand::words(1, 0x10100))},
      {"call [5] class=0x300", record(op("call"), Operand::words(1, 5, 0x301), Operand::words(1, 0))},
      {"end", record(0x80000000u)},
      {"-2147483643 ?,?,?", record(0x80000005u)},
      {"#178 vars[0:00001],vars[0:00002]", record(178, g(1), g(2))},
      {"nop code=0x00010000 reserved=9 dst.kind=2 dst.w2=0xFFFFFFFF src2.head=0x00000104",
       [] {
         VmCommand c = record(0x10000);
         c.reserved = 9;
         c.dstKind = 2;
         c.dst.v.w[1] = 0xFFFFFFFFu;
         c.src2.type = 4;
         c.src2.flags = 1;
         return c;
       }()},
  };
  for (const Case &c : cases) {
    VmCommand got = commandOf(c.line);
    EXPECT_EQ(std::memcmp(&got, &c.expected, sizeof got), 0)
        << c.line << "\n  got      " << listing(got) << "\n  expected " << listing(c.expected);
  }
}

TEST(Assembler, LabelsAndListingAddresses) {
  VmCommand jump = commandOf(R"(
00007  jmp @done       ; a listing address in front is ignored
loop:  nop
       jmp_ne @loop
done:  call @loop
)",
                             0);
  EXPECT_EQ(jump.src1.v.w[0], 3u);
  EXPECT_EQ(commandOf("loop: nop\n jmp_ne @loop\n", 1).src1.v.w[0], 0u);
  VmCommand inCode = commandOf("nop\nsub: ret\ncall @sub\n", 2);
  EXPECT_EQ(inCode.src1.v.w[0], 1u);
  EXPECT_EQ(inCode.src1.v.w[1], uint32_t(VM_CALL_CODE | 1));
}

TEST(Assembler, DeclarationsBuildSegmentsVarsAndArrays) {
  Assembly a = assemble(R"(
.program "TANK CONTROL" -3
.stacks 4 8
.command_limit 500
.replication 12
.segment g base=0 arrays=0
.var level LREAL = 2.5 point=1001 field=value load
.var alarm BOOL point=1002 field=status save class=3
.var t TIME = T#1s flags=1
.var r ref cells
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
  EXPECT_EQ(v.header.replicationSize, 12u);
  EXPECT_EQ(v.machine.commandLimit, 500);
  ASSERT_EQ(v.segments.size(), 2u);
  ASSERT_EQ(v.segments[0].vars.size(), 6u);
  const auto &level = v.segments[0].vars[2];
  EXPECT_EQ(level.record.type, VM_TYPE_LREAL);
  EXPECT_EQ(level.record.classByte, 1 | VM_VAR_LOAD);
  EXPECT_EQ(level.record.pointId, 1001);
  EXPECT_EQ(level.record.pointField, 44);
  EXPECT_EQ(level.cell.v.f64, 2.5);
  const auto &alarm = v.segments[0].vars[3];
  EXPECT_EQ(alarm.record.classByte, 3 | VM_VAR_SAVE);
  EXPECT_EQ(alarm.record.pointField, 43);
  EXPECT_EQ(v.segments[0].vars[4].cell.flags, 1);
  EXPECT_EQ(v.segments[0].vars[4].cell.v.f64, 1000.0);
  const auto &ref = v.segments[0].vars[5];
  EXPECT_EQ(ref.record.classByte, VM_CLASS_ARRAY_REF);
  EXPECT_EQ(ref.cell.v.w[0], 0u);
  EXPECT_EQ(ref.cell.v.w[1], 0u);
  ASSERT_EQ(v.segments[1].vars.size(), 1u);  // raw: no base vars
  EXPECT_EQ(v.segments[1].vars[0].record.type, 300);
  EXPECT_EQ(v.segments[1].vars[0].cell.type, 9);
  EXPECT_EQ(v.segments[1].vars[0].cell.v.i16, -7);
  ASSERT_EQ(v.arrays.size(), 1u);
  EXPECT_EQ(v.arrays[0].record.elementSize, 2u);
  EXPECT_EQ(v.arrays[0].record.dimensions, 2u);
  ASSERT_EQ(v.arrays[0].cells.size(), 6u);
  const float expected[] = {1.5f, 2.0f, 3.0f, 4.0f, 0.0f, 0.0f};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(v.arrays[0].cells[i].v.f32, expected[i]) << i;
}

TEST(Assembler, ConstantsAtFullPrecision) {
  struct Case {
    const char *text;
    int type;
    double value;
  } cases[] = {
      {"LREAL#0.1", VM_TYPE_LREAL, 0.1},
      {"LREAL#1.2345678901234567", VM_TYPE_LREAL, 1.2345678901234567},
      {"LREAL#-inf", VM_TYPE_LREAL, -INFINITY},
      {"T#1d_1h_1m_1s_1ms", VM_TYPE_TIME, 90061001.0},
      {"T#1.5s", VM_TYPE_TIME, 1500.0},
      {"T#1500.25ms", VM_TYPE_TIME, 1500.25},
      {"T#-2m", VM_TYPE_TIME, -120000.0},
      {"TIME#10s", VM_TYPE_TIME, 10000.0},
      {"DT#1899-12-30-00:00:00", VM_TYPE_DT, 0.0},
      {"DT#1900-01-01-12:00:00", VM_TYPE_DT, 2.5},
      {"DT#45356.25", VM_TYPE_DT, 45356.25},
  };
  for (const Case &c : cases) {
    Cursor cursor(c.text);
    Constant k = readTypedConstant(cursor);
    EXPECT_EQ(k.type, c.type) << c.text;
    EXPECT_EQ(k.value.f64, c.value) << c.text;
  }
  Cursor real("REAL#16777217");  // read as a float, not through a double
  EXPECT_EQ(readTypedConstant(real).value.f32, 16777216.0f);
  Cursor negativeZero("T#-0ms");
  EXPECT_TRUE(std::signbit(readTypedConstant(negativeZero).value.f64));
}

TEST(Assembler, ExactConstantsReadBackBitForBit) {
  const double doubles[] = {0.1, -0.0, 1e-310, 123456.789, 1.0 / 3.0, INFINITY, NAN, 45356.296631944, 1500.4};
  for (int type : {int(VM_TYPE_LREAL), int(VM_TYPE_TIME), int(VM_TYPE_DT), int(VM_TYPE_REAL), int(VM_TYPE_INT), int(VM_TYPE_DINT), int(VM_TYPE_BOOL), 0, 9})
    for (double d : doubles) {
      VmValue v{};
      if (type == VM_TYPE_REAL) v.f32 = static_cast<float>(d);
      else v.f64 = d;
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
  struct Case {
    const char *source;
    const char *error;
  } cases[] = {
      {".segment g\n.var x DINT\nadd_int x, x, DINT#1\n", "t.asm:3:15: error: expected an INT constant, found 'DINT#1'"},
      {".segment g\n.var x DINT\nadd_dint x, x, DINT#5 nin=2\n", "t.asm:3:23: error: field 'nin' belongs to call commands only"},
      {".segment g\nfoo vars[0:00001]\n", "t.asm:2:1: error: unknown command 'foo'"},
      {".segment g\njmp @nowhere\n", "t.asm:2:6: error: unknown label 'nowhere'"},
      {".segment g\nmov DINT#1,y\n", "t.asm:2:12: error: unknown name 'y'"},
      {".segment g\nmov DINT#99999999999,vars[0:00001]\n", "t.asm:2:10: error: a DINT value out of range"},
      {".segment g\nadd_int vars[0:00001],vars[0:00001]\n", "t.asm:2:36: error: expected ','"},
      {".segment g\ncall @stdlib.1040 class=0x180\n", "t.asm:2:25: error: a call class is a multiple of 0x100"},
      {".segment g\n.var x DINT = T#1s\nret\n", "t.asm:2:15: error: expected a DINT value, found 'T#1s'"},
      {".segment g\n.var x TIME = 5\nret\n", "t.asm:2:15: error: expected a TIME constant"},
      {".var x DINT\nret\n", "t.asm:1:1: error: .var needs a .segment before it"},
      {".segment g\n.array a DINT[2] = 1, 2, 3\nret\n", "t.asm:2:26: error: array a has 2 cells: too many values"},
      {".segment g\n.frobnicate\nret\n", "t.asm:2:1: error: unknown directive '.frobnicate'"},
      {".segment g\nx: nop\nx: ret\n", "t.asm:3:1: error: label 'x' is already defined"},
      {".segment g\nmov DT#2024-02-30-00:00:00,vars[0:00001]\n", "t.asm:2:5: error: not a valid date and time"},
      {"ret\n", "t.asm: error: no data segment"},
      {".segment g\n", "t.asm: error: no commands"},
      {".segment g\n.size 400\nret\n", "t.asm:2: error: .size 400 is smaller than the blocks need"},
  };
  for (const Case &c : cases) {
    Assembly a = assemble(c.source, "t.asm");
    ASSERT_FALSE(a.ok()) << c.source;
    EXPECT_TRUE(a.image.empty());
    EXPECT_EQ(a.errors[0].text().rfind(c.error, 0), 0u) << a.errors[0].text() << "\n  expected: " << c.error;
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
