// SPDX-License-Identifier: MIT
// Machine set-up: VmInitHeader and VmInitMachine.
//
// VmInitMachine checks the image block by block in a fixed order, logs one
// line per block, resolves every location inside the image and resets the
// machine. Each failing step logs at level 4 and returns -1; what earlier
// steps resolved stays written.
//
// Two checks of our own complete the layout checks:
//  - a data segment whose var count word does not lie within the image is
//    refused before the word is read ("Data Segment %d count (%d:4) is
//    outside of SIC (0:%d)");
//  - after the last block, the image is refused when two blocks overlap in a
//    way that would let a program or set-up itself change what the library
//    follows ("%s (%d:%d) overlaps %s (%d:%d)"):
//      the Machine Block overlaps any block but the Replication Block;
//      two of the structure blocks overlap: Data Segment Table, data
//      segments, Arrays Block, State Block, Code Segment (set-up writes
//      locations into the first three, a run writes the State Block, and the
//      code must stay as verified);
//      a block that programs write (Call Stack, Param Stack, data segment
//      vars, array vars) overlaps a structure block.
//    Blocks that programs write may overlap one another: everything read
//    from them (return addresses, segment numbers, entry kinds, array
//    numbers, cell values) is checked where it is used. The Replication
//    Block is the host's and is never followed.
//
// The machine is usable (Image::of) only after a successful set-up: the
// Machine Block's `imageSize` is cleared as soon as the block is located and
// set to the accepted size at the end.
#include <cstring>
#include <iterator>

#include "foundation/report.h"
#include "hostrt/sys.h"
#include "image/image.h"
#include "sicvm/vm.h"
#include "interp/decoded.h"

namespace sicvm {
namespace {

struct Span {
  const char *name;
  uint64_t offset;
  uint64_t length;
};

bool overlap(const Span &a, const Span &b) {
  return a.length > 0 && b.length > 0 && a.offset < b.offset + b.length &&
         b.offset < a.offset + a.length;
}

class SetUp {
 public:
  SetUp(void *base, uint32_t size) : image_(Image::atBase(base, size)), size_(size) {}

  int32_t run(VmMachine **place);

 private:
  // A block lies within the image when it starts at 216 or later and ends
  // at or before the image end (no wrap-around: 64-bit sums).
  bool within(uint64_t offset, uint64_t length) const {
    return offset >= VM_HEADER_SIZE && offset + length <= size_;
  }
  template <class... A>
  int32_t fail(const char *format, A... args) {
    logProgram(image_, kLevelFatal, format, args...);
    // Withdraw the machine once more: before the overlap checks, a block
    // that lies over the Machine Block may have been written over it.
    if (image_.machine() != nullptr) m().imageSize = 0;
    return -1;
  }
  template <class... A>
  void succeed(const char *format, A... args) {
    logProgram(image_, kLevelInfo, format, args...);
  }
  // Offsets and lengths print as the 32-bit numbers they are.
  static int p(uint64_t value) { return static_cast<int>(static_cast<uint32_t>(value)); }

  int32_t segments(uint64_t &span);
  int32_t arraysBlock();
  int32_t segmentVars(uint32_t &total);
  int32_t arrayVars(uint64_t &total);
  int32_t overlaps(uint64_t segmentsSpan, uint32_t segmentVarTotal, uint64_t arrayVarTotal);

  VmHeader &h() { return *image_.header(); }
  VmMachine &m() { return *image_.machine(); }
  // A record or word at an offset that the current step has checked.
  template <class T>
  T *raw(uint64_t offset) {
    static_assert(alignof(T) == 1, "image records are packed");
    return reinterpret_cast<T *>(image_.base() + offset);
  }
  Word *rawWord(uint64_t offset) { return reinterpret_cast<Word *>(image_.base() + offset); }

