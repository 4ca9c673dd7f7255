// SPDX-License-Identifier: MIT
// Helpers of the interpreter tests: the error record, the lines errors log, param stack
// entries, and a one-command program whose destination shows which bytes were written.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "builder/image_builder.h"
#include "interp/command_table.h"
#include "sicvm/vm.h"
#include "support/log_capture.h"
#include "support/machine.h"

namespace sicvm::test {

struct Record {
  int32_t code = 0;
  uint32_t address = 0, arg1 = 0, arg2 = 0;
  bool operator==(const Record &) const = default;
  friend std::ostream &operator<<(std::ostream &out, const Record &r) {
    return out << "{" << r.code << ", " << r.address << ", " << r.arg1 << ", " << r.arg2 << "}";
  }
};
inline Record recordOf(TestMachine &m) {
  Record r;
  r.code = VmGetLastError(m.get(), &r.address, &r.arg1, &r.arg2);
  return r;
}

// The line error `code` logs at `address` in a test program ("TEST", 1).
inline std::string errorLine(int32_t code, uint32_t address, const std::string &text) {
  char head[64];
  std::snprintf(head, sizeof head, "Program \"TEST\" (1) error %d at addr %05d: ", code, int32_t(address));
  return head + text + "\n";
}
inline const std::string kCycleLine = "Program \"TEST\" (1): Run cycle 1\n";
// True when this run of the suite has the decoded form switched off
// (SICVM_DECODE 0 or off): every machine then runs in the step loop alone.
inline bool decodedFormOff() {
  const char *value = std::getenv("SICVM_DECODE");
  return value != nullptr && (std::string(value) == "0" || std::string(value) == "off");
}

inline uint64_t bitsOf(const VmValue &value) {
  uint64_t bits;
  std::memcpy(&bits, value.bytes, 8);
  return bits;
}
inline uint64_t bitsOf(const VmCell &cell) { return bitsOf(cell.v); }
inline VmCell &entry(TestMachine &m, uint32_t i) {
  return reinterpret_cast<VmCell *>(m.image().data() + m.image().header().paramStackOffset)[i];
}

// Bytes of the value field that a command writes for a type.
inline unsigned widthOf(uint8_t type) {
  return type == VM_TYPE_BOOL ? 1 : type == VM_TYPE_INT ? 2 : type == VM_TYPE_DINT || type == VM_TYPE_REAL ? 4 : 8;
}
// The filler of value bytes a command must leave alone; `value` at its width over it.
inline constexpr uint8_t kFill = 0xA5;
inline uint64_t overFill(const build::Value &value) {
  uint64_t bits = 0xA5A5A5A5A5A5A5A5u;
  std::memcpy(&bits, value.v.bytes, widthOf(value.type));
  return bits;
}

// One command on global vars 2 (SRC1) and 3 (SRC2) writing var 4 (DST, of type `dstType`,
// filled with kFill), then an end marker.
struct OneCommand {
  build::ImageBuilder builder;
  uint32_t d;
  OneCommand(uint16_t code, const build::Value &x, const build::Value &y, uint8_t dstType) {
    const uint32_t s0 = builder.segment();
    const uint32_t a = builder.var(s0, build::Var(x)), b = builder.var(s0, build::Var(y));
    d = builder.var(s0, build::Var(build::Value::raw(dstType, 0xA5A5A5A5u, 0xA5A5A5A5u)));
    builder.command(code, build::g(a), build::g(b), build::g(d));
    builder.end();
  }
};

}  // namespace sicvm::test
