// SPDX-License-Identifier: MIT
// `sicvm run --primary` and `--standby`: the runner's end of hot standby.
// A primary hands each cycle's state to the sender; a standby serves its
// primary until it takes over, and the run's cycles then go on from there.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "run_config.h"
#include "runner/session.h"
#include "standby/primary.h"
#include "standby/standby.h"

namespace sicvm::tool {

class HotStandby {
 public:
  // The identity a primary and its standby compare: the image file's bytes
  // as read, before set-up writes its locations into them.
  static standby::ImageIdentity identify(const std::vector<uint8_t> &imageFile);

  // For a run with --primary or --standby, the started end in `out` (none
  // otherwise); false with a message when the standby cannot listen.
  static bool start(const RunConfig &config, const runner::Session &session, standby::ImageIdentity image,
                    std::unique_ptr<HotStandby> &out, std::string &error);

  // A standby serves its primary until it takes over (true) or `stop` turns
  // true (false); a primary returns true at once.
  bool waitForTakeover(const std::atomic<bool> &stop);
  // After cycle `cycle` of this run: a primary hands the state on.
  void afterCycle(int64_t cycle);
  // Ends the primary's sending; a line for the run's summary.
  std::string finish();

 private:
  std::unique_ptr<standby::Primary> primary_;
  std::unique_ptr<standby::Standby> standby_;
  bool tookOver_ = false;
};

}  // namespace sicvm::tool
