// SPDX-License-Identifier: MIT
#include "standby/primary.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "standby/delta.h"

namespace sicvm::standby {

Primary::Primary(const runner::Session &session, const Endpoint &standby, ImageIdentity image, int64_t periodMs,
                 LogFunction log)
    : map_(session), standby_(standby), image_(image), periodMs_(periodMs), log_(std::move(log)) {
  pending_.resize(map_.size());
  scratch_.resize(map_.size());
  latest_.resize(map_.size());
  sent_.resize(map_.size());
  thread_ = std::thread([this] { run(); });
}

Primary::~Primary() { finish(); }

void Primary::afterCycle(uint64_t seq) {
  map_.gather(scratch_.data());
  uint32_t age = map_.clockAge();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.swap(scratch_);
    if (hasPending_) ++counters_.replaced;
    pendingSeq_ = seq;
    pendingAge_ = age;
    hasPending_ = true;
  }
  wake_.notify_one();
}

void Primary::finish() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

Primary::Counters Primary::counters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

std::string Primary::summary() const {
  Counters c = counters();
  char text[256];
  std::snprintf(text, sizeof text,
                "standby %s: %llu states sent (%llu full), %llu bytes, %.1f bytes a state; last acknowledged seq %llu",
                standby_.text().c_str(), static_cast<unsigned long long>(c.states),
                static_cast<unsigned long long>(c.fulls), static_cast<unsigned long long>(c.bytes),
                c.states ? double(c.bytes) / double(c.states) : 0.0, static_cast<unsigned long long>(c.acked));
  return text;
}

void Primary::lose(const std::string &why) {
  closeSocket(fd_);
  if (synchronised_)
    log_("standby " + standby_.text() + " lost: " + why + "; running on without it");
  else if (lastProblem_ != why)
    log_("standby " + standby_.text() + ": " + why + "; running on without it, trying again every " +
         std::to_string(kRetryMs) + " ms");
  lastProblem_ = why;
  synchronised_ = false;
  needFull_ = true;
}

bool Primary::connectAndGreet(std::string &error) {
  std::string why;
  fd_ = connectWithin(standby_, kConnectTimeoutMs, why);
  if (fd_ < 0) {
    error = "not reachable: " + why;
    return false;
  }
  reader_ = FrameReader(kHeadSize + kMaxReason);
  body_.clear();
  put64(body_, image_.hash);
  put32(body_, image_.size);
  put32(body_, static_cast<uint32_t>(map_.size()));
  put32(body_, static_cast<uint32_t>(periodMs_));
  frame_.clear();
  appendFrame(frame_, MessageType::HELLO, body_.data(), body_.size());
  if (!sendWithin(fd_, frame_.data(), frame_.size(), kSendTimeoutMs, why)) {
    error = "sending HELLO failed: " + why;
    return false;
  }
  int64_t deadline = nowMs() + kAnswerTimeoutMs;
  for (;;) {
    Frame frame;
    switch (reader_.next(frame, why)) {
      case FrameReader::Result::BAD: error = "it answered with " + why; return false;
      case FrameReader::Result::FRAME:
        if (frame.type == MessageType::REFUSE) {
          error = "refused: " + std::string(frame.payload.begin(), frame.payload.end());
          return false;
        }
        if (frame.type != MessageType::WELCOME || frame.payload.size() != 16) {
          error = std::string("it answered HELLO with ") + messageName(frame.type);
          return false;
        }
        if (get64(frame.payload.data()) != image_.hash || get32(frame.payload.data() + 8) != map_.size()) {
          error = "it runs another image or other point links";
          return false;
        }
        log_("standby " + standby_.text() + " connected; sending the full state");
        return true;
      case FrameReader::Result::MORE: break;
    }
    int64_t left = deadline - nowMs();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, int(left)) == 0) {
      error = "no answer to HELLO within " + std::to_string(kAnswerTimeoutMs) + " ms";
      return false;
    }
    uint8_t buffer[512];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
      error = n == 0 ? "it closed the connection" : std::strerror(errno);
      return false;
    }
    if (n > 0) reader_.feed(buffer, size_t(n));
  }
}

