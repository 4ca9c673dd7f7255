// SPDX-License-Identifier: MIT
// Forced points: values held from outside the program, written back by the
// host after every cycle. The force lives in the shared configuration
// record, guarded by a sequence word (layout and protocol in hostrt/points.h).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "hostrt/points.h"
#include "hostrt/sys.h"
#include "point_db_csv.h"

namespace {

constexpr int kReadAttempts = 64;

PointConfigRecord *recordOf(const PointDb *db, int32_t index) {
  if (db == nullptr || index < 1 || index >= PointDbCount(db)) return nullptr;
  return PointDbConfig(db) + index;
}

// The record's fields are reached as plain words: records are 4-byte aligned.
uint32_t *sequenceOf(PointConfigRecord *r) { return reinterpret_cast<uint32_t *>(reinterpret_cast<char *>(r) + 84); }
uint32_t *forcedOf(PointConfigRecord *r) { return reinterpret_cast<uint32_t *>(reinterpret_cast<char *>(r) + 88); }
char *valueOf(PointConfigRecord *r) { return reinterpret_cast<char *>(r) + 92; }

int32_t writeForce(PointDb *db, int32_t index, uint32_t forced, double value) {
  PointConfigRecord *r = recordOf(db, index);
  if (r == nullptr) {
    _winseterrno(EINVAL);
    return -1;
  }
  uint32_t *sequence = sequenceOf(r);
  // Take the record: even to odd. Another writer holds it while it is odd.
  uint32_t seen = __atomic_load_n(sequence, __ATOMIC_RELAXED);
  for (;;) {
    if ((seen & 1u) == 0 &&
        __atomic_compare_exchange_n(sequence, &seen, seen + 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
      break;
    seen = __atomic_load_n(sequence, __ATOMIC_RELAXED) & ~1u;
  }
  __atomic_thread_fence(__ATOMIC_RELEASE);
  std::memcpy(valueOf(r), &value, sizeof value);
  __atomic_store_n(forcedOf(r), forced, __ATOMIC_RELAXED);
  __atomic_store_n(sequence, seen + 2, __ATOMIC_RELEASE);
  return 0;
}

}  // namespace

extern "C" {

int32_t PointDbForce(PointDb *db, int32_t index, double value) { return writeForce(db, index, 1, value); }

int32_t PointDbUnforce(PointDb *db, int32_t index) { return writeForce(db, index, 0, 0.0); }

int32_t PointDbForcedValue(const PointDb *db, int32_t index, double *value) {
  PointConfigRecord *r = recordOf(db, index);
  if (r == nullptr) {
    _winseterrno(EINVAL);
    return -1;
  }
  uint32_t *sequence = sequenceOf(r);
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    uint32_t before = __atomic_load_n(sequence, __ATOMIC_ACQUIRE);
    if (before & 1u) continue;
    uint32_t forced = __atomic_load_n(forcedOf(r), __ATOMIC_RELAXED);
    double held;
    std::memcpy(&held, valueOf(r), sizeof held);
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    if (__atomic_load_n(sequence, __ATOMIC_RELAXED) != before) continue;
    if (forced == 0) return 0;
    if (value != nullptr) *value = held;
    return 1;
  }
  return 0;  // a writer kept the record busy: leave the point alone this time
}

int32_t PointDbApplyForces(PointDb *db) {
  if (db == nullptr) {
    _winseterrno(EINVAL);
    return -1;
  }
  int32_t count = PointDbCount(db), forced = 0;
  PointValueRecord *values = PointDbValues(db);
  for (int32_t i = 1; i < count; ++i) {
    double value;
    if (PointDbForcedValue(db, i, &value) != 1) continue;
    std::memcpy(reinterpret_cast<char *>(&values[i]) + 8, &value, sizeof value);
    ++forced;
  }
  return forced;
}

int32_t PointDbFitValue(int32_t type, double *value, char *error, uint32_t errorSize) {
  if (value == nullptr) {
    _winseterrno(EINVAL);
    return -1;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", *value);
  double fitted = *value;
  std::string reason = hostrt::points::fitValue(type, text, fitted);
  if (!reason.empty()) {
    if (error != nullptr && errorSize > 0) std::snprintf(error, errorSize, "%s", reason.c_str());
    _winseterrno(EINVAL);
    return -1;
  }
  *value = fitted;
  return 0;
}

}  // extern "C"
