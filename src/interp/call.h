// SPDX-License-Identifier: MIT
// CALL family: the call command (code 210).
//
// The call descriptor (SRC1 word 2) holds the call type in bits 0..7 and the
// call class in bits 8..15. Classes 0x200 and 0x400 jump into the program's
// own code (control::callInCode); the library classes 0x100 (standard
// library), 0x800 (host library) and 0x1000 (external procedure) build a
// parameter frame and call the library through the library call interface
// (call.cpp). Any other class calls nothing and leaves pc on the call, so the
// command repeats until the command limit stops the run.
#pragma once

#include "interp/call_fields.h"
#include "interp/control.h"
#include "sicvm/vm.h"

namespace sicvm::interp::call {

inline constexpr uint32_t kTypeStack = 1;  // parameters on the param stack; anything else: local segment

// A call of a library class, or of an unknown class (call.cpp).
void callLibrary(RunContext &ctx, VmCommand &cmd);

// After a successful call whose frame is on the param stack (inputs from
// depth - nin, outputs written from depth on): the outputs become value
// entries in place of the inputs, and the depth ends just above them. Both
// loops end their library calls here.
inline void returnStackOutputs(RunContext &ctx, uint32_t depth, uint32_t nin, uint32_t nout) {
  const uint32_t bottom = depth - nin;
  for (uint32_t j = 0; j < nout; ++j) {
    VmCell &entry = ctx.paramStack[bottom + j];
    entry.type = VM_ENTRY_VALUE;
    putBits(&entry, getBits(&ctx.paramStack[depth + j]));
  }
  ctx.machine->paramDepth = bottom + nout;
}

template <uint16_t Code>
[[gnu::always_inline]] inline void exec(RunContext &ctx, VmCommand &cmd) {
  static_assert(Code == op("call"));
  const uint32_t callClass = call_fields::callClass(cmd);
  if (callClass == VM_CALL_CODE || callClass == VM_CALL_CODE_ALT)
    control::callInCode(ctx, cmd);
  else
    callLibrary(ctx, cmd);
}

}  // namespace sicvm::interp::call
