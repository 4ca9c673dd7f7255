// SPDX-License-Identifier: MIT
// Geometry limits, discharge coefficients and Reynolds ranges of the devices.
#include <cmath>

#include "gas/device.h"
#include "gas/frame.h"

namespace sicvm::gas {
namespace {

struct Limits {
  double minD, maxD;
  double minD_throat;  // 0: not limited
  double minBeta, maxBeta;
};

// Indexed by device number - 1.
constexpr Limits kLimits[] = {
    {0.05, 1.0, 0.0125, 0.2, 0.75},   {0.05, 1.0, 0.0125, 0.2, 0.75},
    {0.05, 1.0, 0.0125, 0.2, 0.75},   {0.05, 0.5, 0.0, 0.3, 0.8},
    {0.05, 0.63, 0.0, 0.2, 0.8},      {0.065, 0.5, 0.05, 0.316, 0.775},
};

// The orifice coefficient (Reader-Harris/Gallagher) with tapping lengths
// L1 upstream and L2 downstream, in pipe diameters.
double orificeCoefficient(double beta, double D, double re, double L1, double L2) {
  const double beta2 = beta * beta, beta4 = beta2 * beta2;
  const double A = std::pow(19000 * beta / re, 0.8);
  const double M2 = 2 * L2 / (1 - beta);
  double cd = 0.5961 + 0.0261 * beta2 - 0.216 * (beta4 * beta4) +
              0.000521 * std::pow(1e6 * beta / re, 0.7) +
              (0.0188 + 0.0063 * A) * std::pow(beta, 3.5) * std::pow(1e6 / re, 0.3) +
              (0.043 + 0.080 * std::exp(-10 * L1) - 0.123 * std::exp(-7 * L1)) * (1 - 0.11 * A) *
                  beta4 / (1 - beta4) -
              0.031 * (M2 - 0.8 * std::pow(M2, 1.1)) * std::pow(beta, 1.3);
  if (D < 0.07112) cd += 0.011 * (0.75 - beta) * (2.8 - D / 0.0254);  // small pipes
  return cd;
}

}  // namespace

bool geometryInRange(Device device, double D, double d, double beta) noexcept {
  const Limits &l = kLimits[device - 1];
  return !(outside(D, l.minD, l.maxD) || d < l.minD_throat || outside(beta, l.minBeta, l.maxBeta));
}

double dischargeCoefficient(Device device, double beta, double D, double re) noexcept {
  switch (device) {
    case kOrificeCorner:
      return orificeCoefficient(beta, D, re, 0, 0);
    case kOrificeFlange:
      return orificeCoefficient(beta, D, re, 0.0254 / D, 0.0254 / D);
    case kOrificeDAndHalfD:
      return orificeCoefficient(beta, D, re, 1, 0.47);
    case kIsa1932Nozzle:
      return 0.99 - 0.2262 * std::pow(beta, 4.1) -
             (0.00175 * beta * beta - 0.0033 * std::pow(beta, 4.15)) * std::pow(1e6 / re, 1.15);
    case kLongRadiusNozzle:
      return 0.9965 - 0.00653 * std::sqrt(1e6 * beta / re);
    case kVenturiNozzle:
      return 0.9858 - 0.196 * std::pow(beta, 4.5);
  }
  return NAN;
}

bool reynoldsOutOfRange(Device device, double beta, double D, double ra, double re) noexcept {
  switch (device) {
    case kOrificeCorner:
    case kOrificeDAndHalfD:
      return beta <= 0.56 ? re < 5000 : re < 16000 * beta * beta;
    case kOrificeFlange:
      return re < 5000 || re < 170000 * beta * beta * D;
    case kIsa1932Nozzle:
      return re < (beta < 0.44 ? 70000 : 20000) || re > 1e7;
    case kLongRadiusNozzle:
      return re < 1e4 || re > 1e7 || ra > 0.00032 * D;
    case kVenturiNozzle:
      return re < 150000 || re > 2e6;
  }
  return true;
}

}  // namespace sicvm::gas
