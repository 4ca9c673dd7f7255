// SPDX-License-Identifier: MIT
// The point store exports: reading, writing and clearing what the host's
// non-volatile store keeps for a point.
#include "hostrt/store.h"
#include "hostrt/sys.h"
#include "image/image.h"
#include "points/point_access.h"
#include "sicvm/points.h"

namespace sicvm {
namespace {

bool prepared(VmMachine *machine) { return Image::of(machine).ok(); }

int32_t invalid() {
  _winseterrno(22);
  return -1;
}

}  // namespace

int32_t ClearDboperPoint(VmMachine *machine, int32_t index, int32_t selector) {
  if (!prepared(machine)) return -1;
  if (!points::PointTables::of(*machine).inRange(index)) return invalid();
  if (index == 0 || machine->storeHandle == 0) return 0;
  return DboperClearPoint(machine->storeHandle, index, selector);
}

}  // namespace sicvm

using namespace sicvm;

extern "C" {

SICVM_API int32_t VmReadDboperPoint(VmMachine *machine, int32_t index, uint32_t *status,
                                    double *value) {
  if (!prepared(machine)) return -1;
  // The index is the store's to judge: it is not checked against pointCount.
  if (index == 0 || machine->storeHandle == 0) return 0;
  points::StoreRecord record{};
  if (DboperRead(machine->storeHandle, index, &record) == -1) return -1;
  if (status) *status = record.status;
  if (value) *value = record.value;
  return record.flags;
}

SICVM_API int32_t VmWriteDboperPoint(VmMachine *machine, int32_t index, int32_t selector,
                                     uint32_t status, double value) {
  if (!prepared(machine)) return -1;
  const points::PointTables tables = points::PointTables::of(*machine);
  if (!tables.configs || !tables.inRange(index)) return invalid();
  if (index == 0 || machine->storeHandle == 0) return 0;
  points::ValueRecord record{};
  record.value = value;
  record.status = status;
  return DboperWritePoint(machine->storeHandle, index, selector, &tables.config(index), &record);
}

}  // extern "C"
