// SPDX-License-Identifier: MIT
/* Rounding helpers shared by the conversions and the date functions. */
#ifndef HOSTRT_NUMBERS_H
#define HOSTRT_NUMBERS_H

#include "hostrt/api.h"

HOSTRT_BEGIN_DECLS

/* Tolerance of fiszero: |x| below this counts as zero. */
#define HOSTRT_ZERO_TOLERANCE 1e-12

/* Nearest whole number, halves away from zero (2.5 -> 3, -2.5 -> -3). */
HOSTRT_API double fround(double x);
/* Whole part, toward zero (-2.7 -> -2). */
HOSTRT_API double ftrunc(double x);
/* Fractional part, x - ftrunc(x), with the sign of x (-2.5 -> -0.5). */
HOSTRT_API double ffrac(double x);
/* Non-zero when |x| < HOSTRT_ZERO_TOLERANCE (so +-0.0 and denormals count as
 * zero); 0 for anything else, NaN included. */
HOSTRT_API int fiszero(double x);
/* Nearest whole number, halves to even (2.5 -> 2, 3.5 -> 4): the unbiased
 * rounding used when a date-time is turned into whole milliseconds. */
HOSTRT_API double roundb(double x);

HOSTRT_END_DECLS

#endif
