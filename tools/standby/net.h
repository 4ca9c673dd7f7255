// SPDX-License-Identifier: MIT
// The few socket operations hot standby needs: endpoints written as
// HOST:PORT, a listening socket, a connect with a time limit, and writes
// and reads that never wait longer than they are told.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sicvm::standby {

struct Endpoint {
  std::string host;  // IPv4 address or host name, as written
  uint16_t port = 0;
  std::string text() const { return host + ":" + std::to_string(port); }
};

// "HOST:PORT" with a port in 1..65535 (0 too when `allowAnyPort`, for a
// listener that takes a free port); false with a message otherwise.
bool parseEndpoint(const std::string &text, bool allowAnyPort, Endpoint &out, std::string &error);

// Monotonic milliseconds.
int64_t nowMs();

// A non-blocking listening socket bound to the endpoint (SO_REUSEADDR);
// -1 with a message. `port` receives the bound port.
int listenOn(const Endpoint &endpoint, uint16_t &port, std::string &error);

// A connected non-blocking socket, or -1 with a message when the connection
// is refused or not made within `timeoutMs`.
int connectWithin(const Endpoint &endpoint, int timeoutMs, std::string &error);

// Writes all `size` bytes within `timeoutMs`; false with a message when the
// peer is gone or does not take them in time.
bool sendWithin(int fd, const uint8_t *bytes, size_t size, int timeoutMs, std::string &error);

// "127.0.0.1:40312", the peer of a connected socket.
std::string peerName(int fd);

void closeSocket(int &fd);

}  // namespace sicvm::standby
