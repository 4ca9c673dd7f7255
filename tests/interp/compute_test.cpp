// The computing commands, one command at a time: the value stored (at the
// width of its type, the rest of the field untouched), the error recorded,
// and the run going on after it.
#include <cfloat>
#include <cmath>
#include <limits>

#include "interp/program.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::Record;

namespace {

Value B(bool x) { return Value::boolean(x); }
Value I(int16_t x) { return Value::int16(x); }
Value D(int32_t x) { return Value::dint(x); }
Value R(float x) { return Value::real(x); }
Value L(double x) { return Value::lreal(x); }
Value T(double x) { return Value::time(x); }
Value DT(double x) { return Value::dt(x); }
Value bitsOf(uint8_t type, uint64_t bits) { return Value::raw(type, uint32_t(bits), uint32_t(bits >> 32)); }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();
constexpr float kInff = std::numeric_limits<float>::infinity();

struct Case {
  const char *mnemonic;
  Value a, b;
  Value expected;       // its type is the type of DST
  int32_t error = 0;    // 3 or 33 recorded by the command; 2 after it
  uint32_t mathValue = 0;
};

bool isNaN(const Value &v) {
  return v.type == VM_TYPE_REAL ? std::isnan(v.v.f32) : v.type != VM_TYPE_INT && v.type != VM_TYPE_DINT &&
                                                            v.type != VM_TYPE_BOOL && std::isnan(v.v.f64);
}

class Compute : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { previousMode_ = VmSetFpemode(0); }
  void TearDown() override { VmSetFpemode(previousMode_); }
  int32_t previousMode_ = 0;
};

TEST_P(Compute, StoresTheResultAtTheWidthOfItsType) {
  const Case &c = GetParam();
  const int code = codeOf(c.mnemonic);
  ASSERT_GE(code, 0) << c.mnemonic;
  test::OneCommand program(uint16_t(code), c.a, c.b, c.expected.type);
  test::TestMachine m(program.builder);
  test::runToEnd(m);
  const VmCell &out = m.globalCell(program.d);
  const unsigned width = test::widthOf(c.expected.type);
  if (isNaN(c.expected)) {
    const bool nan = width == 4 ? std::isnan(out.v.f32) : std::isnan(out.v.f64);
    EXPECT_TRUE(nan) << c.mnemonic;
    for (unsigned i = width; i < 8; ++i) EXPECT_EQ(out.v.bytes[i], test::kFill) << c.mnemonic;
  } else {
    EXPECT_TRUE(test::wroteExactly(out, c.expected.v, width)) << c.mnemonic;
  }
  EXPECT_EQ(out.type, c.expected.type) << "the cell head stays";
  Record expected{0, 0, 0, 0};
  if (c.error == 2) expected = {2, 1, c.mathValue, 0};  // after the command, at the pc it left
  else if (c.error != 0) expected = {c.error, 0, 0, 0};
  EXPECT_EQ(test::recordOf(m.get()), expected) << c.mnemonic;
}

// Integer arithmetic wraps, divides toward zero, and tests INT and DINT
// divisors against 0.
INSTANTIATE_TEST_SUITE_P(Integer, Compute, ::testing::Values(
    Case{"add_int", I(32767), I(1), I(-32768)},
    Case{"sub_int", I(-32768), I(1), I(32767)},
    Case{"mul_int", I(300), I(300), I(24464)},
    Case{"add_dint", D(2147483647), D(1), D(INT32_MIN)},
    Case{"sub_dint", D(INT32_MIN), D(1), D(2147483647)},
    Case{"mul_dint", D(65536), D(65536), D(0)},
    Case{"mul_dint", D(-3), D(7), D(-21)},
    Case{"div_int", I(-7), I(2), I(-3)},
    Case{"div_int", I(7), I(0), I(0), 3},
    Case{"div_int", I(-32768), I(-1), I(-32768)},
    Case{"mod_int", I(7), I(-2), I(1)},
    Case{"mod_int", I(-7), I(2), I(-1)},
    Case{"mod_int", I(-32768), I(-1), I(0)},
    Case{"mod_int", I(5), I(0), I(0), 3},
    Case{"div_dint", D(-2000000001), D(1000000000), D(-2)},
    Case{"div_dint", D(7), D(0), D(0), 3},
    Case{"div_dint", D(INT32_MIN), D(-1), D(INT32_MIN)},
    Case{"mod_dint", D(INT32_MIN), D(-1), D(0)},
    Case{"mod_dint", D(-7), D(2), D(-1)},
    Case{"mod_dint", D(9), D(0), D(0), 3},
    Case{"neg_int", I(-32768), I(0), I(-32768)},
    Case{"neg_dint", D(5), D(0), D(-5)},
    Case{"abs_int", I(-32768), I(0), I(-32768)},
    Case{"abs_int", I(-12), I(0), I(12)},
    Case{"abs_dint", D(INT32_MIN), D(0), D(INT32_MIN)},
    Case{"abs_dint", D(-3), D(0), D(3)}));

