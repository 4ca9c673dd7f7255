// SPDX-License-Identifier: MIT
// The one-time set-up steps.
#pragma once

#include "foundation/report.h"
#include "image/image.h"

namespace sicvm {

// A set-up step done once per image, marked by `bit` in statusFlags (which
// neither a reset nor a second set-up clears): when the bit is set, logs
// "<what> already initialized" at level 5 and does nothing; otherwise runs
// step(image), sets the bit and logs "<what> init successful" at level 10.
// Returns 0; -1 with host error number 22 for a null machine.
template <class Step>
int32_t oneTimeStep(VmMachine *machine, uint32_t bit, const char *what, Step step) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  Word *flags = image.statusFlags();
  if (*flags & bit) {
    logProgram(image, kLevelNotice, ": %s already initialized\n", what);
    return 0;
  }
  step(image);
  *flags |= bit;
  logProgram(image, kLevelInfo, ": %s init successful\n", what);
  return 0;
}

}  // namespace sicvm
