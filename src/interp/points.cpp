// SPDX-License-Identifier: MIT
// load_points and save_points: linked vars to and from the host's points.
#include "interp/points.h"

#include <cerrno>

#include "convert/rules.h"
#include "image/timers.h"
#include "image/var_walk.h"
#include "points/point_access.h"

namespace sicvm::interp::points {
namespace {

namespace rules = ::sicvm::convert;
using ::sicvm::points::PointTables;

// The walk both commands share. Checks SRC1's segment index (fatal 118 for
// an empty slot; any index but 0 only advances); then, for every var of
// class 1 with `flag` and a point index, with its value cell in the image,
// calls access(point index, field, value) -> true when the point access
// worked, either side of which `before` and `after` convert the value (load:
// the var receives it; save: the var gives it). Each var is traced at level 15
// by trace(k, i, point, field, value, outcome); errors 4 and 5 are raised
// here. After the walk, `finish` runs (load: the timer update).
template <class Access, class Before, class After, class Trace, class Finish>
void walkLinkedVars(RunContext &ctx, const VmCommand &cmd, const char *what, uint8_t flag, Access access,
                    Before before, After after, Trace trace, Finish finish) {
  const uint32_t s = cmd.src1.v.w[0];
  if (s > 1 || ctx.segment[s].location == 0) {
    ctx.raise(msg::kDsNull, s, 0, what, int(s));
    return;
  }
  if (s != 0) {
    ctx.next();
    return;
  }
  // Nothing here computes with libm; the saved errno keeps the log and the
  // host's functions from looking like a math error in errno mode.
  const int savedErrno = errno;
  const PointTables tables = PointTables::of(*ctx.machine);
  const bool tracing = logEnabled(kLevelTrace);  // asked once per command, not per var
  forEachSegmentVar(ctx.image, [&](uint32_t k, uint32_t i, const VmVarRecord &record) {
    if (record.pointIndex == 0 || !(record.classByte & flag) || (record.classByte & VM_CLASS_MASK) != 1)
      return;
    VmCell *cell = ctx.image.varCell(&record);
    if (cell == nullptr) return;
    const int32_t p = record.pointIndex;
    const int32_t field = record.pointField;
    double value = before(record, *cell);
    bool ok = false;
    if (!tables.inRange(p))
      ctx.raise(msg::kInvalidPointNo, uint32_t(p), 0, int(p));
    else if (!access(tables, p, field, value))
      ctx.raise(msg::kInvalidPointField, uint32_t(p), uint32_t(field), int(field));
    else
      ok = true;
    after(record, *cell, value);
    if (tracing) trace(int(k), int(i), int(p), int(field), value, ok ? "SUCCESS" : "ERROR");
  });
  finish();
  errno = savedErrno;
  ctx.next();
}

}  // namespace

void loadPoints(RunContext &ctx, const VmCommand &cmd) {
  walkLinkedVars(
      ctx, cmd, "Load direct vars", VM_VAR_LOAD,
      [](const PointTables &tables, int32_t p, int32_t field, double &value) {
        return ::sicvm::points::readField(tables, p, field, &value) != -1;
      },
      [](const VmVarRecord &, const VmCell &) { return 0.0; },
      // The var receives the value by its type, also after an error (0.0).
      [](const VmVarRecord &record, VmCell &cell, double value) {
        switch (record.type) {
          case VM_TYPE_BOOL: putBool(&cell, rules::boolOfReal(value)); break;
          case VM_TYPE_DINT: putDint(&cell, uint32_t(rules::roundToInt32(value))); break;
          case VM_TYPE_INT: putInt(&cell, uint16_t(rules::roundToInt16(value))); break;
          case VM_TYPE_REAL: putReal(&cell, rules::toReal(value)); break;
          default: putDouble(&cell, value); break;
        }
      },
      [&](int k, int i, int p, int field, double value, const char *outcome) {
        logProgram(ctx.image, kLevelTrace, ": Load point %d field %d value %g to var %d:%05d - %s", p, field,
                   value, k, i, outcome);
      },
      [&] { UpdateTimers(ctx.machine); });
}

void savePoints(RunContext &ctx, const VmCommand &cmd) {
  walkLinkedVars(
      ctx, cmd, "Save direct vars", VM_VAR_SAVE,
      [](const PointTables &tables, int32_t p, int32_t field, double &value) {
        return ::sicvm::points::writeField(tables, p, field, value) != -1;
      },
      // The var's value as a double, by its type.
      [](const VmVarRecord &record, const VmCell &cell) -> double {
        switch (record.type) {
          case VM_TYPE_BOOL: return getBool(&cell) != 0 ? 1.0 : 0.0;
          case VM_TYPE_DINT: return getDint(&cell);
          case VM_TYPE_INT: return getInt(&cell);
          case VM_TYPE_REAL: return getReal(&cell);
          default: return getDouble(&cell);
        }
      },
      [](const VmVarRecord &, VmCell &, double) {},
      [&](int k, int i, int p, int field, double value, const char *outcome) {
        logProgram(ctx.image, kLevelTrace, ": Save var %d:%05d value %g to point %d field %d - %s", k, i, value,
                   p, field, outcome);
      },
      [] {});
}

}  // namespace sicvm::interp::points
