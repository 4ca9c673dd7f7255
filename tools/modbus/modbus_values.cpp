// SPDX-License-Identifier: MIT
#include "modbus_values.h"

#include <bit>
#include <cmath>
#include <limits>

namespace sicvm::modbus {
namespace {

// Rounds half away from zero and clamps to [lo, hi]; NaN gives 0.
template <typename T>
T saturate(double value) {
  constexpr double lo = double(std::numeric_limits<T>::min()), hi = double(std::numeric_limits<T>::max());
  if (std::isnan(value)) return 0;
  double r = std::round(value);
  if (r <= lo) return std::numeric_limits<T>::min();
  if (r >= hi) return std::numeric_limits<T>::max();
  return T(r);
}

// Spreads `bits` (the value's `count` words, high word first) over the
// registers in wire order.
void putWords(uint64_t bits, int count, bool swapped, uint16_t *words) {
  for (int k = 0; k < count; ++k) {
    uint16_t word = uint16_t(bits >> (16 * (count - 1 - k)));
    words[swapped ? count - 1 - k : k] = word;
  }
}

uint64_t getWords(const uint16_t *words, int count, bool swapped) {
  uint64_t bits = 0;
  for (int k = 0; k < count; ++k) bits = (bits << 16) | words[swapped ? count - 1 - k : k];
  return bits;
}

}  // namespace

uint8_t encodeBit(double value) { return value != 0.0 && !std::isnan(value) ? 1 : 0; }

void encodeWords(double value, ValueType type, bool swapped, uint16_t *words) {
  switch (type) {
    case ValueType::BOOL: words[0] = encodeBit(value); break;
    case ValueType::INT16: words[0] = uint16_t(saturate<int16_t>(value)); break;
    case ValueType::UINT16: words[0] = saturate<uint16_t>(value); break;
    case ValueType::INT32: putWords(uint32_t(saturate<int32_t>(value)), 2, swapped, words); break;
    case ValueType::UINT32: putWords(saturate<uint32_t>(value), 2, swapped, words); break;
    case ValueType::FLOAT32: putWords(std::bit_cast<uint32_t>(float(value)), 2, swapped, words); break;
    case ValueType::FLOAT64: putWords(std::bit_cast<uint64_t>(value), 4, swapped, words); break;
  }
}

double decodeWords(const uint16_t *words, ValueType type, bool swapped) {
  switch (type) {
    case ValueType::BOOL: return words[0] ? 1.0 : 0.0;
    case ValueType::INT16: return int16_t(words[0]);
    case ValueType::UINT16: return words[0];
    case ValueType::INT32: return int32_t(uint32_t(getWords(words, 2, swapped)));
    case ValueType::UINT32: return uint32_t(getWords(words, 2, swapped));
    case ValueType::FLOAT32: return std::bit_cast<float>(uint32_t(getWords(words, 2, swapped)));
    case ValueType::FLOAT64: return std::bit_cast<double>(getWords(words, 4, swapped));
  }
  return 0.0;
}

}  // namespace sicvm::modbus
