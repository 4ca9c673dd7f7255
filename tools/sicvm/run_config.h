// SPDX-License-Identifier: MIT
// The settings of one `sicvm run`, read from its command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runner/session.h"

namespace sicvm::tool {

struct RunConfig {
  std::string image;              // the image file
  std::optional<std::string> symbols;  // --symbols: the symbol file, else IMAGE.sym when it exists
  int64_t cycles = -1;            // -1: until interrupted
  int64_t periodMs = 100;         // 0: back to back
  std::optional<std::string> statsFile;  // --stats: one CSV line per cycle
  std::optional<std::string> timeZone;   // --tz, as given
  bool step = false;
  bool watch = false;
  runner::SessionOptions host;    // points, shared memory, store, command limit
};

// Reads the options of `sicvm run`. Returns -1 when the run may go ahead;
// otherwise the exit status to end with (the usage text was printed for
// --help, an error message for bad options).
int readRunConfig(const std::vector<std::string> &args, RunConfig &config);

}  // namespace sicvm::tool
