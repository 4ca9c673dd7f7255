// SPDX-License-Identifier: MIT
// VmVerifyCode, group by group: the messages, the error counts, the record
// left behind and the summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "interp/command_table.h"
#include "interp/program.h"
#include "support/log_capture.h"
#include "support/machine.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

struct Outcome {
  int32_t result = 0;
  std::vector<std::string> errors;   // level 4
  std::vector<std::string> notices;  // level 7
  std::vector<std::string> summary;  // level 10
  VmStateBlock state{};
  bool onlyTheRecordChanged = false;  // the image is as before but for State Block words 0 to 4
};

// Verifies a program made of `commands` followed by a `ret`, logging up to `level`.
Outcome verify(const std::vector<Command> &commands, int level = 10) {
  ImageBuilder b;
  b.var(b.segment(), Var(Value::dint(0)));
  for (const Command &c : commands) b.command(c);
  b.command(op("ret"));
  test::TestMachine m(b);
  EXPECT_TRUE(m.ok());
  const std::vector<uint8_t> before = m.image().bytes;
  test::LogCapture log(level);
  Outcome out{VmVerifyCode(m.get()), log.at(4), log.at(7), log.at(10), m.state()};
  std::vector<uint8_t> after = m.image().bytes;
  const uint32_t state = m.image().header().stateOffset;
  std::copy(before.begin() + state, before.begin() + state + 20, after.begin() + state);
  out.onlyTheRecordChanged = after == before;
  return out;
}

// The line error `code` logs at `address`.
const auto at = test::errorLine;

Command cmd(uint32_t code, Operand src1 = Operand::none(), Operand src2 = Operand::none(),
            Operand dst = Operand::none()) {
  return Command{code, src1, src2, dst};
}

// Operand shorthands: kinds 1, 2, 3 and an arbitrary kind byte.
Operand K() { return c(Value::dint(0)); }
Operand V() { return g(0); }
Operand A() { return Operand::array(0, 0); }
Operand kindByte(uint8_t kind) { return Operand::words(kind, 0); }
Operand count(int32_t n) { return num(static_cast<uint32_t>(n)); }
// A call descriptor in SRC1 (function or target, type | class) and the
// counts in SRC2's low bytes (first, inputs, outputs).
Operand callee(uint32_t function, uint32_t descriptor) { return Operand::words(VM_KIND_CONST, function, descriptor); }
Operand params(uint8_t nin, uint8_t nout, uint8_t first = 0) {
  return Operand::words(VM_KIND_CONST, uint32_t(first) | uint32_t(nin) << 8 | uint32_t(nout) << 16);
}

struct Case {
  const char *what;
  Command command;
  std::vector<std::string> errors;  // messages at level 4, in order; empty = passes
  int32_t code = 0;                 // the code left in the record
  uint32_t arg1 = 0, arg2 = 0;
  std::vector<std::string> notices = {};  // level 7
};

// The operand kind message; `b` is the second kind accepted, 0 for none.
std::string kindText(int code, const char *operand, int found, int a, int b = 0) {
  return "Command " + std::to_string(code) + " invalid " + operand + " operand type (found " + std::to_string(found) +
         ", required " + std::to_string(a) + (b != 0 ? " or " + std::to_string(b) : "") + ")";
}

// A command whose operand kind is refused: error 108 with the kind found.
Case kindCase(const char *what, const Command &command, const char *operand, int found, int a, int b = 0) {
  return {what, command, {at(108, 0, kindText(static_cast<int32_t>(command.code), operand, found, a, b))}, 108,
          static_cast<uint32_t>(found)};
}

