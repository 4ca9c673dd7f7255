// SPDX-License-Identifier: MIT
// ARRAY family: aget, aput, acopy, acopy_abs (codes 15 to 18).
//
// Element i of an array is its i-th cell (the element size plays no part in
// element addressing). An element exists when the array number is below
// arrayCount, the index read as unsigned 32 bits is below the element count
// (so a negative index never exists), and the array's cells lie inside the
// image. A missing element raises error 8 and the program goes on: aget
// stores 0 in DST's value field, aput stores nothing.
//
// acopy and acopy_abs copy the value fields of the source's first
// elementCount cells into the destination's cells, when both arrays exist,
// have elements and their sizes in bytes (element size x element count x 12,
// in 32-bit arithmetic as the image's fields are) agree. A missing array is
// fatal: 112 naming the operand's reference for acopy, 113 naming the
// absolute number for acopy_abs; a size mismatch is fatal 117. The copy
// writes as many destination cells as the source has elements; a destination
// whose cells for that copy do not all lie inside the image counts as
// missing.
#pragma once

#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::array {

// The cell of element `index` of array `number`, or null when it does not exist.
inline VmCell *element(const RunContext &ctx, uint32_t number, uint32_t index) {
  const VmArrayRecord *record = ctx.arrayRecord(number);
  if (record == nullptr) return nullptr;
  const uint32_t count = record->elementCount;
  if (index >= count) return nullptr;
  VmCell *cells = ctx.arrayCells(number, count);
  return cells ? cells + index : nullptr;
}

// The element named by an array reference cell and an index cell, or null
// after raising error 8.
inline VmCell *elementOrError(const RunContext &ctx, const VmCell *reference, const VmCell *index) {
  const uint32_t i = static_cast<uint32_t>(getDint(index));
  VmCell *cell = element(ctx, ctx.absoluteArray(reference->v.w[0], reference->v.w[1]), i);
  if (__builtin_expect(cell == nullptr, 0)) ctx.raise(msg::kIndexOutOfBounds, i, 0, int(i));
  return cell;
}

// One side of an array copy: its first cell and element count, or null cells.
struct CopySide {
  uint32_t number;
  VmCell *cells = nullptr;
  uint32_t count = 0;
  uint32_t bytes = 0;
};

// Looks up array `number` for a copy that touches `cells` of its cells (at
// least its element count).
inline CopySide copySide(const RunContext &ctx, uint32_t number, uint32_t cells = 0) {
  CopySide side{number};
  const VmArrayRecord *record = ctx.arrayRecord(number);
  if (record == nullptr || record->elementCount == 0) return side;
  // Read once: the copy may write over the array records themselves.
  side.count = record->elementCount;
  side.bytes = record->elementSize * side.count * VM_CELL_SIZE;
  side.cells = ctx.arrayCells(number, cells > side.count ? cells : side.count);
  return side;
}

// acopy and acopy_abs; `refused` raises the fatal error for a missing array
// (true = the source).
template <class Refuse>
inline void copy(RunContext &ctx, uint32_t sourceNumber, uint32_t destinationNumber, Refuse refused) {
  const CopySide from = copySide(ctx, sourceNumber);
  if (from.cells == nullptr) return refused(true);
  const CopySide to = copySide(ctx, destinationNumber, from.count);
  if (to.cells == nullptr) return refused(false);
  if (from.bytes != to.bytes) {
    ctx.raise(msg::kArraySizeMismatch, from.number, to.number, int(from.number), int(to.number),
              int(from.bytes), int(to.bytes));
    return;
  }
  for (uint32_t i = 0; i < from.count; ++i) putBits(&to.cells[i], getBits(&from.cells[i]));
  ctx.next();
}

template <uint16_t Code>
inline void exec(RunContext &ctx, VmCommand &cmd) {
  static_assert(kCommands[Code].family == Family::ARRAY);
  if constexpr (Code == op("aget")) {
    const VmCell *reference = src1(ctx, cmd);
    if (!reference) return;
    const VmCell *index = src2(ctx, cmd);
    if (!index) return;
    VmCell *to = dst(ctx, cmd);
    if (!to) return;
    const VmCell *from = elementOrError(ctx, reference, index);
    putBits(to, from ? getBits(from) : 0);
    ctx.next();
  } else if constexpr (Code == op("aput")) {
    const VmCell *index = src1(ctx, cmd);
    if (!index) return;
    const VmCell *value = src2(ctx, cmd);
    if (!value) return;
    const VmCell *reference = dst(ctx, cmd);
    if (!reference) return;
    if (VmCell *to = elementOrError(ctx, reference, index)) putBits(to, getBits(value));
    ctx.next();
  } else if constexpr (Code == op("acopy")) {
    const VmCell *source = src1(ctx, cmd);
    if (!source) return;
    const VmCell *destination = dst(ctx, cmd);
    if (!destination) return;
    copy(ctx, ctx.absoluteArray(source->v.w[0], source->v.w[1]),
         ctx.absoluteArray(destination->v.w[0], destination->v.w[1]), [&](bool isSource) {
           const VmCell *reference = isSource ? source : destination;
           const uint32_t s = reference->v.w[0], r = reference->v.w[1];
           ctx.raise(msg::kInvalidArrayOperand, s, r, int(s), int(r));
         });
  } else {
    static_assert(Code == op("acopy_abs"));
    const VmCell *source = src1(ctx, cmd);
    if (!source) return;
    const VmCell *destination = dst(ctx, cmd);
    if (!destination) return;
    const uint32_t from = static_cast<uint32_t>(getDint(source));
    const uint32_t to = ctx.absoluteArray(destination->v.w[0], destination->v.w[1]);
    copy(ctx, from, to, [&](bool isSource) {
      const uint32_t number = isSource ? from : to;
      ctx.raise(msg::kInvalidAbsoluteArray, number, 0, "operand", int(number));
    });
  }
}

}  // namespace sicvm::interp::array
