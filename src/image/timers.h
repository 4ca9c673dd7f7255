// SPDX-License-Identifier: MIT
// The machine's timers: TIME vars and TIME array cells whose running flag
// (bit 0 of the cell's flags byte) is set.
#pragma once

#include <cstdint>
#include <span>

#include "image/image.h"
#include "sicvm/image.h"

namespace sicvm {

inline constexpr uint8_t kTimerRunning = 0x01;

// Advances every running timer of the machine by the milliseconds elapsed on
// the host clock since the last update (or since VmInitTimers), and keeps
// the clock reading for the next update. The distance is the wrapping
// difference of the two 32-bit readings taken as signed, made positive: a
// clock that went back or wrapped still moves the timers forward. Each
// advanced timer is traced at level 15. Returns 0; -1 with host error number
// 22 for a null machine.
int32_t UpdateTimers(VmMachine *machine);

// The timers of a machine found once, in the order UpdateTimers visits them,
// for a caller that keeps them while the image's records cannot change (the
// decoded form): every TIME var with its value cell in the image, and every
// TIME array with its cells.
struct TimerVar {
  uint32_t cell;     // offset of its value cell
  uint32_t segment;  // data segment and var number, for the trace
  uint32_t var;
};
struct TimerArray {
  uint32_t cells;  // offset of its first cell
  uint32_t count;  // element count (element x is cell x)
  uint32_t number;
};

// UpdateTimers over timers found before: the same clock reading, the same
// advances and the same traces, without walking the records.
void advanceTimers(const Image &image, std::span<const TimerVar> vars, std::span<const TimerArray> arrays) noexcept;

}  // namespace sicvm