// REAL and LREAL: IEEE arithmetic without errors; zero divisors by type;
// fmod and pow with their math errors.
INSTANTIATE_TEST_SUITE_P(Floating, Compute, ::testing::Values(
    Case{"add_real", R(1.5f), R(2.25f), R(3.75f)},
    Case{"sub_lreal", L(0.5), L(2.0), L(-1.5)},
    Case{"mul_real", R(FLT_MAX), R(2.0f), R(kInff)},
    Case{"mul_lreal", L(1e300), L(1e300), L(kInf)},
    Case{"div_real", R(1.0f), R(-0.0f), R(0.0f), 3},
    Case{"div_real", R(1.0f), R(kNaNf), R(kNaNf)},
    Case{"div_real", R(1.0f), R(4.0f), R(0.25f)},
    Case{"div_lreal", L(1.0), L(kNaN), L(kNaN)},
    Case{"div_lreal", L(1.0), L(-0.0), L(0.0), 3},
    Case{"div_lreal", L(1.0), L(5e-324), L(kInf)},
    Case{"mod_real", R(5.5f), R(2.0f), R(1.5f)},
    Case{"mod_real", R(5.5f), R(0.0f), R(0.0f), 3},
    Case{"mod_lreal", L(-7.5), L(2.0), L(-1.5)},
    Case{"mod_lreal", L(kInf), L(2.0), L(kNaN), 2, 33},
    Case{"expt_lreal", L(2.0), L(10.0), L(1024.0)},
    Case{"expt_real", R(2.0f), R(0.5f), R(float(std::sqrt(2.0)))},
    Case{"expt_lreal", L(0.0), L(-1.0), L(kInf), 2, 33},
    Case{"expt_lreal", L(10.0), L(400.0), L(kInf), 2, 34},
    Case{"expt_lreal", L(-8.0), L(1.0 / 3.0), L(kNaN), 2, 33},
    Case{"neg_real", R(kNaNf), R(0), bitsOf(VM_TYPE_REAL, 0xFFC00000u)},
    Case{"neg_lreal", L(0.0), L(0), bitsOf(VM_TYPE_LREAL, 0x8000000000000000u)},
    Case{"abs_lreal", L(-0.0), L(0), L(0.0)},
    Case{"abs_real", R(-kInff), R(0), R(kInff)}));

// TIME: doubles of milliseconds; the divisor's own zero test.
INSTANTIATE_TEST_SUITE_P(Time, Compute, ::testing::Values(
    Case{"add_time", T(1000), T(500), T(1500)},
    Case{"sub_time", T(1000), T(1500), T(-500)},
    Case{"neg_time", T(5), T(0), T(-5)},
    Case{"abs_time", T(-5), T(0), T(5)},
    Case{"mul_time_int", T(1000), I(-3), T(-3000)},
    Case{"mul_time_dint", T(2.5), D(100000), T(250000)},
    Case{"mul_time_real", T(1000), R(1.5f), T(1500)},
    Case{"mul_time_lreal", T(1000), L(0.001), T(1)},
    Case{"div_time_int", T(1000), I(0), T(0), 3},
    Case{"div_time_dint", T(1000), D(4), T(250)},
    Case{"div_time_real", T(1000), R(-0.0f), T(0), 3},
    Case{"div_time_real", T(1000), R(kNaNf), T(kNaN)},
    Case{"div_time_lreal", T(1000), L(0.0), T(0), 3},
    Case{"div_time_lreal", T(1000), L(-4.0), T(-250)}));

// DT through the host's date-time primitives: one day is 86400000 ms.
INSTANTIATE_TEST_SUITE_P(DateTime, Compute, ::testing::Values(
    Case{"add_dt_time", DT(45000.0), T(86400000.0), DT(45001.0)},
    Case{"sub_dt_time", DT(45001.0), T(43200000.0), DT(45000.5)},
    Case{"sub_dt", DT(45001.0), DT(45000.0), T(86400000.0)},
    Case{"sub_dt", DT(45000.0), DT(45000.25), T(-21600000.0)}));

