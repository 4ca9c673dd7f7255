// SPDX-License-Identifier: MIT
// The computing and conversion commands one at a time, in both math error
// modes: the value stored at its width, the error recorded and logged.
#include <cfenv>
#include <cfloat>
#include <cmath>

#include "interp/program.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

Value B(bool x) { return Value::boolean(x); }
Value I(int16_t x) { return Value::int16(x); }
Value D(int32_t x) { return Value::dint(x); }
Value R(float x) { return Value::real(x); }
Value L(double x) { return Value::lreal(x); }
Value T(double x) { return Value::time(x); }
Value DT(double x) { return Value::dt(x); }
Value raw(uint8_t type, uint32_t low, uint32_t high = 0) { return Value::raw(type, low, high); }
const Value N = D(0);  // an operand the command does not read

constexpr double kNaN = NAN, kInf = INFINITY;
constexpr float kNaNf = NAN, kInff = INFINITY;

struct Case {
  const char *mnemonic;
  Value a, b, expected;  // DST has the type of `expected`; a NaN stands for any NaN
  int32_t error = 0;     // 3, 33 or 34 recorded by the command; 2 after it, with the math error
  int32_t math = 0, mathErrno = 0;  // in mode 0; in the errno mode where it differs (a pole)
};

const Case kCases[] = {
    // A comment is no command: DST keeps its fill.
    {"comment", D(1), D(2), raw(VM_TYPE_LREAL, 0xA5A5A5A5u, 0xA5A5A5A5u)},
    // Integers wrap at their width, divide toward zero, test their divisor against 0.
    {"add_int", I(32767), I(1), I(-32768)},
    {"sub_dint", D(INT32_MIN), D(70000), D(INT32_MAX - 69999)},
    {"mul_dint", D(65536), D(65537), D(65536)},               {"div_int", I(-7), I(2), I(-3)},
    {"div_int", I(7), raw(VM_TYPE_INT, 0x10000u), I(0), 3},   {"mod_int", I(-7), I(2), I(-1)},
    {"div_dint", D(INT32_MIN), D(-1), D(INT32_MIN)},          {"mod_dint", D(INT32_MIN), D(-1), D(0)},
    {"neg_dint", D(70000), N, D(-70000)},                     {"abs_int", I(-12), N, I(12)},
    // REAL and LREAL: IEEE without errors; zero divisors by type; fmod, pow.
    {"mul_real", R(FLT_MAX), R(2.0f), R(kInff)},              {"div_real", R(1.0f), R(4.0f), R(0.25f)},
    {"div_real", R(1.0f), R(-0.0f), R(0.0f), 3},              {"div_lreal", L(1.0), L(-0.0), L(0.0), 3},
    {"div_lreal", L(1.0), L(5e-324), L(kInf)},                {"mod_real", R(5.5f), R(0.0f), R(0.0f), 3},
    {"mod_lreal", L(-7.5), L(2.0), L(-1.5)},                  {"mod_lreal", L(kInf), L(2.0), L(kNaN), 2, 33},
    {"expt_real", R(2.0f), R(0.5f), R(float(std::sqrt(2.0)))},
    {"expt_lreal", L(0.0), L(-1.0), L(kInf), 2, 33, 34},      {"expt_lreal", L(10.0), L(400.0), L(kInf), 2, 34},
    {"neg_real", R(0.0f), N, raw(VM_TYPE_REAL, 0x80000000u)},
    {"neg_lreal", L(0.0), N, raw(VM_TYPE_LREAL, 0, 0x80000000u)},
    {"abs_real", R(-0.0f), N, R(0.0f)},
    // TIME: doubles of milliseconds; each factor read at its width and tested by its own zero rule.
    {"sub_time", T(1000), T(1500), T(-500)},                  {"neg_time", T(5), N, T(-5)},
    {"mul_time_int", T(1000), raw(VM_TYPE_INT, 0x0001FFFDu), T(-3000)},
    {"mul_time_dint", T(2.5), D(100000), T(250000)},          {"mul_time_real", T(1000), R(1.5f), T(1500)},
    {"div_time_int", T(1000), raw(VM_TYPE_INT, 0x00010000u), T(0), 3},
    {"div_time_real", T(1000), R(-0.0f), T(0), 3},            {"div_time_lreal", T(1000), L(-4.0), T(-250)},
    // DT through the host's date-time primitives: a day is 86400000 ms.
    {"add_dt_time", DT(45000.0), T(86400000.0), DT(45001.0)}, {"sub_dt_time", DT(45001.0), T(43200000.0), DT(45000.5)},
    {"sub_dt", DT(45000.0), DT(45000.25), T(-21600000.0)},
    // Math functions in double, REAL results rounded; library errors become error 2.
    {"sqrt_lreal", L(-1.0), N, L(kNaN), 2, 33},               {"ln_lreal", L(0.0), N, L(-kInf), 2, 33, 34},
    {"ln_lreal", L(std::exp(1.0)), N, L(1.0)},                {"log_lreal", L(1000.0), N, L(3.0)},
    {"exp_lreal", L(1000.0), N, L(kInf), 2, 34},              {"log2_real", R(8.0f), N, R(3.0f)},
    {"sin_real", R(0.5f), N, R(float(std::sin(0.5)))},        {"cos_lreal", L(0.0), N, L(1.0)},
    {"tan_lreal", L(1.0), N, L(std::tan(1.0))},               {"acos_real", R(2.0f), N, R(kNaNf), 2, 33},
    {"atan_real", R(1.0f), N, R(float(std::atan(1.0)))},      {"round_lreal", L(-2.5), N, L(-3.0)},
    {"trunc_real", R(-2.7f), N, R(-2.0f)},                    {"trunc_lreal", L(-2.5), N, L(-2.0)},
    {"trunc_lreal", L(2.5), N, L(2.0)},                       {"exp_real", R(1.0f), N, R(float(M_E))},
    {"sin_lreal", L(M_PI_2), N, L(1.0)},
    {"trunc_lreal", L(-0.0), N, raw(VM_TYPE_LREAL, 0, 0x80000000u)},
    {"frac_lreal", L(-2.5), N, L(-0.5)},
    // Shifts are logical at the width, counts taken modulo 32; negative counts are error 33.
    {"shl_int", I(1), I(16), I(0)},                           {"shl_int", I(3), I(33), I(6)},
    {"shl_int", I(1), I(-1), I(0), 33},                       {"shr_int", I(-1), I(4), I(0x0FFF)},
    {"shr_dint", D(-1), D(28), D(0xF)},                       {"shr_dint", D(8), D(INT32_MIN), D(0), 33},
    {"rol_int", I(-32767), I(17), I(3)},                      {"ror_int", I(1), I(1), I(-32768)},
    {"rol_dint", D(int32_t(0x80000001u)), D(32), D(int32_t(0x80000001u))},
    {"ror_dint", D(0x12345678), D(8), D(0x78123456)},
    // Logic: BOOL by truth, stored as 0 or 1; INT and DINT bitwise.
    {"not_bool", raw(VM_TYPE_BOOL, 0), N, B(true)},           {"not_bool", raw(VM_TYPE_BOOL, 2), N, B(false)},
    {"and_bool", raw(VM_TYPE_BOOL, 2), raw(VM_TYPE_BOOL, 4), B(true)},
    {"or_bool", raw(VM_TYPE_BOOL, 0), raw(VM_TYPE_BOOL, 4), B(true)},
    {"xor_bool", raw(VM_TYPE_BOOL, 3), raw(VM_TYPE_BOOL, 5), B(false)},
    {"not_dint", D(0x0F0F0F0F), N, D(int32_t(0xF0F0F0F0u))},  {"xor_int", I(-1), I(0x00FF), I(int16_t(0xFF00))},
    // Conversions: bounds tested on the source before rounding (34 keeps the
    // stored result); a REAL NaN passes, an LREAL NaN never does.
    {"bool_to_int", raw(VM_TYPE_BOOL, 2), N, I(1)},           {"bool_to_dint", raw(VM_TYPE_BOOL, 0x100), N, D(0)},
    {"bool_to_lreal", raw(VM_TYPE_BOOL, 0x80), N, L(1.0)},    {"int_to_dint", I(-3), N, D(-3)},
    {"int_to_lreal", raw(VM_TYPE_INT, 0xFFFF0007u), N, L(7.0)},
    {"dint_to_bool", D(0x10000), N, B(true)},                 {"dint_to_int", D(70000), N, I(4464), 34},
    {"dint_to_int", D(32768), N, I(-32768), 34},              {"dint_to_real", D(16777217), N, R(16777216.0f)},
    {"real_to_bool", R(1e-20f), N, B(false)},                 {"real_to_int", R(32767.6f), N, I(-32768), 34},
    {"real_to_int", R(32767.4f), N, I(32767), 34},            {"real_to_int", R(kNaNf), N, I(0)},
    {"real_trunc_int", R(-32768.5f), N, I(-32768), 34},       {"real_to_dint", R(2147483648.0f), N, D(INT32_MIN), 34},
    {"real_trunc_dint", R(-2147483904.0f), N, D(2147483392), 34},
    {"real_trunc_dint", R(kInff), N, D(0), 34},               {"lreal_to_bool", L(kNaN), N, B(true)},
    {"lreal_to_int", L(2.5), N, I(3)},                        {"lreal_to_int", L(kNaN), N, I(0), 34},
    {"lreal_trunc_int", L(32767.9), N, I(32767), 34},         {"lreal_trunc_int", L(-32768.0), N, I(-32768)},
    {"lreal_to_dint", L(2147483647.4), N, D(INT32_MAX), 34},
    {"lreal_trunc_dint", L(-2147483648.9), N, D(INT32_MIN), 34},
    {"lreal_to_real", L(std::nextafter(double(FLT_MAX), kInf)), N, R(FLT_MAX), 34},
    {"lreal_to_real", L(kNaN), N, R(kNaNf), 34},              {"lreal_to_time", L(1234.5), N, T(1234.5)},
};