  Image image_;
  uint32_t size_;
};

int32_t SetUp::run(VmMachine **place) {
  succeed(": Header Block (%d:%d) init successful\n", 0, VM_HEADER_SIZE);

  // Machine Block.
  if (!within(h().machineOffset, VM_MACHINE_SIZE))
    return fail(" error: Machine Block (%d:%d) is outside of SIC (0:%d)\n", p(h().machineOffset),
                VM_MACHINE_SIZE, p(size_));
  succeed(": Machine Block (%d:%d) init successful\n", p(h().machineOffset), VM_MACHINE_SIZE);
  image_.bindMachine(raw<VmMachine>(h().machineOffset));
  *place = image_.machine();
  m().image = h().machineOffset;
  m().imageSize = 0;  // withdrawn until this set-up succeeds

  // Call Stack.
  if (h().callStackSize == 0) return fail(" error: Call Stack is empty (%d)\n", p(h().callStackSize));
  uint64_t length = uint64_t(h().callStackSize) * VM_CALL_ENTRY_SIZE;
  if (!within(h().callStackOffset, length))
    return fail(" error: Call Stack (%d:%d) is outside of SIC (0:%d)\n", p(h().callStackOffset),
                p(length), p(size_));
  succeed(": Call Stack (%d:%d) init successful\n", p(h().callStackOffset), p(length));
  m().callStack = h().callStackOffset;

  // Param Stack.
  if (h().paramStackSize == 0) return fail(" error: Param Stack is empty (%d)\n", p(h().paramStackSize));
  length = uint64_t(h().paramStackSize) * VM_CELL_SIZE;
  if (!within(h().paramStackOffset, length))
    return fail(" error: Param Stack (%d:%d) is outside of SIC (0:%d)\n", p(h().paramStackOffset),
                p(length), p(size_));
  succeed(": Param Stack (%d:%d) init successful\n", p(h().paramStackOffset), p(length));
  m().paramStack = h().paramStackOffset;

  // Code Segment.
  if (h().commandCount == 0) return fail(" error: Code Segment is empty (%d)\n", p(h().commandCount));
  length = uint64_t(h().commandCount) * VM_COMMAND_SIZE;
  if (!within(h().codeOffset, length))
    return fail(" error: Code Segment (%d:%d) is outside of SIC (0:%d)\n", p(h().codeOffset),
                p(length), p(size_));
  succeed(": Code Segment (%d:%d) init successful\n", p(h().codeOffset), p(length));
  m().code = h().codeOffset;

  // Data Segment Table.
  if (h().segmentCount == 0) return fail(" error: No Data Segments (%d)\n", p(h().segmentCount));
  length = uint64_t(h().segmentCount) * 4;
  if (!within(h().segmentTableOffset, length))
    return fail(" error: Data Segment Table (%d:%d) is outsize of SIC (0:%d)\n",
                p(h().segmentTableOffset), p(length), p(size_));
  succeed(": Data Segment Table (%d:%d) init successful\n", p(h().segmentTableOffset), p(length));
  m().segmentTable = h().segmentTableOffset;

  uint64_t segmentsSpan = 0;
  if (segments(segmentsSpan) != 0) return -1;
  if (arraysBlock() != 0) return -1;

  // State Block.
  if (!within(h().stateOffset, VM_STATE_SIZE))
    return fail(" error: State Block (%d:%d) is outsize of SIC (0:%d)\n", p(h().stateOffset),
                VM_STATE_SIZE, p(size_));
  succeed(": State Block (%d:%d) init successful\n", p(h().stateOffset), VM_STATE_SIZE);
  m().stateBlock = h().stateOffset;
  m().statusFlagsRef = h().stateOffset + 0;
  m().errorCodeRef = h().stateOffset + 4;
  m().errorAddressRef = h().stateOffset + 8;
  m().errorArg1Ref = h().stateOffset + 12;
  m().errorArg2Ref = h().stateOffset + 16;
  m().runStatusRef = h().stateOffset + 20;

  uint32_t segmentVarTotal = 0;
  if (segmentVars(segmentVarTotal) != 0) return -1;
  if (h().segmentVarCount != segmentVarTotal) {
    logProgram(image_, kLevelNotice, ": Data Segment vars count mismatch (compiler %d, found %d)\n",
               p(h().segmentVarCount), p(segmentVarTotal));
    h().segmentVarCount = segmentVarTotal;
  }

  uint64_t arrayVarTotal = 0;
  if (arrayVars(arrayVarTotal) != 0) return -1;
  if (h().arrayVarCount != arrayVarTotal) {
    logProgram(image_, kLevelNotice, ": Arrays vars count mismatch (compiler %d, found %d)\n",
               p(h().arrayVarCount), p(arrayVarTotal));
    h().arrayVarCount = static_cast<uint32_t>(arrayVarTotal);
  }

  // Replication Block.
  if (!within(h().replicationOffset, h().replicationSize))
    return fail(" error: Replication Block (%d:%d) is outsize of SIC (0:%d)\n",
                p(h().replicationOffset), p(h().replicationSize), p(size_));
  succeed(": Replication Block (%d:%d) init successful\n", p(h().replicationOffset),
          p(h().replicationSize));

  if (overlaps(segmentsSpan, segmentVarTotal, arrayVarTotal) != 0) return -1;
  m().imageSize = size_;
  return VmResetMachine(image_.machine());
}

// Data segments follow each other from segmentsOffset; slot k of the table
// receives the location of segment k.
int32_t SetUp::segments(uint64_t &span) {
  uint64_t offset = h().segmentsOffset;
  Word *table = rawWord(h().segmentTableOffset);
  for (uint32_t k = 0; k < h().segmentCount; ++k) {
    if (offset + 4 > size_)
      return fail(" error: Data Segment %d count (%d:4) is outside of SIC (0:%d)\n", p(k), p(offset),
                  p(size_));
    uint32_t n = *rawWord(offset);
    if (n == 0) return fail(" error: Data Segment %d is empty (%d)\n", p(k), p(n));
    uint64_t length = 4 + uint64_t(n) * VM_VAR_RECORD_SIZE;
    if (!within(offset, length))
      return fail(" error: Data Segment %d (%d:%d) is outsize of SIC (0:%d)\n", p(k), p(offset),
                  p(length), p(size_));
    succeed(": Data Segment %d (%d:%d) init successful\n", p(k), p(offset), p(length));
    table[k] = static_cast<uint32_t>(offset);
    offset += length;
  }
  span = offset - h().segmentsOffset;
  return 0;
}

int32_t SetUp::arraysBlock() {
  uint64_t length = uint64_t(h().arrayCount) * VM_ARRAY_RECORD_SIZE;
  if (!within(h().arraysOffset, length))
    return fail(" error: Arrays Block (%d:%d) is outsize of SIC (0:%d)\n", p(h().arraysOffset),
                p(length), p(size_));
  succeed(": Arrays Block (%d:%d) init successful\n", p(h().arraysOffset), p(length));
  m().arrays = h().arraysOffset;
  for (uint32_t j = 0; j < h().arrayCount; ++j) {
    const auto *a = raw<VmArrayRecord>(uint64_t(h().arraysOffset) + uint64_t(j) * VM_ARRAY_RECORD_SIZE);
    if (a->elementCount == 0) return fail(" error: Array %d is empty (%d)\n", p(j), p(a->elementCount));
    if (a->elementSize == 0)
      return fail(" error: Invalid Array %d element size (%d)\n", p(j), p(a->elementSize));
    if (a->dimensions == 0 || a->dimensions > 3)
      return fail(" error: Invalid Array %d dimension (%d)\n", p(j), p(a->dimensions));
  }
  return 0;
}

// The value cells of all data segment vars, segment after segment. The
// segments are found again through the table; should an overlapping block
// have changed a var count since it was checked, the segment is checked again.
int32_t SetUp::segmentVars(uint32_t &total) {
  uint64_t offset = h().segmentVarsOffset;
  const Word *table = rawWord(h().segmentTableOffset);
  for (uint32_t k = 0; k < h().segmentCount; ++k) {
    uint32_t segment = table[k];
    if (uint64_t(segment) + 4 > size_)
      return fail(" error: Data Segment %d count (%d:4) is outside of SIC (0:%d)\n", p(k), p(segment),
                  p(size_));
    uint32_t n = *rawWord(segment);
    uint64_t recordsLength = 4 + uint64_t(n) * VM_VAR_RECORD_SIZE;
    if (n == 0) return fail(" error: Data Segment %d is empty (%d)\n", p(k), p(n));
    if (!within(segment, recordsLength))
      return fail(" error: Data Segment %d (%d:%d) is outsize of SIC (0:%d)\n", p(k), p(segment),
                  p(recordsLength), p(size_));
    uint64_t length = uint64_t(n) * VM_CELL_SIZE;
    if (!within(offset, length))
      return fail(" error: Data Segment %d vars (%d:%d) is outsize of SIC (0:%d)\n", p(k), p(offset),
                  p(length), p(size_));
    succeed(": Data Segment %d vars (%d:%d) init successful\n", p(k), p(offset), p(length));
    auto *records = raw<VmVarRecord>(uint64_t(segment) + 4);
    for (uint32_t i = 0; i < n; ++i) records[i].cell = static_cast<uint32_t>(offset + uint64_t(i) * VM_CELL_SIZE);
    offset += length;
    total += n;
  }
  return 0;
}

int32_t SetUp::arrayVars(uint64_t &total) {
  uint64_t offset = h().arrayVarsOffset;
  for (uint32_t j = 0; j < h().arrayCount; ++j) {
    auto *a = raw<VmArrayRecord>(uint64_t(h().arraysOffset) + uint64_t(j) * VM_ARRAY_RECORD_SIZE);
    uint64_t n = uint64_t(a->elementCount) * a->elementSize;
    uint64_t length = n * VM_CELL_SIZE;
    if (!within(offset, length))
      return fail(" error: Array %d vars (%d:%d) is outsize of SIC (0:%d)\n", p(j), p(offset),
                  p(length), p(size_));
    succeed(": Array %d vars (%d:%d) init successful\n", p(j), p(offset), p(length));
    a->firstCell = static_cast<uint32_t>(offset);
    offset += length;
    total += n;
  }
  return 0;
}

int32_t SetUp::overlaps(uint64_t segmentsSpan, uint32_t segmentVarTotal, uint64_t arrayVarTotal) {
  const Span machine{"Machine Block", h().machineOffset, VM_MACHINE_SIZE};
  const Span structure[] = {
      {"Data Segment Table", h().segmentTableOffset, uint64_t(h().segmentCount) * 4},
      {"Data Segments", h().segmentsOffset, segmentsSpan},
      {"Arrays Block", h().arraysOffset, uint64_t(h().arrayCount) * VM_ARRAY_RECORD_SIZE},
      {"State Block", h().stateOffset, VM_STATE_SIZE},
      {"Code Segment", h().codeOffset, uint64_t(h().commandCount) * VM_COMMAND_SIZE},
  };
  const Span written[] = {
      {"Call Stack", h().callStackOffset, uint64_t(h().callStackSize) * VM_CALL_ENTRY_SIZE},
      {"Param Stack", h().paramStackOffset, uint64_t(h().paramStackSize) * VM_CELL_SIZE},
      {"Data Segment vars", h().segmentVarsOffset, uint64_t(segmentVarTotal) * VM_CELL_SIZE},
      {"Array vars", h().arrayVarsOffset, arrayVarTotal * VM_CELL_SIZE},
  };
  auto refuse = [&](const Span &a, const Span &b) {
    return fail(" error: %s (%d:%d) overlaps %s (%d:%d)\n", a.name, p(a.offset), p(a.length), b.name,
                p(b.offset), p(b.length));
  };
  // The Machine Block first, against every block in the order set-up checked them.
  const Span *order[] = {&structure[3], &written[0], &written[1], &structure[4], &structure[0],
                         &structure[1], &written[2], &structure[2], &written[3]};
  for (const Span *other : order)
    if (overlap(machine, *other)) return refuse(machine, *other);
  for (size_t i = 0; i < std::size(structure); ++i)
    for (size_t j = i + 1; j < std::size(structure); ++j)
      if (overlap(structure[i], structure[j])) return refuse(structure[i], structure[j]);
  for (const Span &w : written)
    for (const Span &s : structure)
      if (overlap(w, s)) return refuse(w, s);
  return 0;
}

}  // namespace
}  // namespace sicvm

