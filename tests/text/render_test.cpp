// SPDX-License-Identifier: MIT
// Text rendering: mnemonics, addresses, typed values and whole listing lines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "interp/command_table.h"
#include "sicvm/text.h"
#include "sicvm/vm.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

std::string value(const Value &v, int32_t type) {
  VmCell cell{};
  cell.v = v.v;
  char text[VM_VALUE_TEXT_SIZE];
  return VmValueToStr(&cell, type, text);
}

VmCommand record(uint32_t code, const Operand &src1 = Operand::none(), const Operand &src2 = Operand::none(),
                 const Operand &dst = Operand::none()) {
  return {code, src1.kind, src2.kind, dst.kind, 0, src1.cell, src2.cell, dst.cell};
}

std::string line(const VmCommand &c) {
  char text[VM_CMD_TEXT_SIZE];
  return VmCmdToStr(&c, text);
}

std::string pad(const std::string &mnemonic) { return mnemonic + std::string(16 - mnemonic.size(), ' '); }

Operand call(uint32_t number, uint32_t descriptor) { return Operand::words(VM_KIND_CONST, number, descriptor); }

}  // namespace

TEST(OpCodeText, MnemonicsAndNumbers) {
  struct Case { uint32_t code; const char *text; } cases[] = {
      {0x10000 + 15, "aget"}, {280, "dt_to_lreal"}, {178, ""}, {281, "281"}, {0xFFFFFFFFu, "65535"},
  };
  for (const Case &c : cases) {
    char text[VM_OPCODE_TEXT_SIZE];
    EXPECT_STREQ(VmOpCodeToStr(c.code, text), c.text) << c.code;
  }
}

TEST(AddressText, CodeVarAndArrayAddressesUpToTheLargestWords) {
  char text[VM_ARRAY_ADDR_TEXT_SIZE];
  EXPECT_STREQ(VmAddrToStr(0xFFFFFFFFu, text), "4294967295");
  EXPECT_STREQ(VmVarAddrToStr(4294967295u, 4294967295u, text), "vars[4294967295:4294967295]");
  EXPECT_STREQ(VmArrayAddrToStr(4294967295u, 4294967295u, text), "arrays[vars[4294967295:00001]+4294967295]");
}

TEST(ValueText, EveryType) {
  struct Case { Value v; int32_t type; const char *text; } cases[] = {
      {Value::boolean(true), VM_TYPE_BOOL, "BOOL#1"},
      {Value::raw(1, 200, 0), VM_TYPE_BOOL, "BOOL#200"},
      {Value::dint(-2147483647 - 1), VM_TYPE_DINT, "DINT#-2147483648"},
      {Value::raw(4, 0x12345, 0), VM_TYPE_INT, "INT#9029"},  // only the low 16 bits
      {Value::lreal(123456789.0), VM_TYPE_LREAL, "LREAL#1.23457e+08"},
      {Value::real(-0.5f), VM_TYPE_REAL, "REAL#-0.5"},
      {Value::time(90061001), VM_TYPE_TIME, "T#1d_1h_1m_1s_1ms"},
      {Value::time(1500), VM_TYPE_TIME, "T#1s_500ms"},
      {Value::time(-60000), VM_TYPE_TIME, "T#-1m"},
      {Value::time(-0.4), VM_TYPE_TIME, "T#-"},  // negative, but nothing left after rounding
      {Value::time(std::nan("")), VM_TYPE_TIME, "T#0s"},
      {Value::dt(45356.296631944444), VM_TYPE_DT, "DT#2024-03-05-07:07:09"},
      {Value::dt(std::numeric_limits<double>::infinity()), VM_TYPE_DT, "DT#"},
      {Value::raw(0, 0xDEADBEEF, 0x7F), 0, "TYPE0#DEADBEEF0000007F"},
  };
  for (const Case &c : cases) EXPECT_EQ(value(c.v, c.type), c.text) << c.text;
}

