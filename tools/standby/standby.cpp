// SPDX-License-Identifier: MIT
#include "standby/standby.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "standby/delta.h"

namespace sicvm::standby {

namespace {
constexpr size_t kHelloSize = 20, kFullHead = 16, kDeltaHead = 24;
}

Standby::Standby(const runner::Session &session, ImageIdentity image, int64_t takeoverAfterMs, LogFunction log)
    : map_(session), image_(image), takeoverAfterMs_(takeoverAfterMs), log_(std::move(log)) {
  state_.resize(map_.size());
  // The largest frame a primary of this program may send: a delta whose runs
  // cover every byte one at a time is far larger than the state, but the
  // primary sends the state in full whenever a delta would not be smaller.
  maxFrame_ = static_cast<uint32_t>(std::min<size_t>(kFullHead + map_.size() + 64, kMaxPayload));
}

Standby::~Standby() {
  for (Connection &c : connections_) closeSocket(c.fd);
  closeSocket(listener_);
}

bool Standby::listen(const Endpoint &at, std::string &error) {
  listener_ = listenOn(at, port_, error);
  return listener_ >= 0;
}

void Standby::refuse(Connection &c, const std::string &reason) {
  std::vector<uint8_t> frame;
  appendFrame(frame, MessageType::REFUSE, reinterpret_cast<const uint8_t *>(reason.data()),
              std::min(reason.size(), kMaxReason));
  std::string ignored;
  sendWithin(c.fd, frame.data(), frame.size(), 100, ignored);
  drop(c, "refused: " + reason);
}

void Standby::drop(Connection &c, const std::string &why) {
  log_("standby: dropped the connection from " + c.peer + ": " + why + "; nothing of it applied");
  closeSocket(c.fd);
}

void Standby::accept() {
  for (;;) {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    Connection c;
    c.fd = fd;
    c.peer = peerName(fd);
    c.reader.setMaxPayload(maxFrame_);
    c.helloDeadline = nowMs() + kHelloTimeoutMs;
    if (connections_.size() >= size_t(kMaxConnections)) {
      refuse(c, "too many connections");
      continue;
    }
    connections_.push_back(std::move(c));
  }
}

bool Standby::applyState(Connection &c, const Frame &frame, std::string &error) {
  const std::vector<uint8_t> &p = frame.payload;
  if (frame.type == MessageType::FULL) {
    if (p.size() != kFullHead + state_.size()) {
      error = "a FULL state of " + std::to_string(p.size() - std::min(p.size(), kFullHead)) + " bytes, this program's has " +
              std::to_string(state_.size());
      return false;
    }
    std::memcpy(state_.data(), p.data() + kFullHead, state_.size());
    if (!synchronised_) log_("standby: synchronised with the primary " + c.peer + " at seq " + std::to_string(get64(p.data())));
    synchronised_ = true;
  } else {
    if (p.size() < kDeltaHead) {
      error = "a DELTA of " + std::to_string(p.size()) + " bytes is too short";
      return false;
    }
    uint64_t seq = get64(p.data()), base = get64(p.data() + 8);
    if (!synchronised_ || base != appliedSeq_ || seq <= base) {
      error = "a DELTA from seq " + std::to_string(base) + " to " + std::to_string(seq) + ", while the state held is " +
              (synchronised_ ? "seq " + std::to_string(appliedSeq_) : std::string("none"));
      return false;
    }
    if (!applyDelta(state_.data(), state_.size(), p.data() + kDeltaHead, p.size() - kDeltaHead,
                    get32(p.data() + 20), error))
      return false;
  }
  appliedSeq_ = get64(p.data());
  map_.scatter(state_.data());
  map_.setClockAge(get32(p.data() + (frame.type == MessageType::FULL ? 8 : 16)));
  ++applied_;
  lastApplied_ = nowMs();
  std::vector<uint8_t> ack, body;
  put64(body, appliedSeq_);
  appendFrame(ack, MessageType::ACK, body.data(), body.size());
  if (!sendWithin(c.fd, ack.data(), ack.size(), 100, error)) {
    error = "sending ACK failed: " + error;
    return false;
  }
  return true;
}

bool Standby::handle(Connection &c, const Frame &frame, std::string &error) {
  if (!c.primary) {
    if (frame.type != MessageType::HELLO || frame.payload.size() != kHelloSize) {
      error = std::string("a ") + messageName(frame.type) + " message where a HELLO belongs";
      return false;
    }
    const uint8_t *p = frame.payload.data();
    char reason[300];
    if (get64(p) != image_.hash || get32(p + 8) != image_.size) {
      std::snprintf(reason, sizeof reason,
                    "another image: the primary runs one of %u bytes with hash %016llx, this standby one of %u bytes "
                    "with hash %016llx",
                    get32(p + 8), static_cast<unsigned long long>(get64(p)), image_.size,
                    static_cast<unsigned long long>(image_.hash));
    } else if (get32(p + 12) != state_.size()) {
      std::snprintf(reason, sizeof reason,
                    "the state differs: the primary's has %u bytes, this standby's %zu (other output point links)",
                    get32(p + 12), state_.size());
    } else if (std::any_of(connections_.begin(), connections_.end(),
                           [](const Connection &o) { return o.primary && o.fd >= 0; })) {
      std::snprintf(reason, sizeof reason, "another primary is connected");
    } else {
      reason[0] = 0;
    }
    if (reason[0]) {
      refuse(c, reason);
      return true;  // refuse() has logged and closed it
    }
    std::vector<uint8_t> body, welcome;
    put64(body, image_.hash);
    put32(body, static_cast<uint32_t>(state_.size()));
    put32(body, static_cast<uint32_t>(takeoverAfterMs_));
    appendFrame(welcome, MessageType::WELCOME, body.data(), body.size());
    if (!sendWithin(c.fd, welcome.data(), welcome.size(), 100, error)) return false;
    c.primary = true;
    log_("standby: primary " + c.peer + " connected");
    return true;
  }
  if (frame.type != MessageType::FULL && frame.type != MessageType::DELTA) {
    error = std::string("a ") + messageName(frame.type) + " message where a state belongs";
    return false;
  }
  return applyState(c, frame, error);
}

bool Standby::receive(Connection &c) {
  uint8_t buffer[16384];
  std::string error;
  // At most 64 reads a call, so that a sender that never pauses cannot keep
  // the standby from looking at its other connections and its clock.
  for (int reads = 0; reads < 64; ++reads) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      c.reader.feed(buffer, size_t(n));
      // Cut and handle frames as they come, so that a bad one is refused
      // before more of it is read.
      Frame frame;
      for (;;) {
        FrameReader::Result r = c.reader.next(frame, error);
        if (r == FrameReader::Result::MORE) break;
        if (r == FrameReader::Result::BAD || !handle(c, frame, error)) {
          drop(c, error);
          return false;
        }
        if (c.fd < 0) return false;
      }
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    std::string cut = c.reader.cutOff();
    if (!cut.empty()) {
      drop(c, "the connection ended inside " + cut);
    } else {
      if (c.primary) log_("standby: the primary " + c.peer + " closed the connection");
      closeSocket(c.fd);
    }
    return false;
  }
  return true;
}

