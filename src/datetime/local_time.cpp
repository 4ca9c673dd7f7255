// SPDX-License-Identifier: MIT
// UTC and local time through the process-wide zone, decoding and encoding,
// and the day split.
#include "datetime/local_time.h"

#include <cmath>
#include <cstring>

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

namespace {

// The answer of weekdayOfYearStart depends only on the zone and the year, and
// the ISO week functions ask it for every instant: each thread keeps the last
// answer. The zone is compared by its bytes, so VmSetTimeZone needs no hook.
struct YearStart {
  TzZoneRecord zone;
  int32_t year;
  int32_t weekday;  // 0: nothing kept
};
thread_local YearStart t_yearStart{};

}  // namespace

int32_t weekdayOfYearStart(const DtCalendarRecord &decoded) noexcept {
  const TzZoneRecord *current = zone();
  YearStart &kept = t_yearStart;
  if (kept.weekday != 0 && kept.year == decoded.year && std::memcmp(&kept.zone, current, sizeof kept.zone) == 0)
    return kept.weekday;
  // DtBeginOfYear on the record: January 1, 00:00 local time, in UTC.
  DtCalendarRecord start = decoded;
  start.month = 1;
  start.day = 1;
  start.hour = start.minute = start.second = start.millisecond = 0;
  const DaySplit local = splitDay(toLocal(encode(start)));
  if (!local.ok) return 0;
  kept = {*current, decoded.year, isoWeekday(local.day)};
  return kept.weekday;
}

}  // namespace sicvm::datetime
