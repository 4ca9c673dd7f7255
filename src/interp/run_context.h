// SPDX-License-Identifier: MIT
// The state of one VmRunProgram call, and the small API through which every
// command handler works on the machine.
//
// A RunContext is built on the stack when a run starts. It caches what the
// run reads at every step (image base and extent, the code, the stacks, the
// header counts, the two data segment slots) after checking once that each of
// them lies inside the image, and it keeps the program counter and the
// command count in its own fields; they are written back to the Machine Block
// on every exit of the run and by sync().
//
// Writing a command handler
// -------------------------
// A handler is `template <uint16_t Code> void exec(RunContext &ctx, VmCommand &cmd)`
// in the header of its family (control.h, arith.h, math.h, bits.h,
// compare.h, array.h, timer.h, convert.h, points.h, call.h); run.cpp
// dispatches each row of commands.def to the family named in its Family
// column. `cmd` is the record at ctx.pc. A handler either completes, setting
// ctx.pc to the next command to run (ctx.next() for pc + 1, or an explicit
// target), or raises a fatal error and returns leaving ctx.pc on the command.
// Non-fatal errors (codes up to 100) are raised and the handler still calls
// ctx.next(). The loop reads the error record after every command, so a
// handler never reports anything through its return.
//
//   Operands        src1(ctx, cmd), src2(ctx, cmd), dst(ctx, cmd)  (operand.h):
//                   the value cell of the operand, or null after fatal error
//                   110 has been raised. Resolve in the order SRC1, SRC2, DST
//                   and return at the first null. getInt/putInt and their
//                   kin (operand.h) read and write a value field at the
//                   width of its type.
//   Plain numbers   cmd.src1.v.w[0] is SRC1 word 1, cmd.src1.v.w[1] word 2,
//                   cmd.src2.v.w[0] SRC2 word 1; recordByte(cmd, 24..26) for
//                   the first/NIN/NOUT bytes of a call.
//   Errors          ctx.raise(msg::kSomething, arg1, arg2, printf args...)
//                   records (pc, arg1, arg2) and logs the message when the log
//                   level allows; the printf arguments follow the message
//                   text of messages.h. errno is preserved across it.
//   Program counter ctx.pc (index of the command), ctx.next().
//   Param stack     ctx.paramStack (entries), ctx.paramStackSize,
//                   ctx.machine->paramDepth; ctx.pushRoom(n) and
//                   ctx.popRoom(n) test for room and raise 120 / 121.
//   Call stack      ctx.callStack (frames), ctx.callStackSize,
//                   ctx.machine->callDepth.
//   Data segments   ctx.segment[0] (global), ctx.segment[1] (local);
//                   ctx.varRecord(s, n), ctx.varCell(s, n); ctx.localFrame()
//                   gives the local segment's first cell and its var count.
//   Arrays          ctx.absoluteArray(s, relative) (kNoArray when there is no
//                   such array), ctx.arrayCells(number, cells) for the first
//                   cell of an array whose `cells` cells lie in the image.
//   Math errors     call libm through checkedMath (foundation/fpe.h); the loop
//                   turns a recorded math error into error 2 after the command.
//   Calling out     call ctx.sync() before handing the machine to code outside
//                   the interpreter (library functions), so that it sees the
//                   current pc and command count.
//
// Every location a handler follows must come from these helpers (or from
// Image), which check it against the block it must lie in. Set-up keeps the
// blocks a program writes off the blocks that hold locations, but the host
// (or an external procedure, which is handed the machine) can still forge
// any word: depths are checked against their stacks before they index them
// (callDepthHolds, paramDepthHolds, pushRoom, popRoom).
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "foundation/fpe.h"
#include "foundation/messages.h"
#include "foundation/report.h"
#include "image/image.h"
#include "sicvm/image.h"

