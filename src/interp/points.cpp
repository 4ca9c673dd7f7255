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

// True when the command may go on to the vars: its segment slot is set
// (otherwise fatal 118 is raised) and its index is 0.
bool selectsAllSegments(const RunContext &ctx, const VmCommand &cmd, const char *what) {
  const uint32_t s = cmd.src1.v.w[0];
  if (s > 1 || ctx.segment[s].location == 0) {
    ctx.raise(msg::kDsNull, s, 0, what, int(s));
    return false;
  }
  return s == 0;
}

// The var's value cell and its link, for the vars a command works on.
template <class Visit>
void forEachLinkedVar(const RunContext &ctx, uint8_t flag, Visit visit) {
  forEachSegmentVar(ctx.image, [&](uint32_t k, uint32_t i, const VmVarRecord &record) {
    if (record.pointIndex == 0 || !(record.classByte & flag) || (record.classByte & VM_CLASS_MASK) != 1)
      return;
    VmCell *cell = ctx.image.varCell(&record);
    if (cell != nullptr) visit(k, i, record, *cell);
  });
}

const char *outcome(bool ok) { return ok ? "SUCCESS" : "ERROR"; }

}  // namespace

void loadPoints(RunContext &ctx, const VmCommand &cmd) {
  if (!selectsAllSegments(ctx, cmd, "Load direct vars")) {
    if (!ctx.fatalRecorded()) ctx.next();
    return;
  }
  // Nothing here computes with libm; the saved errno keeps the log and the
  // host's functions from looking like a math error in errno mode.
  const int savedErrno = errno;
  const PointTables tables = PointTables::of(*ctx.machine);
  forEachLinkedVar(ctx, VM_VAR_LOAD, [&](uint32_t k, uint32_t i, const VmVarRecord &record, VmCell &cell) {
    const int32_t p = record.pointIndex;
    const int32_t field = record.pointField;
    double value = 0.0;
    bool ok = false;
    if (!tables.inRange(p)) {
      ctx.raise(msg::kInvalidPointNo, uint32_t(p), 0, int(p));
    } else if (::sicvm::points::readField(tables, p, field, &value) == -1) {
      ctx.raise(msg::kInvalidPointField, uint32_t(p), uint32_t(field), int(field));
    } else {
      ok = true;
    }
    switch (record.type) {
      case VM_TYPE_BOOL: putBool(&cell, rules::boolOfReal(value)); break;
      case VM_TYPE_DINT: putDint(&cell, uint32_t(rules::roundToInt32(value))); break;
      case VM_TYPE_INT: putInt(&cell, uint16_t(rules::roundToInt16(value))); break;
      case VM_TYPE_REAL: putReal(&cell, rules::toReal(value)); break;
      default: putDouble(&cell, value); break;
    }
    logProgram(ctx.image, kLevelTrace, ": Load point %d field %d value %g to var %d:%05d - %s", int(p),
               int(field), value, int(k), int(i), outcome(ok));
  });
  UpdateTimers(ctx.machine);
  errno = savedErrno;
  ctx.next();
}

void savePoints(RunContext &ctx, const VmCommand &cmd) {
  if (!selectsAllSegments(ctx, cmd, "Save direct vars")) {
    if (!ctx.fatalRecorded()) ctx.next();
    return;
  }
  const int savedErrno = errno;
  const PointTables tables = PointTables::of(*ctx.machine);
  forEachLinkedVar(ctx, VM_VAR_SAVE, [&](uint32_t k, uint32_t i, const VmVarRecord &record, VmCell &cell) {
    const int32_t p = record.pointIndex;
    const int32_t field = record.pointField;
    double value;
    switch (record.type) {
      case VM_TYPE_BOOL: value = getBool(&cell) != 0 ? 1.0 : 0.0; break;
      case VM_TYPE_DINT: value = getDint(&cell); break;
      case VM_TYPE_INT: value = getInt(&cell); break;
      case VM_TYPE_REAL: value = getReal(&cell); break;
      default: value = getDouble(&cell); break;
    }
    bool ok = false;
    if (!tables.inRange(p)) {
      ctx.raise(msg::kInvalidPointNo, uint32_t(p), 0, int(p));
    } else if (::sicvm::points::writeField(tables, p, field, value) == -1) {
      ctx.raise(msg::kInvalidPointField, uint32_t(p), uint32_t(field), int(field));
    } else {
      ok = true;
    }
    logProgram(ctx.image, kLevelTrace, ": Save var %d:%05d value %g to point %d field %d - %s", int(k),
               int(i), value, int(p), int(field), outcome(ok));
  });
  errno = savedErrno;
  ctx.next();
}

}  // namespace sicvm::interp::points
