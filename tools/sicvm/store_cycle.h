// SPDX-License-Identifier: MIT
// One store transaction per cycle for `sicvm run`: the point store's writes
// of a cycle are held from begin() to commit() and stored together with one
// disk sync, so a crash leaves the store as it was after some whole cycle.
#pragma once

#include <cstdint>
#include <string>

namespace sicvm::tool {

class StoreCycle {
 public:
  // `store` is the session's store handle; 0 (no store) makes both calls do nothing.
  explicit StoreCycle(uint32_t store) : store_(store) {}

  // Before the cycle runs.
  void begin();

  // After the cycle. Each commit that stored something is logged at level 10
  // ("Point store: cycle N committed, K points"), once it is durable. A
  // failed commit keeps the writes for the next one; it is reported on
  // standard error when the store starts failing and when it recovers, not
  // on every cycle in between.
  void commit();

 private:
  uint32_t store_;
  bool open_ = false;
  int64_t cycle_ = 0;
  int64_t failingSince_ = 0;  // first cycle of a run of failed commits, 0 when none
  std::string lastFailure_;
};

}  // namespace sicvm::tool
