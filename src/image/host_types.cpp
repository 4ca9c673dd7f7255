// VmInitHostTypes.
#include "foundation/report.h"
#include "image/prepared.h"
#include "sicvm/vm.h"

// The image already stores every LREAL, TIME and DT value (vars, array cells
// and constants in commands) as the IEEE double that the machine computes
// with, so bringing the image into the host's representation changes no
// value: the step only marks the machine.
extern "C" SICVM_API int32_t VmInitHostTypes(VmMachine *machine) {
  using namespace sicvm;
  Image image = preparedImage(machine);
  if (!image.ok()) return -1;
  Word *flags = image.statusFlags();
  if (*flags & VM_STATUS_HOST_TYPES) {
    logProgram(image, kLevelNotice, ": Host types already initialized\n");
    return 0;
  }
  *flags |= VM_STATUS_HOST_TYPES;
  logProgram(image, kLevelInfo, ": Host types init successful\n");
  return 0;
}
