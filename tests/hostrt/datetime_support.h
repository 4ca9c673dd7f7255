// Small helpers shared by the date-time tests of hostrt.
#ifndef TESTS_HOSTRT_DATETIME_SUPPORT_H
#define TESTS_HOSTRT_DATETIME_SUPPORT_H

#include <cstdint>
#include <limits>

#include "hostrt/datetime.h"

namespace dttest {

constexpr double kMs = 1.0 / 86400000.0;  // one millisecond as a DT step
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// DT of a calendar date and time, through the encoder.
inline double dt(int32_t y, int32_t mo, int32_t d, int32_t h = 0, int32_t mi = 0, int32_t s = 0,
                 int32_t ms = 0) {
  DtCalendarRecord r{y, mo, d, h, mi, s, ms, 0, 0, 0, 0};
  return DtEncodeDateTime(&r, 0);
}

inline TzZoneRecord zone(const char *rule) {
  TzZoneRecord z{};
  TzParseTimeZone(rule, &z);
  return z;
}

}  // namespace dttest

#endif
