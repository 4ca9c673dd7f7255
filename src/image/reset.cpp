// SPDX-License-Identifier: MIT
// VmResetMachine: back to the state in which a cycle starts.
#include "foundation/report.h"
#include "image/image.h"
#include "sicvm/vm.h"

extern "C" SICVM_API int32_t VmResetMachine(VmMachine *machine) {
  sicvm::Image image = sicvm::Image::of(machine);
  if (!image.ok()) return -1;
  machine->commandsRun = 0;
  machine->pc = 0;
  machine->callDepth = 0;
  machine->paramDepth = 0;
  machine->compareFlags = 0;
  machine->globalSegment = image.segmentLocation(0);
  machine->localSegment = 0;
  machine->localSegmentNo = 0;
  VmClearLastError(machine);
  if (sicvm::Word *status = image.runStatus()) *status = VM_RUNNING;
  return 0;
}
