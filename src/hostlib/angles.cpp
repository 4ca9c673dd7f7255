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

float times(float x, float factor) { return float(double(x) * double(factor)); }

}  // namespace

int32_t radToDeg32(const lib::Call &call) {
  call.setReal(1, times(call.getReal(0), kDegreesPerRadian32));
  return 0;
}

int32_t radToDeg64(const lib::Call &call) {
  call.setDouble(1, call.getDouble(0) * kDegreesPerRadian64);
  return 0;
}

int32_t degToRad32(const lib::Call &call) {
  call.setReal(1, times(call.getReal(0), kRadiansPerDegree32));
  return 0;
}

int32_t degToRad64(const lib::Call &call) {
  call.setDouble(1, call.getDouble(0) * kRadiansPerDegree64);
  return 0;
}

}  // namespace sicvm::hostlib
