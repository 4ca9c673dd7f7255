// SPDX-License-Identifier: MIT
// The store's C calls: argument checks, the process-wide handle table, and
// the error number and message of every failure.
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "hostrt/log.h"
#include "hostrt/points.h"
#include "hostrt/store.h"
#include "hostrt/sys.h"
#include "store_file.h"

namespace {

using hostrt::store::Failure;
using hostrt::store::StoreFile;

constexpr uint32_t kSlotBits = 8;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kGenerationMask = (1u << (32 - kSlotBits)) - 1;
static_assert(DBOPER_MAX_STORES <= kSlotMask, "a slot number must fit the handle's low bits");

struct Slot {
  std::shared_ptr<StoreFile> store;
  uint32_t generation = 0;
};

std::mutex g_tableMutex;
std::array<Slot, DBOPER_MAX_STORES> g_slots;
thread_local std::string t_message;

uint32_t handleOf(size_t slot, uint32_t generation) {
  return (generation << kSlotBits) | static_cast<uint32_t>(slot + 1);
}

// Every failure leaves through here: message, error number, log line.
int32_t fail(const Failure &failure, int level) {
  try {
    t_message = failure.message;
  } catch (const std::bad_alloc &) {
    t_message.clear();
  }
  _winseterrno(failure.code);
  if (LogGetLevel() >= level) LogPrintf(level, "Point store: %s\n", failure.message.c_str());
  return -1;
}

// The open store behind a handle; the shared pointer keeps it alive for the
// length of a call even when another thread closes the handle meanwhile.
std::shared_ptr<StoreFile> storeOf(uint32_t handle) {
  uint32_t slot = handle & kSlotMask;
  if (slot == 0 || slot > DBOPER_MAX_STORES) return nullptr;
  std::lock_guard lock(g_tableMutex);
  const Slot &entry = g_slots[slot - 1];
  if (entry.store == nullptr || handleOf(slot - 1, entry.generation) != handle) return nullptr;
  return entry.store;
}

// Runs `body` on the store of `handle` after the checks that every point call shares.
template <typename Body>
int32_t withPoint(uint32_t handle, int32_t index, const char *action, Body body) {
  try {
    std::shared_ptr<StoreFile> store = storeOf(handle);
    if (store == nullptr)
      return fail({EBADF, "store handle " + std::to_string(handle) + " is not open"}, 10);
    if (index <= 0)
      return fail({EINVAL, store->path() + ": cannot " + action + " point " + std::to_string(index) +
                               ": index out of range (1 to 2147483647)"},
                  10);
    Failure failure;
    int32_t result = body(*store, failure);
    return result < 0 ? fail(failure, 10) : result;
  } catch (const std::bad_alloc &) {
    return fail({ENOMEM, "out of memory"}, 10);
  }
}

bool validSelector(int32_t selector) {
  return selector >= DBOPER_SELECT_STATUS && selector <= (DBOPER_SELECT_STATUS | DBOPER_SELECT_VALUE);
}

Failure badSelector(const StoreFile &store, int32_t selector) {
  return {EINVAL, store.path() + ": selector " + std::to_string(selector) +
                      " is not 1 (status), 2 (value) or 3 (both)"};
}

}  // namespace

extern "C" {

uint32_t DboperOpen(const char *path) {
  try {
    Failure failure;
    std::unique_ptr<StoreFile> opened =
        path != nullptr ? StoreFile::open(path, failure) : nullptr;
    if (path == nullptr) failure = {EINVAL, "no store path given"};
    if (opened == nullptr) {
      fail(failure, 5);
      return 0;
    }
    std::lock_guard lock(g_tableMutex);
    for (size_t slot = 0; slot < g_slots.size(); ++slot) {
      Slot &entry = g_slots[slot];
      if (entry.store != nullptr) continue;
      entry.generation = (entry.generation + 1) & kGenerationMask;
      entry.store = std::move(opened);
      return handleOf(slot, entry.generation);
    }
    fail({EMFILE, std::string(path) + ": cannot open the store: " +
                      std::to_string(DBOPER_MAX_STORES) + " stores are open already"},
         5);
    return 0;
  } catch (const std::bad_alloc &) {
    fail({ENOMEM, "out of memory"}, 5);
    return 0;
  }
}

int32_t DboperClose(uint32_t handle) {
  std::shared_ptr<StoreFile> closing;
  {
    std::lock_guard lock(g_tableMutex);
    uint32_t slot = handle & kSlotMask;
    if (slot != 0 && slot <= DBOPER_MAX_STORES) {
      Slot &entry = g_slots[slot - 1];
      if (entry.store != nullptr && handleOf(slot - 1, entry.generation) == handle)
        closing = std::move(entry.store);
    }
  }
  if (closing == nullptr)
    return fail({EBADF, "store handle " + std::to_string(handle) + " is not open"}, 10);
  return 0;  // the file closes when the last call using it ends
}

int32_t DboperRead(uint32_t handle, int32_t index, void *record20) {
  return withPoint(handle, index, "read", [&](StoreFile &store, Failure &failure) {
    if (record20 == nullptr) {
      failure = {EINVAL, store.path() + ": no record to read point " + std::to_string(index) + " into"};
      return -1;
    }
    DboperRecord record;
    int32_t result = store.read(index, record, failure);
    if (result >= 0) std::memcpy(record20, &record, sizeof record);
    return result;
  });
}

int32_t DboperWritePoint(uint32_t handle, int32_t index, int32_t selector, const void *config492,
                         const void *value28) {
  return withPoint(handle, index, "write", [&](StoreFile &store, Failure &failure) {
    if (!validSelector(selector)) {
      failure = badSelector(store, selector);
      return -1;
    }
    if (value28 == nullptr) {
      failure = {EINVAL, store.path() + ": no value record to write point " + std::to_string(index) + " from"};
      return -1;
    }
    // The records come from the caller and need not be aligned.
    const char *values = static_cast<const char *>(value28);
    double value;
    uint32_t status;
    std::memcpy(&value, values + offsetof(PointValueRecord, value), sizeof value);
    std::memcpy(&status, values + offsetof(PointValueRecord, status), sizeof status);
    std::optional<int32_t> pointId;
    if (config492 != nullptr) {
      int32_t id;
      std::memcpy(&id, static_cast<const char *>(config492) + offsetof(PointConfigRecord, pointId),
                  sizeof id);
      pointId = id;
    }
    return store.write(index, selector, pointId, status, value, failure);
  });
}

int32_t DboperClearPoint(uint32_t handle, int32_t index, int32_t selector) {
  return withPoint(handle, index, "clear", [&](StoreFile &store, Failure &failure) {
    if (!validSelector(selector)) {
      failure = badSelector(store, selector);
      return -1;
    }
    return store.clear(index, selector, failure);
  });
}

const char *DboperLastMessage(void) { return t_message.c_str(); }

}  // extern "C"
