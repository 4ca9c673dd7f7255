// SPDX-License-Identifier: MIT
// The process that owns a named point database, and whether it still runs.
#ifndef HOSTRT_SRC_POINT_OWNER_H
#define HOSTRT_SRC_POINT_OWNER_H

#include <cstdint>

namespace hostrt::points {

// The start time of process `pid` in clock ticks after boot, from
// /proc/PID/stat; 0 when it cannot be read.
uint64_t processStart(int32_t pid);

// True while process `pid` runs and, when `start` is known (not 0), it is
// the same process that started at `start` (not a later one given its PID).
bool processRuns(int32_t pid, uint64_t start);

}  // namespace hostrt::points

#endif
