// SPDX-License-Identifier: MIT
// The UTC clock: the system's real-time clock plus a process-wide offset, so
// that tests and simulations can set "now" without touching the system time.
#include <atomic>
#include <cstdint>
#include <ctime>

#include "calendar_math.h"
#include "hostrt/datetime.h"
#include "hostrt/sys.h"

using namespace hostrt::detail;

namespace {

std::atomic<int64_t> g_offsetMs{0};

// Milliseconds since DT day 0 by the system clock.
int64_t systemNowMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return kUnixEpochMs + static_cast<int64_t>(now.tv_sec) * kMsPerSecond + now.tv_nsec / 1000000;
}

}  // namespace

extern "C" {

double DtGetUtcTime(void) {
  return msToDt(systemNowMs() + g_offsetMs.load(std::memory_order_relaxed));
}

int32_t DtSetUtcTime(double dt) {
  int64_t target = 0;
  if (DtValidateDateTime(dt) != 0 || !dtToMs(dt, target)) {
    _winseterrno(22);
    return -1;
  }
  g_offsetMs.store(target - systemNowMs(), std::memory_order_relaxed);
  return 0;
}

void DtResetUtcTime(void) { g_offsetMs.store(0, std::memory_order_relaxed); }

}  // extern "C"