const Case kCases[] = {
    // No checks; code_version; mov.
    {"nop ignores its operands", cmd(op("nop"), A(), A(), kindByte(9)), {}},
    {"code_version of the current command set", cmd(op("code_version"), count(403)), {}},
    {"an older command set is a notice, not an error", cmd(op("code_version"), count(402)), {}, 0, 0, 0,
     {"Program \"TEST\" (1) command set is outdated (found 402, required 403)"}},
    kindCase("code_version needs a constant", cmd(op("code_version"), V()), "SRC1", 2, 1),
    kindCase("mov SRC1 array", cmd(op("mov"), A(), Operand::none(), V()), "SRC1", 3, 1, 2),
    kindCase("mov DST constant", cmd(op("mov"), V(), A(), K()), "DST", 1, 2),
    kindCase("mov prints the whole code word", cmd(0x0001000Au, K(), Operand::none(), K()), "DST", 1, 2),
    kindCase("mov prints a kind byte as signed", cmd(op("mov"), kindByte(0xFF), Operand::none(), V()), "SRC1", -1, 1,
             2),
    // Stack commands.
    kindCase("push_const needs a constant", cmd(op("push_const"), V()), "SRC1", 2, 1),
    {"push_vars count 0", cmd(op("push_vars"), V(), count(0)), {at(122, 0, "Invalid PUSH var count (0)")}, 122, 0},
    {"pop_vars count -1", cmd(op("pop_vars"), V(), count(-1)), {at(124, 0, "Invalid POP var count (-1)")}, 124,
     0xFFFFFFFFu},
    {"push_empty count 0", cmd(op("push_empty"), A(), count(0)), {at(122, 0, "Invalid PUSH empty count (0)")}, 122, 0},
    {"push_empty does not test SRC1", cmd(op("push_empty"), A(), count(3)), {}},
    // Arrays.
    kindCase("aget SRC1 var", cmd(op("aget"), V(), K(), V()), "SRC1", 2, 3),
    kindCase("aput checks DST first", cmd(op("aput"), A(), K(), V()), "DST", 2, 3),
    kindCase("aput then SRC1", cmd(op("aput"), A(), K(), A()), "SRC1", 3, 1, 2),
    kindCase("aput then SRC2", cmd(op("aput"), K(), K(), A()), "SRC2", 1, 2),
    kindCase("acopy DST var", cmd(op("acopy"), A(), K(), V()), "DST", 2, 3),
    kindCase("acopy_abs SRC1 array", cmd(op("acopy_abs"), A(), K(), A()), "SRC1", 3, 1, 2),
    // Arithmetic, logic, comparison.
    kindCase("add_int SRC2 array", cmd(op("add_int"), K(), A(), V()), "SRC2", 3, 1, 2),
    {"neg_int does not test SRC2", cmd(op("neg_int"), V(), A(), V()), {}},
    kindCase("frac_lreal DST array", cmd(op("frac_lreal"), V(), K(), A()), "DST", 3, 2),
    kindCase("cmd_dt SRC1 array", cmd(op("cmd_dt"), A(), K()), "SRC1", 3, 1, 2),
    kindCase("test_ge DST constant", cmd(op("test_ge"), A(), A(), K()), "DST", 1, 2),
    {"jmp beyond the code passes", cmd(op("jmp"), num(9999)), {}},
    kindCase("jmp_lt from a var", cmd(op("jmp_lt"), V()), "SRC1", 2, 1),
    kindCase("if_ne target from a var", cmd(op("if_ne"), V(), V()), "SRC2", 2, 1),
    // Data segments and points.
    {"set_ds index 2", cmd(op("set_ds"), num(2), K()), {at(118, 0, "Set DS is not global or local (2)")}, 118, 2},
    kindCase("set_ds kind before index", cmd(op("set_ds"), Operand::words(VM_KIND_ARRAY, 2), K()), "SRC1", 3, 1, 2),
    kindCase("set_ds index before SRC2", cmd(op("set_ds"), num(1), A()), "SRC2", 3, 1, 2),
    {"load_points index 7", cmd(op("load_points"), num(7)), {at(118, 0, "Load direct vars DS is not global or local (7)")},
     118, 7},
    {"save_points index -1", cmd(op("save_points"), num(0xFFFFFFFFu)),
     {at(118, 0, "Save direct vars DS is not global or local (-1)")}, 118, 0xFFFFFFFFu},
    {"timer SRC1 var ignores SRC2", cmd(op("timer_start"), V(), A(), V()), {}},
    kindCase("timer SRC1 array tests SRC2", cmd(op("timer_value"), A(), A(), V()), "SRC2", 3, 1, 2),
    kindCase("timer SRC1 constant", cmd(op("timer_stop"), K(), K(), V()), "SRC1", 1, 2, 3),
    kindCase("timer DST before SRC2", cmd(op("timer_started"), A(), A(), K()), "DST", 1, 2),
    // Unknown codes, including the holes among the conversions.
    {"code 178", cmd(178, K(), K()), {at(107, 0, "Unknown command code (178)")}, 107, 178},
    {"code 281", cmd(281, K(), K(), V()), {at(107, 0, "Unknown command code (281)")}, 107, 281},
    {"code 65535 with high bits", cmd(0x7FFFFFFFu), {at(107, 0, "Unknown command code (65535)")}, 107, 65535},
    // Calls.
    kindCase("call SRC2 array", cmd(op("call"), callee(1, 0x201), A()), "SRC2", 3, 1),
    {"call type 3 and class 0x300 count twice", cmd(op("call"), callee(1, 0x303), params(0, 0)),
     {at(127, 0, "Unknown call class (03)"), at(127, 0, "Unknown call type (300)")}, 127, 0x300},
    {"call type 0 with a good class", cmd(op("call"), callee(1, 0x200), params(0, 0)),
     {at(127, 0, "Unknown call class (00)")}, 127, 0},
    {"call inside the code to 0", cmd(op("call"), callee(0, 0x201), params(0, 0)),
     {at(109, 0, "Invalid call address (00000)")}, 109, 0},
    {"call inside the code beyond it", cmd(op("call"), callee(2, 0x402), params(0, 0)),
     {at(109, 0, "Invalid call address (00002)")}, 109, 2},
    {"call inside the code to 1", cmd(op("call"), callee(1, 0x401), params(0, 0)), {}},
    {"call descriptor high bits are not read", cmd(op("call"), callee(1, 0xABCD0201u), params(0, 0)), {}},
    {"Standard MAX with 33 inputs", cmd(op("call"), callee(1050, 0x101), params(33, 1)),
     {at(128, 0, "Standard function 1050 param count mismatch (error code 2)")}, 128, 1050, 2},
    {"Velmora 6002 is unknown", cmd(op("call"), callee(6002, 0x801), params(0, 1)),
     {at(128, 0, "Velmora function 6002 is unknown (error code 1)")}, 128, 6002, 1},
    {"Velmora gas counts", cmd(op("call"), callee(6106, 0x802), params(22, 4)),
     {at(128, 0, "Velmora function 6106 param count mismatch (error code 2)")}, 128, 6106, 2},
    {"Velmora date function checks from its table", cmd(op("call"), callee(6052, 0x801), params(1, 8)), {}},
    {"External without a procedure", cmd(op("call"), callee(5, 0x1001), params(1, 1)),
     {at(128, 0, "External function 5 is unknown (error code 1)")}, 128, 5, 1},
    {"bad type and an unknown library function", cmd(op("call"), callee(4499, 0x1FF), params(0, 0)),
     {at(127, 0, "Unknown call class (FF)"), at(128, 0, "Standard function 4499 is unknown (error code 1)")}, 128,
     4499, 1},
};

