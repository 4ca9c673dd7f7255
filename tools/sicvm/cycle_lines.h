// SPDX-License-Identifier: MIT
// Which cycles `sicvm run` prints its cycle line for (--cycle-lines).
//
// Printing a line costs more than the cycle of a small program itself, so a
// long or fast run can print only the cycles whose outcome changed: the
// first cycle, and every cycle whose command count, run status or error
// record (code, address, detail words) differs from the cycle before it.
// The summary at the end counts every cycle either way.
#pragma once

#include <optional>
#include <string>

#include "runner/session.h"

namespace sicvm::tool {

class CycleLines {
 public:
  enum class Mode { kAll, kChanges, kNone };

  // "all", "changes" or "none"; nothing for any other text.
  static std::optional<Mode> modeOf(const std::string &text);

  explicit CycleLines(Mode mode) : mode_(mode) {}
  // Whether the line of the cycle with outcome `r` is printed; call once per cycle, in order.
  bool wanted(const runner::CycleResult &r);

 private:
  Mode mode_;
  std::optional<runner::CycleResult> last_;
};

}  // namespace sicvm::tool
