// SPDX-License-Identifier: MIT
// The library's view of the host's two point tables.
//
// The host lays N configuration records of 492 bytes and N value records of
// 28 bytes side by side (record i at 492 * i and 28 * i) and gives the
// machine their tokens and N (`pointConfig`, `pointValues`, `pointCount`).
// The library reads and writes only the fields named below and hands whole
// records to the host's point functions.
#pragma once

#include <cstdint>

#include "image/host_location.h"
#include "sicvm/image.h"

namespace sicvm::points {

// Configuration record: the fields the library reads.
struct SICVM_PACKED ConfigRecord {
  int32_t ownIndex;    // the record's own index while the point exists; anything else = deleted
  int32_t pointId;     // the host's point ID
  uint32_t reserved8;
  int32_t statusMode;  // kWideStatusMode widens the writable status bits
  int32_t valueType;   // VM_TYPE_BOOL .. VM_TYPE_REAL; other codes count as LREAL
  uint8_t rest[472];
};

// Value record: the value and the status word.
struct SICVM_PACKED ValueRecord {
  uint8_t reserved0[8];
  double value;
  uint32_t status;
  uint8_t reserved20[8];
};

// A point's record in the host's non-volatile store, as the store reads it.
struct SICVM_PACKED StoreRecord {
  uint8_t reserved0[2];
  uint8_t flags;  // bit 0: a status is stored; bit 1: a value is stored
  uint8_t reserved3[5];
  uint32_t status;
  double value;
};

static_assert(sizeof(ConfigRecord) == 492 && sizeof(ValueRecord) == 28 && sizeof(StoreRecord) == 20,
              "host record sizes");

// Point field numbers that the library itself knows; the host knows the rest.
inline constexpr int32_t kFieldStatus = 43;
inline constexpr int32_t kFieldValue = 44;

// Store selectors and presence flags (bit 0 status, bit 1 value).
inline constexpr int32_t kSelectStatus = 1;
inline constexpr int32_t kSelectValue = 2;

// Status word rules.
inline constexpr uint32_t kNoValueWrites = 0x80000000u;   // bit 31: value writes refused
inline constexpr uint32_t kWritableStatus = 0x003F0F0Fu;  // bits a status write may change
inline constexpr uint32_t kWideStatusBits = 0x0000F0F0u;  // added to them in status mode 3
inline constexpr int32_t kWideStatusMode = 3;
inline constexpr uint32_t kStatusBit18 = 0x00040000u;     // rising: clears kWideStatusBits

// The tables of one machine as its host fields name them. A table is null
// when its token is 0 or no longer registered.
struct PointTables {
  ConfigRecord *configs = nullptr;
  ValueRecord *values = nullptr;
  int32_t count = 0;

  static PointTables of(const VmMachine &machine) noexcept {
    return {hostAddressAs<ConfigRecord>(machine.pointConfig),
            hostAddressAs<ValueRecord>(machine.pointValues), machine.pointCount};
  }
  bool inRange(int32_t index) const noexcept { return index >= 0 && index < count; }
  // Record `index`; callers check inRange and the table first.
  ConfigRecord &config(int32_t index) const noexcept { return configs[index]; }
  ValueRecord &value(int32_t index) const noexcept { return values[index]; }
};

}  // namespace sicvm::points
