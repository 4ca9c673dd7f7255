// SPDX-License-Identifier: MIT
// Flow through a standard orifice plate in one step: corner tappings
// (GasFlowrate_DA), flange tappings (GasFlowrate_DF), D and D/2 tappings
// (GasFlowrate_DT). The three share everything but the discharge
// coefficient's tapping term and the Reynolds range.
//
// Frame: 14 LREAL inputs (T K, p MPa, rhoc kg/m3, xa, xy, K, dp MPa, D20 mm,
// alphaD 1/K, Rsh mm, d20 mm, alphad 1/K, rn mm, tau years), then the result
// code (DINT), rho kg/m3, mu uPa s, kappa, Qc m3/h, Qm kg/h.
#include <cmath>

#include "gas/frame.h"
#include "gas/properties.h"
#include "sicvm/gas.h"

namespace sicvm::gas {
namespace {

constexpr int kInputs = 14;
constexpr int kOutputs = 6;

enum class Tappings { Corner, Flange, DAndHalfD };

struct Inputs {
  double T, p;
  GasComposition gas;
  double K, dp, D20, alphaD, Rsh, d20, alphad, rn, tau;
};

bool inputsOutOfRange(const Inputs &in) noexcept {
  return outside(in.T, 240.0, 360.0) || outside(in.p, 1e-06, 10.0) ||
         outside(in.gas.rhoc, 1e-06, 2.0) || in.gas.xa < 0 || in.gas.xy < 0 ||
         in.gas.xa + in.gas.xy > 1 || outside(in.K, 1e-06, 10.0) || in.dp < 0 ||
         in.dp / in.p > 0.25 || outside(in.alphaD, 0.0, 0.001) || outside(in.alphad, 0.0, 0.001) ||
         outside(in.rn, 0.0, 0.05) || outside(in.tau, 0.0, 20.0);
}

// Computes the outputs; returns false (nothing set) when an input or the
// geometry is out of range.
bool compute(Tappings tappings, const Inputs &in, Outputs<kOutputs> &out) noexcept {
  if (inputsOutOfRange(in)) return false;
  // Diameters at the working temperature, in mm.
  const double D = in.D20 * (1 + in.alphaD * (in.T - 293.15));
  const double d = in.d20 * (1 + in.alphad * (in.T - 293.15));
  const double beta = d / D;
  if (outside(D, 50.0, 1000.0) || d < 12.5 || outside(beta, 0.2, 0.75)) return false;

  const double rho = workingDensity(in.T, in.p, in.gas, in.K);
  const double mu = viscosity(in.T, in.p, in.gas, false);
  const double kappa = isentropicExponent(in.T, in.p, in.gas);
  const double beta3 = beta * beta * beta, beta4 = beta3 * beta;
  const double E = 1 / std::sqrt(1 - beta4);
  const double eps = 1 - (0.41 + 0.35 * beta4) * in.dp / (kappa * in.p);

  double cInf = 0.5959 + 0.0312 * std::pow(beta, 2.1) - 0.184 * (beta4 * beta4);
  if (tappings == Tappings::Flange) {
    double L = 25.4 / D;
    cInf += 0.09 * L * beta4 / (1 - beta4) - 0.0337 * L * beta3;
  } else if (tappings == Tappings::DAndHalfD) {
    cInf += 0.09 * beta4 / (1 - beta4) - 0.015839 * beta3;
  }

  // Edge sharpness: the inlet edge rounds off between inspections.
  double kp = 1;
  if (d < 125) {
    double r = in.tau == 0 ? in.rn
                           : 0.195 - 3 * (0.195 - in.rn) * (1 - std::exp(-in.tau / 3)) / in.tau;
    kp = 1.0547 - 0.0575 * std::exp(-149 * r / d);
  }

  // Pipe roughness: a first estimate now, refined once the Reynolds number is known.
  const double ra = 1e4 * in.Rsh / D;
  const bool rough = ra > std::pow(10.0, (8 + 0.1 / beta4) / 14);
  const double roughTerm = rough ? 0.07 * std::log10(ra) - 0.04 : 0;
  const double ksh1 = rough ? 1 + 0.5 * beta4 * roughTerm : 1;

  double qc = 6.8013 * d * d * E * cInf * ksh1 * kp * eps *
              std::sqrt(1000 * in.p * in.dp / (in.gas.rhoc * in.T * in.K));
  double qm = qc * in.gas.rhoc;
  double re = 0.35368e6 * qm / (mu * D);
  // One Reynolds correction step (a zero flow makes it NaN).
  const double g = 1 + 0.0029 * std::pow(beta, 2.5) * std::pow(1e6 / re, 0.75) / cInf;
  qc *= g;
  qm *= g;
  re *= g;
  if (rough) {
    double a = re < 1e6 ? 1 - (std::log10(re) - 6) * (std::log10(re) - 6) / 4 : 1;
    double ksh = 1 + a * beta4 * roughTerm;
    qc = qc / ksh1 * ksh;
    qm = qm / ksh1 * ksh;
  }

  double reMin = tappings == Tappings::Corner ? (beta <= 0.45 ? 5000.0 : 10000.0)
                                              : 1260 * beta * beta * D;
  out.setCode(0, re < reMin || re > 1e8 ? GAS_REYNOLDS_OUT_OF_RANGE : GAS_COMPUTED);
  out.setReal(1, rho);
  out.setReal(2, mu);
  out.setReal(3, kappa);
  out.setReal(4, qc);
  out.setReal(5, qm);
  return true;
}

int32_t run(Tappings tappings, int32_t execute, void *frame, int32_t nin, int32_t nout) noexcept {
  if (nin != kInputs || nout != kOutputs) return 2;
  if (execute == 0) return 0;
  ErrnoKeeper keepErrno;
  Frame f(frame);
  Inputs in{f.real(0),  f.real(1),  {f.real(2), f.real(3), f.real(4)},
            f.real(5),  f.real(6),  f.real(7),
            f.real(8),  f.real(9),  f.real(10),
            f.real(11), f.real(12), f.real(13)};
  Outputs<kOutputs> out;
  if (!compute(tappings, in, out)) out.setCode(0, GAS_INPUT_OUT_OF_RANGE);
  f.writeCells(kInputs, out.data(), kOutputs);
  return 0;
}

}  // namespace
}  // namespace sicvm::gas

using sicvm::gas::Tappings;

extern "C" {

SICVM_API int32_t GasFlowrate_DA(int32_t execute, int32_t, void *frame, int32_t inputs,
                                 int32_t outputs) {
  return sicvm::gas::run(Tappings::Corner, execute, frame, inputs, outputs);
}

SICVM_API int32_t GasFlowrate_DF(int32_t execute, int32_t, void *frame, int32_t inputs,
                                 int32_t outputs) {
  return sicvm::gas::run(Tappings::Flange, execute, frame, inputs, outputs);
}

SICVM_API int32_t GasFlowrate_DT(int32_t execute, int32_t, void *frame, int32_t inputs,
                                 int32_t outputs) {
  return sicvm::gas::run(Tappings::DAndHalfD, execute, frame, inputs, outputs);
}

}
