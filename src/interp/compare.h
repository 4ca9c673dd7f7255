// SPDX-License-Identifier: MIT
// Comparison commands (codes 171 to 177): compare SRC1 with SRC2 and set
// compareFlags to 1 (equal), 2 (SRC1 less) or 0 (greater, or unordered).
// DST is not used.
//
// BOOL compares the two bytes as unsigned numbers; INT and DINT are signed.
// REAL and LREAL look at the difference d = SRC1 - SRC2 in double: 0 is
// equal, below 0 less, anything else greater, so a NaN, and two equal
// infinities (whose difference is a NaN), compare as greater. TIME and DT
// ask the host's TmCompareTime and DtCompareDateTime.
#pragma once

#include "hostrt/datetime.h"
#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::compare {

inline constexpr uint32_t kEqual = 1, kLess = 2, kGreater = 0;

template <class T>
inline uint32_t order(T a, T b) {
  return a == b ? kEqual : a < b ? kLess : kGreater;
}
inline uint32_t byDifference(double d) { return d == 0.0 ? kEqual : d < 0.0 ? kLess : kGreater; }
inline uint32_t bySign(int32_t r) { return r == 0 ? kEqual : r < 0 ? kLess : kGreater; }

// The comparison flags of `Code` for its two operands.
template <uint16_t Code>
[[gnu::always_inline]] inline uint32_t compute(const VmCell *x, const VmCell *y) {
  constexpr uint8_t T = kCommands[Code].src1Type;
  if constexpr (T == VM_TYPE_BOOL) return order(getBool(x), getBool(y));
  else if constexpr (T == VM_TYPE_INT) return order(getInt(x), getInt(y));
  else if constexpr (T == VM_TYPE_DINT) return order(getDint(x), getDint(y));
  else if constexpr (T == VM_TYPE_REAL) return byDifference(double(getReal(x)) - double(getReal(y)));
  else if constexpr (T == VM_TYPE_LREAL) return byDifference(getDouble(x) - getDouble(y));
  else if constexpr (T == VM_TYPE_TIME) return bySign(TmCompareTime(getDouble(x), getDouble(y)));
  else if constexpr (T == VM_TYPE_DT) return bySign(DtCompareDateTime(getDouble(x), getDouble(y)));
  else static_assert(T == VM_TYPE_BOOL, "comparison without a rule");
}

template <uint16_t Code>
[[gnu::always_inline]] inline void exec(RunContext &ctx, VmCommand &cmd) {
  const VmCell *x = src1(ctx, cmd);
  if (!x) return;
  const VmCell *y = src2(ctx, cmd);
  if (!y) return;
  ctx.machine->compareFlags = compute<Code>(x, y);
  ctx.next();
}

}  // namespace sicvm::interp::compare
