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
  if constexpr (mayRaiseMath(Code)) return {};
  else if constexpr (family == Family::ARITH) return {true, true, !arith::kUnary<Code>, true, 0};
  else if constexpr (family == Family::BITS) return {true, true, !bits::kUnary<Code>, true, 0};
  else if constexpr (family == Family::COMPARE) return {true, true, true, false, 0};
  else if constexpr (family == Family::CONVERT) return {true, true, false, true, 0};
  else if constexpr (Code == op("nop") || Code == op("comment") || Code == op("code_version"))
    return {true, false, false, false, 0};
  else if constexpr (Code == op("mov")) return {true, true, false, true, 0};
  else if constexpr (Code >= op("test_eq") && Code <= op("test_ge")) return {true, false, false, true, 0};
  else if constexpr (Code >= op("jmp") && Code <= op("jmp_ge")) return {true, false, false, false, 1};
  else if constexpr (Code == op("if_eq") || Code == op("if_ne")) return {true, true, false, false, 2};
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
[[gnu::always_inline]] inline Go exec(Regs &r, const FastEntry *e, const RunContext &ctx) {
  constexpr Use use = useOf<Code>();
  constexpr Family family = kCommands[Code].family;
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
    if (arith::raises<Code>(x, y)) return Go::kSlow;
    arith::compute<Code>(ctx, x, y, d);
  } else if constexpr (family == Family::BITS) {
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
  } else if constexpr (Code >= op("test_eq") && Code <= op("test_ge")) {
    putBool(d, control::condition<Code>(r.flags));
  } else if constexpr (Code == op("jmp")) {
    return Go::kJump;
  } else if constexpr (Code >= op("jmp_eq") && Code <= op("jmp_ge")) {
    return control::condition<Code>(r.flags) ? Go::kJump : Go::kNext;
  } else if constexpr (Code == op("if_eq") || Code == op("if_ne")) {
    return (getBool(x) != 0) == (Code == op("if_eq")) ? Go::kJump : Go::kNext;
  }
  return Go::kNext;
  }
}

}  // namespace sicvm::interp::fast
