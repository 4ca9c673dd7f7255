// SPDX-License-Identifier: MIT
// The commands the decoded loop runs itself, built from the same family
// templates as the step loop: each handler finds its operand cells from a
// decoded entry instead of resolving the record's operands, asks the family
// whether the command would raise an error, and then computes with the
// family's own `compute` (or, for control commands, the same condition and
// copy). A handler never records an error: whenever the command would (a
// local var beyond the local segment, a zero divisor, a negative shift
// count, a conversion out of range) it answers kSlow before changing
// anything, and the step loop runs the command from its record.
#pragma once

#include "interp/arith.h"
#include "interp/bits.h"
#include "interp/compare.h"
#include "interp/control.h"
#include "interp/convert.h"
#include "interp/decoded.h"

namespace sicvm::interp::fast {

// What a handler uses of its record: which operands (a written DST must be a
// var), and where its jump target is (1 SRC1 word 1, 2 SRC2 word 1).
struct Use {
  bool handled = false;
  bool x = false, y = false, d = false;
  uint8_t target = 0;
};

template <uint16_t Code>
constexpr Use useOf() {
  constexpr Family family = kCommands[Code].family;
  constexpr Check check = kCommands[Code].check;
  // set_ds (var 0 of its slot and the offset), calls inside the code and
  // ret are decoded by decodeSubroutine (decoded.cpp).
  if constexpr (Code == op("set_ds")) return {true, true, false, false, 0};
  // push_const, and push_vars and pop_vars of one global var: x is the
  // constant's or the var's cell (decodeStack, decoded.cpp).
  else if constexpr (Code == op("push_const") || Code == op("push_vars") || Code == op("pop_vars"))
    return {true, true, false, false, 0};
  else if constexpr (Code == op("call") || Code == op("ret")) return {true, false, false, false, 0};
  else if constexpr (mayRaiseMath(Code)) return {};
  else if constexpr (family == Family::ARITH) return {true, true, !isUnary(Code), true, 0};
  else if constexpr (family == Family::BITS) return {true, true, !isUnary(Code), true, 0};
  else if constexpr (family == Family::COMPARE) return {true, true, true, false, 0};
  else if constexpr (family == Family::CONVERT) return {true, true, false, true, 0};
  else if constexpr (Code == op("nop") || Code == op("comment") || Code == op("code_version"))
    return {true, false, false, false, 0};
  else if constexpr (Code == op("mov")) return {true, true, false, true, 0};
  else if constexpr (check == Check::TEST) return {true, false, false, true, 0};
  else if constexpr (check == Check::JUMP) return {true, false, false, false, 1};
  else if constexpr (check == Check::IF) return {true, true, false, false, 2};
  else return {};
}

// What the loop does after a handler.
enum class Go : uint8_t { kNext, kJump, kSlow };

// The loop's registers, as the handlers see them. The call depth and the
// local segment live here while the loop runs and go back to the machine
// (sync) when it stops: nothing else reads them in between, and a program
// cannot write the Machine Block, which set-up keeps clear of every block a
// program writes. The frames themselves are read from the image, where a
// program can write them.
struct Regs {
  uint8_t *base;
  uint32_t flags;              // compareFlags
  const FastEntry *target;     // where kJump goes
  const FastEntry *entries;    // entry 0
  const SegmentForm *local;    // the local segment (see DecodedCode::none)

  // The call stack: frames [stack, top) are open, top < end leaves room.
  VmCallEntry *stack, *top, *end;

  const SegmentForm *segments;  // the Data Segment Table, decoded
  uint32_t segmentCount;
  uint32_t commandCount;

