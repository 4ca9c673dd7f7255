// SPDX-License-Identifier: MIT
// Compressibility coefficient K = z / zc of a natural gas: the working-state
// compressibility factor z by the modified NX19 or the modified GERG-91
// method over the factor zc at standard conditions.
//
// Frame: T (K), p (MPa), rhoc (kg/m3), xa, xy, then the result code (DINT)
// and K (LREAL). Inputs outside the method's range, checked in the order T,
// p, rhoc, xa, xy, xa + xy, or a failed NX19 region condition give code 2 and
// K = 0. Inputs inside the ranges that still zero a denominator (xa + xy = 1
// for GERG-91) give an infinite or NaN K with code 0.
#include <cmath>

#include "gas/frame.h"
#include "gas/properties.h"
#include "sicvm/gas.h"

namespace sicvm::gas {
namespace {

constexpr int kInputs = 5;
constexpr int kOutputs = 2;

struct State {
  double T, p;
  GasComposition gas;
};

struct Result {
  int32_t code;
  double K;
};

constexpr Result kOutOfRange{GAS_INPUT_OUT_OF_RANGE, 0.0};

bool outOfRange(const State &s, double maxT, double maxP) noexcept {
  return s.T < 250.0 || s.T > maxT || s.p > maxP || s.p < 1e-06 || s.gas.rhoc < 1e-06 ||
         s.gas.rhoc > 2.0 || s.gas.xa < 0.0 || s.gas.xy < 0.0 || s.gas.xa + s.gas.xy > 1.0;
}

// x^(1/3) with the sign of x.
double signedCbrt(double x) noexcept {
  return x < 0 ? -std::pow(-x, 1.0 / 3.0) : std::pow(x, 1.0 / 3.0);
}

Result nx19(const State &s) noexcept {
  if (outOfRange(s, 290.0, 3.0)) return kOutOfRange;
  double pa = 0.6714 * s.p / pseudoCriticalPressure(s.gas) + 0.0147;
  double ta = 0.71892 * s.T / pseudoCriticalTemperature(s.gas) + 0.0007;
  double dt = ta - 1.09;
  double w;
  // The two regions of the correction term. A NaN dt takes the second
  // region, whose condition a NaN passes, and ends in a NaN K.
  if (dt >= 0) {
    if (pa < 0 || pa > 2 || dt > 0.3) return kOutOfRange;
    double root = std::sqrt(dt);
    double tail = 2.17 - pa + 1.4 * root;
    w = 0.00075 * std::pow(pa, 2.3) * std::exp(-20 * dt) + 0.0011 * root * pa * pa * tail * tail;
  } else {
    if (dt < -0.25) return kOutOfRange;
    w = 0.00075 * std::pow(pa, 2.3) * (2 - std::exp(20 * dt)) +
        1.317 * pa * (1.69 - pa * pa) * (dt * dt) * (dt * dt);
  }
  double ta2 = ta * ta;
  double m = ta2 * ta2 * ta / ((6.60756 * ta - 4.42646) * ta2 + 3.22706);
  double n = m * ((1.77218 - 0.8879 * ta) * ta2 + 0.305131) / (ta2 * ta2);
  double bigB = 2 * m / 3 - n * n;
  double b = n * (m - n * n) + 0.1 * m * pa * (w - 1);
  double q = std::pow(b + std::sqrt(b * b + bigB * bigB * bigB), 1.0 / 3.0);
  double f = 1 + 0.00132 / std::pow(ta, 3.25);
  double z = pa * f * f / (10 * (bigB / q - q + n));
  return {GAS_COMPUTED, z / standardCompressibility(s.gas)};
}

Result gerg91(const State &s) noexcept {
  if (outOfRange(s, 330.0, 12.0)) return kOutOfRange;
  const double T = s.T, t2 = T * T;
  const double xa = s.gas.xa, xy = s.gas.xy;
  const double zc = standardCompressibility(s.gas);
  // The hydrocarbon part as one equivalent component.
  const double xe = 1 - xa - xy;
  const double me = (24.05525 * zc * s.gas.rhoc - 28.0135 * xa - 44.01 * xy) / xe;
  const double h = 47.479 * me + 128.64;

  // Second virial coefficients: equivalent hydrocarbon, N2, CO2, the
  // hydrocarbon-CO2 pair, and the hydrocarbon-N2 interaction factor.
  double b1 = (-0.425468 + 0.002865 * T - 4.62073e-06 * t2) +
              (0.000877118 - 5.56281e-06 * T + 8.81514e-09 * t2) * h +
              (-8.24747e-07 + 4.31436e-09 * T - 6.08319e-12 * t2) * h * h;
  double b2 = -0.1446 + 0.00074091 * T - 9.1195e-07 * t2;
  double b3 = -0.86834 + 0.0040376 * T - 5.1657e-06 * t2;
  double b13 = -0.339693 + 0.00161176 * T - 2.04429e-06 * t2;
  double bs = 0.72 + 1.875e-05 * (320 - T) * (320 - T);
  double bm = xe * xe * b1 + xe * xa * bs * (b1 + b2) - 1.73 * xe * xy * std::sqrt(b1 * b3) +
              xa * xa * b2 + 2 * xa * xy * b13 + xy * xy * b3;

  // Third virial coefficients.
  double c1 = (-0.302488 + 0.00195861 * T - 3.16302e-06 * t2) +
              (0.000646422 - 4.22876e-06 * T + 6.88157e-09 * t2) * h +
              (-3.32805e-07 + 2.2316e-09 * T - 3.67713e-12 * t2) * h * h;
  double c2 = 0.0078498 - 3.9895e-05 * T + 6.1187e-08 * t2;
  double c3 = 0.0020513 + 3.4888e-05 * T - 8.3703e-08 * t2;
  double c223 = 0.00552066 - 1.68609e-05 * T + 1.57169e-08 * t2;
  double c233 = 0.00358783 + 8.06674e-06 * T - 3.25798e-08 * t2;
  double cs = 0.92 + 0.0013 * (T - 270);
  double cm = xe * xe * xe * c1 + 3 * xe * xe * xa * cs * signedCbrt(c1 * c1 * c2) +
              2.76 * xe * xe * xy * signedCbrt(c1 * c1 * c3) +
              3 * xe * xa * xa * cs * signedCbrt(c1 * c2 * c2) +
              6.6 * xe * xa * xy * signedCbrt(c1 * c2 * c3) +
              2.76 * xe * xy * xy * signedCbrt(c1 * c3 * c3) + xa * xa * xa * c2 +
              3 * xa * xa * xy * c223 + 3 * xa * xy * xy * c233 + xy * xy * xy * c3;

  // The virial equation z = 1 + Bm rho + Cm rho^2 solved as a cubic.
  double rhoM = 1000 * s.p / (2.7715 * T);
  double a1 = 1 + bm * rhoM;
  double a0 = 1 + 1.5 * (bm * rhoM + cm * rhoM * rhoM);
  double a2 = signedCbrt(a0 - std::sqrt(a0 * a0 - a1 * a1 * a1));
  double z = (1 + a2 + a1 / a2) / 3;
  return {GAS_COMPUTED, z / zc};
}

int32_t run(Result (*method)(const State &) noexcept, int32_t execute, void *frame, int32_t nin,
            int32_t nout) noexcept {
  if (nin != kInputs || nout != kOutputs) return 2;
  if (execute == 0) return 0;
  ErrnoKeeper keepErrno;
  Frame f(frame);
  State s{f.real(0), f.real(1), {f.real(2), f.real(3), f.real(4)}};
  Result r = method(s);
  Outputs<kOutputs> out;
  out.setCode(0, r.code);
  out.setReal(1, r.K);
  f.writeCells(kInputs, out.data(), kOutputs);
  return 0;
}

}  // namespace
}  // namespace sicvm::gas

extern "C" {

SICVM_API int32_t GasK_NX19(int32_t execute, int32_t, void *frame, int32_t inputs,
                            int32_t outputs) {
  return sicvm::gas::run(&sicvm::gas::nx19, execute, frame, inputs, outputs);
}

SICVM_API int32_t GasK_GERG91(int32_t execute, int32_t, void *frame, int32_t inputs,
                              int32_t outputs) {
  return sicvm::gas::run(&sicvm::gas::gerg91, execute, frame, inputs, outputs);
}

}
