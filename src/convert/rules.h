// SPDX-License-Identifier: MIT
// The value conversion rules of the machine, written once.
//
// The exported conversions (Vm<Type>To<Type>), the interpreter's conversion
// commands, the point writes and the point commands all convert through these
// functions, so a value converts the same way wherever it goes. Range checks
// are separate predicates: the commands apply them (after storing the result),
// the exports do not.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "hostrt/numbers.h"

namespace sicvm::convert {

// ---- Integer results ------------------------------------------------------

// A double truncated toward zero to a 64-bit integer, as the processor's
// conversion instruction does it: a NaN or a value outside the 64-bit range
// gives the "integer indefinite" value 0x8000000000000000, whose low 16 and
// 32 bits are 0. (A plain cast would be undefined for those values.)
inline int64_t truncateToInt64(double x) noexcept {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(x >= -kLimit && x < kLimit)) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(x);
}

// The low 16 or 32 bits of a 64-bit integer, read as signed.
inline int16_t low16(int64_t x) noexcept { return static_cast<int16_t>(static_cast<uint16_t>(x)); }
inline int32_t low32(int64_t x) noexcept { return static_cast<int32_t>(static_cast<uint32_t>(x)); }

// round: the host's fround, then the 64-bit truncation, then the low bits.
inline int16_t roundToInt16(double x) noexcept { return low16(truncateToInt64(fround(x))); }
inline int32_t roundToInt32(double x) noexcept { return low32(truncateToInt64(fround(x))); }
// truncate: the host's ftrunc instead of fround.
inline int16_t truncToInt16(double x) noexcept { return low16(truncateToInt64(ftrunc(x))); }
inline int32_t truncToInt32(double x) noexcept { return low32(truncateToInt64(ftrunc(x))); }

// ---- BOOL results and sources ------------------------------------------------

// A BOOL byte (or the low byte of a BOOL slot): any non-zero value is TRUE.
inline uint8_t boolOf(uint8_t b) noexcept { return b != 0 ? 1 : 0; }
inline uint8_t boolOfSlot(uint32_t slot) noexcept { return boolOf(static_cast<uint8_t>(slot)); }
// REAL and LREAL are TRUE unless the host's fiszero counts them as zero.
inline uint8_t boolOfReal(double x) noexcept { return fiszero(x) == 0 ? 1 : 0; }
// TIME and DT are TRUE unless they equal 0.0 exactly (-0.0 included; NaN is TRUE).
inline uint8_t boolOfExact(double x) noexcept { return x == 0.0 ? 0 : 1; }

// ---- Floating-point results -----------------------------------------------------

// Single-precision results are rounded by the floating-point unit in its
// current rounding mode.
inline float toReal(int32_t x) noexcept { return static_cast<float>(x); }
inline float toReal(double x) noexcept { return static_cast<float>(x); }

// ---- Range checks of the conversion commands ----------------------------------------
//
// Each tests the source before any rounding or truncation: 32767.4 is out of
// range for INT although it would round to 32767.

inline bool dintOutOfInt(int32_t x) noexcept { return x < -32768 || x > 32767; }

// REAL sources are compared in single precision, so a REAL NaN passes. The
// upper DINT bound 2147483647 has no single-precision form; the nearest REAL
// above it is 2^31, so "above 2147483647" is "at or above 2^31" in REAL.
inline bool realOutOfInt(float x) noexcept { return x < -32768.0f || x > 32767.0f; }
inline bool realOutOfDint(float x) noexcept { return x < -2147483648.0f || x >= 2147483648.0f; }

// An LREAL that is not finite (exponent all ones: infinity or NaN) is always
// out of range.
inline bool notFinite(double x) noexcept {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull;
}
inline bool lrealOutOfInt(double x) noexcept { return notFinite(x) || x < -32768.0 || x > 32767.0; }
inline bool lrealOutOfDint(double x) noexcept {
  return notFinite(x) || x < -2147483648.0 || x > 2147483647.0;
}
// Beyond the largest finite REAL, 3.4028234663852886e+38.
inline bool lrealOutOfReal(double x) noexcept {
  constexpr double kMaxReal = static_cast<double>(std::numeric_limits<float>::max());
  return notFinite(x) || x < -kMaxReal || x > kMaxReal;
}

}  // namespace sicvm::convert
