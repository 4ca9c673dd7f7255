// SPDX-License-Identifier: MIT
// The control commands that are too long to inline: push_vars, pop_vars
// (with its array copy), set_ds, ret and the call inside the code.
#include "interp/control.h"

namespace sicvm::interp::control {
namespace {

// Fatal 112 for var (s, v) whose array reference (refS, refR) names no usable array.
void invalidVarArray(const RunContext &ctx, uint32_t s, uint32_t v, const VmCell *var) {
  const uint32_t refS = var->v.w[0], refR = var->v.w[1];
  ctx.raise(msg::kInvalidVarArray, refS, refR, int(s), int(v), int(refS), int(refR));
}

// pop_vars of an array entry into a var that holds an array reference: the
// source array's value fields are copied cell by cell into the var's array.
// Both arrays must exist with cells; their sizes in bytes must agree.
void copyArray(const RunContext &ctx, uint32_t s, uint32_t v, const VmCell *var, uint32_t source) {
  const uint32_t destination = ctx.absoluteArray(var->v.w[0], var->v.w[1]);
  const VmArrayRecord *to = ctx.arrayRecord(destination);
  // Read once: the copy may write over the array records themselves.
  const uint32_t count = to ? to->elementCount : 0;
  VmCell *toCells = to ? ctx.arrayCells(destination, count) : nullptr;
  if (toCells == nullptr) return invalidVarArray(ctx, s, v, var);
  const VmArrayRecord *from = ctx.arrayRecord(source);
  // The copy reads as many source cells as the destination has elements;
  // equal byte sizes with different element sizes could make that more
  // than the source's element count, so the source must hold that many
  // cells inside the image (an array whose cells run past the image
  // counts as missing).
  const VmCell *fromCells = from ? ctx.arrayCells(source, count) : nullptr;
  if (fromCells == nullptr) {
    ctx.raise(msg::kInvalidAbsoluteArray, source, 0, "stack param", int(source));
    return;
  }
  // Sizes in bytes, 32-bit as the image's fields are.
  const uint32_t toBytes = to->elementSize * count * VM_CELL_SIZE;
  const uint32_t fromBytes = from->elementSize * from->elementCount * VM_CELL_SIZE;
  if (toBytes != fromBytes) {
    ctx.raise(msg::kArraySizeMismatch, destination, source, int(destination), int(source),
              int(toBytes), int(fromBytes));
    return;
  }
  for (uint32_t k = 0; k < count; ++k) putBits(&toCells[k], getBits(&fromCells[k]));
}

}  // namespace

// push_vars: SRC1 names the first var v of a run of n vars (n = SRC2 word 1)
// in slot s. Each var becomes one entry, the first deepest: plain vars
// (class 1, 2, 3) as values, array references (class 5) as absolute array
// numbers; a var of another class leaves its entry as it was but counts.
void pushVars(RunContext &ctx, VmCommand &cmd) {
  const uint32_t n = cmd.src2.v.w[0];
  const uint32_t s = cmd.src1.v.w[0], v = cmd.src1.v.w[1];
  // Room is tested without wrapping, so that no count can carry the pushes
  // past the end of the stack.
  if (!ctx.pushRoom(n)) return;
  // The whole run must be in the segment: v < count and v + n - 1 < count,
  // in 32-bit unsigned arithmetic (so n = 0 with v = 0 fails as well).
  if (ctx.varRecord(s, v) == nullptr || ctx.varRecord(s, v + n - 1) == nullptr) {
    ctx.invalidVar(s, v);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    // Every record and cell is checked where it is used.
    const VmVarRecord *record = ctx.varRecord(s, v + i);
    const VmCell *var = record ? ctx.cellAt(record->cell) : nullptr;
    if (var == nullptr) {
      ctx.invalidVar(s, v + i);
      return;
    }
    VmCell &entry = ctx.paramStack[ctx.machine->paramDepth];
    const unsigned typeClass = record->classByte & VM_CLASS_MASK;
    if (typeClass >= 1 && typeClass <= 3) {
      entry.type = VM_ENTRY_VALUE;
      putBits(&entry, getBits(var));
    } else if (typeClass == VM_CLASS_ARRAY_REF) {
      const uint32_t number = ctx.absoluteArray(var->v.w[0], var->v.w[1]);
      entry.type = VM_ENTRY_ARRAY;
      entry.v.u32 = number;
      if (number >= ctx.arrayCount) return invalidVarArray(ctx, s, v + i, var);
    }
    ++ctx.machine->paramDepth;
  }
  ctx.next();
}

// pop_vars: SRC1 names the LAST var v of a run of n vars; the top entry goes
// into v, the next into v - 1, and so on. A fatal error stops the command
// with the failing entry still on the stack.
void popVars(RunContext &ctx, VmCommand &cmd) {
  const int32_t n = static_cast<int32_t>(cmd.src2.v.w[0]);
  const uint32_t s = cmd.src1.v.w[0], v = cmd.src1.v.w[1];
  if (!ctx.paramDepthHolds()) return;
  const int32_t depth = static_cast<int32_t>(ctx.machine->paramDepth);
  if (depth < n) {
    ctx.raise(msg::kParamStackUnderflow, uint32_t(depth), uint32_t(n), int(uint32_t(depth) - uint32_t(n)));
    return;
  }
  if (ctx.varRecord(s, v) == nullptr || int64_t(v) - n + 1 < 0) {
    ctx.invalidVar(s, v);
    return;
  }
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t number = v - uint32_t(i);
    // Every record and cell is checked where it is used.
    const VmVarRecord *record = ctx.varRecord(s, number);
    VmCell *var = record ? ctx.cellAt(record->cell) : nullptr;
    if (var == nullptr) {
      ctx.invalidVar(s, number);
      return;
    }
    const VmCell &entry = ctx.paramStack[ctx.machine->paramDepth - 1];
    switch (entry.type) {
      case VM_ENTRY_VALUE:
        putBits(var, getBits(&entry));
        break;
      case VM_ENTRY_ARRAY:
        if ((record->classByte & VM_CLASS_MASK) == VM_CLASS_ARRAY_REF)
          copyArray(ctx, s, number, var, entry.v.u32);
        else
          var->v.u32 = entry.v.u32;
        break;
      case VM_ENTRY_EMPTY:
        break;
      default:
        ctx.raise(msg::kUnknownEntryKind, entry.type, 0, int(entry.type));
        break;
    }
    if (ctx.fatalRecorded()) return;
    --ctx.machine->paramDepth;
  }
  ctx.next();
}

