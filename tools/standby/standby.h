// SPDX-License-Identifier: MIT
// The standby's side of hot standby: a runner that has set its program up
// listens for a primary, holds the last state the primary sent, and runs no
// cycle and writes no point until the primary has been silent for
// `takeover-after` milliseconds.
//
// Connections: up to kMaxConnections at once; each must say HELLO within
// kHelloTimeoutMs. A HELLO is accepted (WELCOME) when the image hash and size
// and the state size are this runner's and no other primary is connected;
// otherwise it is answered with REFUSE and a reason, logged, and closed.
// Anything that is not a frame of the protocol (a wrong magic, version,
// type, size or checksum), a state that does not fit, a DELTA whose base is
// not the state held, and a connection that ends inside a frame, are
// logged and the connection dropped; nothing of such a message is applied.
//
// A state (FULL, or DELTA against the state held) is applied as one unit:
// it is checked completely first, then written into the state held and
// into the machine, and acknowledged (ACK with its seq). The standby is
// synchronised once it holds a full state.
//
// Alive: the primary counts as alive while its states keep coming. The
// standby takes over when it is synchronised and no state has been
// applied for `takeover-after` ms, also when the connection has closed
// (a primary that was stopped on purpose is silent as well). A standby
// that never received a full state never takes over: it has no state to
// go on from.
//
// Takeover: the listener and every connection are closed, the output
// points get the values of the last state, and the runner goes on with its
// cycles; the machine's timers advance by the time since the primary took
// that state.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "standby/net.h"
#include "standby/primary.h"
#include "standby/state_map.h"
#include "standby/wire.h"

namespace sicvm::standby {

class Standby {
 public:
  static constexpr int kMaxConnections = 4;
  static constexpr int kHelloTimeoutMs = 2000;

  Standby(const runner::Session &session, ImageIdentity image, int64_t takeoverAfterMs, LogFunction log);
  ~Standby();
  Standby(const Standby &) = delete;
  Standby &operator=(const Standby &) = delete;

  // Opens the listener; false with a message. port() is the bound port.
  bool listen(const Endpoint &at, std::string &error);
  uint16_t port() const { return port_; }

  // Serves the connections for up to `waitMs` ms; true when it is time to
  // take over.
  bool serve(int waitMs);
  // Serves until takeover (true, after takeOver()) or until `stop` turns
  // true (false).
  bool waitForTakeover(const std::atomic<bool> &stop);
  // Closes every socket and writes the output points of the state held.
  void takeOver();

  bool synchronised() const { return synchronised_; }
  uint64_t appliedSeq() const { return appliedSeq_; }
  uint64_t applied() const { return applied_; }  // states applied so far

 private:
  struct Connection {
    int fd = -1;
    std::string peer;
    FrameReader reader;
    bool primary = false;  // said HELLO and was welcomed
    int64_t helloDeadline = 0;
  };
  void accept();
  // Reads what has arrived; false when the connection is to be dropped.
  bool receive(Connection &c);
  bool handle(Connection &c, const Frame &frame, std::string &error);
  bool applyState(Connection &c, const Frame &frame, std::string &error);
  void refuse(Connection &c, const std::string &reason);
  void drop(Connection &c, const std::string &why);

  StateMap map_;
  ImageIdentity image_;
  int64_t takeoverAfterMs_;
  LogFunction log_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::vector<Connection> connections_;
  std::vector<uint8_t> state_;
  bool synchronised_ = false;
  uint64_t appliedSeq_ = 0, applied_ = 0;
  int64_t lastApplied_ = 0;  // nowMs() of the last state applied
  uint32_t maxFrame_;
};

}  // namespace sicvm::standby
