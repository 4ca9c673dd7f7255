// The exported conversions and the range checks that the conversion commands
// apply on top of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "convert/rules.h"
#include "sicvm/convert.h"

using namespace sicvm;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct IntCase {
  const char *name;
  int32_t (*f)(double);
  double in;
  int32_t out;
};

// Wrappers so that REAL sources share the table with LREAL sources; the
// value is narrowed to REAL first, as a caller would pass it.
template <int32_t (*F)(float)>
int32_t real(double x) { return F(static_cast<float>(x)); }

TEST(ConvertExports, FloatingToInteger) {
  const IntCase cases[] = {
      {"round half away", VmFloat64ToInt16, 2.5, 3},
      {"round negative", VmFloat64ToInt32, -2.5, -3},
      {"INT wraps without error", VmFloat64ToInt16, 40000.0, -25536},
      {"INT trunc wraps", VmFloat64ToInt16Trunc, 70000.9, 4464},
      {"DINT wraps", VmFloat64ToInt32, 4294967297.0, 1},
      {"DINT trunc toward zero", VmFloat64ToInt32Trunc, -2.7, -2},
      {"NaN gives 0", VmFloat64ToInt32, kNaN, 0},
      {"infinity gives 0", VmFloat64ToInt16, -kInf, 0},
      {"beyond 64 bits gives 0", VmFloat64ToInt32Trunc, 1e30, 0},
      {"REAL trunc", real<VmFloat32ToInt32Trunc>, -2.7, -2},
      {"REAL round", real<VmFloat32ToInt32>, -2.7, -3},
      {"REAL to INT round", real<VmFloat32ToInt16>, 32767.6, -32768},
      {"REAL to INT trunc", real<VmFloat32ToInt16Trunc>, -32768.9, -32768},
      {"REAL NaN", real<VmFloat32ToInt16>, kNaN, 0},
      {"REAL to BOOL tiny counts as zero", real<VmFloat32ToBool>, 1e-20, 0},
      {"LREAL to BOOL 1e-300 is zero by fiszero", VmFloat64ToBool, 1e-300, 0},
      {"LREAL to BOOL NaN", VmFloat64ToBool, kNaN, 1},
      {"TIME to BOOL 1e-300 exact compare", VmTimeToBool, 1e-300, 1},
      {"TIME to BOOL -0.0", VmTimeToBool, -0.0, 0},
      {"TIME to BOOL NaN", VmTimeToBool, kNaN, 1},
      {"DT to BOOL zero", VmDateTimeToBool, 0.0, 0},
      {"DT to BOOL NaN", VmDateTimeToBool, kNaN, 1},
  };
  for (const IntCase &c : cases) EXPECT_EQ(c.f(c.in), c.out) << c.name;
}

TEST(ConvertExports, IntegerSlots) {
  struct Case {
    const char *name;
    int32_t (*f)(int32_t);
    int32_t in, out;
  } const cases[] = {
      {"BOOL low byte only", VmBoolToInt16, 0x100, 0},
      {"BOOL any byte is TRUE", VmBoolToInt32, 0x80, 1},
      {"INT low 16 bits only", VmInt16ToBool, 0x10000, 0},
      {"INT sign-extended", VmInt16ToInt32, 0x1FFFF, -1},
      {"DINT to INT wraps", VmInt32ToInt16, 70000, 4464},
      {"DINT to INT -1", VmInt32ToInt16, -1, -1},
      {"DINT to BOOL", VmInt32ToBool, -5, 1},
  };
  for (const Case &c : cases) EXPECT_EQ(c.f(c.in), c.out) << c.name;
  EXPECT_EQ(VmBoolToFloat32(0x201), 1.0f);
  EXPECT_EQ(VmBoolToTime(0x200), 0.0);
  EXPECT_EQ(VmInt16ToFloat64(0x18000), -32768.0);
  EXPECT_EQ(VmInt16ToTime(0xFFFF), -1.0);
  EXPECT_EQ(VmInt16ToFloat32(7), 7.0f);
  // 2^24 + 1 has no REAL form: rounded to nearest.
  EXPECT_EQ(VmInt32ToFloat32(16777217), 16777216.0f);
  EXPECT_EQ(VmInt32ToTime(-3), -3.0);
}

TEST(ConvertExports, NarrowingAndBitCopies) {
  EXPECT_TRUE(std::isinf(VmFloat64ToFloat32(1e39)));
  EXPECT_EQ(VmFloat64ToFloat32(0.1), 0.1f);
  EXPECT_EQ(VmFloat32ToTime(0.5f), 0.5);
  // The unchanged copies keep every bit, NaN payloads included.
  uint64_t bits = 0x7FF8000000012345ull, back;
  double payload;
  std::memcpy(&payload, &bits, 8);
  for (double (*f)(double) :
       {VmFloat64ToTime, VmFloat64ToDateTime, VmTimeToFloat64, VmDateTimeToFloat64}) {
    double out = f(payload);
    std::memcpy(&back, &out, 8);
    EXPECT_EQ(back, bits);
  }
}

// The range checks of the conversion commands: the source is tested before
// rounding; REAL NaN passes, LREAL NaN and infinity never do.
TEST(ConvertRanges, BoundsAreTestedOnTheSource) {
  using namespace sicvm::convert;
  struct Case {
    const char *name;
    bool out;
    bool expected;
  } const cases[] = {
      {"DINT 32767", dintOutOfInt(32767), false},
      {"DINT 70000", dintOutOfInt(70000), true},
      {"DINT -32769", dintOutOfInt(-32769), true},
      {"REAL 32767.4 rounds in range but is out", realOutOfInt(32767.4f), true},
      {"REAL -32768.0", realOutOfInt(-32768.0f), false},
      {"REAL -32768.5", realOutOfInt(-32768.5f), true},
      {"REAL NaN passes INT", realOutOfInt(std::nanf("")), false},
      {"REAL NaN passes DINT", realOutOfDint(std::nanf("")), false},
      {"REAL infinity", realOutOfInt(std::numeric_limits<float>::infinity()), true},
      {"REAL 2^31", realOutOfDint(2147483648.0f), true},
      {"REAL largest below 2^31", realOutOfDint(2147483520.0f), false},
      {"REAL -2^31", realOutOfDint(-2147483648.0f), false},
      {"REAL below -2^31", realOutOfDint(-2147483904.0f), true},
      {"LREAL 32767.0", lrealOutOfInt(32767.0), false},
      {"LREAL 32767.0001", lrealOutOfInt(32767.0001), true},
      {"LREAL NaN for INT", lrealOutOfInt(kNaN), true},
      {"LREAL -inf for DINT", lrealOutOfDint(-kInf), true},
      {"LREAL 2147483647.0", lrealOutOfDint(2147483647.0), false},
      {"LREAL 2147483647.5", lrealOutOfDint(2147483647.5), true},
      {"LREAL -2147483648.0", lrealOutOfDint(-2147483648.0), false},
      {"LREAL largest REAL", lrealOutOfReal(3.4028234663852886e+38), false},
      {"LREAL just above REAL", lrealOutOfReal(std::nextafter(3.4028234663852886e+38, kInf)), true},
      {"LREAL 1e39", lrealOutOfReal(-1e39), true},
      {"LREAL NaN for REAL", lrealOutOfReal(kNaN), true},
  };
  for (const Case &c : cases) EXPECT_EQ(c.out, c.expected) << c.name;
}

}  // namespace
