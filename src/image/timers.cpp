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

namespace {

// The milliseconds the timers advance by: the distance of the host clock
// from the last reading, kept for the next update. Signed distance, widened
// before taking its size: a distance of -2^31 advances by 2^31 ms.
double elapsedSinceLastUpdate(VmMachine &machine) {
  const uint32_t now = SysGetClockCounter();
  const int64_t distance = static_cast<int32_t>(now - machine.lastClock);
  machine.lastClock = now;
  return static_cast<double>(std::llabs(distance));
}

void advanceVar(const Image &image, VmCell &cell, double elapsed, bool trace, uint32_t k, uint32_t i) {
  if (!(cell.flags & kTimerRunning)) return;
  cell.v.f64 += elapsed;
  if (trace)
    logProgram(image, kLevelTrace, ": Update timer var %d:%05d to %g ms - SUCCESS", int(k), int(i), double(cell.v.f64));
}

void advanceArray(const Image &image, VmCell *cells, uint32_t count, double elapsed, bool trace, uint32_t j) {
  // Element x is cell x: the element size plays no part here.
  for (uint32_t x = 0; x < count; ++x) {
    if (!(cells[x].flags & kTimerRunning)) continue;
    cells[x].v.f64 += elapsed;
    if (trace)
      logProgram(image, kLevelTrace, ": Update timer array %05d[%d] to %g ms  - SUCCESS", int(j), int(x),
                 double(cells[x].v.f64));
  }
}

}  // namespace

int32_t UpdateTimers(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  const double elapsed = elapsedSinceLastUpdate(*machine);
  const bool trace = logEnabled(kLevelTrace);  // asked once per update, not per timer

  forEachSegmentVar(image, [&](uint32_t k, uint32_t i, const VmVarRecord &record) {
    if (record.type != VM_TYPE_TIME) return;
    VmCell *cell = image.varCell(&record);
    if (cell != nullptr) advanceVar(image, *cell, elapsed, trace, k, i);
  });

  const uint32_t arrays = image.header()->arrayCount;
  for (uint32_t j = 0; j < arrays; ++j) {
    const VmArrayRecord *record = image.arrayRecord(j);
    if (record == nullptr || record->type != VM_TYPE_TIME) continue;
    // The cells were checked for this many elements.
    const uint32_t count = record->elementCount;
    VmCell *cells = image.arrayCells(record, count);
    if (cells != nullptr) advanceArray(image, cells, count, elapsed, trace, j);
  }
  return 0;
}

void advanceTimers(const Image &image, std::span<const TimerVar> vars, std::span<const TimerArray> arrays) noexcept {
  const double elapsed = elapsedSinceLastUpdate(*image.machine());
  const bool trace = logEnabled(kLevelTrace);
  uint8_t *base = image.base();
  for (const TimerVar &t : vars)
    advanceVar(image, *reinterpret_cast<VmCell *>(base + t.cell), elapsed, trace, t.segment, t.var);
  for (const TimerArray &t : arrays)
    advanceArray(image, reinterpret_cast<VmCell *>(base + t.cells), t.count, elapsed, trace, t.number);
}

}  // namespace sicvm

// Starts the machine's clock; timer values and running flags stay as they are.
extern "C" SICVM_API int32_t VmInitTimers(VmMachine *machine) {
  return sicvm::oneTimeStep(machine, VM_STATUS_TIMERS, "Timers",
                            [&](const sicvm::Image &) { machine->lastClock = SysGetClockCounter(); });
}
