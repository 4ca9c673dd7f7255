// SPDX-License-Identifier: MIT
// VmVerifyVars and VmVerifyArrays: checks of the data declarations.
//
// Both report every fault they find (recorded, logged at level 4 and
// counted), never stop at the first, and end with a summary at level 10.
// They change nothing in the image but the error record. A segment table
// slot, var record, cell or array record that does not lie where it must
// (only a host that wrote over them could make it so) is skipped.
#include "foundation/report.h"
#include "image/var_walk.h"
#include "sicvm/vm.h"

using sicvm::Image;

namespace {

int32_t summary(const Image &image, int32_t errors, const char *what) {
  if (errors != 0) {
    sicvm::logProgram(image, sicvm::kLevelInfo, ": %s verification failed, found %d errors\n", what,
                      errors);
    return -1;
  }
  sicvm::logProgram(image, sicvm::kLevelInfo, ": %s verification successful\n", what);
  return 0;
}

}  // namespace

extern "C" {

// Every var of every data segment: its class must be 1 to 7, and an array
// reference (class 5) must name segment index 0 or 1 and a relative array
// number that is not negative. Both tests apply to each var independently.
SICVM_API int32_t VmVerifyVars(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  int32_t errors = 0;
  sicvm::forEachSegmentVar(image, [&](uint32_t k, uint32_t i, const VmVarRecord &record) {
    uint32_t typeClass = record.classByte & VM_CLASS_MASK;
    if (typeClass == 0 || typeClass > 7) {
      sicvm::raiseForVar(image, sicvm::msg::kUnknownTypeClass, 0, k, typeClass, k, i,
                         static_cast<int>(typeClass));
      ++errors;
    }
    if (typeClass != VM_CLASS_ARRAY_REF) return;
    const VmCell *cell = image.varCell(&record);
    if (cell == nullptr) return;
    uint32_t segmentIndex = cell->v.w[0];
    int32_t relative = static_cast<int32_t>(cell->v.w[1]);
    if (segmentIndex > 1 || relative < 0) {
      sicvm::raiseForVar(image, sicvm::msg::kInvalidArrayAddress, k, segmentIndex,
                         static_cast<uint32_t>(relative), k, i, static_cast<int>(segmentIndex), relative);
      ++errors;
    }
  });
  return summary(image, errors, "Variables");
}

// Every array record: element size and element count must not be 0.
SICVM_API int32_t VmVerifyArrays(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  int32_t errors = 0;
  for (uint32_t j = 0; j < image.header()->arrayCount; ++j) {
    const VmArrayRecord *record = image.arrayRecord(j);
    if (record == nullptr) continue;
    if (record->elementSize == 0) {
      sicvm::raiseForArray(image, sicvm::msg::kInvalidElementSize, 0, j, record->elementSize, j,
                           static_cast<int>(record->elementSize));
      ++errors;
    }
    if (record->elementCount == 0) {
      sicvm::raiseForArray(image, sicvm::msg::kInvalidElementCount, 0, j, record->elementCount, j,
                           static_cast<int>(record->elementCount));
      ++errors;
    }
  }
  return summary(image, errors, "Arrays");
}

}  // extern "C"
