// SPDX-License-Identifier: MIT
// The state of a running program as one byte string that a standby can
// hold: which bytes of the image a cycle may change, and the points the
// program writes.
//
// The state, in this order:
//   - the value cells of every data segment var (every var, every function
//     block instance cell, every TIME timer with its running flag);
//   - the value cells of every array element;
//   - the State Block (status flags, error record, run status);
//   - the machine's cycle counter;
//   - for each output point (a point that a var with the save flag is linked
//     to, in ascending index order) its value (8 bytes) and status word (4).
// The machine's timer clock (`lastClock`) is not a byte of the state: a
// state carries its age instead (now minus lastClock on the primary's
// clock), and the standby sets lastClock from its own clock, so that timers
// advance by the real time that passed, with no jump, whatever the two
// hosts' clock counters read.
//
// Var records (their value cell locations and point links), stacks and code
// are not state: set-up writes them the same on both sides, and each cycle
// starts with empty stacks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runner/session.h"

namespace sicvm::standby {

class StateMap {
 public:
  // The map of a session that has been set up.
  explicit StateMap(const runner::Session &session);

  size_t size() const { return size_; }
  size_t outputPoints() const { return points_.size(); }

  // Copies the state into `out` (size() bytes).
  void gather(uint8_t *out) const;
  // Writes the image part of a state into the machine. Output point values
  // are not written: that is takeover's (writePoints).
  void scatter(const uint8_t *state) const;
  // Writes the output points' values and status words of a state into the
  // session's point value table.
  void writePoints(const uint8_t *state) const;

  // Milliseconds since the machine's last timer update; sets lastClock so
  // that the last update lies `age` milliseconds back.
  uint32_t clockAge() const;
  void setClockAge(uint32_t age) const;

 private:
  struct Range {
    uint32_t offset, length;  // in the image
  };
  uint8_t *base_;
  VmMachine *machine_;
  PointDb *db_;
  std::vector<Range> ranges_;
  std::vector<int32_t> points_;
  size_t size_ = 0;
};

}  // namespace sicvm::standby
