// Rounding helpers of the host runtime.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hostrt/numbers.h"

namespace {

TEST(Numbers, RoundingFamilies) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double x, round, trunc, frac, bankers;
  } cases[] = {
      {2.5, 3, 2, 0.5, 2},
      {-2.5, -3, -2, -0.5, -2},
      {3.5, 4, 3, 0.5, 4},
      {-2.7, -3, -2, -0.7, -3},
      {0.49999999999999994, 0, 0, 0.49999999999999994, 0},
      {1e300, 1e300, 1e300, 0, 1e300},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(fround(c.x), c.round) << c.x;
    EXPECT_EQ(ftrunc(c.x), c.trunc) << c.x;
    EXPECT_NEAR(ffrac(c.x), c.frac, 1e-15) << c.x;
    EXPECT_EQ(roundb(c.x), c.bankers) << c.x;
  }
  EXPECT_TRUE(std::isnan(fround(nan)));
  EXPECT_TRUE(std::isnan(roundb(nan)));
  EXPECT_EQ(ffrac(-INFINITY), 0.0);
  EXPECT_TRUE(std::signbit(ffrac(-INFINITY)));
}

TEST(Numbers, ZeroToleranceIsDocumented) {
  const double t = HOSTRT_ZERO_TOLERANCE;
  struct Case {
    double x;
    int zero;
  } cases[] = {{0.0, 1},     {-0.0, 1},      {t * 0.999, 1},   {-t * 0.999, 1},
               {t, 0},       {-t, 0},        {1e-300, 1},      {1.0, 0},
               {NAN, 0},     {INFINITY, 0},  {4.9e-324, 1}};
  for (const Case &c : cases) EXPECT_EQ(fiszero(c.x) != 0, c.zero == 1) << c.x;
}

}  // namespace
