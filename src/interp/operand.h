// SPDX-License-Identifier: MIT
// Operand resolution: from an operand of a command record to the value cell
// a command reads or writes.
//
// Kind 2 (variable) names var `word 2` of data segment slot `word 1` (0 the
// global segment, 1 the local one); its cell is the one the var record
// locates. Any other kind (constant, array, or a kind no compiler writes)
// resolves to the operand itself: its words 1 and 2 are the value field, so a
// command reads a constant from the record and a DST of such a kind is
// written into the record. A variable that does not exist raises fatal error
// 110 naming its own segment index and var number; nothing else happens.
#pragma once

#include "interp/run_context.h"

namespace sicvm::interp {

enum Which : unsigned { kSrc1 = 0, kSrc2 = 1, kDst = 2 };

template <unsigned W>
inline VmCell &operandOf(VmCommand &cmd) {
  static_assert(W <= kDst);
  if constexpr (W == kSrc1) return cmd.src1;
  else if constexpr (W == kSrc2) return cmd.src2;
  else return cmd.dst;
}

template <unsigned W>
inline uint8_t kindOf(const VmCommand &cmd) {
  if constexpr (W == kSrc1) return cmd.src1Kind;
  else if constexpr (W == kSrc2) return cmd.src2Kind;
  else return cmd.dstKind;
}

// The cell of operand W, or null after raising error 110.
template <unsigned W>
[[gnu::always_inline]] inline VmCell *resolve(const RunContext &ctx, VmCommand &cmd) {
  VmCell &operand = operandOf<W>(cmd);
  // Programs name variables far more often than they embed constants.
  if (__builtin_expect(kindOf<W>(cmd) != VM_KIND_VAR, 0)) return &operand;
  const uint32_t s = operand.v.w[0];
  const uint32_t n = operand.v.w[1];
  VmCell *cell = ctx.varCell(s, n);
  if (__builtin_expect(cell == nullptr, 0)) ctx.invalidVar(s, n);
  return cell;
}

[[gnu::always_inline]] inline VmCell *src1(const RunContext &ctx, VmCommand &cmd) { return resolve<kSrc1>(ctx, cmd); }
[[gnu::always_inline]] inline VmCell *src2(const RunContext &ctx, VmCommand &cmd) { return resolve<kSrc2>(ctx, cmd); }
[[gnu::always_inline]] inline VmCell *dst(const RunContext &ctx, VmCommand &cmd) { return resolve<kDst>(ctx, cmd); }

// The operands of a computing command: SRC1, SRC2 (two-operand commands
// only) and DST, resolved in that order; false after error 110.
struct Operands {
  const VmCell *x = nullptr;
  const VmCell *y = nullptr;
  VmCell *d = nullptr;
};
template <bool Binary>
[[gnu::always_inline]] inline bool resolveOperands(const RunContext &ctx, VmCommand &cmd, Operands &o) {
  if (!(o.x = src1(ctx, cmd))) return false;
  if constexpr (Binary) {
    if (!(o.y = src2(ctx, cmd))) return false;
  }
  return (o.d = dst(ctx, cmd)) != nullptr;
}

// ---- Typed access to a value field, at the width of its type ----
// Fields may sit at any byte offset; the packed VmValue members read and
// write them without assuming alignment.

inline int16_t getInt(const VmCell *c) { return c->v.i16; }
inline int32_t getDint(const VmCell *c) { return c->v.i32; }
inline float getReal(const VmCell *c) { return c->v.f32; }
inline double getDouble(const VmCell *c) { return c->v.f64; }
inline uint8_t getBool(const VmCell *c) { return c->v.b; }
inline uint64_t getBits(const VmCell *c) {
  uint64_t bits;
  std::memcpy(&bits, c->v.bytes, 8);
  return bits;
}

inline void putInt(VmCell *c, uint32_t value) { c->v.u16 = static_cast<uint16_t>(value); }
inline void putDint(VmCell *c, uint32_t value) { c->v.u32 = value; }
inline void putReal(VmCell *c, float value) { c->v.f32 = value; }
inline void putDouble(VmCell *c, double value) { c->v.f64 = value; }
inline void putBool(VmCell *c, bool value) { c->v.b = value ? 1 : 0; }
inline void putBits(VmCell *c, uint64_t bits) { std::memcpy(c->v.bytes, &bits, 8); }

}  // namespace sicvm::interp
