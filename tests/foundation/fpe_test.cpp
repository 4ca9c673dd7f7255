// SPDX-License-Identifier: MIT
// Floating-point error mode and the route of math library errors.
#include <gtest/gtest.h>

#include <cmath>

#include "foundation/fpe.h"
#include "sicvm/vm.h"

using namespace sicvm;

namespace {

class MathErrors : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = VmSetFpemode(0); }
  void TearDown() override { VmSetFpemode(previous_); }
  int32_t previous_ = 0;
};

TEST_F(MathErrors, HandlerMapsExceptionTypesTo33Or34) {
  struct Case {
    int32_t type;
    int32_t expected;
  } cases[] = {{VM_MATH_DOMAIN, 33}, {VM_MATH_SING, 33}, {VM_MATH_OVERFLOW, 34},
               {VM_MATH_UNDERFLOW, 34}, {VM_MATH_TLOSS, 34}, {VM_MATH_PLOSS, 34}, {99, 34}};
  for (const Case &c : cases) {
    g_mathError = 0;
    VmMathException e{};
    e.type = c.type;
    EXPECT_EQ(VmMatherr(&e), 1);
    EXPECT_EQ(g_mathError.load(), c.expected) << "type " << c.type;
  }
}

TEST_F(MathErrors, SetModeReturnsThePreviousMode) {
  EXPECT_EQ(VmSetFpemode(3), 0);
  EXPECT_EQ(VmSetFpemode(0), 3);
}

// Arguments pass through volatiles so that the compiler cannot fold the calls.
volatile double vZero = 0.0, vMinusOne = -1.0, vFour = 4.0, vTen = 10.0, vBig = 1000.0, vHuge = 400.0;

double lg(double x) { return std::log(x); }
double sq(double x) { return std::sqrt(x); }
double ex(double x) { return std::exp(x); }
double pw(double x, double y) { return std::pow(x, y); }

TEST_F(MathErrors, LibraryErrorsReachTheWordOfTheMode) {
  struct Case {
    const char *what;
    double (*call)();
    int32_t expected;
  } cases[] = {
      {"sqrt(-1)", [] { return checkedMath(sq, vMinusOne); }, 33},
      {"log(-1)", [] { return checkedMath<RangeKind::Pole>(lg, vMinusOne); }, 33},
      {"log(0) is a singularity", [] { return checkedMath<RangeKind::Pole>(lg, vZero); }, 33},
      {"exp(1000) overflows", [] { return checkedMath(ex, vBig); }, 34},
      {"pow(0,-1) is a singularity", [] { return checkedMath<RangeKind::PoleWhenBaseZero>(pw, vZero, vMinusOne); }, 33},
      {"pow(10,400) overflows", [] { return checkedMath<RangeKind::PoleWhenBaseZero>(pw, vTen, vHuge); }, 34},
      {"sqrt(4) is fine", [] { return checkedMath(sq, vFour); }, 0},
  };
  for (const Case &c : cases) {
    // Mode 0: the handler's word, errno untouched.
    VmSetFpemode(0);
    clearMathError();
    errno = 0;
    c.call();
    EXPECT_EQ(currentMathError(), c.expected) << c.what;
    EXPECT_EQ(errno, 0) << c.what;
    // Other modes: errno carries the runtime's error number (33 EDOM, 34 ERANGE).
    VmSetFpemode(1);
    g_mathError = 0;
    clearMathError();
    c.call();
    int32_t expectedErrno = c.expected == 0 ? 0 : (std::string(c.what).find("singularity") != std::string::npos ? 34 : c.expected);
    EXPECT_EQ(currentMathError(), expectedErrno) << c.what;
    EXPECT_EQ(g_mathError.load(), 0) << c.what;
  }
}

TEST_F(MathErrors, GuardMasksTrapsAndLeavesThemMasked) {
  feenableexcept(FE_DIVBYZERO);
  {
    FloatGuard guard;
    volatile double zero = 0.0;
    volatile double r = 1.0 / zero;  // would trap without the guard
    EXPECT_TRUE(std::isinf(r));
  }
  EXPECT_EQ(fegetexcept() & FE_ALL_EXCEPT, 0);
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
}

}  // namespace
