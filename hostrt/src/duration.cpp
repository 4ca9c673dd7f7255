// SPDX-License-Identifier: MIT
// TIME values (millisecond durations): duration records and validation.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "calendar_math.h"
#include "hostrt/datetime.h"
#include "hostrt/numbers.h"
#include "hostrt/sys.h"

static_assert(sizeof(TmDurationRecord) == 44);

using namespace hostrt::detail;

namespace {

constexpr int kEinval = 22;
constexpr double kExactLimit = 9007199254740992.0;  // 2^53 ms

}  // namespace

extern "C" {

double TmEncodeTime(const TmDurationRecord *record, int32_t flags) {
  if (record == nullptr || flags != 0) {
    _winseterrno(kEinval);
    return std::numeric_limits<double>::quiet_NaN();
  }
  // int32 days x 86400000 and the other fields stay far inside int64.
  const int64_t total = int64_t{record->days} * kMsPerDay + int64_t{record->hours} * kMsPerHour +
                        int64_t{record->minutes} * kMsPerMinute +
                        int64_t{record->seconds} * kMsPerSecond + record->milliseconds;
  const double magnitude = static_cast<double>(total);
  return record->sign < 0 ? -magnitude : magnitude;
}

TmDurationRecord *TmDecodeTime(double ms, TmDurationRecord *record) {
  if (record == nullptr) {
    _winseterrno(kEinval);
    return nullptr;
  }
  std::memset(record, 0, sizeof *record);
  if (!(std::fabs(ms) < kExactLimit)) {  // NaN fails too
    _winseterrno(kEinval);
    return record;
  }
  const int64_t whole = static_cast<int64_t>(roundb(ms));
  int64_t rest = whole < 0 ? -whole : whole;
  record->sign = whole < 0 ? -1 : 1;
  record->days = static_cast<int32_t>(rest / kMsPerDay);
  rest %= kMsPerDay;
  record->hours = static_cast<int32_t>(rest / kMsPerHour);
  rest %= kMsPerHour;
  record->minutes = static_cast<int32_t>(rest / kMsPerMinute);
  rest %= kMsPerMinute;
  record->seconds = static_cast<int32_t>(rest / kMsPerSecond);
  record->milliseconds = static_cast<int32_t>(rest % kMsPerSecond);
  return record;
}

int32_t TmValidateTime(double t) {
  int64_t ms = 0;
  if (!timeToMs(t, ms)) return -1;
  constexpr int64_t kLimit = int64_t{TM_MAX_VALID_DAYS} * kMsPerDay;
  return ms >= -kLimit && ms <= kLimit ? 0 : -1;
}

}  // extern "C"
