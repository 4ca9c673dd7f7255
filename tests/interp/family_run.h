// Running a built program once and reading what it left, for the tests of
// the conversion, array, timer and point commands.
#pragma once

#include <cstring>

#include "interp/command_table.h"
#include "sicvm/vm.h"
#include "support/machine.h"

namespace sicvm::test {

// The error record after a run.
struct Recorded {
  int32_t code;
  uint32_t address, arg1, arg2;
  bool operator==(const Recorded &) const = default;
};

inline Recorded recorded(TestMachine &m) {
  Recorded r{};
  r.code = VmGetLastError(m.get(), &r.address, &r.arg1, &r.arg2);
  return r;
}

// The 8 bytes of a value field as one number, for exact comparisons.
inline uint64_t bitsOf(const VmCell &cell) {
  uint64_t bits;
  std::memcpy(&bits, cell.v.bytes, 8);
  return bits;
}

// A value field holding `pattern` in every byte, then `value` written over
// its first `width` bytes: what a command that writes `width` bytes leaves.
template <class T>
uint64_t overPattern(T value, uint8_t pattern = 0xAA) {
  uint8_t bytes[8];
  std::memset(bytes, pattern, 8);
  std::memcpy(bytes, &value, sizeof value);
  uint64_t bits;
  std::memcpy(&bits, bytes, 8);
  return bits;
}

}  // namespace sicvm::test
