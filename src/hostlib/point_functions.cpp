// SPDX-License-Identifier: MIT
// Point functions of the host library (6031 to 6045): a program reads and
// writes process points by index, in the shared point tables and in the
// non-volatile store, through the point exports.
//
// Every function writes all of its outputs and returns 0: a bad index, an
// unreadable field, a store failure or a store without the wanted part is
// recorded in the machine's error state (codes 4, 5, 7, 9) and the outputs
// get 0, 0.0 or FALSE. After an access that worked, a point whose
// configuration record no longer carries its own index is recorded as
// deleted (code 6), and the outputs keep what the access gave. At log level
// 15 each call leaves one trace line ending in "SUCCESS" or "ERROR".
#include <cerrno>

#include "foundation/report.h"
#include "hostlib/functions.h"
#include "hostrt/sys.h"
#include "points/point_access.h"
#include "sicvm/points.h"

namespace sicvm::hostlib {
namespace {

using points::kFieldStatus;
using points::kFieldValue;

const char *outcome(bool ok) { return ok ? "SUCCESS" : "ERROR"; }

// The store and the shared-memory calls may leave errno changed; in the
// errno math error mode the interpreter would take that for a math error of
// the call command, so each function gives errno back as it found it.
class KeepErrno {
 public:
  KeepErrno() noexcept : saved_(errno) {}
  ~KeepErrno() { errno = saved_; }
  KeepErrno(const KeepErrno &) = delete;
  KeepErrno &operator=(const KeepErrno &) = delete;

