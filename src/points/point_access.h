// SPDX-License-Identifier: MIT
// Point access inside the library: the rules shared by the point exports,
// the point commands of the interpreter and the host function library.
#pragma once

#include <cstdint>

#include "points/point_tables.h"
#include "sicvm/image.h"

namespace sicvm {

// The own-index word of the point's configuration record (callers compare it
// with the index to detect a deleted point); -1 with host error number 22 for
// a null machine, no configuration table or an index outside 0..pointCount-1.
int32_t PointIdentity(VmMachine *machine, int32_t index);

// Removes the status (selector 1) or value (2) kept for the point in the
// host's non-volatile store: the store's result (-1 = failure, error number
// set by the store); 0 for point 0 or when the machine has no store; -1 with
// error number 22 for a null machine or an index outside 0..pointCount-1.
int32_t ClearDboperPoint(VmMachine *machine, int32_t index, int32_t selector);

namespace points {

// The value as a point of value type `type` holds it: BOOL 0.0 or 1.0, DINT
// and INT rounded to whole numbers of their width, REAL rounded to single
// precision, LREAL and unknown types unchanged.
double valueForType(int32_t type, double value) noexcept;

// The status word a status write of `given` leaves on a point whose status
// was `old`: only the writable bits change, and when bit 18 rises the
// wide bits 0xF0F0 are cleared.
uint32_t mergedStatus(uint32_t old, uint32_t given, int32_t statusMode) noexcept;

// Field reads and writes with the export's checks of the tables and the
// index (the machine is the caller's). Results as VmGetPointFieldValue and
// VmSetPointFieldValue: -1 invalid (error number 22) or host read failure,
// 0 for point 0 (and for a refused value write), 1 done.
int32_t readField(const PointTables &tables, int32_t index, int32_t field, double *out) noexcept;
int32_t writeField(const PointTables &tables, int32_t index, int32_t field, double value) noexcept;

}  // namespace points
}  // namespace sicvm
