// SPDX-License-Identifier: MIT
// Library calls: the parameter frame, the call through the library call
// interface, and the moving of the results.
#include "interp/call.h"

#include "interp/call_fields.h"
#include "interp/library_classes.h"
#include "sicvm/vm.h"

namespace sicvm::interp::call {

// Call type 1 (parameters on the param stack): the NIN inputs are the top
// entries; the NOUT entries above the top are cleared to receive the
// outputs; the frame runs from the deepest input. After a successful call the
// outputs replace the inputs, output 0 deepest, as value entries.
//
// Any other call type: the frame is the local data segment's cells, from var
// 0, and parameter 0 is cell `first` (record byte 24). A library call of such
// a type while no local segment is selected (or whose cells do not lie inside
// the image) has no frame: it is reported as fatal error 128 with result 2,
// the answer of a library whose frame holds fewer cells than it needs, and
// nothing is called.
//
// The library of the class (standard library, host library, or the guarded
// external caller) runs in execute mode; a result other than 0 is fatal error
// 128 naming the class, the function and the result, with pc left on the
// call and the param stack as it was (the cleared output cells stay cleared).
void callLibrary(RunContext &ctx, VmCommand &cmd) {
  const uint32_t function = call_fields::target(cmd);
  const bool onStack = call_fields::callType(cmd) == kTypeStack;
  const uint32_t nin = call_fields::inputs(cmd), nout = call_fields::outputs(cmd);
  const LibraryClass *library = libraryClass(call_fields::callClass(cmd));
  VmMachine &m = *ctx.machine;

  VmCell *frame = nullptr;
  uint32_t count = 0, first = 0;
  // The depth before the call: the library is handed the machine and could
  // change paramDepth, but the outputs go where this call put the frame.
  const uint32_t depth = m.paramDepth;
  if (onStack) {
    if (!ctx.pushRoom(nout) || !ctx.popRoom(nin)) return;
    frame = ctx.paramStack + (m.paramDepth - nin);
    count = nin + nout;
    std::memset(ctx.paramStack + m.paramDepth, 0, nout * sizeof(VmCell));
  } else if (library != nullptr) {
    if (!ctx.localFrame(frame, count)) {
      ctx.raise(msg::kLibraryError, function, 2, library->name, int(function), 2);
      return;
    }
    first = call_fields::first(cmd);
  }
  if (library == nullptr) return;  // unknown class: nothing called, pc stays

  ctx.sync();
  const int32_t result = library->entry(1, int32_t(function), frame, int32_t(count), int32_t(first),
                                        int32_t(nin), int32_t(nout), ctx.machine);
  if (result != 0) {
    ctx.raise(msg::kLibraryError, function, uint32_t(result), library->name, int(function), int(result));
    return;
  }
  if (onStack) returnStackOutputs(ctx, depth, nin, nout);
  ctx.next();
}

}  // namespace sicvm::interp::call
