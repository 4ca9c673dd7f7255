// SPDX-License-Identifier: MIT
// VmInitTimers and the timer update.
#include "image/timers.h"

#include <cstdlib>

#include "foundation/report.h"
#include "hostrt/sys.h"
#include "image/prepared.h"
#include "image/var_walk.h"
#include "sicvm/vm.h"

namespace sicvm {

int32_t UpdateTimers(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  const uint32_t now = SysGetClockCounter();
  // Signed distance, widened before taking its size: a distance of -2^31
  // advances by 2^31 ms.
  const int64_t distance = static_cast<int32_t>(now - machine->lastClock);
  machine->lastClock = now;
  const double elapsed = static_cast<double>(std::llabs(distance));
  const bool trace = logEnabled(kLevelTrace);  // asked once per update, not per timer

  forEachSegmentVar(image, [&](uint32_t k, uint32_t i, const VmVarRecord &record) {
    if (record.type != VM_TYPE_TIME) return;
    VmCell *cell = image.varCell(&record);
    if (cell == nullptr || !(cell->flags & kTimerRunning)) return;
    cell->v.f64 += elapsed;
    if (trace)
      logProgram(image, kLevelTrace, ": Update timer var %d:%05d to %g ms - SUCCESS", int(k), int(i),
               double(cell->v.f64));
  });

  const uint32_t arrays = image.header()->arrayCount;
  for (uint32_t j = 0; j < arrays; ++j) {
    const VmArrayRecord *record = image.arrayRecord(j);
    if (record == nullptr || record->type != VM_TYPE_TIME) continue;
    // The cells were checked for this many elements.
    const uint32_t count = record->elementCount;
    VmCell *cells = image.arrayCells(record, count);
    if (cells == nullptr) continue;
    // Element x is cell x: the element size plays no part here.
    for (uint32_t x = 0; x < count; ++x) {
      if (!(cells[x].flags & kTimerRunning)) continue;
      cells[x].v.f64 += elapsed;
      if (trace)
        logProgram(image, kLevelTrace, ": Update timer array %05d[%d] to %g ms  - SUCCESS", int(j),
                 int(x), double(cells[x].v.f64));
    }
  }
  return 0;
}

}  // namespace sicvm

// Starts the machine's clock; timer values and running flags stay as they are.
extern "C" SICVM_API int32_t VmInitTimers(VmMachine *machine) {
  return sicvm::oneTimeStep(machine, VM_STATUS_TIMERS, "Timers",
                            [&](const sicvm::Image &) { machine->lastClock = SysGetClockCounter(); });
}
