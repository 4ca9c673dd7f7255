// SPDX-License-Identifier: MIT
// DT values: decoding and encoding calendar records, validation, arithmetic,
// comparison and Unix time.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "calendar_math.h"
#include "hostrt/datetime.h"
#include "hostrt/numbers.h"
#include "hostrt/sys.h"

static_assert(sizeof(DtCalendarRecord) == 44);

namespace hostrt::detail {

namespace {

constexpr int kEinval = 22;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool roundToMs(double x, int64_t &ms) {
  if (!(std::fabs(x) <= static_cast<double>(kComputableMs))) return false;  // NaN fails too
  ms = static_cast<int64_t>(roundb(x));
  return true;
}

}  // namespace

bool dtToMs(double dt, int64_t &ms) { return roundToMs(dt * kMsPerDayF, ms); }

bool timeToMs(double t, int64_t &ms) { return roundToMs(t, ms); }

void fillCalendar(int64_t ms, DtCalendarRecord &record) {
  const int64_t dayNumber = floorDiv(ms, kMsPerDay);
  int64_t inDay = ms - dayNumber * kMsPerDay;
  const CivilDate date = civilFromDay(dayNumber);
  record.year = static_cast<int32_t>(date.year);
  record.month = date.month;
  record.day = date.day;
  record.hour = static_cast<int32_t>(inDay / kMsPerHour);
  inDay %= kMsPerHour;
  record.minute = static_cast<int32_t>(inDay / kMsPerMinute);
  inDay %= kMsPerMinute;
  record.second = static_cast<int32_t>(inDay / kMsPerSecond);
  record.millisecond = static_cast<int32_t>(inDay % kMsPerSecond);
  record.decade = date.day <= 10 ? 1 : (date.day <= 20 ? 2 : 3);
  record.dayOfWeek = isoWeekday(dayNumber);
  record.dayOfYear = static_cast<int32_t>(dayNumber - dayFromCivil(date.year, 1, 1) + 1);
  record.dst = 0;
}

}  // namespace hostrt::detail

using namespace hostrt::detail;

extern "C" {

DtCalendarRecord *DtDecodeDateTime(double dt, DtCalendarRecord *record) {
  if (record == nullptr) {
    _winseterrno(kEinval);
    return nullptr;
  }
  int64_t ms = 0;
  if (!dtToMs(dt, ms)) {
    std::memset(record, 0, sizeof *record);
    _winseterrno(kEinval);
    return record;
  }
  fillCalendar(ms, *record);
  return record;
}

double DtEncodeDateTime(const DtCalendarRecord *record, int32_t flags) {
  if (record == nullptr || flags != 0) {
    _winseterrno(kEinval);
    return kNaN;
  }
  const DtCalendarRecord &r = *record;
  // The year bound only keeps the day arithmetic far from overflow; the
  // computable-range test below is the real limit.
  const bool fieldsOk = r.year > -300000 && r.year < 300000 && r.month >= 1 && r.month <= 12 &&
                        r.day >= 1 && r.day <= daysInMonth(r.year, r.month) && r.hour >= 0 &&
                        r.hour <= 23 && r.minute >= 0 && r.minute <= 59 && r.second >= 0 &&
                        r.second <= 59 && r.millisecond >= 0 && r.millisecond <= 999;
  if (!fieldsOk) {
    _winseterrno(kEinval);
    return kNaN;
  }
  const int64_t ms = dayFromCivil(r.year, r.month, r.day) * kMsPerDay + r.hour * kMsPerHour +
                     r.minute * kMsPerMinute + r.second * kMsPerSecond + r.millisecond;
  if (ms < -kComputableMs || ms > kComputableMs) {
    _winseterrno(kEinval);
    return kNaN;
  }
  return msToDt(ms);
}

int32_t DtValidateDateTime(double dt) {
  int64_t ms = 0;
  if (!dtToMs(dt, ms)) return -1;
  constexpr int64_t kFirst = int64_t{DT_MIN_VALID_DAY} * kMsPerDay;
  constexpr int64_t kEnd = int64_t{DT_END_VALID_DAY} * kMsPerDay;
  return ms >= kFirst && ms < kEnd ? 0 : -1;
}

double DtIncDateTime(double dt, double ms) {
  int64_t base = 0;
  int64_t step = 0;
  if (dtToMs(dt, base) && timeToMs(ms, step)) {
    const int64_t sum = base + step;
    if (sum >= -kComputableMs && sum <= kComputableMs) return msToDt(sum);
  }
  return dt + ms / kMsPerDayF;
}

double DtDiffDateTime(double dt1, double dt2) {
  int64_t a = 0;
  int64_t b = 0;
  if (dtToMs(dt1, a) && dtToMs(dt2, b)) return static_cast<double>(a - b);
  return (dt1 - dt2) * kMsPerDayF;
}

}  // extern "C"

namespace {

// Orders two millisecond keys; NaN sorts after everything and equals NaN.
int32_t compareKeys(double a, double b) {
  const bool aNaN = std::isnan(a);
  const bool bNaN = std::isnan(b);
  if (aNaN || bNaN) return aNaN == bNaN ? 0 : (aNaN ? 1 : -1);
  if (std::isfinite(a)) a = roundb(a);
  if (std::isfinite(b)) b = roundb(b);
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

extern "C" {

int32_t DtCompareDateTime(double a, double b) { return compareKeys(a * kMsPerDayF, b * kMsPerDayF); }

int32_t TmCompareTime(double a, double b) { return compareKeys(a, b); }

int32_t DtDateTimeToUnixTime(double dt, int32_t *millisecondsOut) {
  int64_t seconds = 0;
  int64_t rest = 0;
  bool fits = false;
  int64_t ms = 0;
  if (dtToMs(dt, ms)) {
    const int64_t sinceEpoch = ms - kUnixEpochMs;
    seconds = floorDiv(sinceEpoch, kMsPerSecond);
    rest = sinceEpoch - seconds * kMsPerSecond;
    fits = seconds >= INT32_MIN && seconds <= INT32_MAX;
  }
  if (!fits) {
    // Saturate toward the side of 1970 the value lies on; NaN counts as the low side.
    const bool high = dt > DT_UNIX_EPOCH_DAY;
    seconds = high ? INT32_MAX : INT32_MIN;
    rest = 0;
    _winseterrno(kEinval);
  }
  if (millisecondsOut != nullptr) *millisecondsOut = static_cast<int32_t>(rest);
  return static_cast<int32_t>(seconds);
}

double DtUnixTimeToDateTime(int32_t seconds, int32_t milliseconds) {
  return msToDt(kUnixEpochMs + int64_t{seconds} * kMsPerSecond + milliseconds);
}

}  // extern "C"
