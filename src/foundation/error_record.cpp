// SPDX-License-Identifier: MIT
// The per-machine error record: VmSetLastError, VmGetLastError, VmClearLastError.
#include "foundation/report.h"
#include "sicvm/vm.h"

// Image::of, the machine gate, answers for a machine whose error record
// is reachable, and sets the host error number 22 for any other.
using sicvm::Image;

extern "C" {

SICVM_API int32_t VmSetLastError(VmMachine *machine, int32_t code, uint32_t address, uint32_t arg1,
                                 uint32_t arg2) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  return sicvm::recordError(image, code, address, arg1, arg2);
}

SICVM_API int32_t VmGetLastError(VmMachine *machine, uint32_t *address, uint32_t *arg1,
                                 uint32_t *arg2) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  if (address) *address = *image.errorAddress();
  if (arg1) *arg1 = *image.errorArg1();
  if (arg2) *arg2 = *image.errorArg2();
  return *image.errorCode();
}

SICVM_API int32_t VmClearLastError(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  int32_t previous = *image.errorCode();
  *image.statusFlags() &= ~uint32_t(VM_STATUS_ERROR);
  *image.errorCode() = 0;
  *image.errorAddress() = 0;
  *image.errorArg1() = 0;
  *image.errorArg2() = 0;
  return previous;
}

}  // extern "C"