TEST(VerifyCode, ChecksEachGroupByItsRule) {
  VmSetExternalProc(nullptr);
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    Outcome out = verify({c.command});
    EXPECT_EQ(out.errors, c.errors);
    EXPECT_EQ(out.notices, c.notices);
    EXPECT_TRUE(out.onlyTheRecordChanged);
    EXPECT_EQ(out.result, c.errors.empty() ? 0 : -1);
    EXPECT_EQ(out.state.errorCode, c.code);
    if (c.code != 0) {
      EXPECT_EQ(out.state.errorAddress, 0u);
      EXPECT_EQ(out.state.errorArg1, c.arg1);
      EXPECT_EQ(out.state.errorArg2, c.arg2);
      EXPECT_EQ(out.state.statusFlags & VM_STATUS_ERROR, uint32_t(VM_STATUS_ERROR));
      std::string summary = "Program \"TEST\" (1): Code verification failed, found " +
                            std::to_string(c.errors.size()) + " errors\n";
      EXPECT_EQ(out.summary, std::vector<std::string>{summary});
    } else {
      EXPECT_EQ(out.summary, std::vector<std::string>{"Program \"TEST\" (1): Code verification successful\n"});
    }
  }
}

int32_t answers9(int32_t mode, int32_t, VmCell *frame, int32_t count, int32_t first, int32_t, int32_t,
                 VmMachine *) {
  // Check mode: no frame, no cells.
  return mode == 0 && frame == nullptr && count == 0 && first == 0 ? 9 : 99;
}
int32_t acceptsTwoInputs(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t nin, int32_t, VmMachine *) {
  return nin == 2 ? 0 : 2;
}

TEST(VerifyCode, AsksTheExternalProcedureRegisteredNow) {
  VmSetExternalProc(answers9);
  Outcome out = verify({cmd(op("call"), callee(77, 0x1002), params(2, 1))});
  EXPECT_EQ(out.errors, std::vector<std::string>{at(128, 0, "External function 77 unexpected error (error code 9)")});
  VmSetExternalProc(acceptsTwoInputs);
  EXPECT_EQ(verify({cmd(op("call"), callee(77, 0x1002), params(2, 1))}).result, 0);
  VmSetExternalProc(nullptr);
}

// Every error is counted and the last one stays in the record; below level
// 4 nothing is logged, but the count and the record are the same.
TEST(VerifyCode, CountsEveryErrorAndKeepsTheLast) {
  const std::vector<Command> program = {
      cmd(op("push_vars"), V(), count(0)),                     // 122
      cmd(op("nop")),                                          //
      cmd(op("call"), callee(0, 0x303), params(0, 0)),         // 127, 127
      cmd(178),                                                // 107
      cmd(op("load_points"), num(2)),                          // 118
  };
  Outcome out = verify(program);
  EXPECT_EQ(out.result, -1);
  ASSERT_EQ(out.errors.size(), 5u);
  EXPECT_EQ(out.errors[0], at(122, 0, "Invalid PUSH var count (0)"));
  EXPECT_EQ(out.errors[3], at(107, 3, "Unknown command code (178)"));
  EXPECT_EQ(out.errors[4], at(118, 4, "Load direct vars DS is not global or local (2)"));
  EXPECT_EQ(out.summary, std::vector<std::string>{"Program \"TEST\" (1): Code verification failed, found 5 errors\n"});
  EXPECT_EQ(out.state.errorCode, 118);
  EXPECT_EQ(out.state.errorAddress, 4u);
  EXPECT_EQ(out.state.errorArg1, 2u);
  EXPECT_EQ(out.state.runStatus, 0u);
  EXPECT_TRUE(out.onlyTheRecordChanged);
  Outcome quiet = verify(program, 0);
  EXPECT_EQ(quiet.result, -1);
  EXPECT_TRUE(quiet.errors.empty() && quiet.summary.empty());
  EXPECT_EQ(std::memcmp(&quiet.state, &out.state, sizeof out.state), 0);
  EXPECT_EQ(VmVerifyCode(nullptr), -1);
}

}  // namespace
