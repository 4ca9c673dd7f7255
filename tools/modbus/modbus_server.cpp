// SPDX-License-Identifier: MIT
#include "modbus_server.h"

#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "modbus_values.h"
#include "sicvm/points.h"

namespace sicvm::modbus {
namespace {

constexpr int kByteTimeoutUs = 500000;  // longest pause between two bytes of a request
constexpr int kSendTimeoutS = 2;        // a reply the client does not take in this time ends it
constexpr int kAcceptPollMs = 1000;     // how often the accept loop reaps ended connections
constexpr int kServerNice = 5;          // the server's threads run this much nicer than the cycle

// Reads exactly `count` bytes, none more than the byte timeout after the last.
bool readExact(int fd, uint8_t *into, size_t count) {
  while (count > 0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kByteTimeoutUs / 1000) <= 0) return false;
    ssize_t got = recv(fd, into, count, 0);
    if (got <= 0) return false;
    into += got;
    count -= size_t(got);
  }
  return true;
}

// Blocks SIGINT and SIGTERM on the calling thread for its lifetime, so that
// threads started meanwhile inherit the mask; restores the old mask after.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

// Lowers the calling thread's scheduling priority (Linux sets nice per
// thread), so that where CPU is short the cycle's thread runs first.
void yieldToTheCycle() {
  pid_t self = pid_t(syscall(SYS_gettid));
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, id_t(self));
  if (errno == 0) setpriority(PRIO_PROCESS, id_t(self), std::min(nice + kServerNice, 19));
}

}  // namespace

struct ModbusServer::Snapshot {
  std::vector<uint8_t> bits[2];      // coil, discrete
  std::vector<uint16_t> registers[2];  // input, holding
};

struct ModbusServer::Connection {
  int socket = -1;  // -1 once closed (under connectionsMutex_)
  std::atomic<bool> done{false};
  std::thread thread;
};

ModbusServer::ModbusServer(ModbusMap map, ServerOptions options)
    : map_(std::move(map)), options_(std::move(options)) {}

ModbusServer::~ModbusServer() { stop(); }