namespace sicvm::interp {

// The absolute array number that names no array.
inline constexpr uint32_t kNoArray = 0xFFFFFFFFu;
// pc after the program's final return.
inline constexpr uint32_t kFinished = 0xFFFFFFFFu;

// Reads an unaligned 32-bit word of the image.
inline uint32_t loadWord(const void *p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

// Byte `offset` of a command record (24 = first, 25 = NIN, 26 = NOUT of a call).
inline uint8_t recordByte(const VmCommand &cmd, unsigned offset) {
  return reinterpret_cast<const uint8_t *>(&cmd)[offset];
}

// One of the two data segments a run sees (slot 0 global, 1 local).
struct SegmentSlot {
  uint32_t location = 0;  // offset of the segment's var count word; 0 = none
  uint32_t capacity = 0;  // var records that fit between it and the image end; 0 = none
};

// The math error word of the error mode in force when the run started
// (the host changes the mode only while no machine runs).
class MathWord {
 public:
  MathWord() noexcept
      : zeroMode_(g_fpeMode.load(std::memory_order_relaxed) == 0), errnoWord_(&errno) {}
  void clear() noexcept {
    if (zeroMode_)
      g_mathError.store(0, std::memory_order_relaxed);
    else
      *errnoWord_ = 0;
  }
  int32_t read() const noexcept {
    return zeroMode_ ? g_mathError.load(std::memory_order_relaxed) : *errnoWord_;
  }

 private:
  bool zeroMode_;
  int *errnoWord_;
};

class RunContext {
 public:
  // Checks that everything the run will follow lies inside the image; false
  // when the machine is not a prepared one (the run then refuses to start).
  bool open(const Image &view) noexcept;
  // Writes pc and the command count back into the Machine Block.
  void sync() noexcept {
    machine->pc = pc;
    machine->commandsRun = commandsRun;
  }

  // ---- Program counter and errors ----
  void next() noexcept { ++pc; }

  // Records `message` at pc with (arg1, arg2) and logs it with the printf
  // arguments `args` when the level allows. Out of line: errors are rare.
  template <class... Want, class... Given>
  [[gnu::cold, gnu::noinline]] void raise(const Message<Want...> &message, uint32_t arg1, uint32_t arg2,
                                          Given... args) const noexcept {
    int saved = errno;  // the log must not look like a math error in errno mode
    sicvm::raise(image, message, pc, arg1, arg2, args...);
    errno = saved;
  }
  // Fatal error 110 for an operand naming var n of segment slot s.
  [[gnu::cold, gnu::noinline]] void invalidVar(uint32_t s, uint32_t n) const noexcept;

  bool fatalRecorded() const noexcept { return isFatal(*errorCode); }

  // ---- Data segments ----
  // The record of var n of segment slot s, or null when s is not 0 or 1, the
  // slot is empty, n is not below the var count or the record is not inside
  // the image.
  [[gnu::always_inline]] VmVarRecord *varRecord(uint32_t s, uint32_t n) const noexcept {
    if (s > 1) return nullptr;
    const SegmentSlot slot = segment[s];
    if (n >= slot.capacity || n >= loadWord(base + slot.location)) return nullptr;
    return reinterpret_cast<VmVarRecord *>(base + slot.location + 4 + uint64_t(n) * VM_VAR_RECORD_SIZE);
  }
  // The value cell at a location read from a var record, or null when it
  // does not lie in the data segment vars.
  [[gnu::always_inline]] VmCell *cellAt(uint32_t location) const noexcept {
    return uint64_t(location) - cellStart <= cellSpan ? reinterpret_cast<VmCell *>(base + location) : nullptr;
  }
  // The value cell of var n of segment slot s, or null (see varRecord; also
  // null when the record's cell location is not inside the image).
  [[gnu::always_inline]] VmCell *varCell(uint32_t s, uint32_t n) const noexcept {
    const VmVarRecord *record = varRecord(s, n);
    return record ? cellAt(record->cell) : nullptr;
  }
  // Makes data segment `number` at `location` the local segment; location 0
  // leaves no local segment. set_ds passes data segment 0 with its location
  // like any other; only ret passes (0, 0) for a saved number 0.
  void setLocal(uint32_t number, uint32_t location) noexcept;
  // The same with the slot for the location already known (slotFor(location)).
  void setLocal(uint32_t number, uint32_t location, SegmentSlot slot) noexcept {
    machine->localSegmentNo = number;
    machine->localSegment = location;
    segment[1] = slot;
  }
  // The slot for a segment location (capacity 0 when it is unusable).
  SegmentSlot slotFor(uint32_t location) const noexcept;

  // The first value cell of the local segment and its var count, for call
  // type 2 parameter frames; false when there is no local segment or its
  // cells do not lie, one after another, inside the image.
  bool localFrame(VmCell *&first, uint32_t &count) const noexcept;

  // ---- Stacks ----
  // True when n more param stack entries fit; otherwise raises 120 (n wanted).
  bool pushRoom(uint32_t n) const noexcept {
    uint32_t depth = machine->paramDepth;
    if (uint64_t(depth) + n <= paramStackSize) return true;
    raise(msg::kParamStackOverflow, depth, n, int(depth + n));
    return false;
  }
  // True when at least n entries are on the param stack; otherwise raises
  // 121 (or 120 when the depth itself exceeds the stack).
  bool popRoom(uint32_t n) const noexcept {
    uint32_t depth = machine->paramDepth;
    if (depth >= n) return paramDepthHolds();
    raise(msg::kParamStackUnderflow, depth, n, int(depth - n));
    return false;
  }

  // True when callDepth (paramDepth) does not exceed its stack; otherwise
  // raises 119 with the depth (120 with the depth and 0 wanted). Only a
  // forged depth fails: the commands never push past the stacks.
  bool callDepthHolds() const noexcept {
    if (__builtin_expect(machine->callDepth <= callStackSize, 1)) return true;
    callDepthBeyondStack();
    return false;
  }
  bool paramDepthHolds() const noexcept {
    if (__builtin_expect(machine->paramDepth <= paramStackSize, 1)) return true;
    paramDepthBeyondStack();
    return false;
  }
  [[gnu::cold, gnu::noinline]] void callDepthBeyondStack() const noexcept;
  [[gnu::cold, gnu::noinline]] void paramDepthBeyondStack() const noexcept;

  // ---- Arrays ----
  // Absolute array number of the reference (s, relative): var 1 of segment
  // slot s plus relative (32-bit wrapping), or kNoArray when s is not 0 or 1,
  // the slot is empty or the segment has fewer than 2 vars.
  uint32_t absoluteArray(uint32_t s, uint32_t relative) const noexcept {
    const VmCell *base1 = varCell(s, 1);
    return base1 ? uint32_t(base1->v.u32 + relative) : kNoArray;
  }
  // The record of array `number`, or null when the number is not below
  // arrayCount or the record is not inside the image.
  VmArrayRecord *arrayRecord(uint32_t number) const noexcept { return image.arrayRecord(number); }
  // The first cell of array `number` when it exists, has a non-zero element
  // count and `cells` cells from its first cell lie in the array vars; else null.
  VmCell *arrayCells(uint32_t number, uint32_t cells) const noexcept {
    const VmArrayRecord *record = arrayRecord(number);
    return record ? image.arrayCells(record, cells) : nullptr;
  }

  // ---- Cached facts (read-only during the run) ----
  Image image;
  VmMachine *machine = nullptr;
  uint8_t *base = nullptr;
  uint64_t cellStart = 0;  // the data segment vars: a var cell at location L
  uint64_t cellSpan = 0;   // lies in them when L - cellStart <= cellSpan
  VmCommand *code = nullptr;
  uint32_t commandCount = 0;
  uint32_t segmentCount = 0;
  uint32_t arrayCount = 0;
  uint32_t paramStackSize = 0;
  uint32_t callStackSize = 0;
  int32_t commandLimit = 0;
  VmCell *paramStack = nullptr;
  VmCallEntry *callStack = nullptr;
  SignedWord *errorCode = nullptr;
  Word *runStatus = nullptr;

  // ---- Run state ----
  SegmentSlot segment[2];
  uint32_t pc = 0;
  int32_t commandsRun = 0;
};

}  // namespace sicvm::interp
