// SPDX-License-Identifier: MIT
#include "asm/image_reader.h"

#include <cstring>

namespace sicvm::assembly {
namespace {

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}

  bool fits(uint64_t offset, uint64_t length) const { return offset + length <= bytes_.size(); }

  template <class T>
  bool read(uint64_t offset, T &out) const {
    if (!fits(offset, sizeof(T))) return false;
    std::memcpy(&out, bytes_.data() + offset, sizeof(T));
    return true;
  }

 private:
  const std::vector<uint8_t> &bytes_;
};

std::string outside(const std::string &what, uint64_t offset, uint64_t length, size_t size) {
  return what + " (" + std::to_string(offset) + ":" + std::to_string(length) + ") lies outside the image (0:" +
         std::to_string(size) + ")";
}

}  // namespace

std::string ImageView::programName() const {
  return std::string(header.programName, strnlen(header.programName, VM_PROGRAM_NAME_SIZE));
}

bool readImage(const std::vector<uint8_t> &bytes, ImageView &view, std::string &error) {
  Reader r(bytes);
  view = ImageView{};
  view.size = static_cast<uint32_t>(bytes.size());
  if (!r.read(0, view.header)) {
    error = "not an image: " + std::to_string(bytes.size()) + " bytes, a header needs 216";
    return false;
  }
  const VmHeader &h = view.header;
  if (h.label != VM_SIC_LABEL || h.version != VM_SIC_VERSION) {
    error = "not a SIC4 image of version 406";
    return false;
  }
  if (!r.read(h.machineOffset, view.machine)) {
    error = outside("Machine Block", h.machineOffset, VM_MACHINE_SIZE, bytes.size());
    return false;
  }
  if (!r.fits(h.codeOffset, uint64_t(h.commandCount) * VM_COMMAND_SIZE)) {
    error = outside("Code Segment", h.codeOffset, uint64_t(h.commandCount) * VM_COMMAND_SIZE, bytes.size());
    return false;
  }
  view.code.resize(h.commandCount);
  for (uint32_t i = 0; i < h.commandCount; ++i) r.read(h.codeOffset + uint64_t(i) * VM_COMMAND_SIZE, view.code[i]);

  uint64_t segment = h.segmentsOffset, cell = h.segmentVarsOffset;
  for (uint32_t k = 0; k < h.segmentCount; ++k) {
    uint32_t count;
    if (!r.read(segment, count)) {
      error = outside("Data Segment " + std::to_string(k), segment, 4, bytes.size());
      return false;
    }
    uint64_t records = uint64_t(count) * VM_VAR_RECORD_SIZE, cells = uint64_t(count) * VM_CELL_SIZE;
    if (!r.fits(segment + 4, records)) {
      error = outside("Data Segment " + std::to_string(k), segment, 4 + records, bytes.size());
      return false;
    }
    if (!r.fits(cell, cells)) {
      error = outside("Data Segment " + std::to_string(k) + " vars", cell, cells, bytes.size());
      return false;
    }
    ImageView::Segment s;
    s.offset = static_cast<uint32_t>(segment);
    s.vars.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      r.read(segment + 4 + uint64_t(i) * VM_VAR_RECORD_SIZE, s.vars[i].record);
      r.read(cell + uint64_t(i) * VM_CELL_SIZE, s.vars[i].cell);
    }
    view.segments.push_back(std::move(s));
    segment += 4 + records;
    cell += cells;
  }

  if (!r.fits(h.arraysOffset, uint64_t(h.arrayCount) * VM_ARRAY_RECORD_SIZE)) {
    error = outside("Arrays Block", h.arraysOffset, uint64_t(h.arrayCount) * VM_ARRAY_RECORD_SIZE, bytes.size());
    return false;
  }
  cell = h.arrayVarsOffset;
  for (uint32_t j = 0; j < h.arrayCount; ++j) {
    ImageView::Array a;
    r.read(h.arraysOffset + uint64_t(j) * VM_ARRAY_RECORD_SIZE, a.record);
    uint64_t count = uint64_t(a.record.elementCount) * a.record.elementSize;
    if (!r.fits(cell, count * VM_CELL_SIZE)) {
      error = outside("Array " + std::to_string(j) + " vars", cell, count * VM_CELL_SIZE, bytes.size());
      return false;
    }
    a.cells.resize(count);
    for (uint64_t x = 0; x < count; ++x) r.read(cell + x * VM_CELL_SIZE, a.cells[x]);
    view.arrays.push_back(std::move(a));
    cell += count * VM_CELL_SIZE;
  }
  return true;
}

}  // namespace sicvm::assembly
