// SPDX-License-Identifier: MIT
// The machine's timers: TIME vars and TIME array cells whose running flag
// (bit 0 of the cell's flags byte) is set.
#pragma once

#include <cstdint>

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

}  // namespace sicvm
