// SPDX-License-Identifier: MIT
// Report days: a report day starts every day at a local hour:minute.
#include <cstdint>
#include <limits>

#include "datetime/local_time.h"
#include "sicvm/datetime.h"

using namespace sicvm::datetime;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The boundary in milliseconds after local midnight; 64-bit, as hour and
// minute are not checked.
int64_t boundaryMs(int32_t hour, int32_t minute) { return (60 * int64_t{hour} + minute) * 60000; }

// The report-day start on local day `day` at boundary b (ms), in UTC.
double startOf(int64_t day, int64_t b) { return toUtc(static_cast<double>(day) + static_cast<double>(b) / kMsPerDay); }

}  // namespace

extern "C" {

double DtReportDayNext(double dt, int32_t hour, int32_t minute) {
  const DaySplit local = splitDay(toLocal(dt));
  if (!local.ok) return kNaN;
  const int64_t b = boundaryMs(hour, minute);
  const double result = startOf(local.ms >= b ? int64_t{local.day} + 1 : local.day, b);
  return DtCompareDateTime(result, dt) == 0 ? result + 1.0 : result;
}

double DtReportDayPrev(double dt, int32_t hour, int32_t minute) {
  const DaySplit local = splitDay(toLocal(dt));
  if (!local.ok) return kNaN;
  const int64_t b = boundaryMs(hour, minute);
  const double result = startOf(local.ms <= b ? int64_t{local.day} - 1 : local.day, b);
  return DtCompareDateTime(result, dt) == 0 ? result - 1.0 : result;
}

int32_t DtReportDaysCount(double dt1, double dt2, int32_t hour, int32_t minute) {
  const int32_t s = DtCompareDateTime(dt2, dt1);
  if (s == 0) return 0;
  const double later = s > 0 ? dt2 : dt1;
  const double earlier = s > 0 ? dt1 : dt2;
  // The start after the later instant's report day, and the start of the
  // earlier instant's report day (the last start at or before it).
  const DaySplit a = splitDay(DtReportDayNext(later, hour, minute));
  const DaySplit b = splitDay(DtReportDayPrev(earlier + 1.0 / kMsPerDay, hour, minute));
  if (!a.ok || !b.ok) return 0;
  return static_cast<int32_t>((int64_t{a.day} - b.day - 1) * s);
}

}  // extern "C"
