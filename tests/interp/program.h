// Helpers of the interpreter tests: a machine over a small program, run
// through the public VmRunProgram, and a one-command runner that shows
// exactly which bytes of the destination a command wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "builder/image_builder.h"
#include "interp/command_table.h"
#include "sicvm/vm.h"
#include "support/machine.h"

namespace sicvm::test {

// Bytes of the value field that a command writes for a type.
inline unsigned widthOf(uint8_t type) {
  switch (type) {
    case VM_TYPE_BOOL: return 1;
    case VM_TYPE_INT: return 2;
    case VM_TYPE_DINT:
    case VM_TYPE_REAL: return 4;
    default: return 8;
  }
}

// The error record of a machine.
struct Record {
  int32_t code;
  uint32_t address, arg1, arg2;
  bool operator==(const Record &) const = default;
};
inline Record recordOf(VmMachine *m) {
  Record r{};
  r.code = VmGetLastError(m, &r.address, &r.arg1, &r.arg2);
  return r;
}
inline std::ostream &operator<<(std::ostream &out, const Record &r) {
  return out << "{" << r.code << ", " << r.address << ", " << r.arg1 << ", " << r.arg2 << "}";
}

// A filler that shows which bytes of a value field were left alone.
inline constexpr uint8_t kFill = 0xA5;
inline build::Value filled(uint8_t type) {
  build::Value v;
  v.type = type;
  std::memset(v.v.bytes, kFill, 8);
  return v;
}

// One command `code` on global vars 2 (SRC1) and 3 (SRC2) writing var 4
// (DST, filled with kFill), followed by an end marker.
struct OneCommand {
  build::ImageBuilder builder;
  uint32_t a, b, d;

  OneCommand(uint16_t code, const build::Value &x, const build::Value &y, uint8_t dstType) {
    const uint32_t s0 = builder.segment();
    a = builder.var(s0, build::Var(x));
    b = builder.var(s0, build::Var(y));
    d = builder.var(s0, build::Var(filled(dstType)));
    builder.command(code, build::g(a), build::g(b), build::g(d));
    builder.end();
  }
};

// Runs a one-command program to its end marker and checks that the loop
// counted the command and stopped there.
inline void runToEnd(TestMachine &m) {
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
  EXPECT_EQ(m.state().runStatus, uint32_t(VM_END_MARKER));
  EXPECT_EQ(m->pc, 1u);
}

// True when the first `width` bytes of `cell` equal those of `expected` and
// the rest of its value field still holds kFill.
inline ::testing::AssertionResult wroteExactly(const VmCell &cell, const VmValue &expected, unsigned width) {
  for (unsigned i = 0; i < 8; ++i) {
    const uint8_t want = i < width ? expected.bytes[i] : kFill;
    if (cell.v.bytes[i] != want)
      return ::testing::AssertionFailure() << "byte " << i << " is 0x" << std::hex << int(cell.v.bytes[i])
                                           << ", expected 0x" << int(want);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace sicvm::test
