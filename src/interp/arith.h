// SPDX-License-Identifier: MIT
// Arithmetic commands: add, sub, mul, div, mod, expt, neg and abs for INT,
// DINT, REAL and LREAL, the TIME forms, and the DT forms computed by the
// host's date-time primitives.
//
// Integer results wrap to 16 (INT) or 32 (DINT) bits; they are computed in
// unsigned arithmetic so that no overflow is ever undefined. Division
// truncates toward zero and the remainder takes the sign of SRC1. INT
// division and remainder work on the operands widened to 32 bits.
// div_dint and mod_dint of -2147483648 by -1 (a quotient that DINT cannot
// hold) store -2147483648 and 0, the results of the wrapped arithmetic.
//
// Floating-point results follow IEEE arithmetic with every exception masked:
// overflow gives an infinity and invalid operations a NaN, without an error.
// mod is fmod, expt is pow, both computed in double (REAL operands widened,
// the result rounded to REAL); their domain and range errors reach the run's
// math error word. neg flips and abs clears the sign bit.
//
// A zero divisor stores the zero of the result type in DST, records error 3
// and lets the program go on. What counts as zero depends on the divisor's
// type: an INT or DINT equal to 0; a REAL equal to 0.0 in a floating-point
// comparison (so -0.0 too, and never a NaN); an LREAL whose bits other than
// the sign are all 0.
#pragma once

#include <cmath>
#include <type_traits>

#include "hostrt/datetime.h"
#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::arith {

// The operation of a code, from its row of the command table.
template <uint16_t Code>
constexpr Operation opOf() {
  static_assert(kCommands[Code].family == Family::ARITH, "not an arithmetic command");
  return kCommands[Code].operation;
}

inline constexpr uint32_t kSign32 = 0x80000000u;
inline constexpr uint64_t kSign64 = 0x8000000000000000u;

// Zero-divisor tests, one per divisor type.
inline bool isZero(int32_t divisor) { return divisor == 0; }
inline bool isZero(float divisor) { return divisor == 0.0f; }
inline bool isZeroLreal(const VmCell *divisor) { return (getBits(divisor) & ~kSign64) == 0; }

// Records error 3 after the zero result has been stored.
inline void divisionByZero(const RunContext &ctx) { ctx.raise(msg::kDivisionByZero, 0, 0); }

inline double fmodOf(double x, double y) { return checkedMath([](double a, double b) { return std::fmod(a, b); }, x, y); }
inline double powOf(double x, double y) {
  return checkedMath<RangeKind::PoleWhenBaseZero>([](double a, double b) { return std::pow(a, b); }, x, y);
}

// The value of a TIME multiplier or divisor of type T, as a double.
template <uint8_t T>
inline double factor(const VmCell *c) {
  if constexpr (T == VM_TYPE_INT) return getInt(c);
  else if constexpr (T == VM_TYPE_DINT) return getDint(c);
  else if constexpr (T == VM_TYPE_REAL) return getReal(c);
  else return getDouble(c);
}
template <uint8_t T>
inline bool factorIsZero(const VmCell *c) {
  if constexpr (T == VM_TYPE_INT) return isZero(int32_t(getInt(c)));
  else if constexpr (T == VM_TYPE_DINT) return isZero(getDint(c));
  else if constexpr (T == VM_TYPE_REAL) return isZero(getReal(c));
  else return isZeroLreal(c);
}

// INT and DINT: `bits` is 16 or 32. Values are read sign-extended to 32 bits;
// results are stored at the width of the type.
template <Operation O, unsigned Bits>
inline void integer(const RunContext &ctx, const VmCell *x, const VmCell *y, VmCell *d) {
  const int32_t a = Bits == 16 ? getInt(x) : getDint(x);
  const uint32_t ua = static_cast<uint32_t>(a);
  auto put = [d](uint32_t value) { Bits == 16 ? putInt(d, value) : putDint(d, value); };
  if constexpr (O == Operation::NEG) {
    put(0u - ua);
  } else if constexpr (O == Operation::ABS) {
    put(a < 0 ? 0u - ua : ua);
  } else {
    const int32_t b = Bits == 16 ? getInt(y) : getDint(y);
    const uint32_t ub = static_cast<uint32_t>(b);
    if constexpr (O == Operation::ADD) put(ua + ub);
    else if constexpr (O == Operation::SUB) put(ua - ub);
    else if constexpr (O == Operation::MUL) put(ua * ub);
    else {
      static_assert(O == Operation::DIV || O == Operation::MOD);
      if (isZero(b)) {
        put(0);
        return divisionByZero(ctx);
      }
      if (Bits == 32 && b == -1) {  // -2147483648 / -1 would trap: negate instead
        put(O == Operation::DIV ? 0u - ua : 0u);
        return;
      }
      put(static_cast<uint32_t>(O == Operation::DIV ? a / b : a % b));
    }
  }
}

