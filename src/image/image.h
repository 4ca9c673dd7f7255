// Bounds-aware view of one machine's image.
//
// A machine lies inside its image; the image start is found from the
// machine's `image` field, which set-up writes with the Machine Block's own
// offset. Set-up refuses images whose Machine Block overlaps another block,
// so only the library ever writes that field.
//
// Other blocks may overlap each other, so a program can overwrite any word
// outside the Machine Block and the header: segment table slots, var counts,
// var records and array records included. Every location or count read from
// those places is therefore checked against the image's extent before it is
// followed. The extent is the end of the last block, computed from header
// fields, which no program can write (every block starts at offset 216 or
// later) and which set-up has checked against the image size.
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
  // The image over which set-up laid `machine`; !ok() for a null machine or
  // a machine whose header does not name it.
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
  // not below segmentCount or the slot does not hold a usable location.
  uint32_t segmentLocation(uint32_t k) const noexcept;
  // Var count of the segment at `location` (0 when the word is unreadable).
  uint32_t varCount(uint32_t location) const noexcept {
    const Word *count = word(location);
    return count ? *count : 0;
  }
  // Var record n of the segment at `location`, or null when n is not below
  // the var count or the record lies outside the image.
  VmVarRecord *varRecord(uint32_t location, uint32_t n) const noexcept {
    const Word *count = word(location);
    if (count == nullptr || n >= *count) return nullptr;
    return at<VmVarRecord>(uint64_t(location) + 4 + uint64_t(n) * VM_VAR_RECORD_SIZE);
  }
  // The value cell of a var record, or null when its location is unusable.
  VmCell *varCell(const VmVarRecord *record) const noexcept { return at<VmCell>(record->cell); }
  // The DINT value of var n of a segment (var 0 = base segment number,
  // var 1 = base array number); false when there is no such var.
  bool varDint(uint32_t location, uint32_t n, int32_t &value) const noexcept;

  // ---- Arrays ----
  VmArrayRecord *arrayRecord(uint32_t number) const noexcept {
    if (number >= header()->arrayCount) return nullptr;
    return at<VmArrayRecord>(uint64_t(machine_->arrays) + uint64_t(number) * VM_ARRAY_RECORD_SIZE);
  }
  // The cells of an array (elementCount of them), or null when the array has
  // no elements or its cells do not lie in the image.
  VmCell *arrayCells(const VmArrayRecord *record) const noexcept {
    if (record->elementCount == 0) return nullptr;
    return at<VmCell>(record->firstCell, record->elementCount);
  }

 private:
  uint8_t *base_ = nullptr;
  uint64_t extent_ = 0;
  VmMachine *machine_ = nullptr;
};

// End of the last block of a set-up image, from its header fields.
uint64_t imageExtent(const VmHeader &header) noexcept;

}  // namespace sicvm