bool Standby::serve(int waitMs) {
  std::vector<pollfd> fds;
  fds.push_back({listener_, POLLIN, 0});
  for (const Connection &c : connections_) fds.push_back({c.fd, POLLIN, 0});
  int64_t now = nowMs();
  if (synchronised_) waitMs = int(std::clamp<int64_t>(lastApplied_ + takeoverAfterMs_ - now + 1, 0, waitMs));
  poll(fds.data(), fds.size(), waitMs);
  for (size_t i = 0; i < connections_.size(); ++i)
    if (fds[i + 1].revents) receive(connections_[i]);
  now = nowMs();
  for (Connection &c : connections_)
    if (c.fd >= 0 && !c.primary && now > c.helloDeadline)
      drop(c, "no HELLO within " + std::to_string(kHelloTimeoutMs) + " ms");
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(), [](const Connection &c) { return c.fd < 0; }),
                     connections_.end());
  if (fds[0].revents) accept();
  return synchronised_ && nowMs() - lastApplied_ >= takeoverAfterMs_;
}

bool Standby::waitForTakeover(const std::atomic<bool> &stop) {
  while (!stop) {
    if (serve(100)) {
      takeOver();
      return true;
    }
  }
  return false;
}

void Standby::takeOver() {
  int64_t silent = nowMs() - lastApplied_;
  for (Connection &c : connections_) closeSocket(c.fd);
  connections_.clear();
  closeSocket(listener_);
  map_.writePoints(state_.data());
  log_("standby: no state from the primary for " + std::to_string(silent) + " ms; taking over from seq " +
       std::to_string(appliedSeq_));
}

}  // namespace sicvm::standby