 private:
  int saved_;
};

// Records `message` at the calling command with (arg1, arg2); the printf
// arguments follow the message text (checked against it when this compiles).
template <class... Want, class... Args>
void record(const lib::Call &call, const Message<Want...> &message, int32_t arg1, int32_t arg2, Args... args) {
  raise(call.image(), message, call.machine()->pc, uint32_t(arg1), uint32_t(arg2), args...);
}

bool inRange(const lib::Call &call, int32_t point) {
  return point >= 0 && point < call.machine()->pointCount;
}

void badPoint(const lib::Call &call, int32_t point) {
  record(call, msg::kInvalidPointNo, point, 0, int(point));
}

// After an access that worked: a point whose configuration word is not its
// own index (or cannot be read) has been deleted. `field` names what was
// accessed (44 value, 43 status, or the field read).
void checkLive(const lib::Call &call, int32_t point, int32_t field) {
  if (PointIdentity(call.machine(), point) != point)
    record(call, msg::kDeletedPoint, point, field, int(point));
}

// The steps all six store functions share: the index range, the store call
// `access` (its result: -1 failure, else presence flags for the readers),
// for the readers the presence bit `wanted` (0 for writers and clears), and
// the deleted-point test. Returns the done output.
template <class Access>
bool storeStep(const lib::Call &call, int32_t point, int32_t field, int32_t wanted, Access access) {
  if (!inRange(call, point)) {
    badPoint(call, point);
    return false;
  }
  const int32_t result = access();
  if (result == -1) {
    const int error = _wingeterrno();
    record(call, msg::kNvramError, point, error, error);
    return false;
  }
  if (wanted != 0 && (result & wanted) == 0) {
    const bool value = wanted == VM_STORE_VALUE;
    record(call, msg::kNvramHasNo, point, value ? 0 : 1, value ? "VALUE" : "STATUS", int(point));
    return false;
  }
  checkLive(call, point, field);
  return true;
}

// The two parts of a point that the functions below read and write alike:
// the value (an LREAL, field 44, printed "%g") and the status word (a DWORD
// held in a DINT cell, field 43, printed as eight hex digits). `kRead` and
// `kWrite` are the trace lines; their third argument names where ("SHM" or
// "NVRAM").
struct ValuePart {
  using Type = double;
  static constexpr int32_t kField = kFieldValue;
  static constexpr int32_t kStoreBit = VM_STORE_VALUE;
  static constexpr const char *kName = "value";
  static constexpr const char *kRead = ": Read point %d value %g from %s - %s";
  static constexpr const char *kWrite = ": Write point %d value %g to %s - %s";
  static Type get(const lib::Call &call, int slot) { return call.getDouble(slot); }
  static void put(const lib::Call &call, int slot, Type value) { call.setDouble(slot, value); }
  static int32_t shmGet(VmMachine *m, int32_t point, Type *value) { return VmGetPointValue(m, point, value); }
  static int32_t shmSet(VmMachine *m, int32_t point, Type value) { return VmSetPointValue(m, point, value); }
  static int32_t storeRead(VmMachine *m, int32_t point, Type *value) {
    return VmReadDboperPoint(m, point, nullptr, value);
  }
  static int32_t storeWrite(VmMachine *m, int32_t point, Type value) {
    return VmWriteDboperPoint(m, point, VM_STORE_VALUE, 0, value);
  }
};

struct StatusPart {
  using Type = uint32_t;
  static constexpr int32_t kField = kFieldStatus;
  static constexpr int32_t kStoreBit = VM_STORE_STATUS;
  static constexpr const char *kName = "status";
  static constexpr const char *kRead = ": Read point %d status 0x%08X from %s - %s";
  static constexpr const char *kWrite = ": Write point %d status 0x%08X to %s - %s";
  static Type get(const lib::Call &call, int slot) { return uint32_t(call.getDint(slot)); }
  static void put(const lib::Call &call, int slot, Type status) { call.setDint(slot, int32_t(status)); }
  static int32_t shmGet(VmMachine *m, int32_t point, Type *status) { return VmGetPointStatus(m, point, status); }
  static int32_t shmSet(VmMachine *m, int32_t point, Type status) { return VmSetPointStatus(m, point, status); }
  static int32_t storeRead(VmMachine *m, int32_t point, Type *status) {
    return VmReadDboperPoint(m, point, status, nullptr);
  }
  static int32_t storeWrite(VmMachine *m, int32_t point, Type status) {
    return VmWriteDboperPoint(m, point, VM_STORE_STATUS, status, 0.0);
  }
};

// (point) -> part, from the shared tables.
template <class Part>
int32_t readShm(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  typename Part::Type part{};
  const bool ok = Part::shmGet(call.machine(), point, &part) != -1;
  if (ok) {
    checkLive(call, point, Part::kField);
  } else {
    part = {};
    badPoint(call, point);
  }
  Part::put(call, 1, part);
  logProgram(call.image(), kLevelTrace, Part::kRead, point, part, "SHM", outcome(ok));
  return 0;
}

// (point, part) -> done, to the shared tables.
template <class Part>
int32_t writeShm(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const typename Part::Type part = Part::get(call, 1);
  const bool ok = Part::shmSet(call.machine(), point, part) != -1;
  if (ok)
    checkLive(call, point, Part::kField);
  else
    badPoint(call, point);
  call.setBool(2, ok);
  logProgram(call.image(), kLevelTrace, Part::kWrite, point, part, "SHM", outcome(ok));
  return 0;
}

// (point) -> done, part, from the store.
template <class Part>
int32_t readStore(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  typename Part::Type part{};
  const bool done = storeStep(call, point, Part::kField, Part::kStoreBit,
                              [&] { return Part::storeRead(call.machine(), point, &part); });
  if (!done) part = {};
  call.setBool(1, done);
  Part::put(call, 2, part);
  logProgram(call.image(), kLevelTrace, Part::kRead, point, part, "NVRAM", outcome(done));
  return 0;
}

// (point, part) -> done, to the store.
template <class Part>
int32_t writeStore(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const typename Part::Type part = Part::get(call, 1);
  const bool done =
      storeStep(call, point, Part::kField, 0, [&] { return Part::storeWrite(call.machine(), point, part); });
  call.setBool(2, done);
  logProgram(call.image(), kLevelTrace, Part::kWrite, point, part, "NVRAM", outcome(done));
  return 0;
}

// (point) -> done: removes the part from the store.
template <class Part>
int32_t clearStore(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const bool done = storeStep(call, point, Part::kField, 0,
                              [&] { return ClearDboperPoint(call.machine(), point, Part::kStoreBit); });
  call.setBool(1, done);
  logProgram(call.image(), kLevelTrace, ": Clear point %d %s in NVRAM - %s", point, Part::kName, outcome(done));
  return 0;
}

}  // namespace

// Field 44, 43 or another field of the configuration, read as a number.
int32_t getPointFieldValue(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0), field = call.getDint(1);
  double value = 0.0;
  bool ok = false;
  if (!inRange(call, point)) {
    badPoint(call, point);
  } else if (VmGetPointFieldValue(call.machine(), point, field, &value) == -1) {
    value = 0.0;
    record(call, msg::kInvalidPointField, point, field, int(field));
  } else {
    ok = true;
    checkLive(call, point, field);
  }
  call.setDouble(2, value);
  logProgram(call.image(), kLevelTrace, ": Read point %d field %d value %g from SHM - %s", point, field, value,
             outcome(ok));
  return 0;
}

int32_t getPointValue(const lib::Call &call) { return readShm<ValuePart>(call); }
int32_t getPointStatus(const lib::Call &call) { return readShm<StatusPart>(call); }
int32_t setPointValue(const lib::Call &call) { return writeShm<ValuePart>(call); }
int32_t setPointStatus(const lib::Call &call) { return writeShm<StatusPart>(call); }
int32_t readNvramValue(const lib::Call &call) { return readStore<ValuePart>(call); }
int32_t readNvramStatus(const lib::Call &call) { return readStore<StatusPart>(call); }
int32_t writeNvramValue(const lib::Call &call) { return writeStore<ValuePart>(call); }
int32_t writeNvramStatus(const lib::Call &call) { return writeStore<StatusPart>(call); }
int32_t clearNvramValue(const lib::Call &call) { return clearStore<ValuePart>(call); }
int32_t clearNvramStatus(const lib::Call &call) { return clearStore<StatusPart>(call); }

}  // namespace sicvm::hostlib
