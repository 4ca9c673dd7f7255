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
  // set_ds (global var 0 and the offset), calls inside the code and ret are
  // decoded by decodeSubroutine (decoded.cpp).
  if constexpr (Code == op("set_ds") || Code == op("call") || Code == op("ret")) return {true, false, false, false, 0};
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

// The loop's registers, as the handlers see them.
struct Regs {
  uint8_t *base;
  const uint32_t *localCells;  // cell offsets of the local segment's vars
  uint32_t localVars;          // how many of them; 0 without a local segment
  uint32_t flags;              // compareFlags
  uint32_t target;             // where kJump goes
  const DecodedCode *decoded;

  // Makes data segment `number` the local one, in the machine (as the step
  // loop does) and here; number 0 leaves none (a ret to a frame without one).
  [[gnu::always_inline]] void setLocal(RunContext &ctx, uint32_t number) {
    if (number == 0) {
      ctx.setLocal(0, 0, SegmentSlot{});
      localVars = 0;
      return;
    }
    ctx.setLocal(number, decoded->segmentLocation[number], decoded->segmentSlot[number]);
    localCells = decoded->cells.data() + decoded->segmentFirst[number];
    localVars = decoded->segmentVars[number];
  }
};

// The cell of an operand: an offset, or (Mixed, bit set) a local var number.
template <bool Mixed, uint8_t Bit>
[[gnu::always_inline]] inline VmCell *cellOf(const Regs &r, const FastEntry *e, uint32_t word) {
  if constexpr (Mixed) {
    if (e->local & Bit) {
      if (__builtin_expect(word >= r.localVars, 0)) return nullptr;
      return reinterpret_cast<VmCell *>(r.base + r.localCells[word]);
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
  VmCell *x = use.x ? cellOf<Mixed, kLocalX>(r, e, e->x) : nullptr;
  VmCell *y = use.y ? cellOf<Mixed, kLocalY>(r, e, e->y) : nullptr;
  VmCell *d = use.d ? cellOf<Mixed, kLocalD>(r, e, e->d) : nullptr;
  if constexpr (Mixed) {
    if ((use.x && !x) || (use.y && !y) || (use.d && !d)) return Go::kSlow;
  }
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
    r.target = e->target;
    return Go::kJump;
  } else if constexpr (info.check == Check::JUMP) {
    r.target = e->target;
    return control::condition<Code>(r.flags) ? Go::kJump : Go::kNext;
  } else if constexpr (info.check == Check::IF) {
    r.target = e->target;
    return (getBool(x) != 0) == (info.operation == Operation::EQ) ? Go::kJump : Go::kNext;
  } else if constexpr (Code == op("set_ds")) {
    // From the global segment (e->x: its var 0's cell) to a data segment
    // other than 0 that exists, with room on the call stack; anything else
    // (and its errors) in the step loop.
    VmMachine &m = *ctx.machine;
    const uint32_t number = reinterpret_cast<const VmCell *>(r.base + e->x)->v.u32 + e->y;
    if (uint64_t(m.callDepth) + 1 > ctx.callStackSize || number == 0 || number >= r.decoded->segmentLocation.size() ||
        r.decoded->segmentLocation[number] == 0)
      return Go::kSlow;
    ctx.callStack[m.callDepth].savedSegmentNo = m.localSegmentNo;
    ++m.callDepth;
    r.setLocal(ctx, number);
  } else if constexpr (Code == op("call")) {
    // Inside the code, to a target checked when decoded, with a frame open.
    // A depth outside the call stack (forged by an external procedure) is
    // the step loop's error.
    VmMachine &m = *ctx.machine;
    if (m.callDepth == 0 || m.callDepth > ctx.callStackSize) return Go::kSlow;
    ctx.callStack[m.callDepth - 1].returnAddress = uint32_t(e - r.decoded->entries.data()) + 1;
    r.target = e->target;
    return Go::kJump;
  } else if constexpr (Code == op("ret")) {
    // Out of a frame whose return address and saved segment are usable;
    // the outermost ret (the end of the cycle) in the step loop.
    VmMachine &m = *ctx.machine;
    if (m.callDepth == 0 || m.callDepth > ctx.callStackSize) return Go::kSlow;
    const VmCallEntry &frame = ctx.callStack[m.callDepth - 1];
    const uint32_t address = frame.returnAddress, saved = frame.savedSegmentNo;
    if (address >= r.decoded->commandCount || saved >= r.decoded->segmentLocation.size() ||
        (saved != 0 && r.decoded->segmentLocation[saved] == 0))
      return Go::kSlow;
    --m.callDepth;
    r.setLocal(ctx, saved);
    r.target = address;
    return Go::kJump;
  }
  return Go::kNext;
  }
}

}  // namespace sicvm::interp::fast
