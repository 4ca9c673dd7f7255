// TIME durations: the duration record and the validator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "datetime_support.h"
#include "hostrt/datetime.h"
#include "hostrt/sys.h"

using dttest::kInf;
using dttest::kNaN;

namespace {

TEST(TmDuration, DecodeSplitsTheRoundedMagnitudeAndEncodesBack) {
  const double longest = double{TM_MAX_VALID_DAYS} * 86400000.0;
  const struct {
    double ms;
    TmDurationRecord expected;
  } cases[] = {
      {90061001.0, {0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 1}},
      {-90061001.0, {0, 0, 1, 1, 1, 1, 1, 0, 0, 0, -1}},
      {-0.4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {0.5, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
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
  for (double v : {kNaN, kInf, 9007199254740992.0}) {
    TmDurationRecord r{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const TmDurationRecord zero{};
    _winseterrno(0);
    EXPECT_EQ(TmDecodeTime(v, &r), &r);
    EXPECT_EQ(0, std::memcmp(&r, &zero, sizeof r)) << v;
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
  EXPECT_TRUE(std::isnan(TmEncodeTime(&cases[0].record, 2)));
  EXPECT_TRUE(std::isnan(TmEncodeTime(nullptr, 0)));
}

TEST(TmDuration, ValidRange) {
  const double limit = double{TM_MAX_VALID_DAYS} * 86400000.0;
  const struct {
    double t;
    int32_t expected;
  } cases[] = {{-limit, 0}, {limit + 0.4, 0}, {limit + 1.0, -1}, {kNaN, -1}, {-kInf, -1}};
  for (const auto &c : cases) EXPECT_EQ(TmValidateTime(c.t), c.expected) << c.t;
}

}  // namespace
