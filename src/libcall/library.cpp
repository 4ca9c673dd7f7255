// SPDX-License-Identifier: MIT
// The dispatcher shared by the function libraries.
#include "libcall/library.h"

#include <algorithm>

#include "foundation/report.h"

namespace sicvm::lib {

void Call::fail(const Message<> &message) const noexcept {
  raise(image_, message, machine_->pc, 0, 0);
}

const Row *findRow(std::span<const Row> table, int32_t number) noexcept {
  auto it = std::lower_bound(table.begin(), table.end(), number,
                             [](const Row &row, int32_t n) { return row.number < n; });
  return it != table.end() && it->number == number ? &*it : nullptr;
}

namespace {

// Execute mode: the cells the call may touch must exist from `first` on.
bool frameHasRoom(const Row &row, int32_t count, int32_t first, int32_t nin, int32_t nout) {
  if (first < 0) return false;
  int64_t need = std::max<int64_t>(int64_t(nin) + nout, row.cells);
  return int64_t(count) - first >= need;
}

}  // namespace

int32_t dispatch(std::span<const Row> table, int32_t mode, int32_t function, VmCell *frame,
                 int32_t count, int32_t first, int32_t nin, int32_t nout, VmMachine *machine) {
  const Row *row = findRow(table, function);
  if (row == nullptr) return kUnknown;
  bool execute = mode != 0;
  if (row->handOn != nullptr) {
    if (!execute) return row->handOn(0, function, nullptr, nin, nout);
    if (frame == nullptr) return kNoMachine;
    if (!frameHasRoom(*row, count, first, nin, nout)) return kCountMismatch;
    return row->handOn(mode, function, frame + first, nin, nout);
  }
  if (nin < row->minInputs || nin > row->maxInputs || nout != row->outputs) return kCountMismatch;
  if (!execute) return kDone;
  Image image = Image::of(machine);
  if (!image.ok() || frame == nullptr) return kNoMachine;
  if (!frameHasRoom(*row, count, first, nin, nout)) return kCountMismatch;
  if (row->run == nullptr) return kNotAvailable;
  return row->run(Call(frame + first, nin, nout, machine, image));
}

}  // namespace sicvm::lib
