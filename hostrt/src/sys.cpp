// SPDX-License-Identifier: MIT
// Host error number (per thread) and the millisecond clock.
#include "hostrt/sys.h"

#include <atomic>
#include <ctime>

namespace {

thread_local int t_errno = 0;
std::atomic<bool> g_manual{false};
std::atomic<uint32_t> g_manualValue{0};

}  // namespace

extern "C" {

void _winseterrno(int code) { t_errno = code; }
int _wingeterrno(void) { return t_errno; }

uint32_t SysGetClockCounter(void) {
  if (g_manual.load(std::memory_order_acquire)) return g_manualValue.load(std::memory_order_acquire);
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SysSetManualClock(uint32_t value) {
  g_manualValue.store(value, std::memory_order_release);
  g_manual.store(true, std::memory_order_release);
}

void SysAdvanceManualClock(uint32_t ms) { g_manualValue.fetch_add(ms, std::memory_order_acq_rel); }

void SysUseRealClock(void) { g_manual.store(false, std::memory_order_release); }

}  // extern "C"
