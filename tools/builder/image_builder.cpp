// SPDX-License-Identifier: MIT
// Composes SIC images.
#include "builder/image_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sicvm::build {

Value Value::boolean(bool b) {
  Value x;
  x.type = VM_TYPE_BOOL;
  x.v.b = b ? 1 : 0;
  return x;
}
Value Value::int16(int16_t i) {
  Value x;
  x.type = VM_TYPE_INT;
  x.v.i16 = i;
  return x;
}
Value Value::dint(int32_t i) {
  Value x;
  x.type = VM_TYPE_DINT;
  x.v.i32 = i;
  return x;
}
Value Value::real(float f) {
  Value x;
  x.type = VM_TYPE_REAL;
  x.v.f32 = f;
  return x;
}
Value Value::lreal(double d) {
  Value x;
  x.type = VM_TYPE_LREAL;
  x.v.f64 = d;
  return x;
}
Value Value::time(double ms) {
  Value x = lreal(ms);
  x.type = VM_TYPE_TIME;
  return x;
}
Value Value::dt(double days) {
  Value x = lreal(days);
  x.type = VM_TYPE_DT;
  return x;
}
Value Value::raw(uint8_t type, uint32_t low, uint32_t high) {
  Value x;
  x.type = type;
  x.v.w[0] = low;
  x.v.w[1] = high;
  return x;
}

Operand Operand::none() { return Operand{}; }

Operand Operand::constant(const Value &value) {
  Operand o;
  o.kind = VM_KIND_CONST;
  o.cell.type = value.type;
  o.cell.v = value.v;
  return o;
}

Operand Operand::var(uint32_t segment, uint32_t number) { return words(VM_KIND_VAR, segment, number); }

Operand Operand::array(uint32_t segment, uint32_t relative) { return words(VM_KIND_ARRAY, segment, relative); }

Operand Operand::words(uint8_t kind, uint32_t word1, uint32_t word2) {
  Operand o;
  o.kind = kind;
  o.cell.v.w[0] = word1;
  o.cell.v.w[1] = word2;
  return o;
}

Operand c(const Value &value) { return Operand::constant(value); }
Operand g(uint32_t number) { return Operand::var(0, number); }
Operand l(uint32_t number) { return Operand::var(1, number); }
Operand num(uint32_t word1) { return Operand::words(VM_KIND_CONST, word1); }

ImageBuilder::ImageBuilder() = default;

ImageBuilder &ImageBuilder::name(const std::string &name) {
  name_ = name;
  return *this;
}
ImageBuilder &ImageBuilder::number(int32_t number) {
  number_ = number;
  return *this;
}
ImageBuilder &ImageBuilder::callStack(uint32_t entries) {
  callStackSize_ = entries;
  return *this;
}
ImageBuilder &ImageBuilder::paramStack(uint32_t entries) {
  paramStackSize_ = entries;
  return *this;
}
ImageBuilder &ImageBuilder::replication(uint32_t bytes) {
  replicationSize_ = bytes;
  return *this;
}
ImageBuilder &ImageBuilder::commandLimit(int32_t limit) {
  commandLimit_ = limit;
  return *this;
}

uint32_t ImageBuilder::segment(int32_t baseSegment, int32_t baseArray) {
  segments_.push_back({Var(Value::dint(baseSegment)), Var(Value::dint(baseArray))});
  return static_cast<uint32_t>(segments_.size() - 1);
}

uint32_t ImageBuilder::rawSegment(const std::vector<Var> &vars) {
  segments_.push_back(vars);
  return static_cast<uint32_t>(segments_.size() - 1);
}

uint32_t ImageBuilder::var(uint32_t segment, const Var &var) {
  auto &vars = segments_.at(segment);
  vars.push_back(var);
  return static_cast<uint32_t>(vars.size() - 1);
}

uint32_t ImageBuilder::array(const Array &array) {
  arrays_.push_back(array);
  return static_cast<uint32_t>(arrays_.size() - 1);
}

uint32_t ImageBuilder::command(const Command &command) {
  code_.push_back(command);
  return static_cast<uint32_t>(code_.size() - 1);
}

