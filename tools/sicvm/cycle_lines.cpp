// SPDX-License-Identifier: MIT
#include "cycle_lines.h"

namespace sicvm::tool {
namespace {

bool sameOutcome(const runner::CycleResult &a, const runner::CycleResult &b) {
  return a.commands == b.commands && a.runStatus == b.runStatus && a.error == b.error && a.address == b.address &&
         a.arg1 == b.arg1 && a.arg2 == b.arg2;
}

}  // namespace

std::optional<CycleLines::Mode> CycleLines::modeOf(const std::string &text) {
  if (text == "all") return Mode::kAll;
  if (text == "changes") return Mode::kChanges;
  if (text == "none") return Mode::kNone;
  return std::nullopt;
}

bool CycleLines::wanted(const runner::CycleResult &r) {
  switch (mode_) {
    case Mode::kAll: return true;
    case Mode::kNone: return false;
    case Mode::kChanges: break;
  }
  const bool changed = !last_ || !sameOutcome(*last_, r);
  last_ = r;
  return changed;
}

}  // namespace sicvm::tool
