// SPDX-License-Identifier: MIT
// Field reads and status-change notices on the records of the point tables.
// Records are reached through the caller's pointers only; nothing here knows
// which table or process they belong to.
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "hostrt/points.h"
#include "hostrt/sys.h"

namespace {

// Reads a field of a packed record without assuming the record's alignment.
template <typename T>
T fieldAt(const void *record, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const char *>(record) + offset, sizeof value);
  return value;
}

bool aligned4(const void *record) { return reinterpret_cast<uintptr_t>(record) % 4 == 0; }

uint32_t *counterOf(void *value) {
  return reinterpret_cast<uint32_t *>(static_cast<char *>(value) + offsetof(PointValueRecord, statusChanges));
}

uint32_t *changedAtOf(void *value) {
  return reinterpret_cast<uint32_t *>(static_cast<char *>(value) + offsetof(PointValueRecord, statusChangedAt));
}

}  // namespace

extern "C" {

int32_t ShmGetPointFieldValue(const void *config, const void *value, int32_t field, double *out) {
  if (config == nullptr || value == nullptr || out == nullptr) {
    _winseterrno(EINVAL);
    return -1;
  }
  double result = 0.0;
  switch (field) {
    case SHM_FIELD_POINT_ID:
      result = fieldAt<int32_t>(config, offsetof(PointConfigRecord, pointId));
      break;
    case SHM_FIELD_VALUE_TYPE:
      result = fieldAt<int32_t>(config, offsetof(PointConfigRecord, valueType));
      break;
    case SHM_FIELD_STATUS_MODE:
      result = fieldAt<int32_t>(config, offsetof(PointConfigRecord, statusMode));
      break;
    case SHM_FIELD_OWN_INDEX:
      result = fieldAt<int32_t>(config, offsetof(PointConfigRecord, ownIndex));
      break;
    case SHM_FIELD_STATUS_CHANGES:
      result = PointStatusChanges(value);
      break;
    case SHM_FIELD_STATUS_CHANGED_AT:
      result = fieldAt<uint32_t>(value, offsetof(PointValueRecord, statusChangedAt));
      break;
    case SHM_FIELD_STATUS:
      result = fieldAt<uint32_t>(value, offsetof(PointValueRecord, status));
      break;
    case SHM_FIELD_VALUE:
      result = fieldAt<double>(value, offsetof(PointValueRecord, value));
      break;
    default:
      _winseterrno(EINVAL);
      return -1;
  }
  *out = result;
  return 0;
}

int32_t ShmUpdateStatFalse(const void *config, void *value) {
  if (config == nullptr || value == nullptr || !aligned4(value)) {
    _winseterrno(EINVAL);
    return -1;
  }
  __atomic_store_n(changedAtOf(value), SysGetClockCounter(), __ATOMIC_RELAXED);
  __atomic_fetch_add(counterOf(value), 1u, __ATOMIC_RELEASE);
  return 0;
}

uint32_t PointStatusChanges(const void *value) {
  if (value == nullptr || !aligned4(value)) return 0;
  return __atomic_load_n(counterOf(const_cast<void *>(value)), __ATOMIC_ACQUIRE);
}

}  // extern "C"
