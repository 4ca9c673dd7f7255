// Calendar records, validation, arithmetic, comparison, Unix time and the clock offset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "datetime_support.h"
#include "hostrt/datetime.h"
#include "hostrt/sys.h"

using dttest::dt;
using dttest::kInf;
using dttest::kMs;
using dttest::kNaN;

namespace {

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

TEST(DtCalendar, KnownDates) {
  const struct {
    double value;
    DtCalendarRecord expected;
  } cases[] = {
      {0.0, {1899, 12, 30, 0, 0, 0, 0, 3, 6, 364, 0}},
      {-0.25, {1899, 12, 29, 18, 0, 0, 0, 3, 5, 363, 0}},
      {-1.75, {1899, 12, 28, 6, 0, 0, 0, 3, 4, 362, 0}},
      {-693593.0, {1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 0}},
      {2958466.0 - kMs, {9999, 12, 31, 23, 59, 59, 999, 3, 5, 365, 0}},
      {61.0, {1900, 3, 1, 0, 0, 0, 0, 1, 4, 60, 0}},
      {36585.5, {2000, 2, 29, 12, 0, 0, 0, 3, 2, 60, 0}},
      {44196.0, {2020, 12, 31, 0, 0, 0, 0, 3, 4, 366, 0}},
      {45000.0 + 0.4 * kMs, {2023, 3, 15, 0, 0, 0, 0, 2, 3, 74, 0}},
      {45000.0 + 1.5 * kMs, {2023, 3, 15, 0, 0, 0, 2, 2, 3, 74, 0}},  // halves to even
  };
  for (const auto &c : cases) {
    DtCalendarRecord r;
    DtDecodeDateTime(c.value, &r);
    EXPECT_EQ(0, std::memcmp(&r, &c.expected, sizeof r)) << c.value;
  }
}

TEST(DtCalendar, RefusesWhatItCannotRepresent) {
  const DtCalendarRecord good{2023, 2, 28, 23, 59, 59, 999, 0, 0, 0, 0};
  ASSERT_FALSE(std::isnan(DtEncodeDateTime(&good, 0)));
  const struct {
    int word;
    int32_t value;
  } bad[] = {{1, 0},  {1, 13}, {2, 0},    {2, 29},      {3, -1},     {3, 24},
             {4, 60}, {5, 60}, {6, 1000}, {0, 300000}, {0, -250000}};
  for (const auto &c : bad) {
    DtCalendarRecord r = good;
    (&r.year)[c.word] = c.value;
    _winseterrno(0);
    EXPECT_TRUE(std::isnan(DtEncodeDateTime(&r, 0))) << "word " << c.word << " = " << c.value;
    EXPECT_EQ(_wingeterrno(), 22);
  }
  EXPECT_TRUE(std::isnan(DtEncodeDateTime(&good, 1)));
  EXPECT_TRUE(std::isnan(DtEncodeDateTime(nullptr, 0)));
  // A year past 9999 is still encoded, for the validator to refuse.
  const DtCalendarRecord late{10000, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(DtEncodeDateTime(&late, 0), 2958466.0);

  for (double v : {kNaN, kInf, 1e9}) {
    DtCalendarRecord r{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const DtCalendarRecord zero{};
    _winseterrno(0);
    EXPECT_EQ(DtDecodeDateTime(v, &r), &r);
    EXPECT_EQ(0, std::memcmp(&r, &zero, sizeof r));
    EXPECT_EQ(_wingeterrno(), 22);
  }
  EXPECT_EQ(DtDecodeDateTime(0.0, nullptr), nullptr);
}

TEST(DtCalendar, ValidRangeAtMillisecondResolution) {
  const struct {
    double value;
    int32_t expected;
  } cases[] = {{-693593.0, 0},        {-693593.0 - kMs, -1},       {-693593.0 - 0.4 * kMs, 0},
               {2958466.0 - kMs, 0}, {2958466.0 - 0.4 * kMs, -1}, {kNaN, -1}, {kInf, -1}};
  for (const auto &c : cases) EXPECT_EQ(DtValidateDateTime(c.value), c.expected) << c.value;
}

TEST(DtCalendar, IncrementAndDifference) {
  EXPECT_EQ(DtIncDateTime(0.0, 90061001.0), dt(1899, 12, 31, 1, 1, 1, 1));
  EXPECT_EQ(DtIncDateTime(dt(2024, 3, 1), -86400000.0), dt(2024, 2, 29));
  EXPECT_EQ(DtIncDateTime(0.25, -43200000.0), -0.25);
  EXPECT_EQ(DtIncDateTime(0.0, 2.5), 2 * kMs);
  EXPECT_TRUE(std::isnan(DtIncDateTime(kNaN, 1.0)));
  EXPECT_NE(DtValidateDateTime(DtIncDateTime(2958466.0 - kMs, 1.0)), 0);

  EXPECT_EQ(DtDiffDateTime(dt(2024, 3, 1), dt(2024, 2, 28)), 2 * 86400000.0);
  EXPECT_EQ(DtDiffDateTime(0.25, -0.25), 43200000.0);
  EXPECT_EQ(DtDiffDateTime(dt(2000, 1, 1, 0, 0, 0, 1), dt(2000, 1, 1) + 0.4 * kMs), 1.0);
  EXPECT_EQ(TmValidateTime(DtDiffDateTime(2958466.0 - kMs, -693593.0)), 0);
  EXPECT_TRUE(std::isnan(DtDiffDateTime(1.0, kNaN)));
}

TEST(DtCalendar, ComparisonsAtMillisecondResolution) {
  const struct {
    double a, b;
    int32_t result;
  } dts[] = {{1.0, 1.0 + 0.4 * kMs, 0}, {1.0, 1.0 + 0.6 * kMs, -1}, {1.0 + kMs, 1.0, 1},
             {-1.0, -1.0 - 0.3 * kMs, 0}, {kNaN, 1e6, 1}, {1e6, kNaN, -1}, {kNaN, kNaN, 0},
             {-kInf, -1e6, -1}, {kInf, kInf, 0}},
    times[] = {{1000.4, 1000.0, 0}, {1000.6, 1000.0, 1}, {-0.4, 0.4, 0},
               {-1.0, 0.0, -1},     {kNaN, 0.0, 1},      {kNaN, kNaN, 0}};
  for (const auto &c : dts) EXPECT_EQ(DtCompareDateTime(c.a, c.b), c.result) << c.a << " " << c.b;
  for (const auto &c : times) EXPECT_EQ(TmCompareTime(c.a, c.b), c.result) << c.a << " " << c.b;
}

TEST(DtCalendar, UnixTime) {
  const struct {
    double value;
    int32_t seconds, ms, error;
  } cases[] = {
      {25569.0, 0, 0, 0},
      {25569.0 - 750 * kMs, -1, 250, 0},
      {dt(2038, 1, 19, 3, 14, 7, 999), INT32_MAX, 999, 0},
      {dt(2038, 1, 19, 3, 14, 8), INT32_MAX, 0, 22},
      {dt(1901, 12, 13, 20, 45, 52), INT32_MIN, 0, 0},
      {dt(1901, 12, 13, 20, 45, 51, 999), INT32_MIN, 0, 22},
      {kNaN, INT32_MIN, 0, 22},
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
  EXPECT_EQ(DtDateTimeToUnixTime(25570.0, nullptr), 86400);
  EXPECT_EQ(DtUnixTimeToDateTime(10, -1500), DtUnixTimeToDateTime(8, 500));
}

TEST(DtClock, SetTimeIsAnOffsetOverTheSystemClock) {
  const double target = dt(2031, 6, 1, 12);
  ASSERT_EQ(DtSetUtcTime(target), 0);
  const double shifted = DtGetUtcTime();
  EXPECT_GE(shifted, target);
  EXPECT_LT(shifted, target + 1.0 / 24);  // runs on from the set instant
  EXPECT_EQ(DtSetUtcTime(kNaN), -1);
  EXPECT_EQ(DtSetUtcTime(2958466.0), -1);
  EXPECT_GE(DtGetUtcTime(), shifted);  // the refused values left the offset alone
  DtResetUtcTime();
  const double system = DtUnixTimeToDateTime(static_cast<int32_t>(std::time(nullptr)), 0);
  EXPECT_LT(std::fabs(DtGetUtcTime() - system), 1.0 / 24);
}

}  // namespace
