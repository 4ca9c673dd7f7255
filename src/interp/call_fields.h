// SPDX-License-Identifier: MIT
// The fields of a `call` command record, read and written in one place by
// the interpreter, the code verifier and the assembler:
//
//   SRC1 word 1   the target: a code address or a function number
//   SRC1 word 2   the call descriptor: call type in bits 0..7 (1 parameters
//                 on the param stack, else the local segment's cells), call
//                 class in bits 8..15 (0x100, 0x200, ...)
//   record byte 24, 25, 26 (the low three bytes of SRC2 word 1)
//                 first parameter cell, number of inputs, number of outputs
#pragma once

#include <cstdint>

#include "sicvm/image.h"

namespace sicvm::call_fields {

inline constexpr uint32_t kTypeMask = 0x00FF;
inline constexpr uint32_t kClassMask = 0xFF00;

constexpr uint32_t target(const VmCommand &c) { return c.src1.v.w[0]; }
constexpr uint32_t callType(const VmCommand &c) { return c.src1.v.w[1] & kTypeMask; }
constexpr uint32_t callClass(const VmCommand &c) { return c.src1.v.w[1] & kClassMask; }
constexpr uint8_t first(const VmCommand &c) { return c.src2.v.bytes[0]; }
constexpr uint8_t inputs(const VmCommand &c) { return c.src2.v.bytes[1]; }
constexpr uint8_t outputs(const VmCommand &c) { return c.src2.v.bytes[2]; }

inline void setCallType(VmCommand &c, uint32_t type) { c.src1.v.w[1] = (c.src1.v.w[1] & ~kTypeMask) | (type & kTypeMask); }
inline void setCallClass(VmCommand &c, uint32_t callClass) {
  c.src1.v.w[1] = (c.src1.v.w[1] & ~kClassMask) | (callClass & kClassMask);
}
inline void setFirst(VmCommand &c, uint8_t value) { c.src2.v.bytes[0] = value; }
inline void setInputs(VmCommand &c, uint8_t value) { c.src2.v.bytes[1] = value; }
inline void setOutputs(VmCommand &c, uint8_t value) { c.src2.v.bytes[2] = value; }

}  // namespace sicvm::call_fields
