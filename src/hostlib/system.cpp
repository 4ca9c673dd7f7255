// SPDX-License-Identifier: MIT
// System functions of the host library (6000 to 6026): point 0's status
// bit 5, the system clock, the machine's error state, its cycle counter and
// three words of the host record.
#include <cstring>

#include "foundation/messages.h"
#include "hostlib/functions.h"
#include "hostrt/datetime.h"
#include "image/host_location.h"

namespace sicvm::hostlib {
namespace {

// Point value records are 28 bytes; the status word sits at byte 16.
constexpr size_t kStatusOffset = 16;
constexpr uint32_t kBit5 = 0x20;

// The 32-bit word at `offset` of the machine's host record; 0 without one.
int32_t hostRecordWord(const lib::Call &call, size_t offset) {
  const auto *record = hostAddressAs<const uint8_t>(call.machine()->hostRecord);
  if (record == nullptr) return 0;
  int32_t word;
  std::memcpy(&word, record + offset, sizeof word);
  return word;
}

}  // namespace

// Output = bit 5 of point 0's status word before the change; then the bit
// takes the input. Without points (a point count of 0 or less, or no value
// table) the output is FALSE and nothing is touched.
int32_t exchangeStatusBit5(const lib::Call &call) {
  VmMachine *machine = call.machine();
  auto *values = hostAddressAs<uint8_t>(machine->pointValues);
  if (machine->pointCount <= 0 || values == nullptr) {
    call.setBool(1, false);
    return 0;
  }
  uint32_t status;
  std::memcpy(&status, values + kStatusOffset, sizeof status);
  call.setBool(1, (status & kBit5) != 0);
  status = call.getBool(0) ? (status | kBit5) : (status & ~kBit5);
  std::memcpy(values + kStatusOffset, &status, sizeof status);
  return 0;
}

// An invalid DT records error 33 and is still handed to the host, whose
// answer decides the output.
int32_t setUtcTime(const lib::Call &call) {
  double dt = call.getDouble(0);
  if (DtValidateDateTime(dt) != 0) call.fail(msg::kInvalidParameter);
  call.setBool(1, DtSetUtcTime(dt) != -1);
  return 0;
}

int32_t getLastErrorCode(const lib::Call &call) {
  call.setDint(0, VmGetLastError(call.machine(), nullptr, nullptr, nullptr));
  return 0;
}

int32_t getLastErrorInfo(const lib::Call &call) {
  uint32_t address = 0, arg1 = 0, arg2 = 0;
  VmGetLastError(call.machine(), &address, &arg1, &arg2);
  call.setDint(0, static_cast<int32_t>(address));
  call.setDint(1, static_cast<int32_t>(arg1));
  call.setDint(2, static_cast<int32_t>(arg2));
  return 0;
}

int32_t clearLastError(const lib::Call &call) {
  call.setDint(0, VmClearLastError(call.machine()));
  return 0;
}

int32_t getHostWord376(const lib::Call &call) {
  call.setDint(0, hostRecordWord(call, 376));
  return 0;
}

int32_t getHostWord420(const lib::Call &call) {
  call.setDint(0, hostRecordWord(call, 420));
  return 0;
}

int32_t getCycleCount(const lib::Call &call) {
  call.setDint(0, call.machine()->cycleCount);
  return 0;
}

int32_t getHostWord408(const lib::Call &call) {
  call.setDint(0, hostRecordWord(call, 408));
  return 0;
}

}  // namespace sicvm::hostlib
