// SPDX-License-Identifier: MIT
// The functions and function blocks of the standard library, as the table
// in stdlib.cpp registers them. Each takes the parameter cells of one call
// (inputs first, then outputs, then a block's state cells) and returns 0.
//
// V is the C type of the value type a typed function works on: uint8_t
// BOOL (compared as an unsigned byte), int16_t INT, int32_t DINT, float REAL,
// double LREAL, TIME and DT. Values are read and copied at that width.
#pragma once

#include <cstdint>
#include <cstring>

#include "libcall/library.h"

namespace sicvm::stdlib {

// The value of a cell at the width of V.
template <class V>
inline V load(const VmCell &cell) noexcept {
  V value;
  std::memcpy(&value, cell.v.bytes, sizeof value);
  return value;
}
template <class V>
inline void store(VmCell &cell, V value) noexcept {
  std::memcpy(cell.v.bytes, &value, sizeof value);
}

// Selection functions (stateless).
template <class V> int32_t sel(const lib::Call &call);
template <class V> int32_t max(const lib::Call &call);
template <class V> int32_t min(const lib::Call &call);
template <class V> int32_t limit(const lib::Call &call);
template <class V> int32_t mux(const lib::Call &call);
int32_t incRange(const lib::Call &call);
int32_t decRange(const lib::Call &call);

// Function blocks: the state lives in the cells after the outputs.
int32_t sr(const lib::Call &call);
int32_t rs(const lib::Call &call);
int32_t rTrig(const lib::Call &call);
int32_t fTrig(const lib::Call &call);
template <class V> int32_t ctu(const lib::Call &call);
template <class V> int32_t ctd(const lib::Call &call);
template <class V> int32_t ctud(const lib::Call &call);
int32_t tp(const lib::Call &call);
int32_t ton(const lib::Call &call);
int32_t tof(const lib::Call &call);

}  // namespace sicvm::stdlib