// Math functions in double, REAL results rounded; library errors surface
// after the command as error 2.
INSTANTIATE_TEST_SUITE_P(Math, Compute, ::testing::Values(
    Case{"sqrt_lreal", L(16.0), L(0), L(4.0)},
    Case{"sqrt_lreal", L(-1.0), L(0), L(kNaN), 2, 33},
    Case{"sqrt_real", R(2.0f), R(0), R(float(std::sqrt(2.0)))},
    Case{"ln_lreal", L(std::exp(1.0)), L(0), L(1.0)},
    Case{"ln_lreal", L(0.0), L(0), L(-kInf), 2, 33},
    Case{"log_lreal", L(1000.0), L(0), L(3.0)},
    Case{"log_real", R(0.0f), R(0), R(-kInff), 2, 33},
    Case{"exp_lreal", L(1000.0), L(0), L(kInf), 2, 34},
    Case{"exp_real", R(100.0f), R(0), R(kInff)},
    Case{"log2_real", R(8.0f), R(0), R(3.0f)},
    Case{"log2_lreal", L(1024.0), L(0), L(10.0)},
    Case{"log2_lreal", L(-1.0), L(0), L(kNaN), 2, 33},
    Case{"sin_lreal", L(0.0), L(0), L(0.0)},
    Case{"acos_real", R(2.0f), R(0), R(kNaNf), 2, 33},
    Case{"cos_lreal", L(0.0), L(0), L(1.0)},
    Case{"tan_real", R(0.0f), R(0), R(0.0f)},
    Case{"asin_lreal", L(2.0), L(0), L(kNaN), 2, 33},
    Case{"acos_lreal", L(1.0), L(0), L(0.0)},
    Case{"atan_lreal", L(1.0), L(0), L(std::atan(1.0))},
    Case{"round_real", R(2.5f), R(0), R(3.0f)},
    Case{"round_lreal", L(-2.5), L(0), L(-3.0)},
    Case{"trunc_real", R(-2.7f), R(0), R(-2.0f)},
    Case{"trunc_lreal", L(-2.5), L(0), L(-2.0)},
    Case{"trunc_lreal", L(2.5), L(0), L(2.0)},
    Case{"trunc_lreal", L(-0.0), L(0), bitsOf(VM_TYPE_LREAL, 0x8000000000000000u)},
    Case{"frac_real", R(-2.5f), R(0), R(-0.5f)},
    Case{"frac_lreal", L(-2.5), L(0), L(-0.5)},
    Case{"frac_lreal", L(3.25), L(0), L(0.25)}));

// Shifts and rotations of 16- and 32-bit patterns; negative counts.
INSTANTIATE_TEST_SUITE_P(ShiftRotate, Compute, ::testing::Values(
    Case{"shl_int", I(1), I(15), I(-32768)},
    Case{"shl_int", I(1), I(16), I(0)},
    Case{"shl_int", I(1), I(-1), I(0), 33},
    Case{"shl_int", I(3), I(33), I(6)},
    Case{"shl_dint", D(1), D(33), D(2)},
    Case{"shl_dint", D(1), D(31), D(INT32_MIN)},
    Case{"shr_int", I(-1), I(4), I(0x0FFF)},
    Case{"shr_int", I(-1), I(16), I(0)},
    Case{"shr_dint", D(-1), D(28), D(0xF)},
    Case{"shr_dint", D(-1), D(32), D(-1)},
    Case{"shr_dint", D(8), D(INT32_MIN), D(0), 33},
    Case{"rol_int", I(-32767), I(1), I(3)},
    Case{"rol_int", I(-32767), I(17), I(3)},
    Case{"ror_int", I(1), I(1), I(-32768)},
    Case{"ror_int", I(3), I(0), I(3)},
    Case{"rol_dint", D(int32_t(0x80000001u)), D(1), D(3)},
    Case{"ror_dint", D(1), D(1), D(INT32_MIN)},
    Case{"ror_dint", D(0x12345678), D(8), D(0x78123456)},
    Case{"rol_dint", D(7), D(-5), D(0), 33}));

