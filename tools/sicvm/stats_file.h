// SPDX-License-Identifier: MIT
// The --stats file of `sicvm run`: one CSV line per cycle
// (cycle,start_ms,jitter_us,exec_us,commands,status,error,overrun), flushed
// as it is written so that a run that is killed keeps every cycle it finished.
#pragma once

#include <cstdio>
#include <string>

#include "pacer.h"
#include "run_config.h"
#include "runner/session.h"

namespace sicvm::tool {

class StatsFile {
 public:
  StatsFile() = default;
  StatsFile(const StatsFile &) = delete;
  StatsFile &operator=(const StatsFile &) = delete;
  ~StatsFile();

  // Creates the file with its header line; refuses a path that is one of the
  // run's own input files (image, points, store, symbols).
  bool open(const std::string &path, const RunConfig &config, std::string &error);
  // One line; nothing when no file is open.
  void write(int64_t cycle, const CycleTiming &t, const runner::CycleResult &r);

 private:
  FILE *file_ = nullptr;
};

}  // namespace sicvm::tool
