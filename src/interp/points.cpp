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

// What load_points does with one linked var: reads the point's field and
// stores it into the var by the var's type, also after an error (0.0).
struct Load {
  static constexpr const char *kWhat = "Load direct vars";
  static constexpr uint8_t kFlag = VM_VAR_LOAD;
  static double before(uint16_t, const VmCell &) { return 0.0; }
  static bool access(const PointTables &tables, int32_t p, int32_t field, double &value) {
    return ::sicvm::points::readField(tables, p, field, &value) != -1;
  }
  static void after(uint16_t type, VmCell &cell, double value) {
    switch (type) {
      case VM_TYPE_BOOL: putBool(&cell, rules::boolOfReal(value)); break;
      case VM_TYPE_DINT: putDint(&cell, uint32_t(rules::roundToInt32(value))); break;
      case VM_TYPE_INT: putInt(&cell, uint16_t(rules::roundToInt16(value))); break;
      case VM_TYPE_REAL: putReal(&cell, rules::toReal(value)); break;
      default: putDouble(&cell, value); break;
    }
  }
  static void trace(const RunContext &ctx, int k, int i, int p, int field, double value, const char *outcome) {
    logProgram(ctx.image, kLevelTrace, ": Load point %d field %d value %g to var %d:%05d - %s", p, field, value, k,
               i, outcome);
  }
};

// What save_points does with one: writes the var's value, as a double by its
// type, to the point's field.
struct Save {
  static constexpr const char *kWhat = "Save direct vars";
  static constexpr uint8_t kFlag = VM_VAR_SAVE;
  static double before(uint16_t type, const VmCell &cell) {
    switch (type) {
      case VM_TYPE_BOOL: return getBool(&cell) != 0 ? 1.0 : 0.0;
      case VM_TYPE_DINT: return getDint(&cell);
      case VM_TYPE_INT: return getInt(&cell);
      case VM_TYPE_REAL: return getReal(&cell);
      default: return getDouble(&cell);
    }
  }
  static bool access(const PointTables &tables, int32_t p, int32_t field, double &value) {
    return ::sicvm::points::writeField(tables, p, field, value) != -1;
  }
  static void after(uint16_t, VmCell &, double) {}
  static void trace(const RunContext &ctx, int k, int i, int p, int field, double value, const char *outcome) {
    logProgram(ctx.image, kLevelTrace, ": Save var %d:%05d value %g to point %d field %d - %s", k, i, value, p,
               field, outcome);
  }
};

// One linked var (point index p, not 0): a point index outside the tables
// raises error 4, a refused field access error 5; traced at level 15.
template <class Move>
[[gnu::always_inline]] inline void moveVar(const RunContext &ctx, const PointTables &tables, bool tracing,
                                           uint32_t k, uint32_t i, int32_t p, int32_t field, uint16_t type,
                                           VmCell &cell) {
  double value = Move::before(type, cell);
  bool ok = false;
  if (!tables.inRange(p))
    ctx.raise(msg::kInvalidPointNo, uint32_t(p), 0, int(p));
  else if (!Move::access(tables, p, field, value))
    ctx.raise(msg::kInvalidPointField, uint32_t(p), uint32_t(field), int(field));
  else
    ok = true;
  Move::after(type, cell, value);
  if (__builtin_expect(tracing, 0)) Move::trace(ctx, int(k), int(i), int(p), int(field), value, ok ? "SUCCESS" : "ERROR");
}

// The walk both commands share. Checks SRC1's segment index (fatal 118 for
// an empty slot; any index but 0 only advances); then moves every var of
// class 1 with the command's flag and a point index, with its value cell in
// the image. After a load, the timer update runs.
template <class Move>
void walkLinkedVars(RunContext &ctx, const VmCommand &cmd) {
  const uint32_t s = cmd.src1.v.w[0];
  if (s > 1 || ctx.segment[s].location == 0) {
    ctx.raise(msg::kDsNull, s, 0, Move::kWhat, int(s));
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
    if (record.pointIndex == 0 || !(record.classByte & Move::kFlag) || (record.classByte & VM_CLASS_MASK) != 1)
      return;
    VmCell *cell = ctx.image.varCell(&record);
    if (cell == nullptr) return;
    moveVar<Move>(ctx, tables, tracing, k, i, record.pointIndex, record.pointField, record.type, *cell);
  });
  if constexpr (Move::kFlag == VM_VAR_LOAD) UpdateTimers(ctx.machine);
  errno = savedErrno;
  ctx.next();
}

// The same over vars found before.
template <class Move>
void moveLinked(RunContext &ctx, std::span<const LinkedVar> vars) {
  const PointTables tables = PointTables::of(*ctx.machine);
  const bool tracing = logEnabled(kLevelTrace);
  uint8_t *const base = ctx.base;
  for (const LinkedVar &v : vars) {
    const int32_t p = int32_t(loadWord(base + v.record + offsetof(VmVarRecord, pointIndex)));
    if (p == 0) continue;
    moveVar<Move>(ctx, tables, tracing, v.segment, v.var, p, v.field, v.type,
                  *reinterpret_cast<VmCell *>(base + v.cell));
  }
}

}  // namespace

void loadPoints(RunContext &ctx, const VmCommand &cmd) { walkLinkedVars<Load>(ctx, cmd); }

void savePoints(RunContext &ctx, const VmCommand &cmd) { walkLinkedVars<Save>(ctx, cmd); }

void loadLinked(RunContext &ctx, std::span<const LinkedVar> vars, std::span<const TimerVar> timers,
                std::span<const TimerArray> timerArrays) {
  const int savedErrno = errno;
  moveLinked<Load>(ctx, vars);
  advanceTimers(ctx.image, timers, timerArrays);
  errno = savedErrno;
}

void saveLinked(RunContext &ctx, std::span<const LinkedVar> vars) {
  const int savedErrno = errno;
  moveLinked<Save>(ctx, vars);
  errno = savedErrno;
}

}  // namespace sicvm::interp::points