std::string messageOf(int32_t error, int32_t math) {
  return error == 2 ? "Math error (" + std::to_string(math) + ")"
                    : error == 3 ? "Division by zero" : error == 33 ? "Invalid parameter" : "Result out of range";
}

bool isNaN(uint8_t type, const VmValue &v) {
  return type == VM_TYPE_REAL ? std::isnan(v.f32) : test::widthOf(type) == 8 && std::isnan(v.f64);
}

TEST(Compute, StoresTheResultAtItsWidthAndRecordsTheErrorInBothModes) {
  for (int32_t mode : {0, 1}) {
    const int32_t previous = VmSetFpemode(mode);
    for (const Case &k : kCases) {
      SCOPED_TRACE(::testing::Message() << k.mnemonic << " row " << &k - kCases << " mode " << mode);
      test::OneCommand program(uint16_t(codeOf(k.mnemonic)), k.a, k.b, k.expected.type);
      test::TestMachine m(program.builder);
      test::LogCapture log(10);
      feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);  // the run masks them: no trap, no flag left
      EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1) << "the command ran and the run went on";
      EXPECT_EQ(fegetexcept() | std::fetestexcept(FE_ALL_EXCEPT), 0);
      const VmCell &out = m.globalCell(program.d);
      const unsigned width = test::widthOf(k.expected.type);
      if (isNaN(k.expected.type, k.expected.v)) {  // any NaN, the bytes above the width untouched
        EXPECT_TRUE(isNaN(k.expected.type, out.v));
        EXPECT_EQ(test::bitsOf(out) >> (8 * width - 1) >> 1, test::overFill(k.expected) >> (8 * width - 1) >> 1);
      } else {
        EXPECT_EQ(test::bitsOf(out), test::overFill(k.expected));
      }
      EXPECT_EQ(out.type, k.expected.type) << "the cell head stays";
      const int32_t math = mode != 0 && k.mathErrno ? k.mathErrno : k.math;
      const test::Record expected = k.error == 2 ? test::Record{2, 1, uint32_t(math)} : test::Record{k.error};
      EXPECT_EQ(test::recordOf(m), expected);
      EXPECT_EQ(log.texts().back(),
                k.error ? test::errorLine(k.error, expected.address, messageOf(k.error, math)) : test::kCycleLine);
    }
    VmSetFpemode(previous);
  }
}

