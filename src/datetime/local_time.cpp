// UTC and local time through the process-wide zone, decoding and encoding,
// and the day split.
#include "datetime/local_time.h"

#include <cmath>

#include "hostrt/numbers.h"
#include "sicvm/datetime.h"

namespace sicvm::datetime {

double toLocal(double dt) noexcept { return DtUtcTimeToTzTime(dt, zone(), nullptr); }

double toUtc(double local) noexcept { return DtTzTimeToUtcTime(local, zone(), 0); }

DtCalendarRecord *decode(double dt, DtCalendarRecord *record) noexcept {
  int32_t dst = 0;
  const double local = DtUtcTimeToTzTime(dt, zone(), &dst);
  DtCalendarRecord *decodedRecord = DtDecodeDateTime(local, record);
  if (decodedRecord != nullptr) decodedRecord->dst = dst;
  return decodedRecord;
}

double encode(const DtCalendarRecord &record) noexcept {
  return DtTzTimeToUtcTime(DtEncodeDateTime(&record, 0), zone(), 0);
}

DaySplit splitDay(double local) noexcept {
  const double t = roundb(local * kMsPerDay);
  const double day = std::trunc(t / kMsPerDay);
  if (!(std::fabs(day) <= 2147483647.0)) return {false, 0, 0};  // NaN fails too
  // t and day x 86400000 are whole numbers below 2^53, so the rest is exact.
  return {true, static_cast<int32_t>(day), static_cast<int32_t>(std::fabs(t - day * kMsPerDay))};
}

int32_t monthLength(int32_t year, int32_t month) noexcept {
  static constexpr int32_t kCommon[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  static constexpr int32_t kLeap[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (isLeapYear(year) ? kLeap : kCommon)[month - 1];
}

int32_t weekdayOfYearStart(double dt) noexcept {
  const DaySplit start = splitDay(toLocal(DtBeginOfYear(dt)));
  return start.ok ? isoWeekday(start.day) : 0;
}

}  // namespace sicvm::datetime
