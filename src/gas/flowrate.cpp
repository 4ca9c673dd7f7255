// SPDX-License-Identifier: MIT
// GasFlowrate: the flow of natural gas through one of six differential-
// pressure devices, iterating on the Reynolds number.
//
// Frame: 22 inputs (cells 0-21), then 19 outputs (function 6106) or the first
// 4 of them (6105); README.md lists them with their units. The function
// converts input cells 7, 12, 14 and 18 from mm to m in place before anything
// else, and replaces cell 12 by the mean roughness (divided by pi) when cell
// 11 says it holds the equivalent one, so a second call on the same frame
// sees metres divided by 1000 again. Inside, lengths are in metres and
// pressures in MPa; the outputs are converted at the end. After a failed
// check (code 2) the outputs computed so far hold their SI values.
//
// The iteration starts at Re = 1e6 and stops when the mass flow changes by at
// most 1e-5 relative, when the pass limit of cell 21 is reached (a limit of 0
// or below is no limit), or in any case:
//  - when the mass flow is not finite: a NaN or infinite flow feeds Re and
//    through it every later pass, so it can never settle. A zero
//    differential pressure gives a zero flow (a NaN change, 0/0) and then a
//    NaN flow from the zero Reynolds number, which ends the iteration at the
//    second pass with NaN flows;
//  - after kMaxPasses passes (whatever cell 21 says), far above the handful
//    a converging case needs: the roughness limits of orifices jump where
//    their formula changes with the Reynolds number, and a flow whose fixed
//    point falls into a jump alternates between two values for ever (a rough
//    pipe near Re = 1e4 does), which must not hang a control cycle.
// The Reynolds range is checked at the Reynolds number of the last pass (the
// one its discharge coefficient and roughness factor were computed at, also
// output 17).
#include <cmath>
#include <numbers>

#include "gas/device.h"
#include "gas/frame.h"
#include "gas/properties.h"
#include "gas/roughness.h"
#include "sicvm/gas.h"

