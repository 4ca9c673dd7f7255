// SPDX-License-Identifier: MIT
#include "standby/state_map.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "hostrt/sys.h"

namespace sicvm::standby {

namespace {
constexpr size_t kPointBytes = 12;  // value (double) and status word
}

StateMap::StateMap(const runner::Session &session)
    : base_(reinterpret_cast<uint8_t *>(session.machine()) - session.machine()->image),
      machine_(session.machine()),
      db_(session.points()) {
  // The machine block sits in the image at its offset from the start, so the
  // image's bytes begin that far before it.
  const VmHeader &h = *reinterpret_cast<const VmHeader *>(base_);
  if (h.segmentVarCount > 0) ranges_.push_back({h.segmentVarsOffset, h.segmentVarCount * uint32_t(VM_CELL_SIZE)});
  if (h.arrayCount > 0 && h.arrayVarCount > 0)
    ranges_.push_back({h.arrayVarsOffset, h.arrayVarCount * uint32_t(VM_CELL_SIZE)});
  ranges_.push_back({h.stateOffset, uint32_t(sizeof(VmStateBlock))});
  ranges_.push_back({h.machineOffset + uint32_t(offsetof(VmMachine, cycleCount)), 4});
  for (const Range &r : ranges_) size_ += r.length;

  // Output points: the links of save-flagged vars, walked as set-up laid the
  // segments (each a var count and that many records, one after the other).
  int32_t count = PointDbCount(db_);
  if (db_ && count > 1) {
    uint32_t at = h.segmentsOffset;
    for (uint32_t k = 0; k < h.segmentCount; ++k) {
      uint32_t n;
      std::memcpy(&n, base_ + at, 4);
      for (uint32_t i = 0; i < n; ++i) {
        VmVarRecord var;
        std::memcpy(&var, base_ + at + 4 + uint64_t(i) * VM_VAR_RECORD_SIZE, sizeof var);
        if ((var.classByte & VM_VAR_SAVE) && var.pointIndex > 0 && var.pointIndex < count)
          points_.push_back(var.pointIndex);
      }
      at += 4 + n * uint32_t(VM_VAR_RECORD_SIZE);
    }
    std::sort(points_.begin(), points_.end());
    points_.erase(std::unique(points_.begin(), points_.end()), points_.end());
  }
  size_ += points_.size() * kPointBytes;
}

void StateMap::gather(uint8_t *out) const {
  for (const Range &r : ranges_) {
    std::memcpy(out, base_ + r.offset, r.length);
    out += r.length;
  }
  const PointValueRecord *values = PointDbValues(db_);
  for (int32_t p : points_) {
    std::memcpy(out, &values[p].value, 8);
    std::memcpy(out + 8, &values[p].status, 4);
    out += kPointBytes;
  }
}

void StateMap::scatter(const uint8_t *state) const {
  for (const Range &r : ranges_) {
    std::memcpy(base_ + r.offset, state, r.length);
    state += r.length;
  }
}

void StateMap::writePoints(const uint8_t *state) const {
  state += size_ - points_.size() * kPointBytes;
  PointValueRecord *values = PointDbValues(db_);
  for (int32_t p : points_) {
    std::memcpy(&values[p].value, state, 8);
    std::memcpy(&values[p].status, state + 8, 4);
    state += kPointBytes;
  }
}

uint32_t StateMap::clockAge() const { return SysGetClockCounter() - machine_->lastClock; }

void StateMap::setClockAge(uint32_t age) const { machine_->lastClock = SysGetClockCounter() - age; }

}  // namespace sicvm::standby
