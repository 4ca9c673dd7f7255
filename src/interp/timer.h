// SPDX-License-Identifier: MIT
// TIMER family: timer_start, timer_stop, timer_started, timer_value (codes 230 to 233).
//
// A timer is a TIME cell: its value field counts milliseconds as a double and
// bit 0 of its flags byte says that it runs. The timer is SRC1's cell, or,
// when SRC1 is an array operand (kind 3), element SRC2 of that array, found
// as aget finds it; a missing element raises error 8, clears DST's value
// field (its BOOL byte for timer_started) and the program goes on.
//
//   timer_start    a stopped timer restarts from 0.0 and runs; a running one
//                  keeps its value. DST receives the value.
//   timer_stop     DST receives the value, then the timer stops (the value stays).
//   timer_started  DST's BOOL receives the running flag.
//   timer_value    DST receives the value.
//
// Time itself advances only in the timer update that load_points runs
// (image/timers.h).
#pragma once

#include "image/timers.h"
#include "interp/array.h"
#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::timer {

template <uint16_t Code>
inline void exec(RunContext &ctx, VmCommand &cmd) {
  static_assert(kCommands[Code].family == Family::TIMER);
  VmCell *first = src1(ctx, cmd);
  if (!first) return;
  const VmCell *index = nullptr;
  const bool inArray = cmd.src1Kind == VM_KIND_ARRAY;
  if (inArray) {
    index = src2(ctx, cmd);
    if (!index) return;
  }
  VmCell *to = dst(ctx, cmd);
  if (!to) return;
  VmCell *timer = inArray ? array::elementOrError(ctx, first, index) : first;
  if (timer == nullptr) {
    if constexpr (Code == op("timer_started")) putBool(to, false);
    else putBits(to, 0);
    ctx.next();
    return;
  }
  if constexpr (Code == op("timer_start")) {
    if (!(timer->flags & kTimerRunning)) {
      putDouble(timer, 0.0);
      timer->flags |= kTimerRunning;
    }
    putBits(to, getBits(timer));
  } else if constexpr (Code == op("timer_stop")) {
    putBits(to, getBits(timer));
    timer->flags &= uint8_t(~kTimerRunning);
  } else if constexpr (Code == op("timer_started")) {
    putBool(to, timer->flags & kTimerRunning);
  } else {
    static_assert(Code == op("timer_value"));
    putBits(to, getBits(timer));
  }
  ctx.next();
}

}  // namespace sicvm::interp::timer