bool ModbusServer::start(std::string &error) {
  modbus_t *listener = modbus_new_tcp_pi(options_.host.c_str(), options_.port.c_str());
  if (!listener) {
    error = "cannot listen on " + options_.host + ":" + options_.port + ": " + modbus_strerror(errno);
    return false;
  }
  listenSocket_ = modbus_tcp_pi_listen(listener, 64);
  int listenErrno = errno;
  modbus_free(listener);  // the socket stays open: the context only set it up
  if (listenSocket_ < 0) {
    error = "cannot listen on " + options_.host + ":" + options_.port + ": " + modbus_strerror(listenErrno);
    return false;
  }
  fcntl(listenSocket_, F_SETFL, fcntl(listenSocket_, F_GETFL) | O_NONBLOCK);
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  char host[NI_MAXHOST] = "", port[NI_MAXSERV] = "";
  if (getsockname(listenSocket_, reinterpret_cast<sockaddr *>(&bound), &size) == 0)
    getnameinfo(reinterpret_cast<sockaddr *>(&bound), size, host, sizeof host, port, sizeof port,
                NI_NUMERICHOST | NI_NUMERICSERV);
  address_ = std::string(host).find(':') != std::string::npos ? "[" + std::string(host) + "]:" + port
                                                               : std::string(host) + ":" + port;
  if (pipe2(wake_, O_CLOEXEC) != 0) {
    error = std::string("cannot start the Modbus server: ") + std::strerror(errno);
    close(listenSocket_);
    listenSocket_ = -1;
    return false;
  }
  SignalsBlocked blocked;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

std::string ModbusServer::address() const { return address_; }

void ModbusServer::acceptLoop() {
  yieldToTheCycle();  // connection threads inherit it
  while (!stopping_) {
    pollfd p[2] = {{listenSocket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int ready = poll(p, 2, kAcceptPollMs);
    reap(false);
    if (ready <= 0 || stopping_ || !(p[0].revents & POLLIN)) continue;
    int fd = accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    if (connections_.size() >= size_t(kMaxClients)) {
      close(fd);
      ++refusedConnections_;
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval send{kSendTimeoutS, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
    auto connection = std::make_unique<Connection>();
    connection->socket = fd;
    Connection &c = *connection;
    connections_.push_back(std::move(connection));
    ++connectionCount_;
    c.thread = std::thread([this, &c] { serve(c); });
  }
}

// Joins the connections whose thread has ended (all of them when `all`).
void ModbusServer::reap(bool all) {
  std::list<std::unique_ptr<Connection>> ended;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (all || (*it)->done) ended.splice(ended.end(), connections_, it);
      it = next;
    }
  }
  for (auto &c : ended)
    if (c->thread.joinable()) c->thread.join();
}

void ModbusServer::serve(Connection &connection) {
  modbus_t *ctx = modbus_new_tcp_pi(options_.host.c_str(), options_.port.c_str());
  if (ctx) {
    modbus_set_socket(ctx, connection.socket);
    modbus_set_indication_timeout(ctx, uint32_t(options_.idleTimeoutS), 0);
    modbus_set_byte_timeout(ctx, 0, kByteTimeoutUs);
    uint8_t frame[kMaxFrameSize];
    CheckedRequest checked;
    while (!stopping_) {
      int received = modbus_receive(ctx, frame);
      if (received <= 0) break;  // closed, idle, incomplete or oversized
      size_t length = size_t(received);
      if (size_t more = unreadBytes(frame, length)) {
        if (!readExact(connection.socket, frame + length, more)) break;
        length += more;
      }
      ++requests_;
      if (!answer(ctx, frame, length, checked)) break;
    }
    modbus_set_socket(ctx, -1);
    modbus_free(ctx);
  }
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  close(connection.socket);
  connection.socket = -1;
  connection.done = true;
}

// Answers one request; false when the connection is to be closed.
bool ModbusServer::answer(_modbus *ctx, const uint8_t *frame, size_t length, CheckedRequest &checked) {
  checkRequest(map_, frame, length, options_.readOnly, checked);
  if (checked.verdict == Verdict::DROP) {
    ++dropped_;
    return false;
  }
  if (checked.verdict == Verdict::EXCEPTION) {
    ++exceptions_;
    return modbus_reply_exception(ctx, frame, checked.exception) >= 0;
  }
  if (!checked.writes.empty()) {
    bool queued = false;
    {
      std::lock_guard<std::mutex> lock(writeMutex_);
      if (queued_.size() + checked.writes.size() <= kMaxQueuedWrites) {
        queued_.insert(queued_.end(), checked.writes.begin(), checked.writes.end());
        queued = true;
      }
    }
    if (!queued) {
      ++exceptions_;
      return modbus_reply_exception(ctx, frame, MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY) >= 0;
    }
    writes_ += checked.writes.size();
    // libmodbus builds the reply and stores the written data in this
    // scratch mapping, which nothing reads: the values are queued above.
    uint8_t bits[MODBUS_MAX_WRITE_BITS];
    uint16_t registers[MODBUS_MAX_WRITE_REGISTERS];
    modbus_mapping_t scratch{};
    scratch.start_bits = scratch.start_registers = checked.address;
    scratch.nb_bits = scratch.nb_registers = checked.count;
    scratch.tab_bits = bits;
    scratch.tab_registers = registers;
    return modbus_reply(ctx, frame, int(length), &scratch) >= 0;
  }
  std::shared_ptr<Snapshot> snapshot;
  {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    snapshot = current_;
  }
  if (!snapshot) {
    ++exceptions_;
    return modbus_reply_exception(ctx, frame, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE) >= 0;
  }
  modbus_mapping_t view{};
  view.nb_bits = int(snapshot->bits[0].size());
  view.tab_bits = snapshot->bits[0].data();
  view.nb_input_bits = int(snapshot->bits[1].size());
  view.tab_input_bits = snapshot->bits[1].data();
  view.nb_input_registers = int(snapshot->registers[0].size());
  view.tab_input_registers = snapshot->registers[0].data();
  view.nb_registers = int(snapshot->registers[1].size());
  view.tab_registers = snapshot->registers[1].data();
  bool sent = modbus_reply(ctx, frame, int(length), &view) >= 0;
  // Let go under the mutex: publish() reuses a snapshot that no reader
  // holds, and the mutex orders this reader's last look before its writes.
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  snapshot.reset();
  return sent;
}

size_t ModbusServer::applyWrites(VmMachine *machine) {
  {
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (queued_.empty()) return 0;
    queued_.swap(applying_);
  }
  for (const PointWrite &w : applying_) VmSetPointValue(machine, w.pointIndex, w.value);
  size_t applied = applying_.size();
  applying_.clear();
  return applied;
}

void ModbusServer::publish(VmMachine *machine) {
  std::shared_ptr<Snapshot> next;
  {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    if (spare_ && spare_.use_count() == 1) next = std::move(spare_);
  }
  if (!next) {
    next = std::make_shared<Snapshot>();
    next->bits[0].resize(map_.extent(Table::COIL));
    next->bits[1].resize(map_.extent(Table::DISCRETE));
    next->registers[0].resize(map_.extent(Table::INPUT));
    next->registers[1].resize(map_.extent(Table::HOLDING));
  }
  for (const Mapping &m : map_.mappings()) {
    double value = 0.0;
    VmGetPointValue(machine, m.pointIndex, &value);
    switch (m.table) {
      case Table::COIL: next->bits[0][m.address] = encodeBit(value); break;
      case Table::DISCRETE: next->bits[1][m.address] = encodeBit(value); break;
      case Table::INPUT: encodeWords(value, m.type, m.swapped, &next->registers[0][m.address]); break;
      case Table::HOLDING: encodeWords(value, m.type, m.swapped, &next->registers[1][m.address]); break;
    }
  }
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  current_.swap(next);
  spare_ = std::move(next);  // lets go of the one before, should a reader still hold it
}

void ModbusServer::stop() {
  if (stopping_.exchange(true)) return;
  if (wake_[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(wake_[1], &byte, 1);
    (void)ignored;
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto &c : connections_)
      if (c->socket >= 0) shutdown(c->socket, SHUT_RDWR);
  }
  reap(true);
  if (listenSocket_ >= 0) close(listenSocket_);
  for (int &fd : wake_)
    if (fd >= 0) close(fd), fd = -1;
  listenSocket_ = -1;
}

ServerCounts ModbusServer::counts() const {
  return {connectionCount_.load(), refusedConnections_.load(), requests_.load(), exceptions_.load(),
          dropped_.load(), writes_.load()};
}

}  // namespace sicvm::modbus
