// SPDX-License-Identifier: MIT
// The rules that tie the command table's operation, flow and errors columns
// to the rest of a row: each broken rule is caught, with its reason.
#include <gtest/gtest.h>

#include <string>

#include "interp/command_table.h"

namespace sicvm {
namespace {

struct Broken {
  const char *mnemonic;
  void (*change)(CommandInfo &);
  const char *fault;
};

TEST(CommandTable, EveryBrokenColumnIsCaught) {
  const Broken cases[] = {
      {"add_int", [](CommandInfo &c) { c.operation = Operation::SUB; },
       "the operation is not the mnemonic's first word"},
      {"div_dint", [](CommandInfo &c) { c.errors = Errors::SAFE; },
       "a command that can fail is marked SAFE"},
      {"shr_int", [](CommandInfo &c) { c.errors = Errors::SAFE; },
       "a command that can fail is marked SAFE"},
      {"aget", [](CommandInfo &c) { c.errors = Errors::SAFE; },
       "a command that can fail is marked SAFE"},
      {"sqrt_real", [](CommandInfo &c) { c.errors = Errors::FAILS; },
       "a command that calls out of the interpreter is not MATH"},
      {"call", [](CommandInfo &c) { c.errors = Errors::SAFE; },
       "a command that calls out of the interpreter is not MATH"},
      {"jmp_lt", [](CommandInfo &c) { c.operation = Operation::LE; },
       "the condition is not the mnemonic's last word"},
      {"test_ge", [](CommandInfo &c) { c.operation = Operation::NONE; },
       "the condition is not the mnemonic's last word"},
      {"mov", [](CommandInfo &c) { c.operation = Operation::ADD; },
       "an operation on a command that has none"},
      {"neg_int", [](CommandInfo &c) { c.check = Check::BINARY; },
       "a unary operation whose operands are checked otherwise"},
      {"jmp", [](CommandInfo &c) { c.flow = Flow::BRANCH; },
       "the flow does not match the command's check"},
      {"if_ne", [](CommandInfo &c) { c.flow = Flow::NEXT; },
       "the flow does not match the command's check"},
      {"ret", [](CommandInfo &c) { c.flow = Flow::JUMP; },
       "the flow does not match the command's check"},
      {"mul_real", [](CommandInfo &c) { c.family = Family::BITS; },
       "a bit command without a bit operation"},
      {"and_int", [](CommandInfo &c) { c.family = Family::ARITH; },
       "an arithmetic command without an arithmetic operation"},
  };
  for (const Broken &b : cases) {
    SCOPED_TRACE(b.mnemonic);
    CommandInfo row = kCommands[codeOf(b.mnemonic)];
    EXPECT_EQ(detail::rowFault(row), nullptr);
    b.change(row);
    const char *fault = detail::rowFault(row);
    ASSERT_NE(fault, nullptr);
    EXPECT_EQ(std::string(fault), b.fault);
  }

  CommandInfo unknown = kCommands[2];
  unknown.errors = Errors::SAFE;
  EXPECT_NE(detail::rowFault(unknown), nullptr);
}

} // namespace
} // namespace sicvm