extern "C" {

SICVM_API int32_t VmInitHeader(void *image, uint32_t size) {
  if (image == nullptr || size < VM_HEADER_SIZE) {
    _winseterrno(22);
    return -1;
  }
  sicvm::Image view = sicvm::Image::atBase(image, size);
  const VmHeader &h = *view.header();
  if (h.label != VM_SIC_LABEL) {
    char found[5];
    std::memcpy(found, &h.label, 4);
    found[4] = '\0';
    sicvm::logProgram(view, sicvm::kLevelNotice,
                      " fatal error: SIC label error (found \"%s\", required \"%s\")\n", found, "SIC4");
    return -1;
  }
  if (h.version != VM_SIC_VERSION) {
    sicvm::logProgram(view, sicvm::kLevelNotice,
                      " fatal error: Unsupported SIC version (found %d, required %d)\n",
                      static_cast<int>(h.version), VM_SIC_VERSION);
    return -1;
  }
  return 0;
}

SICVM_API int32_t VmInitMachine(void *image, uint32_t size, VmMachine **machine) {
  if (image == nullptr || machine == nullptr || size < VM_HEADER_SIZE + VM_MACHINE_SIZE) {
    _winseterrno(22);
    return -1;
  }
  if (VmInitHeader(image, size) != 0) return -1;
  // The decoded forms of machines that lay in this memory describe another image now.
  sicvm::interp::forgetImage(image, size);
  if (sicvm::SetUp(image, size).run(machine) != 0) return -1;
  sicvm::interp::decodeMachine(*machine);
  return 0;
}

}  // extern "C"