bool Primary::sendState(std::string &error) {
  body_.clear();
  frame_.clear();
  bool full = needFull_;
  if (!full) {
    put64(body_, latestSeq_);
    put64(body_, sentSeq_);
    put32(body_, latestAge_);
    put32(body_, 0);
    uint32_t runs = encodeDelta(sent_.data(), latest_.data(), latest_.size(), body_);
    std::memcpy(body_.data() + 20, &runs, 4);
    full = body_.size() >= 16 + latest_.size();  // a delta no smaller than the state: send the state
  }
  if (full) {
    body_.clear();
    put64(body_, latestSeq_);
    put32(body_, latestAge_);
    put32(body_, 0);
    body_.insert(body_.end(), latest_.begin(), latest_.end());
  }
  appendFrame(frame_, full ? MessageType::FULL : MessageType::DELTA, body_.data(), body_.size());
  if (!sendWithin(fd_, frame_.data(), frame_.size(), kSendTimeoutMs, error)) return false;
  sent_ = latest_;
  sentSeq_ = latestSeq_;
  needFull_ = false;
  std::lock_guard<std::mutex> lock(mutex_);
  ++counters_.states;
  if (full) ++counters_.fulls;
  counters_.bytes += frame_.size();
  return true;
}

bool Primary::readAcks(std::string &error) {
  uint8_t buffer[512];
  for (;;) {
    ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) {
      error = "it closed the connection";
      return false;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      error = std::strerror(errno);
      return false;
    }
    reader_.feed(buffer, size_t(n));
  }
  Frame frame;
  for (;;) {
    switch (reader_.next(frame, error)) {
      case FrameReader::Result::MORE: return true;
      case FrameReader::Result::BAD: return false;
      case FrameReader::Result::FRAME: break;
    }
    if (frame.type == MessageType::REFUSE) {
      error = "refused: " + std::string(frame.payload.begin(), frame.payload.end());
      return false;
    }
    if (frame.type != MessageType::ACK || frame.payload.size() != 8) {
      error = std::string("it sent ") + messageName(frame.type) + " where an ACK belongs";
      return false;
    }
    uint64_t seq = get64(frame.payload.data());
    {
      std::lock_guard<std::mutex> lock(mutex_);
      counters_.acked = seq;
    }
    if (!synchronised_) {
      synchronised_ = true;
      lastProblem_.clear();
      log_("standby " + standby_.text() + " synchronised at seq " + std::to_string(seq));
    }
  }
}

void Primary::run() {
  int64_t nextAttempt = 0;
  bool stopping = false;
  while (!stopping) {
    bool fresh = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // Wake for a new state, for stop, and now and then to read acks and
      // to retry a lost standby.
      wake_.wait_for(lock, std::chrono::milliseconds(fd_ < 0 ? 50 : 20), [this] { return hasPending_ || stop_; });
      if (hasPending_) {
        latest_.swap(pending_);
        latestSeq_ = pendingSeq_;
        latestAge_ = pendingAge_;
        hasPending_ = false;
        fresh = true;
      }
      stopping = stop_;
    }
    std::string error;
    if (fd_ < 0) {
      if (stopping || nowMs() < nextAttempt) continue;
      nextAttempt = nowMs() + kRetryMs;
      if (!connectAndGreet(error)) {
        lose(error);
        continue;
      }
      fresh = latestSeq_ > 0;  // the state already taken goes out in full at once
    }
    if (fresh && !sendState(error)) {
      lose("sending failed: " + error);
      continue;
    }
    if (!readAcks(error)) lose(error);
  }
  // A run that ends waits a little for the standby to acknowledge the last
  // state, so that the summary tells whether it arrived.
  int64_t deadline = nowMs() + kSendTimeoutMs;
  std::string error;
  while (fd_ >= 0 && counters().acked < sentSeq_ && nowMs() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, 20);
    if (!readAcks(error)) break;
  }
  closeSocket(fd_);
}

}  // namespace sicvm::standby
