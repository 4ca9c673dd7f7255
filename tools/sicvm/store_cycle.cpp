// SPDX-License-Identifier: MIT
#include "store_cycle.h"

#include <cstdio>

#include "hostrt/log.h"
#include "hostrt/store.h"

namespace sicvm::tool {

void StoreCycle::begin() {
  ++cycle_;
  if (store_ == 0) return;
  open_ = DboperBeginCycle(store_) == 0;
  if (!open_) std::fprintf(stderr, "sicvm run: cycle %lld: %s\n", static_cast<long long>(cycle_), DboperLastMessage());
}

void StoreCycle::commit() {
  if (!open_) return;
  open_ = false;
  const int32_t points = DboperCommitCycle(store_);
  if (points < 0) {
    // Said once per run of failures, and again when the reason changes.
    if (failingSince_ == 0 || lastFailure_ != DboperLastMessage())
      std::fprintf(stderr, "sicvm run: cycle %lld: %s; the writes are kept and retried with each cycle\n",
                   static_cast<long long>(cycle_), DboperLastMessage());
    if (failingSince_ == 0) failingSince_ = cycle_;
    lastFailure_ = DboperLastMessage();
    return;
  }
  if (failingSince_ != 0) {
    std::fprintf(stderr,
                 "sicvm run: cycle %lld: the point store commits again; the writes held since cycle %lld are "
                 "stored\n",
                 static_cast<long long>(cycle_), static_cast<long long>(failingSince_));
    failingSince_ = 0;
    lastFailure_.clear();
  }
  if (points > 0 && LogGetLevel() >= 10)
    LogPrintf(10, "Point store: cycle %lld committed, %d point%s\n", static_cast<long long>(cycle_), points,
              points == 1 ? "" : "s");
}

}  // namespace sicvm::tool
