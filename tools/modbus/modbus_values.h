// SPDX-License-Identifier: MIT
// Conversions between a point's value (a double) and the bits and registers
// that a Modbus mapping serves it as.
//
// Reading (point value to registers):
//   bool     1 when the value is neither 0 nor NaN, else 0
//   integers rounded to the nearest whole number (halves away from zero),
//            then saturated to the type's range; NaN gives 0, infinities
//            the range's ends
//   float32  the value rounded to single precision (IEEE round to nearest;
//            beyond single range it becomes an infinity)
//   float64  the value as it is
// Registers are big-endian; a value of several registers has its high word
// first, or its low word first when the mapping is swapped.
//
// Writing (registers to a point value) gives the number the registers hold,
// exactly; whether the point's type can take it is checked separately.
#pragma once

#include <cstdint>

#include "modbus_map.h"

namespace sicvm::modbus {

// The bit a bool mapping serves for `value`.
uint8_t encodeBit(double value);

// Writes widthOf(type) registers for `value` to `words`, in address order.
void encodeWords(double value, ValueType type, bool swapped, uint16_t *words);

// The number that widthOf(type) registers at `words` hold.
double decodeWords(const uint16_t *words, ValueType type, bool swapped);

}  // namespace sicvm::modbus
