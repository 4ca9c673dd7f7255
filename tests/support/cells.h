// SPDX-License-Identifier: MIT
// Parameter frames for calling the function libraries directly, shared by the
// library tests; the machine to record their errors in is
// test::TestMachine(minimalProgram()).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "builder/image_builder.h"
#include "interp/program.h"
#include "support/machine.h"
#include "support/points.h"

namespace sicvm::test {

// Value bytes of a cell never written by a call (kFill): outputs start with
// them so a test sees what a function wrote and what it left.
inline VmCell outputOf(uint8_t type) {
  VmCell cell{};
  cell.type = type;
  std::memset(cell.v.bytes, kFill, sizeof cell.v.bytes);
  return cell;
}

inline VmCell cellOf(const build::Value &value) {
  VmCell cell = outputOf(value.type);
  std::memcpy(cell.v.bytes, value.v.bytes, widthOf(value.type));
  return cell;
}

// True when the cell holds `value` at its type's width and the rest of the
// value field is untouched.
inline bool holds(const VmCell &cell, const build::Value &value) {
  const VmCell expected = cellOf(value);
  return std::memcmp(&cell, &expected, sizeof cell) == 0;
}

}  // namespace sicvm::test
