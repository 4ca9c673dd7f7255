// SPDX-License-Identifier: MIT
#include "hot_standby.h"

#include <cstdio>

#include "symbols/symbols.h"

namespace sicvm::tool {

namespace {

void logLine(const std::string &line) {
  std::fprintf(stderr, "sicvm run: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

standby::ImageIdentity HotStandby::identify(const std::vector<uint8_t> &imageFile) {
  return {symbols::imageHash(imageFile.data(), imageFile.size()), static_cast<uint32_t>(imageFile.size())};
}

bool HotStandby::start(const RunConfig &config, const runner::Session &session, standby::ImageIdentity image,
                       std::unique_ptr<HotStandby> &out, std::string &error) {
  out.reset();
  if (config.primaryOf) {
    out.reset(new HotStandby);
    out->primary_ = std::make_unique<standby::Primary>(session, *config.primaryOf, image, config.periodMs, logLine);
    logLine("primary: state of " + std::to_string(out->primary_->stateSize()) + " bytes for the standby " +
            config.primaryOf->text());
  } else if (config.standbyAt) {
    out.reset(new HotStandby);
    out->standby_ = std::make_unique<standby::Standby>(session, image, config.takeoverAfterMs, logLine);
    if (!out->standby_->listen(*config.standbyAt, error)) return false;
    logLine("standby: listening on " + config.standbyAt->host + ":" + std::to_string(out->standby_->port()) +
            ", taking over after " + std::to_string(config.takeoverAfterMs) + " ms without a state");
  }
  return true;
}

bool HotStandby::waitForTakeover(const std::atomic<bool> &stop) {
  if (!standby_) return true;
  tookOver_ = standby_->waitForTakeover(stop);
  return tookOver_;
}

void HotStandby::afterCycle(int64_t cycle) {
  if (primary_) primary_->afterCycle(static_cast<uint64_t>(cycle));
}

std::string HotStandby::finish() {
  if (primary_) {
    primary_->finish();
    return primary_->summary();
  }
  return std::string(tookOver_ ? "standby: took over" : "standby: stopped before taking over") + " with seq " +
         std::to_string(standby_->appliedSeq()) + " (" + std::to_string(standby_->applied()) + " states applied)";
}

}  // namespace sicvm::tool
