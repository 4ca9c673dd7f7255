// SPDX-License-Identifier: MIT
// Point access: the value and status exports, the field exports and
// PointIdentity, over the host's shared point tables.
#include "points/point_access.h"

#include "convert/rules.h"
#include "hostrt/points.h"
#include "hostrt/sys.h"
#include "image/image.h"
#include "sicvm/points.h"

namespace sicvm {
namespace points {
namespace {

int32_t invalid() noexcept {
  _winseterrno(22);
  return -1;
}

// The tables of a machine that lies over a prepared image; `ok` is false
// (and the host error number is 22) for anything else.
struct Access {
  PointTables tables;
  bool ok = false;
};

Access accessOf(VmMachine *machine) noexcept {
  if (!Image::of(machine).ok()) return {};
  return {PointTables::of(*machine), true};
}

int32_t setValue(const PointTables &t, int32_t index, double value) noexcept {
  if (!t.configs || !t.values || !t.inRange(index)) return invalid();
  if (index == 0) return 0;
  ValueRecord &record = t.value(index);
  if (record.status & kNoValueWrites) return 0;
  record.value = valueForType(t.config(index).valueType, value);
  return 1;
}

int32_t setStatus(const PointTables &t, int32_t index, uint32_t status) noexcept {
  if (!t.configs || !t.values || !t.inRange(index)) return invalid();
  if (index == 0) return 0;
  ConfigRecord &config = t.config(index);
  ValueRecord &record = t.value(index);
  record.status = mergedStatus(record.status, status, config.statusMode);
  ShmUpdateStatFalse(&config, &record);
  return 1;
}

}  // namespace

double valueForType(int32_t type, double value) noexcept {
  switch (type) {
    case VM_TYPE_BOOL: return convert::boolOfReal(value) ? 1.0 : 0.0;
    case VM_TYPE_DINT: return convert::roundToInt32(value);
    case VM_TYPE_INT: return convert::roundToInt16(value);
    case VM_TYPE_REAL: return convert::toReal(value);
    default: return value;
  }
}

uint32_t mergedStatus(uint32_t old, uint32_t given, int32_t statusMode) noexcept {
  const uint32_t mask = statusMode == kWideStatusMode ? kWritableStatus | kWideStatusBits : kWritableStatus;
  uint32_t status = (old & ~mask) | (given & mask);
  if (!(old & kStatusBit18) && (status & kStatusBit18)) status &= ~kWideStatusBits;
  return status;
}

int32_t readField(const PointTables &t, int32_t index, int32_t field, double *out) noexcept {
  if (!out || !t.configs || !t.values || !t.inRange(index)) return invalid();
  if (ShmGetPointFieldValue(&t.config(index), &t.value(index), field, out) == -1) return -1;
  if (index == 0) {
    *out = 0.0;
    return 0;
  }
  return 1;
}

int32_t writeField(const PointTables &t, int32_t index, int32_t field, double value) noexcept {
  switch (field) {
    case kFieldStatus:
      // Through the 64-bit truncation, so that a status read as an unsigned
      // number (up to 4294967295.0) writes back the same 32 bits.
      return setStatus(t, index, static_cast<uint32_t>(convert::truncToInt32(value)));
    case kFieldValue: return setValue(t, index, value);
    default: return invalid();
  }
}

}  // namespace points

int32_t PointIdentity(VmMachine *machine, int32_t index) {
  points::Access a = points::accessOf(machine);
  if (!a.ok) return -1;
  if (!a.tables.configs || !a.tables.inRange(index)) return points::invalid();
  return a.tables.config(index).ownIndex;
}

}  // namespace sicvm

using namespace sicvm::points;

extern "C" {

SICVM_API int32_t VmGetPointValue(VmMachine *machine, int32_t index, double *value) {
  Access a = accessOf(machine);
  if (!a.ok) return -1;
  if (!value || !a.tables.values || !a.tables.inRange(index)) return invalid();
  *value = index == 0 ? 0.0 : a.tables.value(index).value;
  return index == 0 ? 0 : 1;
}

SICVM_API int32_t VmGetPointStatus(VmMachine *machine, int32_t index, uint32_t *status) {
  Access a = accessOf(machine);
  if (!a.ok) return -1;
  if (!status || !a.tables.values || !a.tables.inRange(index)) return invalid();
  *status = index == 0 ? 0 : a.tables.value(index).status;
  return index == 0 ? 0 : 1;
}

SICVM_API int32_t VmSetPointValue(VmMachine *machine, int32_t index, double value) {
  Access a = accessOf(machine);
  return a.ok ? setValue(a.tables, index, value) : -1;
}

SICVM_API int32_t VmSetPointStatus(VmMachine *machine, int32_t index, uint32_t status) {
  Access a = accessOf(machine);
  return a.ok ? setStatus(a.tables, index, status) : -1;
}

SICVM_API int32_t VmGetPointFieldValue(VmMachine *machine, int32_t index, int32_t field,
                                       double *value) {
  Access a = accessOf(machine);
  return a.ok ? readField(a.tables, index, field, value) : -1;
}

SICVM_API int32_t VmSetPointFieldValue(VmMachine *machine, int32_t index, int32_t field,
                                       double value) {
  Access a = accessOf(machine);
  return a.ok ? writeField(a.tables, index, field, value) : -1;
}

}  // extern "C"
