// SPDX-License-Identifier: MIT
#include "gas/properties.h"

#include <cmath>

namespace sicvm::gas {

double pseudoCriticalPressure(const GasComposition &g) noexcept {
  return 2.9585 * (1.608 - 0.05994 * g.rhoc + g.xy - 0.392 * g.xa);
}

double pseudoCriticalTemperature(const GasComposition &g) noexcept {
  return 88.25 * (0.9915 + 1.759 * g.rhoc - g.xy - 1.681 * g.xa);
}

double standardCompressibility(const GasComposition &g) noexcept {
  double f = 0.0741 * g.rhoc - 0.006 - 0.063 * g.xa - 0.0575 * g.xy;
  return 1 - f * f;
}

double viscosity(double T, double p, const GasComposition &g, bool correctAlways) noexcept {
  double mu = 3.24 * (std::sqrt(T) + 1.37 - 9.09 * std::pow(g.rhoc, 0.125)) /
              (std::sqrt(g.rhoc) + 2.08 - 1.5 * (g.xa + g.xy));
  if (correctAlways || p > 0.5) {
    double pr = p / pseudoCriticalPressure(g);
    double tr = T / pseudoCriticalTemperature(g);
    mu = mu * (1 + pr * pr / (30 * (tr - 1)));
  }
  return mu;
}

double isentropicExponent(double T, double p, const GasComposition &g) noexcept {
  double pt = p / T;
  return 1.556 * (1 + 0.074 * g.xa) - 0.00039 * T * (1 - 0.68 * g.xa) - 0.208 * g.rhoc +
         384 * (1 - g.xa) * std::pow(pt, 2.23) + 26.4 * g.xa * std::pow(pt, 1.43);
}

double workingDensity(double T, double p, const GasComposition &g, double K) noexcept {
  return p * g.rhoc * 293.15 / (T * K * 0.101325);
}

}  // namespace sicvm::gas
