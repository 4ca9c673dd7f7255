// SPDX-License-Identifier: MIT
// UTC <-> local time through a zone record's POSIX rule.
#include <algorithm>
#include <cstring>
#include <cstdint>
#include <limits>

#include "calendar_math.h"
#include "hostrt/datetime.h"
#include "hostrt/sys.h"

using namespace hostrt::detail;

namespace {

constexpr int kEinval = 22;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// DT day number on which a rule's date falls in `year`.
int64_t ruleDay(int32_t kind, int32_t date, int64_t year) {
  switch (kind) {
    case TZ_RULE_JULIAN:  // February 29 is never counted: J60 is always March 1.
      return dayFromCivil(year, 1, 1) + date - 1 + (isLeapYear(year) && date >= 60 ? 1 : 0);
    case TZ_RULE_DAY:
      return dayFromCivil(year, 1, 1) + date;
    default: {  // TZ_RULE_MONTH, Mm.w.d
      const int month = date / 100;
      const int week = date / 10 % 10;
      const int weekday = date % 10;  // 0 = Sunday
      const int64_t first = dayFromCivil(year, month, 1);
      const int firstWeekday = isoWeekday(first) % 7;
      int64_t day = first + (weekday - firstWeekday + 7) % 7 + 7 * (week - 1);
      while (day >= first + daysInMonth(year, month)) day -= 7;  // week 5 = the last one
      return day;
    }
  }
}

struct Change {
  int64_t instant;  // UTC milliseconds
  bool toDst;
};

// The changes of offset that decide any instant of one year: those of the
// year, of the two years before and of the year after (rule times reach up
// to a week either side of their date).
struct YearChanges {
  TzZoneRecord zone;
  int64_t year;
  bool set;
  Change changes[8];
};

void computeChanges(const TzZoneRecord &zone, int64_t year, Change (&changes)[8]) {
  const int64_t stdMs = int64_t{zone.stdOffset} * kMsPerSecond;
  const int64_t dstMs = int64_t{zone.dstOffset} * kMsPerSecond;
  int count = 0;
  for (int64_t y = year - 2; y <= year + 1; ++y) {
    changes[count++] = {ruleDay(zone.startKind, zone.startDate, y) * kMsPerDay +
                            int64_t{zone.startTime} * kMsPerSecond - stdMs,
                        true};
    changes[count++] = {ruleDay(zone.endKind, zone.endDate, y) * kMsPerDay +
                            int64_t{zone.endTime} * kMsPerSecond - dstMs,
                        false};
  }
}

// The last few zones and years each thread asked about: calendar work walks
// many instants of one year in one zone (and the year before, around the new
// year), and working out a year's changes costs far more than looking them up.
constexpr int kCachedYears = 4;
thread_local YearChanges t_years[kCachedYears]{};
thread_local int t_nextYear = 0;

const Change *changesOf(const TzZoneRecord &zone, int64_t year) {
  for (YearChanges &entry : t_years)
    if (entry.set && entry.year == year && std::memcmp(&entry.zone, &zone, sizeof zone) == 0) return entry.changes;
  YearChanges &entry = t_years[t_nextYear];
  t_nextYear = (t_nextYear + 1) % kCachedYears;
  computeChanges(zone, year, entry.changes);
  entry.zone = zone;
  entry.year = year;
  entry.set = true;
  return entry.changes;
}

// Whether daylight saving is in force at the UTC instant `utc`.
bool inDst(const TzZoneRecord &zone, int64_t utc) {
  if (zone.hasDst == 0) return false;
  const int64_t stdMs = int64_t{zone.stdOffset} * kMsPerSecond;
  const Change *changes = changesOf(zone, civilFromDay(floorDiv(utc + stdMs, kMsPerDay)).year);
  // The latest change at or before utc decides; at equal instants the start
  // counts as the later one.
  const Change *latest = nullptr;
  for (int i = 0; i < 8; ++i) {
    const Change &c = changes[i];
    if (c.instant > utc) continue;
    if (latest == nullptr || c.instant > latest->instant ||
        (c.instant == latest->instant && c.toDst))
      latest = &c;
  }
  return latest != nullptr && latest->toDst;
}

// The last zone each thread found valid, so that converting many instants in
// one zone validates it once.
thread_local TzZoneRecord t_validZone{};
thread_local bool t_haveValidZone = false;

bool usable(const TzZoneRecord *zone) {
  if (zone == nullptr) return false;
  if (t_haveValidZone && std::memcmp(&t_validZone, zone, sizeof *zone) == 0) return true;
  if (TzValidateTimeZone(zone) != 0) return false;
  t_validZone = *zone;
  t_haveValidZone = true;
  return true;
}

}  // namespace

extern "C" {

double DtUtcTimeToTzTime(double dt, const TzZoneRecord *zone, int32_t *dstFlag) {
  if (dstFlag != nullptr) *dstFlag = 0;
  int64_t utc = 0;
  if (!usable(zone) || !dtToMs(dt, utc)) {
    _winseterrno(kEinval);
    return kNaN;
  }
  const bool dst = inDst(*zone, utc);
  if (dstFlag != nullptr) *dstFlag = dst ? 1 : 0;
  const int32_t offset = dst ? zone->dstOffset : zone->stdOffset;
  return msToDt(utc + int64_t{offset} * kMsPerSecond);
}

double DtTzTimeToUtcTime(double local, const TzZoneRecord *zone, int32_t flags) {
  int64_t wall = 0;
  if (flags != 0 || !usable(zone) || !dtToMs(local, wall)) {
    _winseterrno(kEinval);
    return kNaN;
  }
  const int64_t asStd = wall - int64_t{zone->stdOffset} * kMsPerSecond;
  if (zone->hasDst == 0) return msToDt(asStd);
  const int64_t asDst = wall - int64_t{zone->dstOffset} * kMsPerSecond;
  const bool stdFits = !inDst(*zone, asStd);
  const bool dstFits = inDst(*zone, asDst);
  int64_t utc;
  if (stdFits && dstFits)
    utc = std::min(asStd, asDst);  // repeated hour: the first occurrence
  else if (stdFits)
    utc = asStd;
  else if (dstFits)
    utc = asDst;
  else
    utc = std::max(asStd, asDst);  // skipped hour: read with the offset before the change
  return msToDt(utc);
}

}  // extern "C"
