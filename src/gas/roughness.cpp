// SPDX-License-Identifier: MIT
// The pipe roughness factor Ksh: how much a rough pipe wall raises the flow
// above that of a smooth pipe, against the mean roughness ra (m), the pipe
// diameter D (m) and the Reynolds number.
#include <cmath>
#include <iterator>
#include <numbers>

#include "gas/roughness.h"

namespace sicvm::gas {
namespace {

constexpr double kPi = std::numbers::pi;

// Friction factor of a pipe with equivalent roughness R (m).
double friction(double R, double D, double re) {
  const double q = 5.035 / re;
  const double a1 = std::log10(0.26954 * R / D + 3.3333 * q);
  const double a2 = std::log10(0.26954 * R / D - q * a1);
  const double a3 = std::log10(2 * R / D - 37.361 * a2 / re);
  const double s = 1.74 - 2 * a3;
  return 1 / (s * s);
}

// Lower limit of the mean roughness for an orifice, m. A NaN bound (no
// logarithm of its argument) counts as 0.
double orificeMinRoughness(double beta, double D, double re, double lg) {
  if (re < 3e6) return 0;
  double r = beta < 0.65
                 ? std::log10((0.1382 - 0.23762 * beta) * lg + 3.469 * beta - 2.0118) + 7.1592 -
                       12.387 * beta
                 : std::log10(0.243081 - 0.0162562 * lg) - 0.892353;
  double positive = r > 0 ? r : 0;
  return 1e-4 * D * positive * positive;
}

// Upper limit of the mean roughness for an orifice, m: a fitted curve
// A beta^e + B whose coefficients are cubics in lg Re, per Reynolds range.
struct Fit {
  double reMax;          // the range ends here (inclusive)
  double a[4], b[4], e[4];  // polynomial coefficients in lg, constant first
};

double poly(const double (&c)[4], double x) { return ((c[3] * x + c[2]) * x + c[1]) * x + c[0]; }

constexpr Fit kUpperFits[] = {
    {1e5, {8.87, -3.7114, 0.41841, 0}, {-10.244, 5.7094, 0.76477, 0}, {6.7307, -5.5844, 0.732485, 0}},
    {3e6,
     {27.23, -11.458, 1.6117, -0.07567},
     {1.7622, -3.8765, 1.05567, -0.076764},
     {-25.928, 12.426, -2.09397, 0.106143}},
    {INFINITY,
     {16.5416, -6.60709, 0.88147, -0.039226},
     {-92.029, 37.935, -5.1885, 0.23583},
     {322.594, -132.2, 17.795, -0.799765}},
};

double orificeMaxRoughness(double beta, double D, double re, double lg) {
  double v;
  if (re <= 1e4) {
    v = 0.718866 * std::pow(beta, -3.887) + 0.364;
  } else {
    // The last range is open; a NaN re takes it.
    size_t i = 0;
    while (i + 1 < std::size(kUpperFits) && !(re <= kUpperFits[i].reMax)) ++i;
    const Fit *fit = &kUpperFits[i];
    double bc = beta < 0.65 ? beta : 0.65;
    v = poly(fit->a, lg) * std::pow(bc, poly(fit->e, lg)) + poly(fit->b, lg);
    if (v < 0) v = 0;
    else if (v > 15) v = 15;
  }
  return 1e-4 * D * v;
}

Roughness orifice(double beta, double D, double ra, double re, double lg) {
  const double steep = 5.22 * std::pow(beta, 3.5);
  double raMin = orificeMinRoughness(beta, D, re, lg);
  if (ra < raMin) return {1 + steep * (friction(kPi * ra, D, re) - friction(kPi * raMin, D, re)), false};
  double raMax = orificeMaxRoughness(beta, D, re, lg);
  bool out = re > 1e8;
  if (ra <= raMax) return {1, out};
  return {1 + steep * (friction(kPi * ra, D, re) - friction(kPi * raMax, D, re)), out};
}

struct LimitPoint {
  double beta, limit;
};
constexpr LimitPoint kNozzleLimits[] = {{0.35, 8.0}, {0.36, 5.9}, {0.38, 4.3}, {0.40, 3.4},
                                        {0.42, 2.8}, {0.44, 2.4}, {0.46, 2.1}, {0.48, 1.9},
                                        {0.50, 1.8}, {0.60, 1.4}, {0.70, 1.3}, {0.77, 1.2}};

}  // namespace

double nozzleRoughnessLimit(double beta) noexcept {
  if (beta <= kNozzleLimits[0].beta) return kNozzleLimits[0].limit;
  // Linear between the points; a point's own beta belongs to the segment ending there.
  for (size_t i = 1; i < std::size(kNozzleLimits); ++i) {
    const LimitPoint &lo = kNozzleLimits[i - 1], &hi = kNozzleLimits[i];
    if (beta <= hi.beta) return lo.limit + (hi.limit - lo.limit) * (beta - lo.beta) / (hi.beta - lo.beta);
  }
  return std::end(kNozzleLimits)[-1].limit;  // beyond the last point, and NaN
}

Roughness roughnessFactor(Device device, double beta, double D, double ra, double re) noexcept {
  const double lg = std::log10(re);
  if (isOrifice(device)) return orifice(beta, D, ra, re, lg);
  if (device == kLongRadiusNozzle) return {1, ra > 0.00032 * D};
  if (ra <= 1e-4 * nozzleRoughnessLimit(beta) * D) return {1, false};
  double a = re <= 1e6 ? 1 - (lg - 6) * (lg - 6) / 4 : 1;
  double beta2 = beta * beta;
  double ksh = 1 + beta2 * beta2 * a * (0.0451 * std::log10(1e4 * kPi * ra / D) - 0.025);
  return {ksh, re < 1e4 || kPi * ra > 0.003 * D};
}

}  // namespace sicvm::gas
