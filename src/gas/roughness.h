// SPDX-License-Identifier: MIT
// The pipe roughness factor of the general flow function, per device.
// Lengths in metres; ra is the mean roughness of the pipe wall.
#pragma once

#include "gas/device.h"

namespace sicvm::gas {

struct Roughness {
  double ksh;         // roughness factor
  bool outOfRange;  // the roughness or Reynolds number lies outside the factor's range
};

// Roughness factor for the mean roughness ra (m) at the Reynolds number re.
Roughness roughnessFactor(Device device, double beta, double D, double ra, double re) noexcept;

// The roughness limit of the ISA 1932 and Venturi nozzles, in units of
// 1e-4 D, against beta.
double nozzleRoughnessLimit(double beta) noexcept;

}  // namespace sicvm::gas
