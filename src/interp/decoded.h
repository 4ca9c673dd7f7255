// SPDX-License-Identifier: MIT
// The decoded form of a machine's code: one entry per command, at the same
// index as the program counter, that the decoded loop (fast_loop.cpp) runs
// instead of re-reading and re-checking the 44-byte records at every step.
//
// An entry holds the address of its handler in the decoded loop and its
// operands already resolved: a global var or a constant as the offset of its
// value cell from the image start, a local var as its number (checked against
// the local segment in force when the command runs), a jump target checked
// against the code, as the address of the entry it goes to. Two pairs of
// commands share the first one's entry (the second keeps its own, for a jump
// that lands on it): a compare and the conditional jump after it, and a
// set_ds and the call after it. Commands the decoded loop does not run
// (library calls, point, array and timer commands, most stack commands, the math
// functions, unknown codes, end markers, odd operands) get the handler that
// hands the command to the step loop of run.cpp, so there is only one
// implementation of everything unusual.
//
// The form lives on the library's heap, never in the image. It is built by
// VmInitMachine and again by VmVerifyCode, kept in a process-wide registry
// keyed by the machine's address, replaced when the same image is set up
// again, dropped when an overlapping image is set up or by VmReleaseMachine.
// A run takes a reference to it when it starts (so a set-up of the running
// machine from inside the run frees the old form only when the run ends) and
// checks that it still describes that machine at that address.
//
// It is built only when nothing a program can write lies over what it
// caches: the code, the Data Segment Table, the data segments (var counts and
// var records) and the Arrays Block must not overlap the var cells, the array
// cells, the stacks or the State Block. Otherwise the machine runs in the
// step loop alone, as it does when SICVM_DECODE is 0 or off.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "interp/run_context.h"

namespace sicvm::interp {

// One command of the decoded form (32 bytes).
struct FastEntry {
  const void *handler = nullptr;     // a label of the decoded loop
  const FastEntry *jump = nullptr;   // the entry a jump or call goes to
  uint32_t x = 0, y = 0, d = 0;      // SRC1, SRC2, DST: cell offset, or local var number
                                     // (a call: y is its return address; a set_ds
                                     // with the call after it: d is the call's)
  uint8_t local = 0;                 // bit 0 x, bit 1 y, bit 2 d: a local var number
  uint8_t spare[3] = {};
};
static_assert(sizeof(FastEntry) == 32);

// Bits of FastEntry::local.
inline constexpr uint8_t kLocalX = 1, kLocalY = 2, kLocalD = 4;

// A data segment as the decoded loop sees it (32 bytes, so that a segment
// number indexes the table with a shift).
struct alignas(32) SegmentForm {
  const uint32_t *cells = nullptr;  // cell offsets of its vars (in DecodedCode::cells)
  uint32_t vars = 0;                // vars, from var 0, that have a usable cell
  uint32_t number = 0;              // its number in the table
  uint32_t location = 0;            // of its var count word; 0 when unusable
  SegmentSlot slot;                 // the local slot the step loop would use for it
};
static_assert(sizeof(SegmentForm) == 32);

struct DecodedCode {
  // What the form was built for; a run uses it only when all still hold.
  const uint8_t *base = nullptr;
  uint64_t extent = 0;
  const VmMachine *machine = nullptr;
  uint32_t code = 0;
  uint32_t commandCount = 0;
  uint32_t globalSegment = 0;

  // commandCount + 1 entries; the last hands pc == commandCount to the step loop.
  std::vector<FastEntry> entries;
  // One per entry of the Data Segment Table.
  std::vector<SegmentForm> segments;
  // No local segment (localSegmentNo 0, no vars).
  static constexpr SegmentForm none{};
  std::vector<uint32_t> cells;
};

// The handler addresses of the decoded loop, by command code.
struct FastHandlers {
  const void *const *direct;  // all operands are offsets
  const void *const *mixed;   // some operand is a local var number
  const void *const *fused;   // [compare - 171][jump - 191][mixed]: a compare and the jump after it
  const void *const *setDsCall;  // [mixed]: a set_ds and the call after it
  const void *slow;           // hands the command to the step loop
};

// Whether the command `code` has a handler in the decoded loop.
bool hasFastHandler(uint16_t code);

// Builds the decoded form of a set-up machine and registers it, replacing an
// earlier one; with SICVM_DECODE 0 or off, or when the image does not allow
// it (above), only drops the earlier one.
void decodeMachine(VmMachine *machine) noexcept;
// Drops the forms of every machine inside [base, base + size).
void forgetImage(const void *base, uint64_t size) noexcept;
// Drops the form of `machine`; false when it had none.
bool forgetMachine(const VmMachine *machine) noexcept;
// The form to run `ctx` with, or null when there is none or it no longer
// describes the machine.
std::shared_ptr<const DecodedCode> decodedFor(const RunContext &ctx) noexcept;
// Whether a run of `machine` would use a decoded form now.
bool runsDecoded(VmMachine *machine) noexcept;

// Runs commands of the decoded form from ctx.pc until one needs the step
// loop (or the command limit is reached); writes pc, commandsRun and
// compareFlags back. Called with a null ctx, returns its handler addresses.
const FastHandlers *runDecoded(RunContext *ctx, const DecodedCode *decoded);

}  // namespace sicvm::interp
