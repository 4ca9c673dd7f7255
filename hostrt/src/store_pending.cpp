// SPDX-License-Identifier: MIT
#include "store_pending.h"

namespace hostrt::store {

void PendingWrites::write(int32_t index, int32_t selector, std::optional<int32_t> pointId, uint32_t status,
                          double value) {
  PendingPoint &point = points_[index];
  if (selector & DBOPER_SELECT_STATUS) {
    point.status = Change::Set;
    point.statusWord = status;
  }
  if (selector & DBOPER_SELECT_VALUE) {
    point.value = Change::Set;
    point.valueNumber = value;
  }
  if (pointId) point.pointId = pointId;
}

void PendingWrites::clear(int32_t index, int32_t selector) {
  PendingPoint &point = points_[index];
  if (selector & DBOPER_SELECT_STATUS) point.status = Change::Clear;
  if (selector & DBOPER_SELECT_VALUE) point.value = Change::Clear;
}

void PendingWrites::overlay(int32_t index, DboperRecord &record) const {
  auto found = points_.find(index);
  if (found == points_.end()) return;
  const PendingPoint &point = found->second;
  if (point.status == Change::Set) {
    record.flags |= DBOPER_HAS_STATUS;
    record.status = point.statusWord;
  } else if (point.status == Change::Clear) {
    record.flags &= ~DBOPER_HAS_STATUS;
    record.status = 0;
  }
  if (point.value == Change::Set) {
    record.flags |= DBOPER_HAS_VALUE;
    record.value = point.valueNumber;
  } else if (point.value == Change::Clear) {
    record.flags &= ~DBOPER_HAS_VALUE;
    record.value = 0.0;
  }
}

void PendingWrites::moveOnto(PendingWrites &older) {
  if (older.empty()) {
    older.points_.swap(points_);
    return;
  }
  for (const auto &[index, later] : points_) {
    PendingPoint &point = older.points_[index];
    if (later.status != Change::Keep) {
      point.status = later.status;
      point.statusWord = later.statusWord;
    }
    if (later.value != Change::Keep) {
      point.value = later.value;
      point.valueNumber = later.valueNumber;
    }
    if (later.pointId) point.pointId = later.pointId;
  }
  points_.clear();
}

}  // namespace hostrt::store
