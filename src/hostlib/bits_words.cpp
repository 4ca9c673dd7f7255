// SPDX-License-Identifier: MIT
// Bit and word functions of the host library (6110 to 6133): single bits of
// 16-bit and 32-bit words, 16 BOOLs packed into a word and back, and joining,
// splitting and byte-swapping of words.
//
// A bit number selects the mask 1 << (bit number modulo 32): only its low
// five bits count, so 32 is bit 0 again. A 16-bit value is widened with its
// sign before the mask applies, and a 16-bit result keeps the low 16 bits:
// bits 16 to 31 of an INT read as its sign bit and cannot be changed. A
// negative bit number records error 33; the getters then answer FALSE and
// the changing functions leave the value as it was (they copy the value to
// their output before they look at the bit number).
#include "foundation/messages.h"
#include "hostlib/functions.h"

namespace sicvm::hostlib {
namespace {

enum class Change { Set, Clear, Put, Toggle };

uint32_t maskOf(int32_t bit) { return 1u << (uint32_t(bit) & 31u); }

// The value input (cell 0) as 32 bits: an INT widened with its sign.
template <bool Wide>
uint32_t valueOf(const lib::Call &call) {
  return Wide ? uint32_t(call.getDint(0)) : uint32_t(int32_t(call.getInt(0)));
}

template <bool Wide>
void putValue(const lib::Call &call, int32_t cell, uint32_t value) {
  if constexpr (Wide)
    call.setDint(cell, int32_t(value));
  else
    call.setInt(cell, int16_t(uint16_t(value)));
}

template <bool Wide>
int32_t getBit(const lib::Call &call) {
  const int32_t bit = call.getDint(1);
  if (bit < 0) {
    call.fail(msg::kInvalidParameter);
    call.setBool(2, false);
    return 0;
  }
  call.setBool(2, (valueOf<Wide>(call) & maskOf(bit)) != 0);
  return 0;
}

template <Change How, bool Wide>
int32_t changeBit(const lib::Call &call) {
  const uint32_t value = valueOf<Wide>(call);
  const int32_t out = call.inputs();  // PutBit has the state as a third input
  putValue<Wide>(call, out, value);
  const int32_t bit = call.getDint(1);
  if (bit < 0) {
    call.fail(msg::kInvalidParameter);
    return 0;
  }
  const uint32_t mask = maskOf(bit);
  const bool set = How == Change::Set || (How == Change::Put && call.getBool(2));
  uint32_t result;
  if (How == Change::Toggle)
    result = value ^ mask;
  else
    result = set ? value | mask : value & ~mask;
  putValue<Wide>(call, out, result);
  return 0;
}

}  // namespace

int32_t getBit16(const lib::Call &call) { return getBit<false>(call); }
int32_t getBit32(const lib::Call &call) { return getBit<true>(call); }
int32_t setBit16(const lib::Call &call) { return changeBit<Change::Set, false>(call); }
int32_t setBit32(const lib::Call &call) { return changeBit<Change::Set, true>(call); }
int32_t clearBit16(const lib::Call &call) { return changeBit<Change::Clear, false>(call); }
int32_t clearBit32(const lib::Call &call) { return changeBit<Change::Clear, true>(call); }
int32_t putBit16(const lib::Call &call) { return changeBit<Change::Put, false>(call); }
int32_t putBit32(const lib::Call &call) { return changeBit<Change::Put, true>(call); }
int32_t toggleBit16(const lib::Call &call) { return changeBit<Change::Toggle, false>(call); }
int32_t toggleBit32(const lib::Call &call) { return changeBit<Change::Toggle, true>(call); }

// The first input is bit 0 of the output, the sixteenth bit 15.
int32_t packBits16(const lib::Call &call) {
  uint32_t word = 0;
  for (int32_t i = 0; i < 16; ++i)
    if (call.getBool(i)) word |= 1u << i;
  call.setInt(16, int16_t(uint16_t(word)));
  return 0;
}

// The first output is bit 0 of the input.
int32_t unpackBits16(const lib::Call &call) {
  const uint32_t word = uint16_t(call.getInt(0));
  for (int32_t i = 0; i < 16; ++i) call.setBool(1 + i, (word >> i) & 1u);
  return 0;
}

// High word in bits 16 to 31, the low word's 16 bits (not its sign) below.
int32_t makeDword(const lib::Call &call) {
  const uint32_t low = uint16_t(call.getInt(0)), high = uint16_t(call.getInt(1));
  call.setDint(2, int32_t(high << 16 | low));
  return 0;
}

int32_t splitDword(const lib::Call &call) {
  const uint32_t word = uint32_t(call.getDint(0));
  call.setInt(1, int16_t(uint16_t(word)));
  call.setInt(2, int16_t(uint16_t(word >> 16)));
  return 0;
}

int32_t swapBytes16(const lib::Call &call) {
  const uint32_t word = uint16_t(call.getInt(0));
  call.setInt(1, int16_t(uint16_t(word << 8 | word >> 8)));
  return 0;
}

int32_t swapWords32(const lib::Call &call) {
  const uint32_t word = uint32_t(call.getDint(0));
  call.setDint(1, int32_t(word << 16 | word >> 16));
  return 0;
}

}  // namespace sicvm::hostlib