// Logic: BOOL by truth, stored as 0 or 1; INT and DINT bitwise.
INSTANTIATE_TEST_SUITE_P(Logic, Compute, ::testing::Values(
    Case{"not_bool", Value::raw(VM_TYPE_BOOL, 0, 0), B(false), B(true)},
    Case{"not_bool", Value::raw(VM_TYPE_BOOL, 7, 0), B(false), B(false)},
    Case{"and_bool", Value::raw(VM_TYPE_BOOL, 2, 0), Value::raw(VM_TYPE_BOOL, 4, 0), B(true)},
    Case{"or_bool", B(false), B(false), B(false)},
    Case{"xor_bool", Value::raw(VM_TYPE_BOOL, 3, 0), Value::raw(VM_TYPE_BOOL, 5, 0), B(false)},
    Case{"xor_bool", B(false), Value::raw(VM_TYPE_BOOL, 9, 0), B(true)},
    Case{"not_int", I(0), I(0), I(-1)},
    Case{"not_dint", D(0x0F0F0F0F), D(0), D(int32_t(0xF0F0F0F0u))},
    Case{"and_int", I(0x0FF0), I(0x00FF), I(0x00F0)},
    Case{"or_dint", D(0x10000), D(1), D(0x10001)},
    Case{"xor_int", I(-1), I(0x00FF), I(int16_t(0xFF00))}));

// ---- Comparisons: compareFlags, DST untouched ----

struct CompareCase {
  const char *mnemonic;
  Value a, b;
  uint32_t flags;  // 1 equal, 2 less, 0 greater or unordered
};

class Comparison : public ::testing::TestWithParam<CompareCase> {};

TEST_P(Comparison, SetsTheFlagsAndLeavesDstAlone) {
  const CompareCase &c = GetParam();
  test::OneCommand program(uint16_t(codeOf(c.mnemonic)), c.a, c.b, VM_TYPE_DINT);
  test::TestMachine m(program.builder);
  m->compareFlags = 7;
  test::runToEnd(m);
  EXPECT_EQ(m->compareFlags, c.flags) << c.mnemonic;
  EXPECT_TRUE(test::wroteExactly(m.globalCell(program.d), VmValue{}, 0));
  EXPECT_EQ(test::recordOf(m.get()).code, 0);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, Comparison, ::testing::Values(
    CompareCase{"cmd_bool", Value::raw(VM_TYPE_BOOL, 2, 0), Value::raw(VM_TYPE_BOOL, 1, 0), 0},
    CompareCase{"cmd_bool", B(false), B(true), 2},
    CompareCase{"cmd_int", I(-1), I(1), 2},
    CompareCase{"cmd_int", I(7), Value::raw(VM_TYPE_INT, 0xFFFF0007u, 0), 1},
    CompareCase{"cmd_dint", D(2147483647), D(-1), 0},
    CompareCase{"cmd_dint", D(INT32_MIN), D(1), 2},
    CompareCase{"cmd_dint", D(5), D(5), 1},
    CompareCase{"cmd_real", R(kNaNf), R(1.0f), 0},
    CompareCase{"cmd_real", R(1.0f), R(kNaNf), 0},
    CompareCase{"cmd_real", R(kInff), R(kInff), 0},
    CompareCase{"cmd_real", R(1.0f), R(2.0f), 2},
    CompareCase{"cmd_real", R(-0.0f), R(0.0f), 1},
    CompareCase{"cmd_lreal", L(-kInf), L(-kInf), 0},
    CompareCase{"cmd_lreal", L(0.1 + 0.2), L(0.3), 0},
    CompareCase{"cmd_lreal", L(-1e300), L(1e300), 2},
    CompareCase{"cmd_time", T(1000.2), T(1000.4), 1},
    CompareCase{"cmd_time", T(999), T(1000), 2},
    CompareCase{"cmd_dt", DT(45001.0), DT(45000.0), 0},
    CompareCase{"cmd_dt", DT(45000.0), DT(45000.5), 2}));

// The conditions of the test commands over the three flag values a
// comparison can leave (and the two-bit value 3 no comparison stores).
TEST(Tests, ReadTheTwoFlagBits) {
  struct Row {
    const char *mnemonic;
    uint8_t whenGreater, whenEqual, whenLess, whenBoth;
  } rows[] = {{"test_eq", 0, 1, 0, 1}, {"test_ne", 1, 0, 1, 0}, {"test_lt", 0, 0, 1, 0},
              {"test_le", 0, 1, 1, 1}, {"test_gt", 1, 0, 0, 0}, {"test_ge", 1, 1, 0, 1}};
  for (const Row &row : rows) {
    const uint8_t expected[4] = {row.whenGreater, row.whenEqual, row.whenLess, row.whenBoth};
    for (uint32_t flags = 0; flags < 4; ++flags) {
      test::OneCommand program(uint16_t(codeOf(row.mnemonic)), D(0), D(0), VM_TYPE_BOOL);
      test::TestMachine m(program.builder);
      m->compareFlags = flags;
      test::runToEnd(m);
      VmValue want{};
      want.b = expected[flags];
      EXPECT_TRUE(test::wroteExactly(m.globalCell(program.d), want, 1)) << row.mnemonic << " flags " << flags;
    }
  }
}

}  // namespace
