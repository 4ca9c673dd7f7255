// SPDX-License-Identifier: MIT
// The settings of one `sicvm run`, read from its command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "modbus_server.h"
#include "cycle_lines.h"
#include "runner/session.h"
#include "standby/net.h"

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
  bool reload = false;            // --reload: online change when IMAGE is replaced or on SIGHUP
  CycleLines::Mode cycleLines = CycleLines::Mode::kAll;  // --cycle-lines
  runner::SessionOptions host;    // points, shared memory, store, command limit
  std::optional<modbus::ServerOptions> modbus;  // --modbus HOST:PORT and the options that go with it
  std::string modbusMap;          // --modbus-map: the map file
  std::optional<standby::Endpoint> primaryOf;  // --primary: the standby this run sends its state to
  std::optional<standby::Endpoint> standbyAt;  // --standby: listen here and wait as the standby
  int64_t takeoverAfterMs = 0;    // --takeover-after, or its default
};

// Reads the options of `sicvm run`. Returns -1 when the run may go ahead;
// otherwise the exit status to end with (the usage text was printed for
// --help, an error message for bad options).
int readRunConfig(const std::vector<std::string> &args, RunConfig &config);

}  // namespace sicvm::tool
