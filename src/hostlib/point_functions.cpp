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

}  // namespace

// ---- Shared memory ----

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

int32_t getPointValue(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  double value = 0.0;
  const bool ok = VmGetPointValue(call.machine(), point, &value) != -1;
  if (ok) {
    checkLive(call, point, kFieldValue);
  } else {
    value = 0.0;
    badPoint(call, point);
  }
  call.setDouble(1, value);
  logProgram(call.image(), kLevelTrace, ": Read point %d value %g from SHM - %s", point, value, outcome(ok));
  return 0;
}

int32_t getPointStatus(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  uint32_t status = 0;
  const bool ok = VmGetPointStatus(call.machine(), point, &status) != -1;
  if (ok) {
    checkLive(call, point, kFieldStatus);
  } else {
    status = 0;
    badPoint(call, point);
  }
  call.setDint(1, int32_t(status));
  logProgram(call.image(), kLevelTrace, ": Read point %d status 0x%08X from SHM - %s", point, status,
             outcome(ok));
  return 0;
}

int32_t setPointValue(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const double value = call.getDouble(1);
  const bool ok = VmSetPointValue(call.machine(), point, value) != -1;
  if (ok)
    checkLive(call, point, kFieldValue);
  else
    badPoint(call, point);
  call.setBool(2, ok);
  logProgram(call.image(), kLevelTrace, ": Write point %d value %g to SHM - %s", point, value, outcome(ok));
  return 0;
}

int32_t setPointStatus(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const uint32_t status = uint32_t(call.getDint(1));
  const bool ok = VmSetPointStatus(call.machine(), point, status) != -1;
  if (ok)
    checkLive(call, point, kFieldStatus);
  else
    badPoint(call, point);
  call.setBool(2, ok);
  logProgram(call.image(), kLevelTrace, ": Write point %d status 0x%08X to SHM - %s", point, status,
             outcome(ok));
  return 0;
}

// ---- Non-volatile store ----

int32_t readNvramValue(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  double value = 0.0;
  const bool done = storeStep(call, point, kFieldValue, VM_STORE_VALUE,
                              [&] { return VmReadDboperPoint(call.machine(), point, nullptr, &value); });
  if (!done) value = 0.0;
  call.setBool(1, done);
  call.setDouble(2, value);
  logProgram(call.image(), kLevelTrace, ": Read point %d value %g from NVRAM - %s", point, value, outcome(done));
  return 0;
}

int32_t readNvramStatus(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  uint32_t status = 0;
  const bool done = storeStep(call, point, kFieldStatus, VM_STORE_STATUS,
                              [&] { return VmReadDboperPoint(call.machine(), point, &status, nullptr); });
  if (!done) status = 0;
  call.setBool(1, done);
  call.setDint(2, int32_t(status));
  logProgram(call.image(), kLevelTrace, ": Read point %d status 0x%08X from NVRAM - %s", point, status,
             outcome(done));
  return 0;
}

int32_t writeNvramValue(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const double value = call.getDouble(1);
  const bool done = storeStep(call, point, kFieldValue, 0, [&] {
    return VmWriteDboperPoint(call.machine(), point, VM_STORE_VALUE, 0, value);
  });
  call.setBool(2, done);
  logProgram(call.image(), kLevelTrace, ": Write point %d value %g to NVRAM - %s", point, value, outcome(done));
  return 0;
}

int32_t writeNvramStatus(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const uint32_t status = uint32_t(call.getDint(1));
  const bool done = storeStep(call, point, kFieldStatus, 0, [&] {
    return VmWriteDboperPoint(call.machine(), point, VM_STORE_STATUS, status, 0.0);
  });
  call.setBool(2, done);
  logProgram(call.image(), kLevelTrace, ": Write point %d status 0x%08X to NVRAM - %s", point, status,
             outcome(done));
  return 0;
}

int32_t clearNvramValue(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const bool done = storeStep(call, point, kFieldValue, 0,
                              [&] { return ClearDboperPoint(call.machine(), point, VM_STORE_VALUE); });
  call.setBool(1, done);
  logProgram(call.image(), kLevelTrace, ": Clear point %d value in NVRAM - %s", point, outcome(done));
  return 0;
}

int32_t clearNvramStatus(const lib::Call &call) {
  KeepErrno keep;
  const int32_t point = call.getDint(0);
  const bool done = storeStep(call, point, kFieldStatus, 0,
                              [&] { return ClearDboperPoint(call.machine(), point, VM_STORE_STATUS); });
  call.setBool(1, done);
  logProgram(call.image(), kLevelTrace, ": Clear point %d status in NVRAM - %s", point, outcome(done));
  return 0;
}

}  // namespace sicvm::hostlib
