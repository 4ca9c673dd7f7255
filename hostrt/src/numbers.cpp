// SPDX-License-Identifier: MIT
// Rounding helpers.
#include "hostrt/numbers.h"

#include <cfenv>
#include <cmath>

extern "C" {

double fround(double x) { return std::round(x); }

double ftrunc(double x) { return std::trunc(x); }

double ffrac(double x) {
  if (std::isinf(x)) return std::copysign(0.0, x);
  return x - std::trunc(x);
}

int fiszero(double x) { return std::fabs(x) < HOSTRT_ZERO_TOLERANCE ? 1 : 0; }

double roundb(double x) {
  // The current rounding mode may be anything the caller set; halves go to even regardless.
  double whole = std::floor(x);
  double diff = x - whole;
  if (diff > 0.5) return whole + 1.0;
  if (diff < 0.5) return whole;
  return std::fmod(whole, 2.0) == 0.0 ? whole : whole + 1.0;
}

}  // extern "C"
