// SPDX-License-Identifier: MIT
// Writes and clears of a point store that are held in memory until a commit:
// per point, what becomes of its status and of its value, laid over what the
// file holds.
#ifndef HOSTRT_SRC_STORE_PENDING_H
#define HOSTRT_SRC_STORE_PENDING_H

#include <cstdint>
#include <map>
#include <optional>

#include "hostrt/store.h"

namespace hostrt::store {

// What a commit does to one part (status or value) of a point.
enum class Change : uint8_t { Keep, Set, Clear };

struct PendingPoint {
  Change status = Change::Keep;
  Change value = Change::Keep;
  uint32_t statusWord = 0;  // when status is Set
  double valueNumber = 0.0;  // when value is Set
  std::optional<int32_t> pointId;  // of the latest write that gave one
};

class PendingWrites {
 public:
  void write(int32_t index, int32_t selector, std::optional<int32_t> pointId, uint32_t status, double value);
  void clear(int32_t index, int32_t selector);

  // Changes `record` (as read from the file) into what it will be once the
  // held changes of `index` are committed.
  void overlay(int32_t index, DboperRecord &record) const;

  // Lays this set's changes over `older` (later changes win, part by part)
  // and empties this set.
  void moveOnto(PendingWrites &older);

  bool empty() const { return points_.empty(); }
  int32_t size() const { return static_cast<int32_t>(points_.size()); }
  void discard() { points_.clear(); }

  // In index order, so that a commit walks the table's key order.
  const std::map<int32_t, PendingPoint> &points() const { return points_; }

 private:
  std::map<int32_t, PendingPoint> points_;
};

}  // namespace hostrt::store

#endif