// Comparisons set compareFlags (1 equal, 2 less, 0 greater or unordered), not DST.
TEST(Compute, ComparisonsSetTheFlags) {
  const struct { const char *mnemonic; Value a, b; uint32_t flags; } cases[] = {
      {"cmd_bool", raw(VM_TYPE_BOOL, 2), raw(VM_TYPE_BOOL, 1), 0}, {"cmd_bool", B(false), B(true), 2},
      {"cmd_int", I(-1), I(1), 2},           {"cmd_int", I(7), raw(VM_TYPE_INT, 0xFFFF0007u), 1},
      {"cmd_dint", D(INT32_MAX), D(-1), 0},  {"cmd_dint", D(5), D(5), 1},
      {"cmd_real", R(kNaNf), R(1.0f), 0},    {"cmd_real", R(1.0f), R(kNaNf), 0},
      {"cmd_real", R(kInff), R(kInff), 0},   {"cmd_real", R(-0.0f), R(0.0f), 1},
      {"cmd_real", R(1.0f), R(2.0f), 2},     {"cmd_lreal", L(0.1 + 0.2), L(0.3), 0},
      {"cmd_lreal", L(-1e300), L(1e300), 2}, {"cmd_lreal", L(-kInf), L(-kInf), 0},
      {"cmd_time", T(1000.2), T(1000.4), 1}, {"cmd_time", T(999), T(1000), 2},
      {"cmd_dt", DT(45001.0), DT(45000.0), 0},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(::testing::Message() << k.mnemonic << " row " << &k - cases);
    test::OneCommand program(uint16_t(codeOf(k.mnemonic)), k.a, k.b, VM_TYPE_DINT);
    test::TestMachine m(program.builder);
    m->compareFlags = 7;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
    EXPECT_EQ(m->compareFlags, k.flags);
    EXPECT_EQ(test::bitsOf(m.globalCell(program.d)), 0xA5A5A5A5A5A5A5A5u);
  }
}

}  // namespace
