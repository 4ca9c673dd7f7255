// Parameter frames for calling the function libraries directly, and a
// machine to record their errors in.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "builder/image_builder.h"
#include "support/machine.h"

namespace sicvm::test {

// Value bytes of a cell never written by a call: outputs start with them so
// a test sees what a function wrote and what it left.
inline constexpr uint8_t kUntouched = 0xA5;

// Bytes a value of the cell's type occupies.
inline size_t widthOf(uint8_t type) {
  switch (type) {
    case VM_TYPE_BOOL: return 1;
    case VM_TYPE_INT: return 2;
    case VM_TYPE_DINT:
    case VM_TYPE_REAL: return 4;
    default: return 8;
  }
}

inline VmCell cellOf(const build::Value &value) {
  VmCell cell{};
  std::memset(cell.v.bytes, kUntouched, sizeof cell.v.bytes);
  cell.type = value.type;
  std::memcpy(cell.v.bytes, value.v.bytes, widthOf(value.type));
  return cell;
}

// An output cell of a type, every value byte untouched.
inline VmCell outputOf(uint8_t type) {
  VmCell cell{};
  cell.type = type;
  std::memset(cell.v.bytes, kUntouched, sizeof cell.v.bytes);
  return cell;
}

// True when the cell holds `value` at its type's width and the rest of the
// value field is untouched.
inline bool holds(const VmCell &cell, const build::Value &value) {
  size_t width = widthOf(value.type);
  if (std::memcmp(cell.v.bytes, value.v.bytes, width) != 0) return false;
  for (size_t i = width; i < 8; ++i)
    if (cell.v.bytes[i] != kUntouched) return false;
  return true;
}

// A machine with one data segment and one command, whose pc a test sets to
// see it in the error record.
class LibraryMachine {
 public:
  LibraryMachine() : machine_(image()) {}
  VmMachine *get() { return machine_.get(); }
  int32_t errorCode() { return machine_.state().errorCode; }
  uint32_t errorAddress() { return machine_.state().errorAddress; }
  uint32_t errorArg1() { return machine_.state().errorArg1; }
  uint32_t errorArg2() { return machine_.state().errorArg2; }
  TestMachine &machine() { return machine_; }

 private:
  static build::ImageBuilder image() {
    build::ImageBuilder b;
    b.segment();
    b.command(0);
    return b;
  }
  TestMachine machine_;
};

}  // namespace sicvm::test
