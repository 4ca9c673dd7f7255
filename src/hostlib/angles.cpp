// SPDX-License-Identifier: MIT
// Angle conversions of the host library (6141 to 6144), degrees to radians
// and back. The REAL functions multiply by the factor rounded to single
// precision and round the product once to REAL: the product of two floats
// is exact in double precision, so rounding it to float is the only
// rounding, whatever precision the compiler evaluates float expressions in.
#include "hostlib/functions.h"

namespace sicvm::hostlib {
namespace {

constexpr float kDegreesPerRadian32 = 57.29578f;      // 57.295780181884766
constexpr float kRadiansPerDegree32 = 0.017453292f;   // 0.01745329238474369
constexpr double kDegreesPerRadian64 = 57.29577951308232;
constexpr double kRadiansPerDegree64 = 0.017453292519943295;

// REAL in, REAL out: the product rounded once.
int32_t scaleReal(const lib::Call &call, float factor) {
  call.setReal(1, float(double(call.getReal(0)) * double(factor)));
  return 0;
}

int32_t scaleLreal(const lib::Call &call, double factor) {
  call.setDouble(1, call.getDouble(0) * factor);
  return 0;
}

}  // namespace

int32_t radToDeg32(const lib::Call &call) { return scaleReal(call, kDegreesPerRadian32); }
int32_t radToDeg64(const lib::Call &call) { return scaleLreal(call, kDegreesPerRadian64); }
int32_t degToRad32(const lib::Call &call) { return scaleReal(call, kRadiansPerDegree32); }
int32_t degToRad64(const lib::Call &call) { return scaleLreal(call, kRadiansPerDegree64); }

}  // namespace sicvm::hostlib