// REAL (float) and LREAL (double).
template <Operation O, class F>
inline void floating(const RunContext &ctx, const VmCell *x, const VmCell *y, VmCell *d) {
  constexpr bool isReal = std::is_same_v<F, float>;
  auto get = [](const VmCell *c) -> F {
    if constexpr (isReal) return getReal(c);
    else return getDouble(c);
  };
  auto put = [d](F value) {
    if constexpr (isReal) putReal(d, value);
    else putDouble(d, value);
  };
  if constexpr (O == Operation::NEG || O == Operation::ABS) {
    if constexpr (isReal) {
      const uint32_t bits = x->v.u32;
      d->v.u32 = O == Operation::NEG ? bits ^ kSign32 : bits & ~kSign32;
    } else {
      const uint64_t bits = getBits(x);
      putBits(d, O == Operation::NEG ? bits ^ kSign64 : bits & ~kSign64);
    }
  } else {
    const F a = get(x), b = get(y);
    if constexpr (O == Operation::ADD) put(a + b);
    else if constexpr (O == Operation::SUB) put(a - b);
    else if constexpr (O == Operation::MUL) put(a * b);
    else if constexpr (O == Operation::EXPT) put(static_cast<F>(powOf(a, b)));
    else {
      static_assert(O == Operation::DIV || O == Operation::MOD);
      if (isReal ? isZero(float(b)) : isZeroLreal(y)) {
        put(F(0));
        return divisionByZero(ctx);
      }
      put(O == Operation::DIV ? a / b : static_cast<F>(fmodOf(a, b)));
    }
  }
}

// TIME: add, sub, neg, abs on two TIMEs; mul and div by a factor of type T2.
template <Operation O, uint8_t T2>
inline void time(const RunContext &ctx, const VmCell *x, const VmCell *y, VmCell *d) {
  if constexpr (O == Operation::NEG || O == Operation::ABS) {
    const uint64_t bits = getBits(x);
    putBits(d, O == Operation::NEG ? bits ^ kSign64 : bits & ~kSign64);
  } else {
    const double a = getDouble(x);
    if constexpr (O == Operation::ADD) putDouble(d, a + getDouble(y));
    else if constexpr (O == Operation::SUB) putDouble(d, a - getDouble(y));
    else if constexpr (O == Operation::MUL) putDouble(d, a * factor<T2>(y));
    else {
      static_assert(O == Operation::DIV);
      if (factorIsZero<T2>(y)) {
        putDouble(d, 0.0);
        return divisionByZero(ctx);
      }
      putDouble(d, a / factor<T2>(y));
    }
  }
}

// Whether `Code` would raise an error on these operands (a zero divisor);
// the decoded loop hands such a command to the step loop untouched.
template <uint16_t Code>
inline bool raises(const VmCell *, const VmCell *y) {
  constexpr Operation O = opOf<Code>();
  if constexpr (O == Operation::DIV || O == Operation::MOD) return factorIsZero<kCommands[Code].src2Type>(y);
  else return false;
}

// The result of `Code` from its resolved operands (y is null for neg and abs).
template <uint16_t Code>
[[gnu::always_inline]] inline void compute(const RunContext &ctx, const VmCell *x, const VmCell *y, VmCell *d) {
  constexpr Operation O = opOf<Code>();
  constexpr uint8_t T1 = kCommands[Code].src1Type, T2 = kCommands[Code].src2Type;
  if constexpr (T1 == VM_TYPE_INT) integer<O, 16>(ctx, x, y, d);
  else if constexpr (T1 == VM_TYPE_DINT) integer<O, 32>(ctx, x, y, d);
  else if constexpr (T1 == VM_TYPE_REAL) floating<O, float>(ctx, x, y, d);
  else if constexpr (T1 == VM_TYPE_LREAL) floating<O, double>(ctx, x, y, d);
  else if constexpr (T1 == VM_TYPE_TIME) time<O, T2>(ctx, x, y, d);
  else if constexpr (Code == op("add_dt_time")) putDouble(d, DtIncDateTime(getDouble(x), getDouble(y)));
  else if constexpr (Code == op("sub_dt_time")) putDouble(d, DtIncDateTime(getDouble(x), -getDouble(y)));
  else if constexpr (Code == op("sub_dt")) putDouble(d, DtDiffDateTime(getDouble(x), getDouble(y)));
  else static_assert(Code == op("add_int"), "arithmetic command without a rule");
}

template <uint16_t Code>
[[gnu::always_inline]] inline void exec(RunContext &ctx, VmCommand &cmd) {
  Operands o;
  if (!resolveOperands<!isUnary(Code)>(ctx, cmd, o)) return;
  compute<Code>(ctx, o.x, o.y, o.d);
  ctx.next();
}

}  // namespace sicvm::interp::arith
