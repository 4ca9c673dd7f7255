// SPDX-License-Identifier: MIT
// Control commands: nop, comment, code_version, mov, the param stack pushes
// and pops, the tests of the comparison flags, the jumps, if_eq / if_ne,
// set_ds, the call inside the program's own code, and ret.
//
// compareFlags holds the result of the last comparison: bit 0 equal, bit 1
// SRC1 less than SRC2. The test and jump commands read the two bits.
#pragma once

#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::control {

// The longer commands, out of line (control.cpp).
void pushVars(RunContext &ctx, VmCommand &cmd);
void popVars(RunContext &ctx, VmCommand &cmd);
void setDs(RunContext &ctx, VmCommand &cmd);
void ret(RunContext &ctx);
// `call` of class 0x200 or 0x400: jump into the program's own code.
void callInCode(RunContext &ctx, VmCommand &cmd);

// Whether the condition of the test or jump command `Code` holds.
template <uint16_t Code>
inline bool condition(uint32_t flags) {
  constexpr Check check = kCommands[Code].check;
  constexpr Operation O = kCommands[Code].operation;
  static_assert((check == Check::TEST || check == Check::JUMP) && O >= Operation::EQ, "not a test or conditional jump");
  const bool equal = flags & 1u, less = flags & 2u;
  if constexpr (O == Operation::EQ) return equal;
  else if constexpr (O == Operation::NE) return !equal;
  else if constexpr (O == Operation::LT) return !equal && less;
  else if constexpr (O == Operation::LE) return equal || less;
  else if constexpr (O == Operation::GT) return !equal && !less;
  else return equal || !less;
}

template <uint16_t Code>
[[gnu::always_inline]] inline void exec(RunContext &ctx, VmCommand &cmd) {
  if constexpr (Code == op("nop") || Code == op("comment") || Code == op("code_version")) {
    ctx.next();
  } else if constexpr (Code == op("mov")) {
    const VmCell *from = src1(ctx, cmd);
    if (!from) return;
    VmCell *to = dst(ctx, cmd);
    if (!to) return;
    putBits(to, getBits(from));
    ctx.next();
  } else if constexpr (Code == op("push_const")) {
    if (!ctx.pushRoom(1)) return;
    VmCell &entry = ctx.paramStack[ctx.machine->paramDepth++];
    entry.type = VM_ENTRY_VALUE;
    putBits(&entry, getBits(&cmd.src1));
    ctx.next();
  } else if constexpr (Code == op("push_vars")) {
    pushVars(ctx, cmd);
  } else if constexpr (Code == op("pop_vars")) {
    popVars(ctx, cmd);
  } else if constexpr (Code == op("push_empty")) {
    // The room test adds in 32 bits; a count that is negative as a signed
    // number pushes nothing, so a sum that wraps cannot write past the stack.
    const uint32_t n = cmd.src2.v.w[0];
    const uint32_t depth = ctx.machine->paramDepth;
    if (depth + n > ctx.paramStackSize) {
      ctx.raise(msg::kParamStackOverflow, depth, n, int(depth + n));
      return;
    }
    const int32_t count = static_cast<int32_t>(n);
    const uint64_t value = getBits(&cmd.src1);
    for (int32_t i = 0; i < count; ++i) {
      VmCell &entry = ctx.paramStack[depth + uint32_t(i)];
      entry.type = VM_ENTRY_EMPTY;
      putBits(&entry, value);
    }
    if (count > 0) ctx.machine->paramDepth = depth + n;
    ctx.next();
  } else if constexpr (Code >= op("test_eq") && Code <= op("test_ge")) {
    VmCell *to = dst(ctx, cmd);
    if (!to) return;
    putBool(to, condition<Code>(ctx.machine->compareFlags));
    ctx.next();
  } else if constexpr (Code == op("jmp")) {
    ctx.pc = cmd.src1.v.w[0];
  } else if constexpr (Code >= op("jmp_eq") && Code <= op("jmp_ge")) {
    if (condition<Code>(ctx.machine->compareFlags))
      ctx.pc = cmd.src1.v.w[0];
    else
      ctx.next();
  } else if constexpr (Code == op("if_eq") || Code == op("if_ne")) {
    const VmCell *c = src1(ctx, cmd);
    if (!c) return;
    const bool set = getBool(c) != 0;
    if (set == (Code == op("if_eq")))
      ctx.pc = cmd.src2.v.w[0];
    else
      ctx.next();
  } else if constexpr (Code == op("set_ds")) {
    setDs(ctx, cmd);
  } else if constexpr (Code == op("ret")) {
    ret(ctx);
  } else {
    static_assert(Code == op("nop"), "not a control command");
  }
}

}  // namespace sicvm::interp::control
