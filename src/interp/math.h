// SPDX-License-Identifier: MIT
// Mathematical and rounding commands (codes 111 to 138): one REAL and one
// LREAL form each, SRC1 to DST; SRC2 is not read.
//
// Every function is computed in double: a REAL operand is widened and the
// result rounded to REAL when stored. The library functions are called
// through checkedMath, so a domain or range error (sqrt of a negative
// number, a logarithm of 0, exp overflowing) leaves its result in DST and
// surfaces after the command as error 2 with 33 or 34. log2 is ln(x) / ln(2),
// both logarithms computed and checked in double.
//
// Rounding: round_* use the host's fround, trunc_real and frac_real the
// host's ftrunc and ffrac; the LREAL truncation rounds toward zero with ceil
// or floor chosen by the sign bit (so -0.0 and NaN keep their sign), and
// frac_lreal subtracts that whole part. ceil and floor cannot fail.
#pragma once

#include <cmath>

#include "hostrt/numbers.h"
#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::math {

inline double logOf(double x) { return checkedMath<RangeKind::Pole>([](double v) { return std::log(v); }, x); }

// The whole part of x toward zero, by the sign bit.
inline double wholeTowardZero(double x) { return std::signbit(x) ? std::ceil(x) : std::floor(x); }

// The function of a code, applied to x.
template <uint16_t Code>
inline double apply(double x) {
  constexpr uint16_t base = Code - ((Code - op("sqrt_real")) & 1u);  // the REAL form's code
  if constexpr (base == op("sqrt_real")) return checkedMath([](double v) { return std::sqrt(v); }, x);
  else if constexpr (base == op("ln_real")) return logOf(x);
  else if constexpr (base == op("log_real"))
    return checkedMath<RangeKind::Pole>([](double v) { return std::log10(v); }, x);
  else if constexpr (base == op("exp_real")) return checkedMath([](double v) { return std::exp(v); }, x);
  else if constexpr (base == op("log2_real")) return logOf(x) / logOf(2.0);
  else if constexpr (base == op("sin_real")) return checkedMath([](double v) { return std::sin(v); }, x);
  else if constexpr (base == op("cos_real")) return checkedMath([](double v) { return std::cos(v); }, x);
  else if constexpr (base == op("tan_real")) return checkedMath([](double v) { return std::tan(v); }, x);
  else if constexpr (base == op("asin_real")) return checkedMath([](double v) { return std::asin(v); }, x);
  else if constexpr (base == op("acos_real")) return checkedMath([](double v) { return std::acos(v); }, x);
  else if constexpr (base == op("atan_real")) return checkedMath([](double v) { return std::atan(v); }, x);
  else if constexpr (base == op("round_real")) return fround(x);
  else if constexpr (Code == op("trunc_real")) return ftrunc(x);
  else if constexpr (Code == op("trunc_lreal")) return wholeTowardZero(x);
  else if constexpr (Code == op("frac_real")) return ffrac(x);
  else if constexpr (Code == op("frac_lreal")) return x - wholeTowardZero(x);
  else static_assert(Code == op("sqrt_real"), "math command without a rule");
}

template <uint16_t Code>
[[gnu::always_inline]] inline void exec(RunContext &ctx, VmCommand &cmd) {
  constexpr bool isReal = kCommands[Code].src1Type == VM_TYPE_REAL;
  Operands o;
  if (!resolveOperands<false>(ctx, cmd, o)) return;
  if constexpr (isReal)
    putReal(o.d, static_cast<float>(apply<Code>(getReal(o.x))));
  else
    putDouble(o.d, apply<Code>(getDouble(o.x)));
  ctx.next();
}

}  // namespace sicvm::interp::math