  // Writes the call depth and the local segment back, as the step loop
  // would have left them; `entry` is the local segment the loop started
  // with when the table does not describe it (nothing to write back while
  // it is still in force).
  void sync(RunContext &ctx, const SegmentForm *entry) const {
    ctx.machine->callDepth = uint32_t(top - stack);
    if (local != entry) ctx.setLocal(local->number, local->location, local->slot);
  }
};

// The cell of an operand: an offset, or (Mixed, bit set) a local var number.
// A local var beyond the local segment sets `beyond` (and gives null).
template <bool Mixed, uint8_t Bit>
[[gnu::always_inline]] inline VmCell *cellOf(const Regs &r, const FastEntry *e, uint32_t word, bool &beyond) {
  if constexpr (Mixed) {
    if (e->local & Bit) {
      if (__builtin_expect(word >= r.local->vars, 0)) {
        beyond = true;
        return nullptr;
      }
      return reinterpret_cast<VmCell *>(r.base + r.local->cells[word]);
    }
  }
  return reinterpret_cast<VmCell *>(r.base + word);
}

// Runs `Code` from entry e; kSlow for a code without a handler here.
template <uint16_t Code, bool Mixed>
[[gnu::always_inline]] inline Go exec(Regs &r, const FastEntry *e, RunContext &ctx) {
  constexpr Use use = useOf<Code>();
  constexpr CommandInfo info = kCommands[Code];
  constexpr Family family = info.family;
  if constexpr (!use.handled) {
    return Go::kSlow;
  } else {
  bool beyond = false;
  VmCell *x = use.x ? cellOf<Mixed, kLocalX>(r, e, e->x, beyond) : nullptr;
  VmCell *y = use.y ? cellOf<Mixed, kLocalY>(r, e, e->y, beyond) : nullptr;
  VmCell *d = use.d ? cellOf<Mixed, kLocalD>(r, e, e->d, beyond) : nullptr;
  if (beyond) return Go::kSlow;
  if constexpr (family == Family::ARITH) {
    if constexpr (info.errors != Errors::SAFE)
      if (arith::raises<Code>(x, y)) return Go::kSlow;
    arith::compute<Code>(ctx, x, y, d);
  } else if constexpr (family == Family::BITS) {
    if constexpr (info.errors != Errors::SAFE)
      if (bits::raises<Code>(x, y)) return Go::kSlow;
    bits::compute<Code>(ctx, x, y, d);
  } else if constexpr (family == Family::COMPARE) {
    r.flags = compare::compute<Code>(x, y);
  } else if constexpr (family == Family::CONVERT) {
    // Converted into a copy first: an out-of-range result must leave DST
    // (which may be SRC1 itself) as it was for the step loop.
    VmCell result = *d;
    if (convert::convertValue<Code>(x, &result)) return Go::kSlow;
    putBits(d, getBits(&result));
  } else if constexpr (Code == op("mov")) {
    putBits(d, getBits(x));
  } else if constexpr (info.check == Check::TEST) {
    putBool(d, control::condition<Code>(r.flags));
  } else if constexpr (info.flow == Flow::JUMP) {
    r.target = e->jump;
    return Go::kJump;
  } else if constexpr (info.check == Check::JUMP) {
    r.target = e->jump;
    return control::condition<Code>(r.flags) ? Go::kJump : Go::kNext;
  } else if constexpr (info.check == Check::IF) {
    r.target = e->jump;
    return (getBool(x) != 0) == (info.operation == Operation::EQ) ? Go::kJump : Go::kNext;
  } else if constexpr (Code == op("push_const") || Code == op("push_vars")) {
    // A value entry, with room on the param stack (a depth forged beyond
    // the stack has none).
    VmMachine &m = *ctx.machine;
    const uint32_t depth = m.paramDepth;
    if (uint64_t(depth) + 1 > ctx.paramStackSize) return Go::kSlow;
    VmCell &entry = ctx.paramStack[depth];
    entry.type = VM_ENTRY_VALUE;
    putBits(&entry, getBits(x));
    m.paramDepth = depth + 1;
  } else if constexpr (Code == op("pop_vars")) {
    // A value entry into the var; other entries (array numbers, empty or
    // unknown kinds) and an empty or forged stack in the step loop.
    VmMachine &m = *ctx.machine;
    const uint32_t depth = m.paramDepth;
    if (depth == 0 || depth > ctx.paramStackSize) return Go::kSlow;
    const VmCell &entry = ctx.paramStack[depth - 1];
    if (entry.type != VM_ENTRY_VALUE) return Go::kSlow;
    putBits(x, getBits(&entry));
    m.paramDepth = depth - 1;
  } else if constexpr (Code == op("set_ds")) {
    // To a data segment that exists (x: var 0 of the global or the local
    // segment), with room on the call stack; anything else (and its errors)
    // in the step loop.
    const uint32_t number = x->v.u32 + e->y;
    if (r.top == r.end || number >= r.segmentCount || r.segments[number].location == 0) return Go::kSlow;
    r.top->savedSegmentNo = r.local->number;
    ++r.top;
    r.local = &r.segments[number];
  } else if constexpr (Code == op("call")) {
    // Inside the code, to a target checked when decoded, with a frame open.
    if (r.top == r.stack) return Go::kSlow;
    r.top[-1].returnAddress = e->y;
    r.target = e->jump;
    return Go::kJump;
  } else if constexpr (Code == op("ret")) {
    // Out of a frame whose return address and saved segment are usable (the
    // program may have written the frame); the outermost ret (the end of the
    // cycle) in the step loop.
    if (r.top == r.stack) return Go::kSlow;
    const uint32_t address = r.top[-1].returnAddress, saved = r.top[-1].savedSegmentNo;
    if (address >= r.commandCount || saved >= r.segmentCount) return Go::kSlow;
    const SegmentForm *segment = saved == 0 ? &DecodedCode::none : &r.segments[saved];
    if (segment->location == 0 && saved != 0) return Go::kSlow;
    --r.top;
    r.local = segment;
    r.target = r.entries + address;
    return Go::kJump;
  }
  return Go::kNext;
  }
}

}  // namespace sicvm::interp::fast
