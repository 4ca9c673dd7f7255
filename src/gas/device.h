// SPDX-License-Identifier: MIT
// The six differential-pressure devices of the general flow function: their
// geometry limits, discharge coefficients and Reynolds ranges. Lengths in
// metres.
#pragma once

#include <cstdint>

namespace sicvm::gas {

enum Device : int32_t {
  kOrificeCorner = 1,
  kOrificeFlange = 2,
  kOrificeDAndHalfD = 3,
  kIsa1932Nozzle = 4,
  kLongRadiusNozzle = 5,
  kVenturiNozzle = 6,
};

inline bool isDevice(int32_t device) noexcept { return device >= 1 && device <= 6; }
inline bool isOrifice(int32_t device) noexcept { return device >= 1 && device <= 3; }

// The device's pipe diameter D, throat or orifice diameter d and beta = d / D
// lie in its range (NaN passes).
bool geometryInRange(Device device, double D, double d, double beta) noexcept;

// Discharge coefficient at the Reynolds number re (of the pipe).
double dischargeCoefficient(Device device, double beta, double D, double re) noexcept;

// The Reynolds number lies outside the range for which the device's
// coefficient holds; for the long radius nozzle also a roughness ra (mean, m)
// above its limit.
bool reynoldsOutOfRange(Device device, double beta, double D, double ra, double re) noexcept;

}  // namespace sicvm::gas
