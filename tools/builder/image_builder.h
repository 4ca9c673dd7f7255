// SPDX-License-Identifier: MIT
// Composes SIC images: header, machine block, stacks, code, data segments
// with typed vars, arrays and the replication block, each block at an offset
// of the caller's choosing or laid out one after another.
//
// The builder writes what a compiler writes; set-up (VmInitMachine) fills in
// the locations. Tests break images on purpose by placing blocks badly, by
// overriding header counts, or by editing the bytes of the result.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sicvm/image.h"

namespace sicvm::build {

// A typed value for a cell or a constant operand.
struct Value {
  uint8_t type = 0;
  VmValue v{};

  static Value boolean(bool b);
  static Value int16(int16_t i);
  static Value dint(int32_t i);
  static Value real(float f);
  static Value lreal(double d);
  static Value time(double ms);
  static Value dt(double days);
  static Value raw(uint8_t type, uint32_t low, uint32_t high);
};

// A 12-byte operand of a command record and its kind byte.
struct Operand {
  uint8_t kind = 0;
  VmCell cell{};

  static Operand none();
  // A constant (kind 1): the value's type in the cell head, the value in words 1 and 2.
  static Operand constant(const Value &value);
  // A variable (kind 2): segment index 0 (global) or 1 (local), var number.
  static Operand var(uint32_t segment, uint32_t number);
  // An array (kind 3): segment index, relative array number.
  static Operand array(uint32_t segment, uint32_t relative);
  // Any kind with raw words 1 and 2 (jump targets, counts, call descriptors).
  static Operand words(uint8_t kind, uint32_t word1, uint32_t word2 = 0);
};

// Common operand shorthands.
Operand c(const Value &value);   // constant
Operand g(uint32_t number);      // global var
Operand l(uint32_t number);      // local var
Operand num(uint32_t word1);     // constant kind with a plain number in word 1

struct Command {
  uint32_t code = 0;  // whole code word (bit 31 = end marker)
  Operand src1, src2, dst;
  uint8_t reserved = 0;
};

// Var of a data segment.
struct Var {
  Value init;                 // type and initial value
  uint8_t typeClass = 1;      // low nibble of the class byte
  bool load = false;          // bit 4: loaded from its point
  bool save = false;          // bit 5: saved to its point
  int8_t pointField = 44;
  int32_t pointId = 0;
  int32_t pointIndex = 0;
  uint8_t cellFlags = 0;      // e.g. 1 = timer running
  std::optional<uint16_t> recordType;  // var record type when it differs from init.type

  Var() = default;
  Var(const Value &value) : init(value) {}  // NOLINT: a plain value makes a plain var
};

struct Array {
  uint32_t type = VM_TYPE_DINT;
  uint32_t elementSize = 1;
  uint32_t elementCount = 1;
  uint32_t dimensions = 1;
  std::vector<Value> init;  // initial cell values (element count x size cells); missing = zero
  uint8_t cellFlags = 0;
};

enum class Block {
  Machine, State, CallStack, ParamStack, Code, SegmentTable, Segments, SegmentVars, Arrays,
  ArrayVars, Replication
};
inline constexpr int kBlockCount = 11;

// Offsets and sizes chosen by build().
struct Layout {
  std::array<uint32_t, kBlockCount> offset{};
  std::array<uint32_t, kBlockCount> length{};
  uint32_t size = 0;
  uint32_t of(Block b) const { return offset[static_cast<int>(b)]; }
};

class ImageBuilder {
 public:
  ImageBuilder();

  ImageBuilder &name(const std::string &name);
  ImageBuilder &number(int32_t number);
  ImageBuilder &callStack(uint32_t entries);
  ImageBuilder &paramStack(uint32_t entries);
  ImageBuilder &replication(uint32_t bytes);
  ImageBuilder &commandLimit(int32_t limit);  // initial machine field

  // A new data segment whose var 0 and var 1 hold (as DINT) its base segment
  // number and base array number. Returns the segment number.
  uint32_t segment(int32_t baseSegment = 0, int32_t baseArray = 0);
  // A data segment with exactly these vars (no base vars added).
  uint32_t rawSegment(const std::vector<Var> &vars);
  // Adds a var to a segment; returns its var number.
  uint32_t var(uint32_t segment, const Var &var);
  uint32_t segmentCount() const { return static_cast<uint32_t>(segments_.size()); }
  uint32_t varCount(uint32_t segment) const { return static_cast<uint32_t>(segments_.at(segment).size()); }

  uint32_t array(const Array &array);

  // Appends a command; returns its address.
  uint32_t command(const Command &command);
  uint32_t command(uint32_t code, const Operand &src1 = Operand::none(),
                   const Operand &src2 = Operand::none(), const Operand &dst = Operand::none());
  // Appends the end marker (code word with bit 31 set); returns its address.
  uint32_t end();
  uint32_t here() const { return static_cast<uint32_t>(code_.size()); }
  Command &at(uint32_t address) { return code_.at(address); }

  // Puts a block at a fixed offset instead of after the previous one.
  ImageBuilder &place(Block block, uint32_t offset);
  // Bytes left free between blocks that are laid out one after another
  // (a non-multiple of 4 exercises unaligned records).
  ImageBuilder &gap(uint32_t bytes);
  // Bytes added after the last block.
  ImageBuilder &tail(uint32_t bytes);
  // Header counts as the compiler wrote them, when they should differ from the truth.
  ImageBuilder &compilerSegmentVarCount(uint32_t count);
  ImageBuilder &compilerArrayVarCount(uint32_t count);

  Layout layout() const;
  std::vector<uint8_t> build() const;

 private:
  std::string name_ = "TEST";
  int32_t number_ = 1;
  uint32_t callStackSize_ = 16;
  uint32_t paramStackSize_ = 64;
  uint32_t replicationSize_ = 0;
  int32_t commandLimit_ = 100000;
  std::vector<std::vector<Var>> segments_;
  std::vector<Array> arrays_;
  std::vector<Command> code_;
  std::array<std::optional<uint32_t>, kBlockCount> placed_{};
  uint32_t gap_ = 0;
  uint32_t tail_ = 0;
  std::optional<uint32_t> compilerSegmentVarCount_;
  std::optional<uint32_t> compilerArrayVarCount_;
};

// Typed access to the records of a built image (by header offsets), for
// tests that inspect or break an image.
struct ImageBytes {
  std::vector<uint8_t> bytes;

  uint8_t *data() { return bytes.data(); }
  uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }
  VmHeader &header() { return *reinterpret_cast<VmHeader *>(bytes.data()); }
  VmMachine &machine() { return *reinterpret_cast<VmMachine *>(bytes.data() + header().machineOffset); }
  VmCommand &command(uint32_t address) {
    return *reinterpret_cast<VmCommand *>(bytes.data() + header().codeOffset + address * VM_COMMAND_SIZE);
  }
  // Var record i of segment k, found by walking the segments from segmentsOffset.
  VmVarRecord &varRecord(uint32_t segment, uint32_t number);
  VmArrayRecord &arrayRecord(uint32_t number) {
    return *reinterpret_cast<VmArrayRecord *>(bytes.data() + header().arraysOffset + number * VM_ARRAY_RECORD_SIZE);
  }
};

}  // namespace sicvm::build
