// SPDX-License-Identifier: MIT
// VmRunProgram: the step loop, the one dispatch over the command code, and
// the exits of a run.
//
// The dispatch is written once, below, with the macros VM_DISPATCH and
// VM_CASE. By default it compiles to computed goto (a table of label
// addresses, GCC and Clang); configuring with -DSICVM_SWITCH_DISPATCH=ON
// compiles the same text to a switch. Each row of commands.def becomes one
// case that runs the handler of its family; a code without a command, or a
// code above 280, reaches the unknown-command case.
#include <algorithm>

#include "hostrt/sys.h"
#include "interp/arith.h"
#include "interp/array.h"
#include "interp/bits.h"
#include "interp/call.h"
#include "interp/compare.h"
#include "interp/control.h"
#include "interp/decoded.h"
#include "interp/convert.h"
#include "interp/math.h"
#include "interp/points.h"
#include "interp/run_context.h"
#include "interp/timer.h"
#include "sicvm/vm.h"

#if defined(SICVM_SWITCH_DISPATCH) || !defined(__GNUC__)
#define SICVM_COMPUTED_GOTO 0
#else
#define SICVM_COMPUTED_GOTO 1
#endif

namespace sicvm::interp {
namespace {

// Runs the handler of the family that executes `Code`.
template <uint16_t Code>
[[gnu::always_inline]] inline void execute(RunContext &ctx, VmCommand &cmd) {
  constexpr Family family = kCommands[Code].family;
  if constexpr (family == Family::CONTROL) control::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::ARITH) arith::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::MATH) math::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::BITS) bits::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::COMPARE) compare::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::ARRAY) array::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::TIMER) timer::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::CONVERT) convert::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::POINTS) points::exec<Code>(ctx, cmd);
  else if constexpr (family == Family::CALL) call::exec<Code>(ctx, cmd);
  else static_assert(family != Family::NONE, "a code without a command has no handler");
}

[[gnu::cold, gnu::noinline]] void unknownCommand(const RunContext &ctx, uint32_t code) {
  ctx.raise(msg::kUnknownCommand, code, 0, int(code));
}

// Steps 2 and 3 of a step when pc or the command count is out of bounds:
// errors 109 and then 106, either of which stops the run.
[[gnu::cold, gnu::noinline]] void stepRefused(const RunContext &ctx) {
  if (ctx.pc >= ctx.commandCount) ctx.raise(msg::kOutsideCode, ctx.pc, 0, "Command", int(ctx.pc));
  if (ctx.commandsRun > ctx.commandLimit)
    ctx.raise(msg::kCommandLimit, uint32_t(ctx.commandsRun), uint32_t(ctx.commandLimit), int(ctx.commandsRun));
  *ctx.runStatus = VM_STOPPED;
}

// Error 2 after a command that left a math error; recorded at the program
// counter the command left behind.
[[gnu::cold, gnu::noinline]] void mathError(const RunContext &ctx, int32_t e) {
  ctx.raise(msg::kMathError, uint32_t(e), 0, int(e));
}

// commandsRun + 1, wrapping instead of overflowing.
inline void countCommand(RunContext &ctx) {
  ctx.commandsRun = static_cast<int32_t>(static_cast<uint32_t>(ctx.commandsRun) + 1u);
}

