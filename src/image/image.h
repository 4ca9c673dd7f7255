// SPDX-License-Identifier: MIT
// Bounds-aware view of one machine's image.
//
// A machine lies inside its image; the image start is found from the
// machine's `image` field, which set-up writes with the Machine Block's own
// offset. Image::of is the one gate through which every export reaches a
// machine: it accepts only a machine whose set-up succeeded (set-up clears the
// Machine Block's `imageSize` when it starts and writes the size it accepted
// when it succeeds), so that the header fields the extent comes from are ones
// set-up has checked.
//
// Set-up refuses layouts in which the blocks a program writes (the stacks and
// the value cells) overlap the blocks that hold locations, counts or code
// (Machine Block, State Block, Code Segment, Data Segment Table, data
// segments, Arrays Block). Still, every location read from the image is
// checked where it is used, against the block it must lie in: a segment
// location against the data segments, a var's cell against the data segment
// vars, an array's cells against the array vars. Neither a program nor a
// host that forges such a word can make the library follow it elsewhere.
#pragma once

#include <cstdint>
#include <cstring>

#include "sicvm/image.h"

namespace sicvm {

// 32-bit words of the image may sit at any byte offset.
typedef uint32_t Word __attribute__((aligned(1)));
typedef int32_t SignedWord __attribute__((aligned(1)));

class Image {
 public:
  Image() = default;
  // The machine gate: the image over which a successful set-up laid
  // `machine`. For a null machine, a machine whose header does not name it or
  // one whose last set-up failed: !ok(), with the host error number set to 22.
  // On an ok() image the State Block words (statusFlags() ... runStatus())
  // are never null.
  static Image of(VmMachine *machine) noexcept;
  // The image at `base` of `size` bytes, for set-up (extent = size).
  static Image atBase(void *base, uint32_t size) noexcept;

  bool ok() const noexcept { return base_ != nullptr; }
  // Names the machine inside an image built with atBase (set-up only).
  void bindMachine(VmMachine *machine) noexcept { machine_ = machine; }
  uint8_t *base() const noexcept { return base_; }
  uint64_t extent() const noexcept { return extent_; }
  VmHeader *header() const noexcept { return reinterpret_cast<VmHeader *>(base_); }
  VmMachine *machine() const noexcept { return machine_; }

  // A block of the image: [start, end).
  struct Region {
    uint64_t start = 0, end = 0;
    bool holds(uint64_t offset, uint64_t length) const noexcept {
      return offset >= start && offset + length <= end;
    }
  };
  // The data segments (var counts and var records), the value cells of their
  // vars, and the value cells of the arrays.
  const Region &segments() const noexcept { return segments_; }
  const Region &varCells() const noexcept { return varCells_; }
  const Region &arrayCells() const noexcept { return arrayCells_; }

  // True when `length` bytes at `offset` lie in [216, extent).
  bool contains(uint64_t offset, uint64_t length) const noexcept {
    return offset >= VM_HEADER_SIZE && offset + length <= extent_;
  }
  // The record of type T (count of them) at `offset`, or null when it does
  // not lie in [216, extent). T is one of the packed image records.
  template <class T>
  T *at(uint64_t offset, uint64_t count = 1) const noexcept {
    static_assert(alignof(T) == 1, "image records are packed");
    return contains(offset, count * sizeof(T)) ? reinterpret_cast<T *>(base_ + offset) : nullptr;
  }
  // The 32-bit word at `offset`, or null when it does not lie in [216, extent).
  Word *word(uint64_t offset) const noexcept {
    return contains(offset, 4) ? reinterpret_cast<Word *>(base_ + offset) : nullptr;
  }
  uint32_t offsetOf(const void *p) const noexcept {
    return static_cast<uint32_t>(static_cast<const uint8_t *>(p) - base_);
  }

  // ---- Header facts ----
  int32_t programNumber() const noexcept { return header()->programNumber; }
  // The program name, at most 91 characters, always terminated.
  const char *programName(char (&buffer)[VM_PROGRAM_NAME_SIZE]) const noexcept;

  // ---- State Block words through the machine's references ----
  Word *statusFlags() const noexcept { return word(machine_->statusFlagsRef); }
  SignedWord *errorCode() const noexcept {
    return contains(machine_->errorCodeRef, 4) ? reinterpret_cast<SignedWord *>(base_ + machine_->errorCodeRef)
                                              : nullptr;
  }
  Word *errorAddress() const noexcept { return word(machine_->errorAddressRef); }
  Word *errorArg1() const noexcept { return word(machine_->errorArg1Ref); }
  Word *errorArg2() const noexcept { return word(machine_->errorArg2Ref); }
  Word *runStatus() const noexcept { return word(machine_->runStatusRef); }

  // ---- Data segments ----
  // Location of data segment k from the Data Segment Table, or 0 when k is
  // not below segmentCount or the slot does not locate a var count word
  // inside the data segments.
  uint32_t segmentLocation(uint32_t k) const noexcept;
  // Var count of the segment at `location` (0 when the word is unreadable).
  uint32_t varCount(uint32_t location) const noexcept {
    const Word *count = word(location);
    return count ? *count : 0;
  }
  // Var record n of the segment at `location`, or null when n is not below
  // the var count or the record does not lie in the data segments.
  VmVarRecord *varRecord(uint32_t location, uint32_t n) const noexcept {
    const Word *count = word(location);
    if (count == nullptr || n >= *count) return nullptr;
    const uint64_t offset = uint64_t(location) + 4 + uint64_t(n) * VM_VAR_RECORD_SIZE;
    if (!segments_.holds(offset, VM_VAR_RECORD_SIZE)) return nullptr;
    return reinterpret_cast<VmVarRecord *>(base_ + offset);
  }
  // The value cell of a var record (and `count` - 1 cells after it), or null
  // when they do not lie in the data segment vars.
  VmCell *varCell(const VmVarRecord *record, uint64_t count = 1) const noexcept {
    const uint32_t cell = record->cell;
    return varCells_.holds(cell, count * VM_CELL_SIZE) ? reinterpret_cast<VmCell *>(base_ + cell) : nullptr;
  }
  // The DINT value of var n of a segment (var 0 = base segment number,
  // var 1 = base array number); false when there is no such var.
  bool varDint(uint32_t location, uint32_t n, int32_t &value) const noexcept;

  // ---- Arrays ----
  VmArrayRecord *arrayRecord(uint32_t number) const noexcept {
    if (number >= header()->arrayCount) return nullptr;
    return at<VmArrayRecord>(uint64_t(machine_->arrays) + uint64_t(number) * VM_ARRAY_RECORD_SIZE);
  }
  // The first cell of an array when it has elements and `count` cells from
  // its first cell lie in the array vars; else null.
  VmCell *arrayCells(const VmArrayRecord *record, uint64_t count) const noexcept {
    const uint32_t first = record->firstCell;
    if (record->elementCount == 0 || !arrayCells_.holds(first, count * VM_CELL_SIZE)) return nullptr;
    return reinterpret_cast<VmCell *>(base_ + first);
  }

 private:
  uint8_t *base_ = nullptr;
  uint64_t extent_ = 0;
  VmMachine *machine_ = nullptr;
  Region segments_, varCells_, arrayCells_;
};

// End of the last block of a set-up image, from its header fields.
uint64_t imageExtent(const VmHeader &header) noexcept;

}  // namespace sicvm
