// SPDX-License-Identifier: MIT
// Pacing and timing of control cycles: each cycle starts on a fixed grid of
// the period on CLOCK_MONOTONIC (absolute sleeps, so the period does not
// drift however long the cycles take), and its start jitter and execution
// time are measured.
//
// A cycle that cannot start on its slot (the one before overran) starts at
// once and its jitter says how late it was. When it is late by a whole
// period or more, the slots that passed are given up and the grid goes on
// from the next one, so a late run never bursts cycles to catch up.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace sicvm::tool {

struct CycleTiming {
  int64_t startNs = 0;   // start, from the first cycle's start
  int64_t jitterNs = 0;  // start minus its slot (0 without a period)
  int64_t execNs = 0;    // execution time
  bool overrun = false;  // the cycle took longer than the period
};

class CyclePacer {
 public:
  explicit CyclePacer(int64_t periodMs);

  // Sleeps until the next cycle's slot; returns early when `stop` turns
  // true (signals interrupt the sleep).
  void waitForSlot(const std::atomic<bool> &stop);
  // Marks the start and the end of a cycle's work; end() returns its timing.
  void begin();
  CycleTiming end();

 private:
  int64_t periodNs_;
  int64_t origin_ = -1;  // first cycle's start
  int64_t slot_ = 0;     // the current cycle's slot
  int64_t started_ = 0;
};

// Minimum, mean and maximum of the execution times and of the jitter, and
// the overruns, of all cycles so far.
class CycleStats {
 public:
  explicit CycleStats(int64_t periodMs) : periodMs_(periodMs) {}
  void add(const CycleTiming &t);
  int64_t overruns() const { return overruns_; }
  // "exec min/avg/max 0.012/0.015/0.031 ms, jitter avg/max 0.050/0.210 ms,
  // 0 overruns of 100 ms"; "" before the first cycle.
  std::string text() const;

 private:
  int64_t periodMs_;
  int64_t count_ = 0, overruns_ = 0;
  int64_t execMin_ = 0, execMax_ = 0, jitterMax_ = 0;
  double execSum_ = 0, jitterSum_ = 0;
};

}  // namespace sicvm::tool