// set_ds: opens a call frame that saves the current local segment number and
// selects data segment (var 0 of slot s) + k as the local segment.
//
// Slot s must be 0 or 1 and hold a segment with a readable var 0. A slot
// index other than 0 or 1 is fatal error 118 "Set DS is not global or local",
// an empty slot (no local segment selected) 118 "Set DS is NULL", both with
// the slot index; an unreadable var 0 is error 110 for (s, 0). A segment
// number whose table slot no longer locates a segment inside the image is
// treated as out of range. In every case nothing is written.
void setDs(RunContext &ctx, VmCommand &cmd) {
  const uint32_t s = cmd.src1.v.w[0], k = cmd.src2.v.w[0];
  VmMachine &m = *ctx.machine;
  // 64-bit: a forged depth of 2^32 - 1 must not wrap to an empty stack.
  if (uint64_t(m.callDepth) + 1 > ctx.callStackSize) {
    ctx.raise(msg::kCallStackOverflow, m.callDepth, 1, int(m.callDepth + 1));
    return;
  }
  if (s > 1) {
    ctx.raise(msg::kDsNotGlobalOrLocal, s, 0, "Set", int(s));
    return;
  }
  if (ctx.segment[s].capacity == 0) {
    ctx.raise(msg::kDsNull, s, 0, "Set", int(s));
    return;
  }
  const VmCell *var0 = ctx.varCell(s, 0);
  if (var0 == nullptr) return ctx.invalidVar(s, 0);
  const uint32_t number = var0->v.u32 + k;
  const uint32_t location = ctx.image.segmentLocation(number);
  if (number >= ctx.segmentCount || location == 0) {
    ctx.raise(msg::kDsOutOfRange, number, 0, "Set", int(number));
    return;
  }
  ctx.callStack[m.callDepth].savedSegmentNo = m.localSegmentNo;
  ++m.callDepth;
  ctx.setLocal(number, location);
  ctx.next();
}

// call inside the code: fills in the return address of the frame that the
// preceding set_ds opened and jumps. A call with no open frame (callDepth 0)
// has nowhere to keep its return address: it is fatal error 119, reported
// as an overflow of the one frame it would need, and nothing is written.
void callInCode(RunContext &ctx, VmCommand &cmd) {
  const uint32_t target = cmd.src1.v.w[0];
  VmMachine &m = *ctx.machine;
  if (target >= ctx.commandCount) {
    ctx.raise(msg::kOutsideCode, target, 0, "Call", int(target));
    return;
  }
  if (m.callDepth == 0) {
    ctx.raise(msg::kCallStackOverflow, 0, 1, 1);
    return;
  }
  if (!ctx.callDepthHolds()) return;
  ctx.callStack[m.callDepth - 1].returnAddress = ctx.pc + 1;
  ctx.pc = target;
}

// ret: closes the top frame, restoring its saved local segment (0 = none),
// or ends the cycle when no frame is open.
void ret(RunContext &ctx) {
  VmMachine &m = *ctx.machine;
  if (m.callDepth == 0) {
    *ctx.runStatus = VM_CYCLE_COMPLETE;
    ctx.pc = kFinished;
    return;
  }
  if (!ctx.callDepthHolds()) return;
  const VmCallEntry &frame = ctx.callStack[m.callDepth - 1];
  const uint32_t address = frame.returnAddress, saved = frame.savedSegmentNo;
  if (address >= ctx.commandCount) {
    ctx.raise(msg::kOutsideCode, address, 0, "Ret", int(address));
    return;
  }
  const uint32_t location = saved == 0 ? 0 : ctx.image.segmentLocation(saved);
  if (saved >= ctx.segmentCount || (saved != 0 && location == 0)) {
    ctx.raise(msg::kDsOutOfRange, saved, 0, "Ret", int(saved));
    return;
  }
  --m.callDepth;
  ctx.setLocal(saved, location);
  ctx.pc = address;
}

}  // namespace sicvm::interp::control
