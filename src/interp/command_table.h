// The command table as data: code, mnemonic, required operand types, and
// the families by which the interpreter, the verifier and the listing treat
// each code. Generated from commands.def.
#pragma once

#include <cstdint>
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

struct CommandInfo {
  uint16_t code;
  const char *mnemonic;  // "" for a code without a command
  uint8_t src1Type;      // value type code, 0 = none
  uint8_t src2Type;
  Family family;
  Check check;
  Listing listing;
};

namespace detail {
enum : uint8_t { NONE = 0, BOOL = 1, DINT = 2, LREAL = 3, INT = 4, REAL = 5, TIME = 6, DT = 7 };
}  // namespace detail

inline constexpr CommandInfo kCommands[VM_COMMAND_CODES] = {
#define VM_COMMAND(code, mnemonic, t1, t2, family, check, listing)                              \
  {code, #mnemonic, detail::t1, detail::t2, Family::family, Check::check, Listing::listing},
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

// Whether a command can leave a math error: the ones that call the math
// library or the host's date-time functions, library calls and the point
// commands (which call into the host). No other command can set the math
// error word or errno, so the step loop neither clears nor reads it around
// them; for a single thread that is the same as clearing before and reading
// after every command.
constexpr bool mayRaiseMath(uint16_t code) {
  const Family family = kCommands[code].family;
  return family == Family::MATH || family == Family::CALL || family == Family::POINTS ||
         code == op("mod_real") || code == op("mod_lreal") || code == op("expt_real") ||
         code == op("expt_lreal") || code == op("add_dt_time") || code == op("sub_dt") ||
         code == op("sub_dt_time") || code == op("cmd_time") || code == op("cmd_dt");
}

}  // namespace sicvm
