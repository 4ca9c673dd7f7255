// SPDX-License-Identifier: MIT
// Properties of a natural gas from its density at standard conditions
// (20 degC, 0.101325 MPa, kg/m3) and its molar fractions of nitrogen (xa)
// and carbon dioxide (xy), shared by the compressibility and flow functions.
#pragma once

namespace sicvm::gas {

struct GasComposition {
  double rhoc;  // density at standard conditions, kg/m3
  double xa;    // nitrogen, molar fraction
  double xy;    // carbon dioxide, molar fraction
};

// Pseudo-critical pressure (MPa) and temperature (K).
double pseudoCriticalPressure(const GasComposition &gas) noexcept;
double pseudoCriticalTemperature(const GasComposition &gas) noexcept;

// Compressibility factor at standard conditions.
double standardCompressibility(const GasComposition &gas) noexcept;

// Dynamic viscosity in micropascal-seconds at T (K) and p (MPa). The
// pressure correction applies above 0.5 MPa, or at every pressure when
// `correctAlways` is set.
double viscosity(double T, double p, const GasComposition &gas, bool correctAlways) noexcept;

// Isentropic exponent at T (K) and p (MPa).
double isentropicExponent(double T, double p, const GasComposition &gas) noexcept;

// Density at the working state (kg/m3) from T (K), p (MPa) and the
// compressibility coefficient K.
double workingDensity(double T, double p, const GasComposition &gas, double K) noexcept;

}  // namespace sicvm::gas
