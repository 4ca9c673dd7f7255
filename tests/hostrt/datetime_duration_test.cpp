// TIME durations: the duration record and the validator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "hostrt/datetime.h"
#include "hostrt/sys.h"

namespace {

TEST(TmDuration, DecodeSplitsTheRoundedMagnitude) {
  const struct {
    double ms;
    int32_t days, hours, minutes, seconds, millis, sign;
  } cases[] = {
      {90061001.0, 1, 1, 1, 1, 1, 1},
      {-90061001.0, 1, 1, 1, 1, 1, -1},
      {0.0, 0, 0, 0, 0, 0, 1},
      {-0.4, 0, 0, 0, 0, 0, 1},
      {0.5, 0, 0, 0, 0, 0, 1},
      {1.5, 0, 0, 0, 0, 2, 1},
      {-1.5, 0, 0, 0, 0, 2, -1},
      {86399999.0, 0, 23, 59, 59, 999, 1},
      {double{TM_MAX_VALID_DAYS} * 86400000.0, TM_MAX_VALID_DAYS, 0, 0, 0, 0, 1},
  };
  for (const auto &c : cases) {
    TmDurationRecord r;
    std::memset(&r, 0x5a, sizeof r);
    ASSERT_EQ(TmDecodeTime(c.ms, &r), &r);
    const TmDurationRecord expected{0, 0, c.days, c.hours, c.minutes, c.seconds, c.millis, 0, 0, 0, c.sign};
    EXPECT_EQ(0, std::memcmp(&r, &expected, sizeof r)) << c.ms;
    // Encoding gives the rounded value back.
    EXPECT_EQ(TmEncodeTime(&r, 0), c.sign * std::fabs(std::nearbyint(c.ms))) << c.ms;
  }
}

TEST(TmDuration, DecodeRefusesUnrepresentableValues) {
  for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   9007199254740992.0}) {
    TmDurationRecord r{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    _winseterrno(0);
    EXPECT_EQ(TmDecodeTime(v, &r), &r);
    EXPECT_EQ(r.days, 0);
    EXPECT_EQ(r.sign, 0);
    EXPECT_EQ(_wingeterrno(), 22);
  }
  EXPECT_EQ(TmDecodeTime(1.0, nullptr), nullptr);
}

TEST(TmDuration, EncodeSumsFieldsWithoutRangeChecks) {
  const struct {
    TmDurationRecord record;
    double expected;
  } cases[] = {
      {{0, 0, 0, 0, 90, 0, 0, 0, 0, 0, 1}, 5400000.0},
      {{7, 7, 1, 1, 1, 1, 1, 7, 7, 7, 1}, 90061001.0},  // unused words are ignored
      {{0, 0, 1, -1, 0, 0, 0, 0, 0, 0, 1}, 82800000.0},
      {{0, 0, 0, 0, 0, 2, 500, 0, 0, 0, -1}, -2500.0},
      {{0, 0, 0, 0, 0, 2, 500, 0, 0, 0, 0}, 2500.0},
      {{0, 0, INT32_MAX, 0, 0, 0, 0, 0, 0, 0, 1}, 2147483647.0 * 86400000.0},
  };
  for (const auto &c : cases) EXPECT_EQ(TmEncodeTime(&c.record, 0), c.expected) << c.expected;
  const TmDurationRecord one{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  EXPECT_TRUE(std::isnan(TmEncodeTime(&one, 2)));
  EXPECT_TRUE(std::isnan(TmEncodeTime(nullptr, 0)));
}

TEST(TmDuration, ValidRange) {
  const double limit = double{TM_MAX_VALID_DAYS} * 86400000.0;
  const struct {
    double t;
    int32_t expected;
  } cases[] = {{0.0, 0},     {limit, 0},  {-limit, 0}, {limit + 0.4, 0},
               {limit + 1.0, -1}, {-limit - 1.0, -1},
               {std::numeric_limits<double>::quiet_NaN(), -1},
               {-std::numeric_limits<double>::infinity(), -1}};
  for (const auto &c : cases) EXPECT_EQ(TmValidateTime(c.t), c.expected) << c.t;
}

}  // namespace
