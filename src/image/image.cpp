// SPDX-License-Identifier: MIT
// Bounds-aware view of one machine's image.
#include "image/image.h"

#include <algorithm>

#include "hostrt/sys.h"

namespace sicvm {

uint64_t imageExtent(const VmHeader &h) noexcept {
  auto end = [](uint32_t offset, uint64_t length) { return uint64_t(offset) + length; };
  uint64_t e = end(h.machineOffset, VM_MACHINE_SIZE);
  e = std::max(e, end(h.stateOffset, VM_STATE_SIZE));
  e = std::max(e, end(h.callStackOffset, uint64_t(h.callStackSize) * VM_CALL_ENTRY_SIZE));
  e = std::max(e, end(h.paramStackOffset, uint64_t(h.paramStackSize) * VM_CELL_SIZE));
  e = std::max(e, end(h.codeOffset, uint64_t(h.commandCount) * VM_COMMAND_SIZE));
  e = std::max(e, end(h.segmentTableOffset, uint64_t(h.segmentCount) * 4));
  e = std::max(e, end(h.segmentsOffset, uint64_t(h.segmentCount) * 4 +
                                            uint64_t(h.segmentVarCount) * VM_VAR_RECORD_SIZE));
  e = std::max(e, end(h.segmentVarsOffset, uint64_t(h.segmentVarCount) * VM_CELL_SIZE));
  e = std::max(e, end(h.arraysOffset, uint64_t(h.arrayCount) * VM_ARRAY_RECORD_SIZE));
  if (h.arrayCount > 0) e = std::max(e, end(h.arrayVarsOffset, uint64_t(h.arrayVarCount) * VM_CELL_SIZE));
  return std::max(e, end(h.replicationOffset, h.replicationSize));
}

Image Image::of(VmMachine *machine) noexcept {
  Image image;
  if (machine == nullptr || machine->image < VM_HEADER_SIZE || machine->imageSize == 0) {
    _winseterrno(22);
    return image;
  }
  auto *base = reinterpret_cast<uint8_t *>(machine) - machine->image;
  const auto *h = reinterpret_cast<const VmHeader *>(base);
  const uint64_t extent = imageExtent(*h);
  if (h->label != VM_SIC_LABEL || h->machineOffset != machine->image || extent > machine->imageSize) {
    _winseterrno(22);
    return image;
  }
  image.base_ = base;
  image.extent_ = extent;
  image.machine_ = machine;
  image.segments_ = {h->segmentsOffset, uint64_t(h->segmentsOffset) + uint64_t(h->segmentCount) * 4 +
                                            uint64_t(h->segmentVarCount) * VM_VAR_RECORD_SIZE};
  image.varCells_ = {h->segmentVarsOffset,
                     uint64_t(h->segmentVarsOffset) + uint64_t(h->segmentVarCount) * VM_CELL_SIZE};
  if (h->arrayCount > 0)
    image.arrayCells_ = {h->arrayVarsOffset,
                         uint64_t(h->arrayVarsOffset) + uint64_t(h->arrayVarCount) * VM_CELL_SIZE};
  // Every export may then use the error record and run status without a test.
  if (!image.statusFlags() || !image.errorCode() || !image.errorAddress() || !image.errorArg1() ||
      !image.errorArg2() || !image.runStatus()) {
    _winseterrno(22);
    return Image();
  }
  return image;
}

Image Image::atBase(void *base, uint32_t size) noexcept {
  Image image;
  image.base_ = static_cast<uint8_t *>(base);
  image.extent_ = size;
  return image;
}

const char *Image::programName(char (&buffer)[VM_PROGRAM_NAME_SIZE]) const noexcept {
  const char *name = header()->programName;
  size_t length = strnlen(name, VM_PROGRAM_NAME_SIZE - 1);
  std::memcpy(buffer, name, length);
  buffer[length] = '\0';
  return buffer;
}

uint32_t Image::segmentLocation(uint32_t k) const noexcept {
  if (k >= header()->segmentCount) return 0;
  const Word *slot = word(uint64_t(machine_->segmentTable) + uint64_t(k) * 4);
  if (slot == nullptr) return 0;
  const uint32_t location = *slot;
  return segments_.holds(location, 4) ? location : 0;
}

bool Image::varDint(uint32_t location, uint32_t n, int32_t &value) const noexcept {
  const VmVarRecord *record = varRecord(location, n);
  const VmCell *cell = record ? varCell(record) : nullptr;
  if (cell == nullptr) return false;
  value = cell->v.i32;
  return true;
}

}  // namespace sicvm
