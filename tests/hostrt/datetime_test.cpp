// SPDX-License-Identifier: MIT
// Calendar and duration records, validation, arithmetic, comparison, Unix
// time and date-time text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "hostrt/datetime.h"
#include "support/dates.h"
#include "hostrt/fmt.h"
#include "hostrt/sys.h"

namespace {

using sicvm::test::at;

constexpr double kMs = 1.0 / 86400000.0;  // one millisecond as a DT step
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Every field of the decoder against the C library's gmtime over the whole
// valid range (and a little past both ends), then the encoder's way back.
TEST(DtCalendar, DecodeMatchesGmtimeAndEncodesBack) {
  int64_t msOfDay = 0;
  for (int64_t day = DT_MIN_VALID_DAY - 400; day <= DT_END_VALID_DAY + 400; day += 97) {
    msOfDay = (msOfDay + 12345678) % 86400000;
    const int64_t ms = day * 86400000 + msOfDay;
    const double value = static_cast<double>(ms) / 86400000.0;
    DtCalendarRecord r;
    ASSERT_EQ(DtDecodeDateTime(value, &r), &r);
    const int64_t sinceEpoch = ms - int64_t{DT_UNIX_EPOCH_DAY} * 86400000;
    const time_t seconds = sinceEpoch / 1000 - (sinceEpoch % 1000 < 0 ? 1 : 0);
    tm g{};
    ASSERT_NE(gmtime_r(&seconds, &g), nullptr);
    const DtCalendarRecord expected{static_cast<int32_t>(g.tm_year + 1900), g.tm_mon + 1,
                                    g.tm_mday, g.tm_hour, g.tm_min, g.tm_sec,
                                    static_cast<int32_t>(msOfDay % 1000),
                                    g.tm_mday <= 10 ? 1 : (g.tm_mday <= 20 ? 2 : 3),
                                    g.tm_wday == 0 ? 7 : g.tm_wday, g.tm_yday + 1, 0};
    ASSERT_EQ(0, std::memcmp(&r, &expected, sizeof r)) << "day " << day;
    r.decade = r.dayOfWeek = r.dayOfYear = r.dst = -77;  // must not be read
    ASSERT_EQ(DtEncodeDateTime(&r, 0), value) << "day " << day;
  }
}

TEST(DtCalendar, RoundsToTheMillisecondHalvesToEven) {
  const struct { double value; DtCalendarRecord expected; } cases[] = {
      {2958466.0 - kMs, {9999, 12, 31, 23, 59, 59, 999, 3, 5, 365, 0}},
      {45000.0 + 0.4 * kMs, {2023, 3, 15, 0, 0, 0, 0, 2, 3, 74, 0}},
      {45000.0 + 1.5 * kMs, {2023, 3, 15, 0, 0, 0, 2, 2, 3, 74, 0}},
  };
  for (const auto &c : cases) {
    DtCalendarRecord r;
    DtDecodeDateTime(c.value, &r);
    EXPECT_EQ(0, std::memcmp(&r, &c.expected, sizeof r)) << c.value;
  }
  EXPECT_EQ(DtValidateDateTime(-693593.0 - 0.4 * kMs), 0);
  EXPECT_EQ(DtValidateDateTime(-693593.0 - kMs), -1);
  EXPECT_EQ(DtValidateDateTime(2958466.0 - 0.4 * kMs), -1);
  EXPECT_EQ(DtCompareDateTime(1.0, 1.0 + 0.4 * kMs), 0);
  EXPECT_EQ(DtCompareDateTime(kNaN, 1e6), 1) << "NaN sorts last";
  EXPECT_EQ(TmCompareTime(-0.4, 0.4), 0);
}

TEST(DtCalendar, RefusesWhatItCannotRepresent) {
  const DtCalendarRecord good{2023, 2, 28, 23, 59, 59, 999, 0, 0, 0, 0};
  ASSERT_FALSE(std::isnan(DtEncodeDateTime(&good, 0)));
  const struct {
    int word;
    int32_t value;
  } bad[] = {{1, 0}, {1, 13}, {2, 29}, {3, 24}, {4, 60}, {5, 60}, {6, 1000}, {0, 300000}};
  for (const auto &c : bad) {
    DtCalendarRecord r = good;
    (&r.year)[c.word] = c.value;
    _winseterrno(0);
    EXPECT_TRUE(std::isnan(DtEncodeDateTime(&r, 0))) << "word " << c.word << " = " << c.value;
    EXPECT_EQ(_wingeterrno(), 22);
  }
  EXPECT_TRUE(std::isnan(DtEncodeDateTime(&good, 1))) << "flags are reserved";
  // A year past 9999 is still encoded, for the validator to refuse.
  const DtCalendarRecord late{10000, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(DtEncodeDateTime(&late, 0), 2958466.0);
  for (double v : {kNaN, kInf, 1e9}) {
    DtCalendarRecord r{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const DtCalendarRecord zero{};
    _winseterrno(0);
    EXPECT_EQ(DtDecodeDateTime(v, &r), &r);
    EXPECT_EQ(0, std::memcmp(&r, &zero, sizeof r)) << v;
    EXPECT_EQ(_wingeterrno(), 22);
  }
}

TEST(DtCalendar, IncrementDifferenceAndUnixTime) {
  EXPECT_EQ(DtIncDateTime(0.0, 90061001.0), at(1899, 12, 31, 1, 1, 1, 1));
  EXPECT_EQ(DtIncDateTime(0.25, -43200000.0), -0.25);
  EXPECT_EQ(DtDiffDateTime(at(2000, 1, 1, 0, 0, 0, 1), at(2000, 1, 1) + 0.4 * kMs), 1.0);
  EXPECT_EQ(TmValidateTime(DtDiffDateTime(2958466.0 - kMs, -693593.0)), 0) << "the longest difference is a TIME";
  const struct { double value; int32_t seconds, ms, error; } cases[] = {
      {25569.0 - 750 * kMs, -1, 250, 0},
      {at(2038, 1, 19, 3, 14, 8), INT32_MAX, 0, 22},
      {at(1901, 12, 13, 20, 45, 52), INT32_MIN, 0, 0},
      {at(1901, 12, 13, 20, 45, 51, 999), INT32_MIN, 0, 22},
  };
  for (const auto &c : cases) {
    int32_t ms = -1;
    _winseterrno(0);
    EXPECT_EQ(DtDateTimeToUnixTime(c.value, &ms), c.seconds) << c.value;
    EXPECT_EQ(ms, c.ms) << c.value;
    EXPECT_EQ(_wingeterrno(), c.error) << c.value;
    if (c.error == 0) {
      EXPECT_EQ(DtUnixTimeToDateTime(c.seconds, c.ms), c.value);
    }
  }
}

TEST(TmDuration, DecodeSplitsTheRoundedMagnitudeAndEncodesBack) {
  const double longest = double{TM_MAX_VALID_DAYS} * 86400000.0;
  const struct { double ms; TmDurationRecord expected; } cases[] = {
      {90061001.0, {0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 1}},
      {-90061001.0, {0, 0, 1, 1, 1, 1, 1, 0, 0, 0, -1}},
      {-0.4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {-1.5, {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, -1}},
      {86399999.0, {0, 0, 0, 23, 59, 59, 999, 0, 0, 0, 1}},
      {longest, {0, 0, TM_MAX_VALID_DAYS, 0, 0, 0, 0, 0, 0, 0, 1}},
  };
  for (const auto &c : cases) {
    TmDurationRecord r;
    std::memset(&r, 0x5a, sizeof r);
    ASSERT_EQ(TmDecodeTime(c.ms, &r), &r);
    EXPECT_EQ(0, std::memcmp(&r, &c.expected, sizeof r)) << c.ms;
    EXPECT_EQ(TmEncodeTime(&r, 0), c.expected.sign * std::fabs(std::nearbyint(c.ms))) << c.ms;
  }
  TmDurationRecord r{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const TmDurationRecord zero{};
  EXPECT_EQ(TmDecodeTime(9007199254740992.0, &r), &r);
  EXPECT_EQ(0, std::memcmp(&r, &zero, sizeof r)) << "beyond exact milliseconds: a zeroed record";
  EXPECT_EQ(TmValidateTime(-longest), 0);
  EXPECT_EQ(TmValidateTime(longest + 0.4), 0);
  EXPECT_EQ(TmValidateTime(longest + 1.0), -1);
}

std::string format(const char *pattern, double value, const void *locale = nullptr) {
  char buffer[64];
  const int32_t n = FmtDateTimeToStrEx(buffer, sizeof buffer, pattern, value, locale);
  EXPECT_EQ(n, static_cast<int32_t>(std::strlen(buffer))) << pattern;
  return buffer;
}

TEST(FmtDateTime, PatternLettersAndBufferLimits) {
  const double t = at(2024, 3, 5, 7, 8, 9, 45);  // a Tuesday
  const struct { const char *pattern; double value; const char *expected; } cases[] = {
      {"YYYY/MM/DD-HH:MM:SS", t, "2024-03-05-07:08:09"},
      {"mm hh mm:ss.zzz z", t, "03 07 08:09.045 45"},  // minutes only next to hours
      {"mmm mmmm ddd dddd", t, "Mar March Tue Tuesday"},
      {"\"yyyy\" 'mm' yyyy-mm-ddThh", t, "yyyy mm 2024-03-05T07"},
      {"yyyy yy", at(-1, 6, 1), "-0001 99"},
  };
  for (const auto &c : cases) EXPECT_EQ(format(c.pattern, c.value), c.expected) << c.pattern;
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(FmtDateTimeToStrEx(buffer, 5, "yyyy/mm/dd", t, nullptr), 4) << "cut to the buffer";
  EXPECT_STREQ(buffer, "2024");
  EXPECT_EQ(buffer[5], 'x');
  _winseterrno(0);
  EXPECT_EQ(FmtDateTimeToStrEx(buffer, 8, "yyyy", kNaN, nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
  EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