uint32_t ImageBuilder::command(uint32_t code, const Operand &src1, const Operand &src2,
                               const Operand &dst) {
  return command(Command{code, src1, src2, dst, 0});
}

uint32_t ImageBuilder::end() { return command(0x80000000u); }

ImageBuilder &ImageBuilder::place(Block block, uint32_t offset) {
  placed_[static_cast<int>(block)] = offset;
  return *this;
}
ImageBuilder &ImageBuilder::gap(uint32_t bytes) {
  gap_ = bytes;
  return *this;
}
ImageBuilder &ImageBuilder::tail(uint32_t bytes) {
  tail_ = bytes;
  return *this;
}
ImageBuilder &ImageBuilder::compilerSegmentVarCount(uint32_t count) {
  compilerSegmentVarCount_ = count;
  return *this;
}
ImageBuilder &ImageBuilder::compilerArrayVarCount(uint32_t count) {
  compilerArrayVarCount_ = count;
  return *this;
}

namespace {

uint64_t arrayCells(const Array &a) { return uint64_t(a.elementCount) * a.elementSize; }

template <class T>
void put(std::vector<uint8_t> &bytes, uint64_t offset, const T &value) {
  if (offset + sizeof(T) > bytes.size()) throw std::out_of_range("image builder: record beyond image end");
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

}  // namespace

Layout ImageBuilder::layout() const {
  Layout layout;
  uint64_t segmentsLength = 0, segmentVars = 0, arrayVars = 0;
  for (const auto &vars : segments_) {
    segmentsLength += 4 + uint64_t(vars.size()) * VM_VAR_RECORD_SIZE;
    segmentVars += vars.size();
  }
  for (const auto &a : arrays_) arrayVars += arrayCells(a);
  const uint64_t lengths[kBlockCount] = {
      VM_MACHINE_SIZE,
      VM_STATE_SIZE,
      uint64_t(callStackSize_) * VM_CALL_ENTRY_SIZE,
      uint64_t(paramStackSize_) * VM_CELL_SIZE,
      uint64_t(code_.size()) * VM_COMMAND_SIZE,
      uint64_t(segments_.size()) * 4,
      segmentsLength,
      segmentVars * VM_CELL_SIZE,
      uint64_t(arrays_.size()) * VM_ARRAY_RECORD_SIZE,
      arrayVars * VM_CELL_SIZE,
      replicationSize_,
  };
  uint64_t cursor = VM_HEADER_SIZE, end = VM_HEADER_SIZE;
  for (int b = 0; b < kBlockCount; ++b) {
    uint64_t offset;
    if (placed_[b]) {
      offset = *placed_[b];
    } else {
      offset = cursor + gap_;
      cursor = offset + lengths[b];
    }
    if (offset > UINT32_MAX || lengths[b] > UINT32_MAX)
      throw std::length_error("image builder: block beyond 4 GiB");
    layout.offset[b] = static_cast<uint32_t>(offset);
    layout.length[b] = static_cast<uint32_t>(lengths[b]);
    end = std::max(end, offset + lengths[b]);
  }
  end += tail_;
  if (end > UINT32_MAX) throw std::length_error("image builder: image beyond 4 GiB");
  layout.size = static_cast<uint32_t>(end);
  return layout;
}

std::vector<uint8_t> ImageBuilder::build() const {
  const Layout lay = layout();
  std::vector<uint8_t> bytes(lay.size, 0);
  auto at = [&](Block b) { return uint64_t(lay.of(b)); };

  uint32_t segmentVarCount = 0, arrayVarCount = 0;
  for (const auto &vars : segments_) segmentVarCount += static_cast<uint32_t>(vars.size());
  for (const auto &a : arrays_) arrayVarCount += static_cast<uint32_t>(arrayCells(a));

  VmHeader h{};
  h.label = VM_SIC_LABEL;
  h.version = VM_SIC_VERSION;
  h.programNumber = number_;
  std::strncpy(h.programName, name_.c_str(), VM_PROGRAM_NAME_SIZE - 1);
  h.machineOffset = lay.of(Block::Machine);
  h.stateOffset = lay.of(Block::State);
  h.callStackOffset = lay.of(Block::CallStack);
  h.callStackSize = callStackSize_;
  h.paramStackOffset = lay.of(Block::ParamStack);
  h.paramStackSize = paramStackSize_;
  h.codeOffset = lay.of(Block::Code);
  h.commandCount = static_cast<uint32_t>(code_.size());
  h.segmentTableOffset = lay.of(Block::SegmentTable);
  h.segmentsOffset = lay.of(Block::Segments);
  h.segmentCount = static_cast<uint32_t>(segments_.size());
  h.segmentVarsOffset = lay.of(Block::SegmentVars);
  h.segmentVarCount = compilerSegmentVarCount_.value_or(segmentVarCount);
  h.arraysOffset = lay.of(Block::Arrays);
  h.arrayCount = static_cast<uint32_t>(arrays_.size());
  h.arrayVarsOffset = lay.of(Block::ArrayVars);
  h.arrayVarCount = compilerArrayVarCount_.value_or(arrayVarCount);
  h.replicationOffset = lay.of(Block::Replication);
  h.replicationSize = replicationSize_;
  put(bytes, 0, h);

  VmMachine m{};
  m.commandLimit = commandLimit_;
  put(bytes, at(Block::Machine), m);

  uint64_t offset = at(Block::Code);
  for (const Command &cmd : code_) {
    VmCommand record{};
    record.code = cmd.code;
    record.src1Kind = cmd.src1.kind;
    record.src2Kind = cmd.src2.kind;
    record.dstKind = cmd.dst.kind;
    record.reserved = cmd.reserved;
    record.src1 = cmd.src1.cell;
    record.src2 = cmd.src2.cell;
    record.dst = cmd.dst.cell;
    put(bytes, offset, record);
    offset += VM_COMMAND_SIZE;
  }

  uint64_t segment = at(Block::Segments), cell = at(Block::SegmentVars);
  for (const auto &vars : segments_) {
    put(bytes, segment, static_cast<uint32_t>(vars.size()));
    uint64_t record = segment + 4;
    for (const Var &var : vars) {
      VmVarRecord r{};
      r.type = var.recordType.value_or(var.init.type);
      r.classByte = static_cast<uint8_t>((var.typeClass & 0x0F) | (var.load ? VM_VAR_LOAD : 0) |
                                         (var.save ? VM_VAR_SAVE : 0));
      r.pointField = var.pointField;
      r.pointId = var.pointId;
      r.pointIndex = var.pointIndex;
      put(bytes, record, r);
      VmCell c{};
      c.type = var.init.type;
      c.flags = var.cellFlags;
      c.v = var.init.v;
      put(bytes, cell, c);
      record += VM_VAR_RECORD_SIZE;
      cell += VM_CELL_SIZE;
    }
    segment = record;
  }

  uint64_t arrayRecord = at(Block::Arrays), arrayCell = at(Block::ArrayVars);
  for (const Array &a : arrays_) {
    VmArrayRecord r{};
    r.type = a.type;
    r.elementSize = a.elementSize;
    r.elementCount = a.elementCount;
    r.dimensions = a.dimensions;
    put(bytes, arrayRecord, r);
    arrayRecord += VM_ARRAY_RECORD_SIZE;
    for (uint64_t i = 0; i < arrayCells(a); ++i) {
      VmCell c{};
      c.type = static_cast<uint8_t>(a.type);
      c.flags = a.cellFlags;
      if (i < a.init.size()) c.v = a.init[i].v;
      put(bytes, arrayCell, c);
      arrayCell += VM_CELL_SIZE;
    }
  }
  return bytes;
}

VmVarRecord &ImageBytes::varRecord(uint32_t segment, uint32_t number) {
  uint64_t offset = header().segmentsOffset;
  for (uint32_t k = 0; k < segment; ++k) {
    uint32_t n;
    std::memcpy(&n, bytes.data() + offset, 4);
    offset += 4 + uint64_t(n) * VM_VAR_RECORD_SIZE;
  }
  return *reinterpret_cast<VmVarRecord *>(bytes.data() + offset + 4 + uint64_t(number) * VM_VAR_RECORD_SIZE);
}

}  // namespace sicvm::build
