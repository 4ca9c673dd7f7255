// SPDX-License-Identifier: MIT
// The decoded loop: runs the entries of a decoded form (decoded.h) with the
// program counter, a countdown of the commands left before the command
// limit, the image base, the local segment, the top of the call stack and
// the comparison flags in locals that the compiler keeps in registers where
// it can. Each handler dispatches the next entry itself (computed goto
// on the entry's handler address), and there are no checks between
// commands: the handlers cannot record an error or change the run status,
// since everything that could is handed to the step loop, which also makes
// all the checks of a step. The loop therefore stops, writing pc,
// commandsRun, compareFlags, the call depth and the local segment back, at
// the first command that the step loop must run and when the countdown
// reaches 0.
#include "interp/fast_ops.h"

namespace sicvm::interp {

// The codes 171..175 (cmd_bool to cmd_lreal) and 191..196 (jmp_eq to jmp_ge)
// of the compare-and-jump pairs that the decoded form fuses.
#define VM_FUSED_JUMPS(X, c) X(c, 191) X(c, 192) X(c, 193) X(c, 194) X(c, 195) X(c, 196)
#define VM_FUSED_PAIRS(X)                                                                   \
  VM_FUSED_JUMPS(X, 171) VM_FUSED_JUMPS(X, 172) VM_FUSED_JUMPS(X, 173) VM_FUSED_JUMPS(X, 174) \
  VM_FUSED_JUMPS(X, 175)
static_assert(op("cmd_bool") == 171 && op("cmd_lreal") == 175 && op("jmp_eq") == 191 && op("jmp_ge") == 196);

const FastHandlers *runDecoded(RunContext *ctx, const DecodedCode *decoded) {
#define VM_DIRECT_LABEL(code, mnemonic, t1, t2, family, check, listing, operation, flow, errors) &&L_direct_##code,
#define VM_MIXED_LABEL(code, mnemonic, t1, t2, family, check, listing, operation, flow, errors) &&L_mixed_##code,
  static const void *const kDirect[VM_COMMAND_CODES] = {
#define VM_COMMAND VM_DIRECT_LABEL
#include "interp/commands.def"
#undef VM_COMMAND
  };
  static const void *const kMixed[VM_COMMAND_CODES] = {
#define VM_COMMAND VM_MIXED_LABEL
#include "interp/commands.def"
#undef VM_COMMAND
  };
#define VM_FUSED_LABELS(c, j) &&L_fused_##c##_##j##_0, &&L_fused_##c##_##j##_1,
  static const void *const kFused[5 * 6 * 2] = {VM_FUSED_PAIRS(VM_FUSED_LABELS)};
  static const void *const kSetDsCall[2] = {&&L_set_ds_call_0, &&L_set_ds_call_1};
  static const FastHandlers kHandlers{kDirect, kMixed, kFused, kSetDsCall, &&L_slow};
  if (ctx == nullptr) return &kHandlers;

  // Entry checks: the step loop deals with a recorded fatal error, a pc
  // outside the code and a cycle at its command limit.
  const uint32_t pc = ctx->pc;
  const int32_t commandsRun = ctx->commandsRun;
  if (isFatal(*ctx->errorCode) || pc >= decoded->commandCount || commandsRun > ctx->commandLimit)
    return &kHandlers;
  const int64_t budget = int64_t(ctx->commandLimit) - commandsRun + 1;  // at least 1
  int64_t left = budget;

  VmMachine *const machine = ctx->machine;
  if (machine->callDepth > ctx->callStackSize) return &kHandlers;  // forged: the step loop's error
  fast::Regs r{};
  r.base = ctx->base;
  r.flags = machine->compareFlags;
  r.stack = ctx->callStack;
  r.top = r.stack + machine->callDepth;
  r.end = r.stack + ctx->callStackSize;
  r.segments = decoded->segments.data();
  r.segmentCount = uint32_t(decoded->segments.size());
  r.commandCount = decoded->commandCount;
  // The local segment in force: the table's form of it, or one without
  // vars that keeps its number for set_ds to save.
  const uint32_t localNo = machine->localSegmentNo, localLocation = ctx->segment[1].location;
  SegmentForm entryLocal;
  entryLocal.number = localNo;
  const SegmentForm *entry = &entryLocal;
  if (localLocation != 0 && localNo < r.segmentCount && r.segments[localNo].location == localLocation)
    entry = &r.segments[localNo];
  r.local = entry;

  const FastEntry *const entries = decoded->entries.data();
  r.entries = entries;
  const FastEntry *e = entries + pc;

// After a handler: on to the next entry or the jump target, unless the
// countdown is over or the command must go to the step loop.
#define VM_FAST_NEXT(go)                                         \
  do {                                                           \
    const fast::Go g = (go);                                     \
    if (__builtin_expect(g == fast::Go::kSlow, 0)) goto L_slow;  \
    e = g == fast::Go::kJump ? r.target : e + 1;                \
    if (__builtin_expect(--left == 0, 0)) goto L_done;           \
    goto *e->handler;                                            \
  } while (0)

  goto *e->handler;

#define VM_FAST_CASE(code, mnemonic, t1, t2, family, check, listing, operation, flow, errors) \
  L_direct_##code : VM_FAST_NEXT((fast::exec<code, false>(r, e, *ctx)));  \
  L_mixed_##code : VM_FAST_NEXT((fast::exec<code, true>(r, e, *ctx)));
#define VM_COMMAND VM_FAST_CASE
#include "interp/commands.def"
#undef VM_COMMAND

  // A pair of commands run from the first one's entry: `first` by its
  // handler, then `second`, which counts both and moves e on. With only one
  // command left before the limit, the first runs alone and the second
  // waits for the next step.
#define VM_PAIR_CASE(label, first, mixed, second)                                         \
  label : {                                                                               \
    if (fast::exec<first, (mixed != 0)>(r, e, *ctx) == fast::Go::kSlow) goto L_slow;      \
    if (__builtin_expect(left < 2, 0)) VM_FAST_NEXT(fast::Go::kNext);                     \
    left -= 2;                                                                            \
    second;                                                                               \
    if (__builtin_expect(left == 0, 0)) goto L_done;                                      \
    goto *e->handler;                                                                     \
  }
  // A compare and the conditional jump after it (the flags written as the
  // compare writes them).
#define VM_FUSED_CASE_OF(c, j, mixed) \
  VM_PAIR_CASE(L_fused_##c##_##j##_##mixed, c, mixed, e = control::condition<j>(r.flags) ? e->jump : e + 2)
#define VM_FUSED_CASE(c, j) VM_FUSED_CASE_OF(c, j, 0) VM_FUSED_CASE_OF(c, j, 1)
  VM_FUSED_PAIRS(VM_FUSED_CASE)
  // A set_ds and the call after it (how a program calls a subroutine): the
  // call's return address (e->d) goes into the frame the set_ds opened.
#define VM_SET_DS_CALL_CASE(mixed) \
  VM_PAIR_CASE(L_set_ds_call_##mixed, op("set_ds"), mixed, (r.top[-1].returnAddress = e->d, e = e->jump))
  VM_SET_DS_CALL_CASE(0)
  VM_SET_DS_CALL_CASE(1)

L_slow:
L_done:
  ctx->pc = static_cast<uint32_t>(e - entries);
  ctx->commandsRun = static_cast<int32_t>(static_cast<uint32_t>(commandsRun) + uint32_t(budget - left));
  machine->compareFlags = r.flags;
  r.sync(*ctx, entry);
  return &kHandlers;
}

}  // namespace sicvm::interp
