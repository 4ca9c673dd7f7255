// SPDX-License-Identifier: MIT
#include "standby/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace sicvm::standby {

namespace {

bool resolve(const Endpoint &endpoint, sockaddr_in &address, std::string &error) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  int rc = getaddrinfo(endpoint.host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    error = "cannot resolve " + endpoint.host + ": " + gai_strerror(rc);
    return false;
  }
  std::memcpy(&address, found->ai_addr, sizeof address);
  address.sin_port = htons(endpoint.port);
  freeaddrinfo(found);
  return true;
}

void makeNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

bool parseEndpoint(const std::string &text, bool allowAnyPort, Endpoint &out, std::string &error) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    error = "expected HOST:PORT, found '" + text + "'";
    return false;
  }
  std::string port = text.substr(colon + 1);
  long value = -1;
  if (port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos) value = std::stol(port);
  if (value < (allowAnyPort ? 0 : 1) || value > 65535) {
    error = "the port in '" + text + "' must be a number from " + (allowAnyPort ? "0" : "1") + " to 65535";
    return false;
  }
  out.host = text.substr(0, colon);
  out.port = static_cast<uint16_t>(value);
  return true;
}

int64_t nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int listenOn(const Endpoint &endpoint, uint16_t &port, std::string &error) {
  sockaddr_in address{};
  if (!resolve(endpoint, address, error)) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(fd, 4) != 0) {
    error = "cannot listen on " + endpoint.text() + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  makeNonBlocking(fd);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

int connectWithin(const Endpoint &endpoint, int timeoutMs, std::string &error) {
  sockaddr_in address{};
  if (!resolve(endpoint, address, error)) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  makeNonBlocking(fd);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    error = std::strerror(errno);
    close(fd);
    return -1;
  }
  pollfd p{fd, POLLOUT, 0};
  int soError = 0;
  socklen_t length = sizeof soError;
  if (poll(&p, 1, timeoutMs) != 1) {
    error = "no answer within " + std::to_string(timeoutMs) + " ms";
  } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
    error = std::strerror(soError ? soError : errno);
  } else {
    return fd;
  }
  close(fd);
  return -1;
}

bool sendWithin(int fd, const uint8_t *bytes, size_t size, int timeoutMs, std::string &error) {
  int64_t deadline = nowMs() + timeoutMs;
  while (size > 0) {
    ssize_t n = send(fd, bytes, size, MSG_NOSIGNAL);
    if (n > 0) {
      bytes += n;
      size -= size_t(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      error = std::strerror(errno);
      return false;
    }
    int64_t left = deadline - nowMs();
    pollfd p{fd, POLLOUT, 0};
    if (left <= 0 || poll(&p, 1, int(left)) == 0) {
      error = "it took no data for " + std::to_string(timeoutMs) + " ms";
      return false;
    }
  }
  return true;
}

std::string peerName(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) return "?";
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

void closeSocket(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace sicvm::standby
