// SPDX-License-Identifier: MIT
#include "stats_file.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include "image_file.h"

namespace sicvm::tool {

StatsFile::~StatsFile() {
  if (file_) std::fclose(file_);
}

bool StatsFile::open(const std::string &path, const RunConfig &config, std::string &error) {
  for (const std::optional<std::string> &input :
       {std::optional<std::string>(config.image), config.host.pointsFile, config.host.nvramFile, config.symbols})
    if (input && !checkNotInput(*input, path, "input file", error)) return false;
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::fprintf(file_, "cycle,start_ms,jitter_us,exec_us,commands,status,error,overrun\n");
  return true;
}

void StatsFile::write(int64_t cycle, const CycleTiming &t, const runner::CycleResult &r) {
  if (!file_) return;
  std::fprintf(file_, "%lld,%.3f,%.1f,%.1f,%d,%u,%d,%d\n", static_cast<long long>(cycle), double(t.startNs) / 1e6,
               double(t.jitterNs) / 1e3, double(t.execNs) / 1e3, r.commands, r.runStatus, r.error, t.overrun ? 1 : 0);
  std::fflush(file_);
}

}  // namespace sicvm::tool
