// SPDX-License-Identifier: MIT
// Shift, rotation and logic commands (codes 141 to 168).
//
// Shifts and rotations take their count from SRC2 (INT for the _int forms,
// DINT for the _dint forms). A negative count stores 0 in DST and records
// error 33; otherwise the count is taken modulo 32. Shifts are logical on the
// 16- or 32-bit pattern, so an INT shifted by 16 to 31 gives 0; an INT
// rotation by 16 to 31 equals the rotation by the count minus 16.
//
// The BOOL logic works on truth (any non-zero byte is true) and stores 0 or
// 1; the INT and DINT logic is bitwise.
#pragma once

#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::bits {

// The 16- or 32-bit pattern shifted or rotated by count (0..31).
template <uint16_t Code, unsigned Bits>
inline uint32_t shift(uint32_t pattern, uint32_t count) {
  constexpr uint32_t mask = Bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
  constexpr Operation O = kCommands[Code].operation;
  pattern &= mask;
  if constexpr (O == Operation::SHL) return count >= Bits ? 0 : (pattern << count) & mask;
  else if constexpr (O == Operation::SHR) return count >= Bits ? 0 : pattern >> count;
  else {
    const uint32_t r = count % Bits;
    if (r == 0) return pattern;
    const uint32_t left = O == Operation::ROL ? r : Bits - r;
    return ((pattern << left) | (pattern >> (Bits - left))) & mask;
  }
}

// Whether `Code` shifts or rotates.
template <uint16_t Code>
inline constexpr bool kShift = kCommands[Code].operation >= Operation::SHL && kCommands[Code].operation <= Operation::ROR;

// Whether `Code` would raise an error on these operands (a negative shift
// count); the decoded loop hands such a command to the step loop untouched.
template <uint16_t Code>
inline bool raises(const VmCell *, const VmCell *y) {
  if constexpr (kShift<Code>)
    return (kCommands[Code].src1Type == VM_TYPE_INT ? getInt(y) : getDint(y)) < 0;
  else return false;
}

// The result of `Code` from its resolved operands (y is null for the nots).
template <uint16_t Code>
[[gnu::always_inline]] inline void compute(const RunContext &ctx, const VmCell *x, const VmCell *y, VmCell *d) {
  constexpr uint8_t T = kCommands[Code].src1Type;
  constexpr Operation O = kCommands[Code].operation;
  if constexpr (kShift<Code>) {
    constexpr unsigned bits = T == VM_TYPE_INT ? 16 : 32;
    const int32_t count = bits == 16 ? getInt(y) : getDint(y);
    if (count < 0) {
      bits == 16 ? putInt(d, 0) : putDint(d, 0);
      ctx.raise(msg::kInvalidParameter, 0, 0);
    } else {
      const uint32_t result = shift<Code, bits>(x->v.u32, uint32_t(count) % 32);
      bits == 16 ? putInt(d, result) : putDint(d, result);
    }
  } else if constexpr (T == VM_TYPE_BOOL) {
    const bool a = getBool(x) != 0;
    if constexpr (O == Operation::NOT) putBool(d, !a);
    else if constexpr (O == Operation::AND) putBool(d, a && getBool(y) != 0);
    else if constexpr (O == Operation::OR) putBool(d, a || getBool(y) != 0);
    else putBool(d, a != (getBool(y) != 0));
  } else {
    const uint32_t a = T == VM_TYPE_INT ? uint32_t(x->v.u16) : x->v.u32;
    uint32_t result;
    if constexpr (O == Operation::NOT) result = ~a;
    else if constexpr (O == Operation::AND) result = a & y->v.u32;
    else if constexpr (O == Operation::OR) result = a | y->v.u32;
    else result = a ^ y->v.u32;
    T == VM_TYPE_INT ? putInt(d, result) : putDint(d, result);
  }
}

template <uint16_t Code>
[[gnu::always_inline]] inline void exec(RunContext &ctx, VmCommand &cmd) {
  Operands o;
  if (!resolveOperands<!isUnary(Code)>(ctx, cmd, o)) return;
  compute<Code>(ctx, o.x, o.y, o.d);
  ctx.next();
}

}  // namespace sicvm::interp::bits
