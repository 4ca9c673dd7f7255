// The command table: 164 commands among the codes 0..280, the rest unknown,
// and a sample of rows with their mnemonics, types and families.
#include <gtest/gtest.h>

#include "interp/command_table.h"

using namespace sicvm;

namespace {

TEST(CommandTable, Has164CommandsAnd117CodesWithout) {
  int defined = 0, undefined = 0;
  for (uint32_t code = 0; code < VM_COMMAND_CODES; ++code) {
    const CommandInfo &info = kCommands[code];
    EXPECT_EQ(info.code, code);
    const bool named = info.mnemonic[0] != '\0';
    EXPECT_EQ(named, info.family != Family::NONE) << "code " << code;
    EXPECT_EQ(named, hasCommand(code)) << "code " << code;
    if (!named) {
      EXPECT_EQ(info.src1Type, 0) << "code " << code;
      EXPECT_EQ(info.src2Type, 0) << "code " << code;
    }
    (named ? defined : undefined) += 1;
  }
  EXPECT_EQ(defined, 164);
  EXPECT_EQ(undefined, 117);
  EXPECT_EQ(commandInfo(281), nullptr);
  EXPECT_FALSE(hasCommand(0xFFFF));
  EXPECT_TRUE(hasCommand(0x7FFF0000u | 31)) << "only the low 16 bits name the command";
}

TEST(CommandTable, SampleRows) {
  struct Row {
    uint16_t code;
    const char *mnemonic;
    uint8_t src1, src2;
    Family family;
  } rows[] = {
      {0, "nop", 0, 0, Family::CONTROL},
      {4, "code_version", 0, 0, Family::CONTROL},
      {15, "aget", 0, VM_TYPE_DINT, Family::ARRAY},
      {18, "acopy_abs", VM_TYPE_DINT, 0, Family::ARRAY},
      {36, "add_dt_time", VM_TYPE_DT, VM_TYPE_TIME, Family::ARITH},
      {46, "sub_dt", VM_TYPE_DT, VM_TYPE_DT, Family::ARITH},
      {58, "mul_time_lreal", VM_TYPE_TIME, VM_TYPE_LREAL, Family::ARITH},
      {82, "expt_lreal", VM_TYPE_LREAL, VM_TYPE_LREAL, Family::ARITH},
      {120, "log2_lreal", VM_TYPE_LREAL, VM_TYPE_LREAL, Family::MATH},
      {147, "ror_int", VM_TYPE_INT, VM_TYPE_INT, Family::BITS},
      {151, "not_bool", VM_TYPE_BOOL, VM_TYPE_BOOL, Family::BITS},
      {177, "cmd_dt", VM_TYPE_DT, VM_TYPE_DT, Family::COMPARE},
      {197, "if_eq", VM_TYPE_BOOL, 0, Family::CONTROL},
      {202, "load_points", 0, 0, Family::POINTS},
      {210, "call", 0, 0, Family::CALL},
      {220, "ret", 0, 0, Family::CONTROL},
      {233, "timer_value", 0, 0, Family::TIMER},
      {263, "real_trunc_dint", VM_TYPE_REAL, 0, Family::CONVERT},
      {280, "dt_to_lreal", VM_TYPE_DT, 0, Family::CONVERT},
  };
  for (const Row &row : rows) {
    const CommandInfo &info = kCommands[row.code];
    EXPECT_STREQ(info.mnemonic, row.mnemonic);
    EXPECT_EQ(info.src1Type, row.src1) << row.mnemonic;
    EXPECT_EQ(info.src2Type, row.src2) << row.mnemonic;
    EXPECT_EQ(info.family, row.family) << row.mnemonic;
    EXPECT_EQ(codeOf(row.mnemonic), row.code);
  }
  for (uint16_t code : {2, 3, 19, 37, 139, 200, 245, 279}) EXPECT_FALSE(hasCommand(code)) << code;
}

}  // namespace