// The step loop. Every step, in order: refuse a pc outside the code (109)
// and a cycle over its command limit (106); stop on a recorded fatal error;
// stop at an end marker (not counted, pc stays on it); refuse an unknown code
// (107) or run the command, with the math error word cleared before and read
// after it when the command can set it (mayRaiseMath); turn a math error into
// error 2; count the command unless a fatal error is recorded, and return
// after it in single-step mode; stop when the run status is no longer 0.
void run(RunContext &ctx, bool singleStep, const DecodedCode *decoded) {
  MathWord mathWord;
#if SICVM_COMPUTED_GOTO
  static const void *const kLabels[VM_COMMAND_CODES + 1] = {
#define VM_LABEL_COMMAND(code) &&L_##code,
#define VM_LABEL_NONE(code) &&L_unknown,
#define VM_COMMAND(code, mnemonic, t1, t2, family, check, listing, operation, flow, errors) VM_LABEL_##family(code)
#define VM_LABEL_CONTROL VM_LABEL_COMMAND
#define VM_LABEL_ARRAY VM_LABEL_COMMAND
#define VM_LABEL_ARITH VM_LABEL_COMMAND
#define VM_LABEL_MATH VM_LABEL_COMMAND
#define VM_LABEL_BITS VM_LABEL_COMMAND
#define VM_LABEL_COMPARE VM_LABEL_COMMAND
#define VM_LABEL_POINTS VM_LABEL_COMMAND
#define VM_LABEL_CALL VM_LABEL_COMMAND
#define VM_LABEL_TIMER VM_LABEL_COMMAND
#define VM_LABEL_CONVERT VM_LABEL_COMMAND
#include "interp/commands.def"
#undef VM_COMMAND
      &&L_unknown,  // every code above 280
  };
#define VM_DISPATCH(code) goto *kLabels[code];
#define VM_CASE(code) L_##code:
#define VM_CASE_UNKNOWN L_unknown:
// Each case finishes its step and starts the next one itself, so that each
// has its own indirect jump to the next command's case; with a decoded form
// the next step starts at the top of the loop, in the decoded loop.
#define VM_BREAK                                              \
  {                                                           \
    VM_STEP_END                                               \
    if (decoded != nullptr) continue;                         \
    VM_STEP_BEGIN                                             \
    goto *kLabels[std::min(word & 0xFFFFu, uint32_t(VM_COMMAND_CODES))]; \
  }
#else
#define VM_DISPATCH(code) switch (code)
#define VM_CASE(code) case code:
#define VM_CASE_UNKNOWN default:
#define VM_BREAK break
#endif

  // Facts that stay the same for the whole run, in locals so that they stay
  // in registers (ctx itself lives in memory: the error paths take it).
  VmCommand *const code = ctx.code;
  const uint32_t commandCount = ctx.commandCount;
  const int32_t commandLimit = ctx.commandLimit;
  SignedWord *const errorCode = ctx.errorCode;
  Word *const runStatus = ctx.runStatus;
  // The step under way: its record, its code word and the math error it left.
  VmCommand *cmd;
  uint32_t word;
  int32_t math;

// The checks before a step and the fetch of its command.
#define VM_STEP_BEGIN                                                          \
  math = 0;                                                                    \
  if (__builtin_expect(ctx.pc >= commandCount || ctx.commandsRun > commandLimit, 0)) { \
    stepRefused(ctx);                                                          \
    return;                                                                    \
  }                                                                            \
  if (__builtin_expect(isFatal(*errorCode), 0)) {                              \
    *runStatus = VM_STOPPED;                                                   \
    return;                                                                    \
  }                                                                            \
  cmd = &code[ctx.pc];                                                         \
  word = cmd->code;                                                            \
  if (__builtin_expect(static_cast<int32_t>(word) < 0, 0)) {                   \
    *runStatus = VM_END_MARKER;                                                \
    return;                                                                    \
  }

// The checks after a step: error 2, counting, single-step mode, run status.
#define VM_STEP_END                                                                            \
  {                                                                                            \
    const bool fatal = isFatal(*errorCode);                                                    \
    if (__builtin_expect((math != 0) | fatal | singleStep | (*runStatus != VM_RUNNING), 0)) { \
      if (math != 0) mathError(ctx, math);                                                     \
      if (!isFatal(*errorCode)) {                                                              \
        countCommand(ctx);                                                                     \
        if (singleStep) return;                                                                \
      }                                                                                        \
      if (*runStatus != VM_RUNNING) return;                                                    \
      continue;                                                                                \
    }                                                                                          \
    countCommand(ctx);                                                                         \
  }

  for (;;) {
    // The decoded form runs what it can; it stops at a command this step must run.
    if (decoded != nullptr) runDecoded(&ctx, decoded);
    VM_STEP_BEGIN
    VM_DISPATCH(std::min(word & 0xFFFFu, uint32_t(VM_COMMAND_CODES))) {
#define VM_CASE_COMMAND(code)                 \
  VM_CASE(code) {                             \
    if constexpr (mayRaiseMath(code)) {       \
      mathWord.clear();                       \
      execute<code>(ctx, *cmd);               \
      math = mathWord.read();                 \
    } else {                                  \
      execute<code>(ctx, *cmd);               \
    }                                         \
  }                                           \
  VM_BREAK;
#define VM_CASE_NONE(code)
#define VM_COMMAND(code, mnemonic, t1, t2, family, check, listing, operation, flow, errors) VM_CASE_##family(code)
#define VM_CASE_CONTROL VM_CASE_COMMAND
#define VM_CASE_ARRAY VM_CASE_COMMAND
#define VM_CASE_ARITH VM_CASE_COMMAND
#define VM_CASE_MATH VM_CASE_COMMAND
#define VM_CASE_BITS VM_CASE_COMMAND
#define VM_CASE_COMPARE VM_CASE_COMMAND
#define VM_CASE_POINTS VM_CASE_COMMAND
#define VM_CASE_CALL VM_CASE_COMMAND
#define VM_CASE_TIMER VM_CASE_COMMAND
#define VM_CASE_CONVERT VM_CASE_COMMAND
#include "interp/commands.def"
#undef VM_COMMAND
      VM_CASE_UNKNOWN
        unknownCommand(ctx, word & 0xFFFFu);
        VM_BREAK;
    }
#if !SICVM_COMPUTED_GOTO
    VM_STEP_END
#endif
  }
}

}  // namespace
}  // namespace sicvm::interp

extern "C" SICVM_API int32_t VmRunProgram(VmMachine *machine, uint32_t flags, uint32_t /*reserved*/) {
  using namespace sicvm;
  interp::RunContext ctx;
  if (!ctx.open(Image::of(machine))) {
    _winseterrno(22);
    return -1;
  }
  if (ctx.commandsRun == 0) {  // a new cycle
    machine->cycleCount = static_cast<int32_t>(static_cast<uint32_t>(machine->cycleCount) + 1);
    logProgram(ctx.image, kLevelInfo, ": Run cycle %d\n", machine->cycleCount);
  }
  *ctx.runStatus = VM_RUNNING;
  const bool singleStep = (flags & VM_RUN_SINGLE_STEP) != 0;
  // Held until the run ends, so that a set-up of this machine from inside
  // the run (an external procedure) cannot free the form while it runs.
  const std::shared_ptr<const interp::DecodedCode> decoded = singleStep ? nullptr : interp::decodedFor(ctx);
  {
    FloatGuard guard;
    interp::run(ctx, singleStep, decoded.get());
  }
  ctx.sync();
  return ctx.commandsRun;
}
