// SPDX-License-Identifier: MIT
// VmInitHostTypes.
#include "image/prepared.h"
#include "sicvm/vm.h"

// The image already stores every LREAL, TIME and DT value (vars, array cells
// and constants in commands) as the IEEE double that the machine computes
// with, so bringing the image into the host's representation changes no
// value: the step only marks the machine.
extern "C" SICVM_API int32_t VmInitHostTypes(VmMachine *machine) {
  return sicvm::oneTimeStep(machine, VM_STATUS_HOST_TYPES, "Host types", [](const sicvm::Image &) {});
}
