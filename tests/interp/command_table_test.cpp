// The command table: 164 commands among the codes 0..280, the rest unknown,
// and a sample of rows that fixes codes, mnemonics and operand types.
#include <gtest/gtest.h>

#include "interp/command_table.h"

using namespace sicvm;

namespace {

TEST(CommandTable, Has164CommandsAnd117CodesWithout) {
  int defined = 0;
  for (uint32_t code = 0; code < VM_COMMAND_CODES; ++code) {
    const CommandInfo &info = kCommands[code];
    EXPECT_EQ(info.code, code);
    const bool named = info.mnemonic[0] != '\0';
    EXPECT_EQ(named, hasCommand(code)) << code;
    if (named) {
      EXPECT_EQ(codeOf(info.mnemonic), int(code)) << "one code per mnemonic";
    } else {
      EXPECT_EQ(info.src1Type | info.src2Type, 0) << code;
    }
    defined += named;
  }
  EXPECT_EQ(defined, 164);
  EXPECT_EQ(VM_COMMAND_CODES - defined, 117);
  EXPECT_EQ(commandInfo(281), nullptr);
  EXPECT_TRUE(hasCommand(0x7FFF0000u | 31)) << "only the low 16 bits name the command";
  const struct { uint16_t code; const char *mnemonic; uint8_t src1, src2; } rows[] = {
      {4, "code_version", 0, 0},  {15, "aget", 0, VM_TYPE_DINT}, {36, "add_dt_time", VM_TYPE_DT, VM_TYPE_TIME},
      {58, "mul_time_lreal", VM_TYPE_TIME, VM_TYPE_LREAL},       {147, "ror_int", VM_TYPE_INT, VM_TYPE_INT},
      {197, "if_eq", VM_TYPE_BOOL, 0},                           {263, "real_trunc_dint", VM_TYPE_REAL, 0},
      {280, "dt_to_lreal", VM_TYPE_DT, 0}};
  for (const auto &row : rows) {
    EXPECT_STREQ(kCommands[row.code].mnemonic, row.mnemonic);
    EXPECT_EQ(kCommands[row.code].src1Type, row.src1) << row.mnemonic;
    EXPECT_EQ(kCommands[row.code].src2Type, row.src2) << row.mnemonic;
  }
}

}  // namespace
