// SPDX-License-Identifier: MIT
// Library calls and point commands of the decoded form (fast_calls.h).
#include "interp/fast_calls.h"

#include <cstring>

#include "interp/call.h"

namespace sicvm::interp::fast {
namespace {

// The end of a step after the command ran: error 2 for a math error, then
// kStop when a fatal error is recorded (the command is not counted).
Go finishStep(RunContext &ctx, const MathWord &mathWord) {
  if (const int32_t math = mathWord.read(); __builtin_expect(math != 0, 0))
    ctx.raise(msg::kMathError, uint32_t(math), 0, int(math));
  return __builtin_expect(ctx.fatalRecorded(), 0) ? Go::kStop : Go::kNext;
}

}  // namespace

Go callLibrary(RunContext &ctx, const LibraryCallForm &call) {
  VmMachine &m = *ctx.machine;
  const uint32_t nin = call.nin, nout = call.nout;
  const uint32_t depth = m.paramDepth;
  VmCell *frame;
  uint32_t count;
  if (call.onStack) {
    if (uint64_t(depth) + nout > ctx.paramStackSize || depth < nin) return Go::kSlow;
    frame = ctx.paramStack + (depth - nin);
    count = nin + nout;
  } else if (!ctx.localFrame(frame, count)) {
    return Go::kSlow;
  }
  if (int64_t(count) - call.first < int64_t(call.need)) return Go::kSlow;

  MathWord mathWord;
  mathWord.clear();
  if (call.onStack)  // cell by cell: a call has a few outputs, and a fixed-size clear is inlined
    for (uint32_t j = 0; j < nout; ++j) std::memset(&ctx.paramStack[depth + j], 0, sizeof(VmCell));
  VmCell *params = frame + call.first;
  const lib::Row &row = *call.row;
  const int32_t result = row.handOn != nullptr
                             ? row.handOn(1, int32_t(call.function), params, int32_t(nin), int32_t(nout))
                             : row.run(lib::Call(params, int32_t(nin), int32_t(nout), ctx.machine, ctx.image));
  if (__builtin_expect(result != 0, 0)) {
    ctx.raise(msg::kLibraryError, call.function, uint32_t(result), call.library, int(call.function), int(result));
    return finishStep(ctx, mathWord);
  }
  if (call.onStack) call::returnStackOutputs(ctx, depth, nin, nout);
  ctx.next();
  return finishStep(ctx, mathWord);
}

Go movePoints(RunContext &ctx, const DecodedCode &form, bool load) {
  MathWord mathWord;
  mathWord.clear();
  if (load)
    points::loadLinked(ctx, form.loads, form.timers, form.timerArrays);
  else
    points::saveLinked(ctx, form.saves);
  ctx.next();
  return finishStep(ctx, mathWord);
}

}  // namespace sicvm::interp::fast
