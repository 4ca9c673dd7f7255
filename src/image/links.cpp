// SPDX-License-Identifier: MIT
// Point links: VmInitVarLinks binds each var that names a point ID to the
// index of the point's record in the host's tables; VmUpdateVarLinks drops
// the links whose point has gone.
//
// A link whose index lies outside the tables (negative, or at or beyond
// `pointCount`, as after the host shrank its tables) counts as a point that
// has gone: VmUpdateVarLinks drops it with the same notice and status bit,
// without reading any record.
#include "foundation/report.h"
#include "image/prepared.h"
#include "image/var_walk.h"
#include "points/point_tables.h"
#include "sicvm/vm.h"

namespace sicvm {
namespace {

using points::PointTables;

// The index of the first existing record that carries `pointId`, or -1.
int32_t findPoint(const PointTables &tables, int32_t pointId) {
  for (int32_t x = 0; x < tables.count; ++x) {
    const points::ConfigRecord &config = tables.config(x);
    if (config.ownIndex != 0 && config.pointId == pointId) return x;
  }
  return -1;
}

void dropLink(const Image &image, uint32_t k, uint32_t i, VmVarRecord &record) {
  logProgram(image, kLevelNotice, ": Variable %d:%05d point ID %d deleted, link deleted\n", int(k),
             int(i), int(record.pointId));
  record.pointIndex = 0;
  *image.statusFlags() |= VM_STATUS_LINK_DROPPED;
}

bool linkHolds(const PointTables &tables, const VmVarRecord &record) {
  const int32_t p = record.pointIndex;
  if (!tables.inRange(p)) return false;
  const points::ConfigRecord &config = tables.config(p);
  return config.ownIndex != 0 && config.pointId == record.pointId;
}

}  // namespace
}  // namespace sicvm

using namespace sicvm;

extern "C" {

SICVM_API int32_t VmInitVarLinks(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  if (*image.statusFlags() & VM_STATUS_LINKS) {
    logProgram(image, kLevelNotice, ": Data segment points links already initialized\n");
    return 0;
  }
  const PointTables tables = PointTables::of(*machine);
  if (tables.configs == nullptr || tables.values == nullptr) {
    logProgram(image, kLevelNotice,
               ": No external points specified, variables links will be disabled\n");
    return 0;
  }
  forEachSegment(image, [&](uint32_t k, uint32_t location) {
    int links = 0;
    forEachVar(image, location, [&](uint32_t i, VmVarRecord &record) {
      if (record.pointId == 0) {
        record.pointIndex = 0;
        return;
      }
      const int32_t x = findPoint(tables, record.pointId);
      if (x < 0) {
        dropLink(image, k, i, record);
        return;
      }
      record.pointIndex = x;
      ++links;
    });
    logProgram(image, kLevelInfo, ": Data segment %d point links (%d) init successful\n", int(k),
               links);
  });
  *image.statusFlags() |= VM_STATUS_LINKS;
  return 0;
}

SICVM_API int32_t VmUpdateVarLinks(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  const PointTables tables = PointTables::of(*machine);
  if (tables.configs == nullptr) return 0;
  forEachSegmentVar(image, [&](uint32_t k, uint32_t i, VmVarRecord &record) {
    if (record.pointIndex != 0 && !linkHolds(tables, record)) dropLink(image, k, i, record);
  });
  return 0;
}

}  // extern "C"