TEST(CommandText, EveryListingShape) {
  struct Case { VmCommand c; std::string text; } cases[] = {
      {record(op("nop")), pad("nop")},
      {record(op("code_version"), num(406)), pad("code_version") + " 406"},
      {record(op("mov"), c(Value::lreal(2.5)), num(VM_TYPE_LREAL), g(4)), pad("mov") + " LREAL#2.5,vars[0:00004]"},
      {record(op("push_const"), c(Value::dint(-7)), num(VM_TYPE_DINT)), pad("push_const") + " DINT#-7"},
      {record(op("push_vars"), g(3), num(2)), pad("push_vars") + " vars[0:00003],2"},
      {record(op("push_empty"), Operand::none(), num(4)), pad("push_empty") + " 4"},
      {record(op("aget"), Operand::array(0, 2), c(Value::dint(3)), g(7)),
       pad("aget") + " vars[0:00007],arrays[vars[0:00001]+2][DINT#3]"},
      {record(op("aput"), g(2), c(Value::real(1.5f)), Operand::array(1, 0)),
       pad("aput") + " arrays[vars[1:00001]+0][vars[0:00002]],TYPE0#3FC0000000000000"},
      {record(op("acopy"), Operand::array(0, 1), Operand::none(), Operand::array(1, 4)),
       pad("acopy") + " arrays[vars[1:00001]+4],arrays[vars[0:00001]+1]"},
      {record(op("acopy_abs"), c(Value::dint(6)), Operand::none(), Operand::array(0, 0)),
       pad("acopy_abs") + " arrays[vars[0:00001]+0],DINT#6"},
      {record(op("add_int"), l(1), c(Value::int16(5)), l(3)),
       pad("add_int") + " vars[1:00003],vars[1:00001],INT#5"},
      {record(op("shl_dint"), Operand::words(7, 1, 2), g(1), g(2)),
       pad("shl_dint") + " vars[0:00002],op_type_7,vars[0:00001]"},
      {record(op("real_to_int"), g(2), Operand::none(), c(Value::dint(9))),
       pad("real_to_int") + " TYPE0#0000000900000000,vars[0:00002]"},
      {record(178, g(1), g(2)), std::string(16, ' ') + " vars[0:00001],vars[0:00002]"},
      {record(op("test_ge"), Operand::none(), Operand::none(), g(9)), pad("test_ge") + " vars[0:00009]"},
      {record(op("if_ne"), g(1), num(123456)), pad("if_ne") + " vars[0:00001],@123456"},
      {record(op("set_ds"), num(1), num(0xFFFFFFFFu)), pad("set_ds") + " vars[1:00000]+-1"},
      {record(op("load_points"), num(0)), pad("load_points") + " GDS"},
      {record(op("call"), call(1040, 0x101)), pad("call") + " @stdlib.1040"},
      {record(op("call"), call(12, 0x201)), pad("call") + " @00012"},
      {record(op("call"), call(6033, 0x801)), pad("call") + " @vellib.6033"},
      {record(op("call"), call(5, 0x302)), pad("call") + " [5]"},
      {record(op("timer_start"), g(4), Operand::none(), g(5)), pad("timer_start") + " vars[0:00005],vars[0:00004]"},
      {record(op("timer_value"), Operand::array(0, 1), c(Value::dint(2)), g(5)),
       pad("timer_value") + " vars[0:00005],arrays[vars[0:00001]+1][DINT#2]"},
      {record(op("timer_stop"), c(Value::dint(1)), Operand::none(), g(5)), pad("timer_stop") + " ?,?"},
      {record(0x80000000u), pad("nop")},  // the end marker is listed by its low 16 bits
      {record(300), "300 ?,?,?"},
  };
  for (const Case &c : cases) EXPECT_EQ(line(c.c), c.text);
}

TEST(CommandText, LongLinesAreCutAt127Characters) {
  VmCommand c = record(op("add_lreal"), Operand::array(4294967295u, 4294967295u),
                       Operand::array(4294967295u, 4294967295u), Operand::array(4294967295u, 4294967295u));
  char text[VM_CMD_TEXT_SIZE];
  std::memset(text, 'x', sizeof text);
  VmCmdToStr(&c, text);
  EXPECT_EQ(std::strlen(text), 127u);
  EXPECT_EQ(std::string(text, 24), pad("add_lreal") + " arrays[");
}

// Without a buffer each function writes its own static one; a null record
// gives "", and rendering never changes the host error number.
TEST(TextBuffers, StaticBuffersNullRecordsAndTheErrorNumber) {
  char *first = VmAddrToStr(1, nullptr);
  EXPECT_EQ(VmAddrToStr(2, nullptr), first);
  EXPECT_STREQ(first, "00002");
  EXPECT_NE(static_cast<void *>(VmVarAddrToStr(0, 0, nullptr)), static_cast<void *>(first));
  VmCommand c = record(op("jmp"), num(9));
  EXPECT_STREQ(VmCmdToStr(&c, nullptr), (pad("jmp") + " @00009").c_str());
  char text[VM_CMD_TEXT_SIZE] = "junk";
  EXPECT_STREQ(VmValueToStr(nullptr, VM_TYPE_DINT, text), "");
  EXPECT_STREQ(VmCmdToStr(nullptr, text), "");
  _winseterrno(5);
  value(Value::dt(std::nan("")), VM_TYPE_DT);
  value(Value::time(std::nan("")), VM_TYPE_TIME);
  EXPECT_EQ(_wingeterrno(), 5);
}
