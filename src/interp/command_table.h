// SPDX-License-Identifier: MIT
// The command table as data: code, mnemonic, required operand types, and
// the families by which the interpreter, the verifier and the listing treat
// each code. Generated from commands.def.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

#include "sicvm/image.h"

namespace sicvm {

// Interpreter families: which handler executes the command.
enum class Family : uint8_t { NONE, CONTROL, ARRAY, ARITH, MATH, BITS, COMPARE, POINTS, CALL, TIMER, CONVERT };

// Verifier rules for the operands of a command.
enum class Check : uint8_t {
  UNKNOWN, NO_CHECK, CODE_VERSION, MOV, PUSH_CONST, PUSH_VARS, POP_VARS, PUSH_EMPTY,
  AGET, APUT, ACOPY, ACOPY_ABS, BINARY, UNARY, COMPARE, TEST, JUMP, IF, SET_DS,
  LOAD_POINTS, SAVE_POINTS, CALL, TIMER
};

// Shapes of a command's line in a listing.
enum class Listing : uint8_t {
  OTHER, BARE, CODE_VERSION, MOV, PUSH_CONST, PUSH_VARS, PUSH_EMPTY, AGET, APUT, ACOPY,
  ACOPY_ABS, BINARY, UNARY, COMPARE, TEST, JUMP, IF, SET_DS, POINTS, CALL, TIMER
};

// What an arithmetic or bit command computes, or the condition a test or
// conditional jump reads; CMP for the compares, NONE for every other row.
enum class Operation : uint8_t {
  NONE, ADD, SUB, MUL, DIV, MOD, EXPT, NEG, ABS, SHL, SHR, ROL, ROR, NOT, AND, OR, XOR, CMP, EQ, NE, LT, LE, GT, GE
};

// Where the program goes on after the command.
enum class Flow : uint8_t { NEXT, JUMP, BRANCH, CALL, RETURN };

// Which errors a command can record beyond those of finding its operands.
enum class Errors : uint8_t { SAFE, FAILS, MATH };

struct CommandInfo {
  uint16_t code;
  const char *mnemonic;  // "" for a code without a command
  uint8_t src1Type;      // value type code, 0 = none
  uint8_t src2Type;
  Family family;
  Check check;
  Listing listing;
  Operation operation;
  Flow flow;
  Errors errors;
};

namespace detail {
enum : uint8_t { NONE = 0, BOOL = 1, DINT = 2, LREAL = 3, INT = 4, REAL = 5, TIME = 6, DT = 7 };
}  // namespace detail

inline constexpr CommandInfo kCommands[VM_COMMAND_CODES] = {
#define VM_COMMAND(code, mnemonic, t1, t2, family, check, listing, operation, flow, errors)   \
  {code,           #mnemonic,          detail::t1,    detail::t2,   Family::family,          \
   Check::check,   Listing::listing,   Operation::operation, Flow::flow, Errors::errors},
#include "interp/commands.def"
#undef VM_COMMAND
};

// The row of a command code (low 16 bits of a code word), or null above 280.
constexpr const CommandInfo *commandInfo(uint32_t codeWord) {
  uint32_t code = codeWord & 0xFFFFu;
  return code < VM_COMMAND_CODES ? &kCommands[code] : nullptr;
}

constexpr bool hasCommand(uint32_t codeWord) {
  const CommandInfo *info = commandInfo(codeWord);
  return info != nullptr && info->family != Family::NONE;
}

// The code of a mnemonic, or -1 when no command has that name.
constexpr int codeOf(std::string_view mnemonic) {
  if (mnemonic.empty()) return -1;
  for (const CommandInfo &info : kCommands)
    if (mnemonic == info.mnemonic) return info.code;
  return -1;
}

// The code of a mnemonic known at compile time: op("add_int") == 31.
consteval uint16_t op(std::string_view mnemonic) {
  int code = codeOf(mnemonic);
  if (code < 0) throw "no command has this mnemonic";
  return static_cast<uint16_t>(code);
}

// Whether a command can leave a math error (its errors column is MATH). No
// other command can set the math error word or errno, so the step loop
// neither clears nor reads it around them; for a single thread that is the
// same as clearing before and reading after every command.
constexpr bool mayRaiseMath(uint16_t code) { return kCommands[code].errors == Errors::MATH; }

// Whether a command is unary: an arithmetic or bit command of one operand.
constexpr bool isUnary(uint16_t code) {
  const Operation o = kCommands[code].operation;
  return o == Operation::NEG || o == Operation::ABS || o == Operation::NOT;
}

namespace detail {
// The word each operation stands for in a mnemonic, in Operation's order.
inline constexpr std::string_view kOperationWords[] = {"",    "add", "sub", "mul", "div", "mod", "expt", "neg",
                                                       "abs", "shl", "shr", "rol", "ror", "not", "and",  "or",
                                                       "xor", "cmd", "eq",  "ne",  "lt",  "le",  "gt",   "ge"};
static_assert(std::size(kOperationWords) == size_t(Operation::GE) + 1);

constexpr bool startsWithWord(std::string_view name, std::string_view word) {
  return name.size() > word.size() && name.substr(0, word.size()) == word && name[word.size()] == '_';
}
constexpr bool endsWithWord(std::string_view name, std::string_view word) {
  return name.size() > word.size() && name.substr(name.size() - word.size()) == word &&
         name[name.size() - word.size() - 1] == '_';
}

// The rule of the operation, flow and errors columns that a row breaks, or
// null when it keeps them all. The columns are written by hand; these rules
// tie them to the mnemonic, the family and the verifier's check.
constexpr const char *rowFault(const CommandInfo &c) {
  const std::string_view name = c.mnemonic, word = kOperationWords[size_t(c.operation)];
  const bool compute = c.family == Family::ARITH || c.family == Family::BITS || c.family == Family::COMPARE;
  const bool condition = c.check == Check::TEST || c.check == Check::IF || (c.check == Check::JUMP && name != "jmp");
  if (c.family == Family::NONE)
    return c.operation == Operation::NONE && c.flow == Flow::NEXT && c.errors == Errors::FAILS
               ? nullptr
               : "a code without a command has no operation, flows on and fails";
  if (compute && !startsWithWord(name, word)) return "the operation is not the mnemonic's first word";
  if (c.family == Family::ARITH && (c.operation < Operation::ADD || c.operation > Operation::ABS))
    return "an arithmetic command without an arithmetic operation";
  if (c.family == Family::BITS && (c.operation < Operation::SHL || c.operation > Operation::XOR))
    return "a bit command without a bit operation";
  if (condition && (c.operation < Operation::EQ || !endsWithWord(name, word)))
    return "the condition is not the mnemonic's last word";
  if (!compute && !condition && c.operation != Operation::NONE) return "an operation on a command that has none";
  const bool unary = c.operation == Operation::NEG || c.operation == Operation::ABS || c.operation == Operation::NOT;
  if ((c.family == Family::ARITH || c.family == Family::BITS) && unary != (c.check == Check::UNARY))
    return "a unary operation whose operands are checked otherwise";
  const Flow flow = name == "jmp"                                    ? Flow::JUMP
                    : c.check == Check::JUMP || c.check == Check::IF ? Flow::BRANCH
                    : c.family == Family::CALL                       ? Flow::CALL
                    : name == "ret"                                  ? Flow::RETURN
                                                                     : Flow::NEXT;
  if (c.flow != flow) return "the flow does not match the command's check";
  const bool callsOut = c.family == Family::MATH || c.family == Family::CALL || c.family == Family::POINTS;
  if (callsOut && c.errors != Errors::MATH) return "a command that calls out of the interpreter is not MATH";
  const bool valueErrors = c.operation == Operation::DIV || c.operation == Operation::MOD ||
                           (c.operation >= Operation::SHL && c.operation <= Operation::ROR) ||
                           c.family == Family::ARRAY || c.family == Family::TIMER;
  if (valueErrors && c.errors == Errors::SAFE) return "a command that can fail is marked SAFE";
  return nullptr;
}

consteval bool tableIsConsistent() {
  for (uint16_t code = 0; code < VM_COMMAND_CODES; ++code) {
    if (kCommands[code].code != code) throw "a row out of order";
    if (const char *fault = rowFault(kCommands[code])) throw fault;
  }
  return true;
}
}  // namespace detail

static_assert(detail::tableIsConsistent());

}  // namespace sicvm
