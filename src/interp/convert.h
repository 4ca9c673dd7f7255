// SPDX-License-Identifier: MIT
// CONVERT family: the type conversions (codes 241 to 280).
//
// Each command resolves SRC1 and DST, stores the converted value into DST at
// the width of the target type, and then applies its range check: a source
// outside the target's range raises error 34 (the program goes on) and DST
// keeps the stored result (an integer wrapped to its width, a REAL narrowed
// to an infinity). The rules are the ones of the exported conversions
// (convert/rules.h): round = fround then the 64-bit truncation, truncate =
// ftrunc then the same, BOOL from REAL or LREAL by fiszero. The bounds are
// tested on the source before rounding; REAL sources in single precision (a
// REAL NaN passes), LREAL sources fail when not finite.
#pragma once

#include "convert/rules.h"
#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::convert {

namespace rules = ::sicvm::convert;

// Stores the result of conversion `Code` of `from` into `to`; true when the
// source was out of the target's range.
template <uint16_t Code>
inline bool convertValue(const VmCell *from, VmCell *to) {
  if constexpr (Code >= op("bool_to_int") && Code <= op("bool_to_lreal")) {
    const uint8_t b = rules::boolOf(getBool(from));
    if constexpr (Code == op("bool_to_int")) putInt(to, b);
    else if constexpr (Code == op("bool_to_dint")) putDint(to, b);
    else if constexpr (Code == op("bool_to_real")) putReal(to, b);
    else putDouble(to, b);
    return false;
  } else if constexpr (Code >= op("int_to_bool") && Code <= op("int_to_lreal")) {
    const int16_t x = getInt(from);
    if constexpr (Code == op("int_to_bool")) putBool(to, x != 0);
    else if constexpr (Code == op("int_to_dint")) putDint(to, uint32_t(int32_t(x)));
    else if constexpr (Code == op("int_to_real")) putReal(to, x);
    else putDouble(to, x);
    return false;
  } else if constexpr (Code >= op("dint_to_bool") && Code <= op("dint_to_lreal")) {
    const int32_t x = getDint(from);
    if constexpr (Code == op("dint_to_bool")) putBool(to, x != 0);
    else if constexpr (Code == op("dint_to_int")) {
      putInt(to, uint16_t(rules::low16(x)));
      return rules::dintOutOfInt(x);
    } else if constexpr (Code == op("dint_to_real")) putReal(to, rules::toReal(x));
    else putDouble(to, x);
    return false;
  } else if constexpr (Code >= op("real_to_bool") && Code <= op("real_to_lreal")) {
    const float x = getReal(from);
    if constexpr (Code == op("real_to_bool")) putBool(to, rules::boolOfReal(x));
    else if constexpr (Code == op("real_to_int")) putInt(to, uint16_t(rules::roundToInt16(x)));
    else if constexpr (Code == op("real_trunc_int")) putInt(to, uint16_t(rules::truncToInt16(x)));
    else if constexpr (Code == op("real_to_dint")) putDint(to, uint32_t(rules::roundToInt32(x)));
    else if constexpr (Code == op("real_trunc_dint")) putDint(to, uint32_t(rules::truncToInt32(x)));
    else putDouble(to, x);
    if constexpr (Code == op("real_to_int") || Code == op("real_trunc_int")) return rules::realOutOfInt(x);
    else if constexpr (Code == op("real_to_dint") || Code == op("real_trunc_dint")) return rules::realOutOfDint(x);
    else return false;
  } else if constexpr (Code >= op("lreal_to_bool") && Code <= op("lreal_to_real")) {
    const double x = getDouble(from);
    if constexpr (Code == op("lreal_to_bool")) putBool(to, rules::boolOfReal(x));
    else if constexpr (Code == op("lreal_to_int")) putInt(to, uint16_t(rules::roundToInt16(x)));
    else if constexpr (Code == op("lreal_trunc_int")) putInt(to, uint16_t(rules::truncToInt16(x)));
    else if constexpr (Code == op("lreal_to_dint")) putDint(to, uint32_t(rules::roundToInt32(x)));
    else if constexpr (Code == op("lreal_trunc_dint")) putDint(to, uint32_t(rules::truncToInt32(x)));
    else putReal(to, rules::toReal(x));
    if constexpr (Code == op("lreal_to_int") || Code == op("lreal_trunc_int")) return rules::lrealOutOfInt(x);
    else if constexpr (Code == op("lreal_to_dint") || Code == op("lreal_trunc_dint")) return rules::lrealOutOfDint(x);
    else if constexpr (Code == op("lreal_to_real")) return rules::lrealOutOfReal(x);
    else return false;
  } else {
    // lreal_to_time, lreal_to_dt, time_to_lreal, dt_to_lreal: the 8 bytes unchanged.
    static_assert(Code == op("lreal_to_time") || Code == op("lreal_to_dt") || Code == op("time_to_lreal") ||
                  Code == op("dt_to_lreal"));
    putBits(to, getBits(from));
    return false;
  }
}

template <uint16_t Code>
inline void exec(RunContext &ctx, VmCommand &cmd) {
  static_assert(kCommands[Code].family == Family::CONVERT);
  const VmCell *from = src1(ctx, cmd);
  if (!from) return;
  VmCell *to = dst(ctx, cmd);
  if (!to) return;
  if (__builtin_expect(convertValue<Code>(from, to), 0)) ctx.raise(msg::kOutOfRange, 0, 0);
  ctx.next();
}

}  // namespace sicvm::interp::convert