namespace sicvm::gas {
namespace {

constexpr int kInputs = 22;
constexpr int kOutputs = 19;
constexpr int kShortOutputs = 4;
constexpr int kMaxPasses = 1000;
constexpr double kPi = std::numbers::pi;

// Input cells.
enum : int {
  kT, kP, kRhoc, kXa, kXy, kK, kDp, kD20, kA0, kA1, kA2, kEquivalentRoughness, kRoughness,
  kDevice, kd20, kB0, kB1, kB2, kRn, kMeanEdge, kTau, kMaxIterations,
};

// Output positions.
enum : int {
  oCode, oQc, oQv, oQm, oRho, oMu, oKappa, oAlphaD, oD, oAlphad, od, oBeta, oE, oCd, oKp, oEps,
  oKsh, oRe, oPasses,
};

// Linear expansion coefficient (1/K) from the material's coefficients at T.
double expansion(double c0, double c1, double c2, double T) {
  double t = (T - 273.15) / 1000;
  return (c0 + c1 * t + c2 * t * t) * 1e-06;
}

// Edge-sharpness factor of an orifice of diameter d (m) whose inlet edge had
// the radius rn (m) after its last inspection, tau years ago.
double edgeSharpness(double rn, double d, double tau, bool meanOverInterval) {
  double decay = std::exp(-tau / 3);
  double rk = meanOverInterval ? 0.000195 - 3 * (0.000195 - rn) * (1 - decay) / tau
                               : 0.000195 - (0.000195 - rn) * decay;
  return rk > 0.0004 * d ? 0.9826 + std::pow(rk / d + 0.0007773, 0.6) : 1;
}

// Computes into out; returns the result code.
int32_t compute(Frame &f, Outputs<kOutputs> &out) noexcept {
  const double T = f.real(kT), p = f.real(kP), K = f.real(kK), dp = f.real(kDp);
  const GasComposition gas{f.real(kRhoc), f.real(kXa), f.real(kXy)};
  const double rn = f.real(kRn), tau = f.real(kTau);
  double roughness = f.real(kRoughness);
  if (outside(T, 240.0, 360.0) || outside(p, 1e-06, 10.0) || outside(gas.rhoc, 1e-06, 2.0) ||
      gas.xa < 0 || gas.xy < 0 || gas.xa + gas.xy > 1 || outside(K, 1e-06, 10.0) || dp < 0 ||
      rn < 0 || tau < 0 || roughness < 0 || dp / p > 0.25)
    return GAS_INPUT_OUT_OF_RANGE;

  const double alphaD = expansion(f.real(kA0), f.real(kA1), f.real(kA2), T);
  const double alphad = expansion(f.real(kB0), f.real(kB1), f.real(kB2), T);
  const double D = f.real(kD20) * (1 + alphaD * (T - 293.15));
  const double d = f.real(kd20) * (1 + alphad * (T - 293.15));
  const double beta = d / D, beta2 = beta * beta, beta4 = beta2 * beta2;
  const double E = 1 / std::sqrt(1 - beta4);
  out.setReal(oAlphaD, alphaD);
  out.setReal(oD, D);
  out.setReal(oAlphad, alphad);
  out.setReal(od, d);
  out.setReal(oBeta, beta);
  out.setReal(oE, E);
  const int32_t deviceNumber = f.dint(kDevice);
  if (!isDevice(deviceNumber)) return GAS_INPUT_OUT_OF_RANGE;
  const Device device = Device(deviceNumber);
  if (!geometryInRange(device, D, d, beta)) return GAS_INPUT_OUT_OF_RANGE;

  const double kp = isOrifice(device) ? edgeSharpness(rn, d, tau, f.boolean(kMeanEdge)) : 1;
  out.setReal(oKp, kp);
  const double rho = workingDensity(T, p, gas, K);
  const double mu = 1e-06 * viscosity(T, p, gas, true);  // Pa s
  const double kappa = isentropicExponent(T, p, gas);
  out.setReal(oRho, rho);
  out.setReal(oMu, mu);
  out.setReal(oKappa, kappa);

  const double r = 1 - dp / p;
  double eps;
  if (isOrifice(device)) {
    eps = 1 - (0.351 + 0.256 * beta4 + 0.93 * beta4 * beta4) * (1 - std::pow(r, 1 / kappa));
  } else {
    double r2k = std::pow(r, 2 / kappa);
    double eps2 = kappa * r2k * (1 - beta4) * (1 - std::pow(r, (kappa - 1) / kappa)) /
                  ((kappa - 1) * (1 - beta4 * r2k) * (1 - r));
    if (eps2 < 0) return GAS_INPUT_OUT_OF_RANGE;
    eps = std::sqrt(eps2);
  }
  out.setReal(oEps, eps);

  if (f.boolean(kEquivalentRoughness)) {
    roughness /= kPi;
    f.setReal(kRoughness, roughness);
  }
  const double ra = roughness;

  int32_t code = GAS_COMPUTED;
  const int32_t limit = f.dint(kMaxIterations);
  double re = 1e6, reUsed = re, previous = 0, qm = 0, cd = 0;
  Roughness rough{1, false};
  int32_t passes = 0;
  for (;;) {
    reUsed = re;
    cd = dischargeCoefficient(device, beta, D, reUsed);
    rough = roughnessFactor(device, beta, D, ra, reUsed);
    if (rough.outOfRange) code = GAS_REYNOLDS_OUT_OF_RANGE;
    ++passes;
    qm = kPi / 4 * d * d * cd * E * rough.ksh * kp * eps * std::sqrt(2e6 * dp * rho);
    re = 4 * qm / (kPi * D * mu);
    double change = std::fabs(qm - previous) / qm;
    previous = qm;
    if (change <= 1e-05 || (limit > 0 && passes >= limit) || !std::isfinite(qm) ||
        passes >= kMaxPasses)
      break;
  }
  if (reynoldsOutOfRange(device, beta, D, ra, reUsed)) code = GAS_REYNOLDS_OUT_OF_RANGE;

  out.setReal(oQc, 3600 * qm / gas.rhoc);
  out.setReal(oQv, 3600 * qm / rho);
  out.setReal(oQm, qm * 3600);
  out.setReal(oMu, mu * 1e6);
  out.setReal(oAlphaD, alphaD * 1e6);
  out.setReal(oD, D * 1000);
  out.setReal(oAlphad, alphad * 1e6);
  out.setReal(od, d * 1000);
  out.setReal(oCd, cd);
  out.setReal(oKsh, rough.ksh);
  out.setReal(oRe, reUsed);
  out.setCode(oPasses, passes);
  return code;
}

}  // namespace
}  // namespace sicvm::gas

extern "C" SICVM_API int32_t GasFlowrate(int32_t execute, int32_t function, void *frame,
                                         int32_t inputs, int32_t outputs) {
  using namespace sicvm::gas;
  const int32_t expected = function == GAS_FLOWRATE_FULL ? kOutputs : kShortOutputs;
  if (inputs != kInputs || outputs != expected) return 2;
  if (execute == 0) return 0;
  ErrnoKeeper keepErrno;
  Frame f(frame);
  for (int cell : {kD20, kRoughness, kd20, kRn}) f.setReal(cell, f.real(cell) / 1000.0);
  Outputs<kOutputs> out;
  out.setCode(oCode, compute(f, out));
  f.writeCells(kInputs, out.data(), outputs);
  return 0;
}
