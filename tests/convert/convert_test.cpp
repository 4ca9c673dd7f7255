// SPDX-License-Identifier: MIT
// The exported conversions: wrapping without range checks, rounding through
// the host helpers, BOOL by fiszero versus exact zero, bit-exact copies.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "sicvm/convert.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One row: the call (also its name in a failure) and the result it must give.
#define CASE(call, want) {#call, double(call), want}

TEST(ConvertExports, Results) {
  const struct { const char *name; double got, want; } cases[] = {
      CASE(VmFloat64ToInt16(2.5), 3),
      CASE(VmFloat64ToInt16(40000.0), -25536),
      CASE(VmFloat64ToInt32(4294967297.0), 1),
      CASE(VmFloat64ToInt32Trunc(-2.7), -2),
      CASE(VmFloat64ToInt32(kNaN), 0),
      CASE(VmFloat32ToInt32Trunc(-2.7f), -2),
      CASE(VmFloat32ToBool(1e-20f), 0),
      CASE(VmFloat64ToBool(1e-300), 0),
      CASE(VmTimeToBool(1e-300), 1),
      CASE(VmTimeToBool(-0.0), 0),
      CASE(VmDateTimeToBool(kNaN), 1),
      CASE(VmBoolToInt16(0x100), 0),
      CASE(VmBoolToFloat32(0x201), 1),
      CASE(VmInt16ToBool(0x10000), 0),
      CASE(VmInt16ToInt32(0x1FFFF), -1),
      CASE(VmInt32ToInt16(70000), 4464),
      CASE(VmInt32ToFloat32(16777217), 16777216),
      CASE(VmFloat64ToFloat32(1e39), INFINITY),
  };
  for (const auto &c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(ConvertExports, UnchangedValuesKeepEveryBit) {
  const uint64_t bits = 0x7FF8000000012345ull;
  double payload;
  std::memcpy(&payload, &bits, 8);
  for (double (*f)(double) : {VmFloat64ToTime, VmFloat64ToDateTime, VmTimeToFloat64, VmDateTimeToFloat64}) {
    const double out = f(payload);
    EXPECT_EQ(std::memcmp(&out, &bits, 8), 0);
  }
}

}  // namespace
