// SPDX-License-Identifier: MIT
// The primary's side of hot standby: after each cycle the runner hands the
// program's state to this class, and a sender thread of its own brings it
// to the standby, so that no cycle ever waits for the network.
//
// The hand-over is a swap of preallocated buffers under a lock that the
// sender holds only for a swap: afterCycle copies the state and returns.
// When the sender is behind, a newer state replaces the one not yet taken
// (the standby then receives the changes of two cycles in one message),
// so the queue is bounded at one state.
//
// The sender connects to the standby, says HELLO (image hash and size,
// state size, period) and waits for WELCOME; then it sends the latest
// state in full, and after that each new state as a DELTA against the one
// sent before, or in full when that is not larger. The standby counts as
// synchronised once it has acknowledged the full state. When the standby
// refuses, does not answer or takes no data for kSendTimeoutMs, it is lost:
// the primary logs that once and runs on, and tries again every
// kRetryMs; a standby that comes back starts over with a full state.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "standby/net.h"
#include "standby/state_map.h"
#include "standby/wire.h"

namespace sicvm::standby {

struct ImageIdentity {
  uint64_t hash = 0;  // FNV-1a 64 of the image file's bytes
  uint32_t size = 0;
};

using LogFunction = std::function<void(const std::string &)>;

class Primary {
 public:
  static constexpr int kConnectTimeoutMs = 1000, kAnswerTimeoutMs = 2000, kSendTimeoutMs = 1000, kRetryMs = 1000;

  Primary(const runner::Session &session, const Endpoint &standby, ImageIdentity image, int64_t periodMs,
          LogFunction log);
  ~Primary();  // as finish()
  Primary(const Primary &) = delete;
  Primary &operator=(const Primary &) = delete;

  // Takes the state after cycle `seq`; never waits for the sender.
  void afterCycle(uint64_t seq);
  // Gives the sender up to kSendTimeoutMs to send the last state and as long
  // again for its acknowledgement, then stops it and closes the connection.
  void finish();

  struct Counters {
    uint64_t states = 0, fulls = 0, bytes = 0;  // messages with a state, of them full, bytes of all frames sent
    uint64_t acked = 0;                         // the last seq the standby acknowledged
    uint64_t replaced = 0;                      // states replaced by a newer one before they were sent
  };
  Counters counters() const;
  // "standby 127.0.0.1:7000: 120 states sent (2 full), 5,064 bytes, 42.2 bytes a state; last acknowledged seq 120"
  std::string summary() const;
  size_t stateSize() const { return map_.size(); }

 private:
  void run();
  bool connectAndGreet(std::string &error);
  bool sendState(std::string &error);
  bool readAcks(std::string &error);
  void lose(const std::string &why);

  StateMap map_;
  Endpoint standby_;
  ImageIdentity image_;
  int64_t periodMs_;
  LogFunction log_;

  // Shared with the cycle thread, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<uint8_t> pending_;
  uint64_t pendingSeq_ = 0;
  uint32_t pendingAge_ = 0;
  bool hasPending_ = false, stop_ = false;
  Counters counters_;
  std::vector<uint8_t> scratch_;  // the cycle thread's, gathered outside the lock

  // The sender thread's own.
  std::thread thread_;
  int fd_ = -1;
  std::vector<uint8_t> latest_;  // the newest state taken from pending_
  uint64_t latestSeq_ = 0;
  uint32_t latestAge_ = 0;
  std::vector<uint8_t> sent_;    // what the standby holds; the base of the next DELTA
  uint64_t sentSeq_ = 0;
  bool needFull_ = true, synchronised_ = false;
  std::string lastProblem_;       // the last reason the standby could not be reached, logged once
  std::vector<uint8_t> frame_, body_;
  FrameReader reader_{kHeadSize + kMaxReason};
};

}  // namespace sicvm::standby
