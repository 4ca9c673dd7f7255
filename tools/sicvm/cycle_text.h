// SPDX-License-Identifier: MIT
// Texts of a cycle's outcome: its run status and its error record.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "runner/session.h"

namespace sicvm::tool {

// "cycle complete", "end marker", "stopped by an error", ...
const char *statusText(uint32_t status);

// What an error code means, from the library's own message table: the text
// of its first message up to its details, with the parts it fills in at run
// time shown as "..." ("array element index out of bounds", "... DS is out of
// range"); "unknown error" for a code the library never records.
std::string errorTitle(int32_t code);

// "no error", or "error 8 at 00001 (8, 0): array element index out of
// bounds": code, address, the two detail words and the code's title.
std::string errorText(const runner::CycleResult &r);

// The counts of a run for its summary line.
struct RunTally {
  int64_t cycles = 0, commands = 0, withErrors = 0;
  std::map<int32_t, int64_t> errorCycles;  // cycles that ended with each error code
  bool fatal = false;                      // the last cycle stopped with a fatal error

  void add(const runner::CycleResult &r);
  // "12 cycles, 276 commands, 2 cycles with an error (error 8 array element
  // index out of bounds: 2); stopped by a fatal error; interrupted"
  std::string summary(bool interrupted) const;
};

}  // namespace sicvm::tool
