// SPDX-License-Identifier: MIT
// The process-wide time zone: one zone record and a state word, -1 until the
// record is loaded from the system (TZ, else /etc/localtime) and again after
// VmSetTimeZone(NULL). Both are shared by every machine and read without a
// lock; the host sets the zone while no machine runs.
#include <atomic>
#include <cstring>

#include "datetime/local_time.h"
#include "sicvm/datetime.h"

static_assert(sizeof(TzZoneRecord) == VM_TIME_ZONE_SIZE);

namespace sicvm::datetime {
namespace {

constexpr int32_t kNotLoaded = -1;

TzZoneRecord g_zone{};
// Relaxed: the word only orders the loading against itself; the record is
// set while no machine runs.
std::atomic<int32_t> g_state{kNotLoaded};

}  // namespace

const TzZoneRecord *zone() noexcept {
  if (g_state.load(std::memory_order_relaxed) == kNotLoaded) {
    std::memset(&g_zone, 0, sizeof g_zone);
    // A zone that cannot be read leaves the record zeroed (UTC) and the state
    // at -1, so the next use tries again.
    g_state.store(TzGetSystemTimeZone(&g_zone), std::memory_order_relaxed);
  }
  return &g_zone;
}

}  // namespace sicvm::datetime

using sicvm::datetime::g_state;
using sicvm::datetime::g_zone;

extern "C" {

void *VmGetTimeZone(void *target) {
  const TzZoneRecord *current = sicvm::datetime::zone();
  if (target == nullptr) return const_cast<TzZoneRecord *>(current);
  std::memcpy(target, current, sizeof *current);
  return target;
}

int32_t VmSetTimeZone(const void *source) {
  if (source == nullptr) {
    g_state.store(-1, std::memory_order_relaxed);
    return 0;
  }
  TzZoneRecord candidate;
  std::memcpy(&candidate, source, sizeof candidate);  // the caller's record may be unaligned
  if (TzValidateTimeZone(&candidate) != 0) return -1;
  g_zone = candidate;
  g_state.store(0, std::memory_order_relaxed);
  return 0;
}

}  // extern "C"
