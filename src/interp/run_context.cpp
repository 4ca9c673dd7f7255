// SPDX-License-Identifier: MIT
// The per-run context: the checks made once when a run starts, and the
// helpers that are too large or too rare to inline.
#include "interp/run_context.h"

namespace sicvm::interp {

bool RunContext::open(const Image &view) noexcept {
  if (!view.ok()) return false;
  image = view;
  machine = view.machine();
  base = view.base();
  // Every data segment has a var, so the var cells hold at least one cell
  // and the subtraction cannot wrap.
  cellStart = view.varCells().start;
  cellSpan = view.varCells().end - cellStart - VM_CELL_SIZE;

  const VmHeader *header = view.header();
  commandCount = header->commandCount;
  segmentCount = header->segmentCount;
  arrayCount = header->arrayCount;
  paramStackSize = header->paramStackSize;
  callStackSize = header->callStackSize;
  commandLimit = machine->commandLimit;

  code = view.at<VmCommand>(machine->code, commandCount);
  paramStack = view.at<VmCell>(machine->paramStack, paramStackSize);
  callStack = view.at<VmCallEntry>(machine->callStack, callStackSize);
  errorCode = view.errorCode();
  runStatus = view.runStatus();
  if (code == nullptr || paramStack == nullptr || callStack == nullptr || errorCode == nullptr ||
      runStatus == nullptr || view.statusFlags() == nullptr || view.errorAddress() == nullptr ||
      view.errorArg1() == nullptr || view.errorArg2() == nullptr)
    return false;
  if (machine->paramDepth > paramStackSize || machine->callDepth > callStackSize) return false;

  segment[0] = slotFor(machine->globalSegment);
  segment[1] = slotFor(machine->localSegment);
  pc = machine->pc;
  commandsRun = machine->commandsRun;
  return true;
}

SegmentSlot RunContext::slotFor(uint32_t location) const noexcept {
  SegmentSlot slot;
  if (location == 0 || !image.segments().holds(location, 4)) return slot;
  slot.location = location;
  slot.capacity = static_cast<uint32_t>((image.segments().end - location - 4) / VM_VAR_RECORD_SIZE);
  return slot;
}

void RunContext::setLocal(uint32_t number, uint32_t location) noexcept {
  setLocal(number, location, slotFor(location));
}

void RunContext::callDepthBeyondStack() const noexcept {
  const uint32_t depth = machine->callDepth;
  raise(msg::kCallStackOverflow, depth, 1, int(depth + 1));
}

void RunContext::paramDepthBeyondStack() const noexcept {
  const uint32_t depth = machine->paramDepth;
  raise(msg::kParamStackOverflow, depth, 0, int(depth));
}

void RunContext::invalidVar(uint32_t s, uint32_t n) const noexcept {
  raise(msg::kInvalidVarOperand, s, n, int(s), int(n));
}

bool RunContext::localFrame(VmCell *&first, uint32_t &count) const noexcept {
  const SegmentSlot slot = segment[1];
  if (slot.capacity == 0) return false;
  count = loadWord(base + slot.location);
  const VmVarRecord *record = varRecord(1, 0);
  if (record == nullptr) return false;
  first = image.varCell(record, count);
  return first != nullptr;
}

}  // namespace sicvm::interp
