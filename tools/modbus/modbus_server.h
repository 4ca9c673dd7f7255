// SPDX-License-Identifier: MIT
// A Modbus TCP server for the points of a running program (`sicvm run
// --modbus`), built on libmodbus.
//
// Threads. The server never touches the point tables from its own threads.
// The cycle's thread calls publish() after each cycle: it reads every mapped
// point through VmGetPointValue and encodes it into a snapshot (one array
// per table, in wire form), which it swaps in under a mutex held only for
// pointer copies; the snapshot before is reused once no reader holds it.
// Connections answer reads from the snapshot they took.
// Writes are checked at once (so that a refusal is a proper exception),
// queued, and applied by the cycle's thread in applyWrites() between cycles
// through VmSetPointValue, all writes of one request together, so the
// program sees a request whole at its next cycle or not yet. A written value
// is therefore read back after the next cycle. Status words are not touched;
// a forced point stays at its forced value; a point whose status forbids
// value writes keeps its value, as with any writer.
//
// Connections. One listening thread accepts up to kMaxClients connections
// at once (further ones are closed on arrival); each connection has its own
// thread and libmodbus context, so a slow or hostile client delays no one
// else. A connection is closed when it stays idle for idleTimeoutS seconds,
// when a request stops for 0.5 s before it is complete, when a reply cannot
// be sent within 2 s, and when a frame cannot be framed (see
// modbus_request.h). SIGINT and SIGTERM are blocked on the server's threads,
// so they reach the cycle loop. The server's threads run at a nice value 5
// above the process's, so that on a busy machine the cycle is scheduled
// before them.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modbus_map.h"
#include "modbus_request.h"
#include "sicvm/vm.h"

struct _modbus;  // libmodbus's context (modbus_t)

namespace sicvm::modbus {

inline constexpr int kMaxClients = 64;
inline constexpr size_t kMaxQueuedWrites = 8192;  // point writes waiting for the next cycle

struct ServerOptions {
  std::string host;      // as given: an address or a host name ("127.0.0.1", "0.0.0.0", "::1")
  std::string port;      // decimal; "0" picks a free port
  bool readOnly = false; // refuse every write function
  int idleTimeoutS = 60;
};

// Counts since start, for the run's summary and for tests.
struct ServerCounts {
  uint64_t connections = 0, refusedConnections = 0, requests = 0, exceptions = 0, dropped = 0, writes = 0;
};

class ModbusServer {
 public:
  ModbusServer(ModbusMap map, ServerOptions options);
  ~ModbusServer();
  ModbusServer(const ModbusServer &) = delete;
  ModbusServer &operator=(const ModbusServer &) = delete;

  // Listens and starts serving. False with a message when the address
  // cannot be listened on. Call publish() once before, so that the first
  // clients read the points' initial values.
  bool start(std::string &error);

  // "HOST:PORT" with the port actually listened on.
  std::string address() const;

  // Cycle thread, after a cycle: a fresh snapshot of every mapped point.
  void publish(VmMachine *machine);
  // Cycle thread, between cycles: applies the queued writes; returns how many.
  size_t applyWrites(VmMachine *machine);

  // Closes every connection and the listening socket and waits for the
  // threads. Idempotent.
  void stop();

  ServerCounts counts() const;

 private:
  struct Snapshot;
  struct Connection;

  void acceptLoop();
  void serve(Connection &connection);
  bool answer(_modbus *ctx, const uint8_t *frame, size_t length, CheckedRequest &checked);
  void reap(bool all);

  ModbusMap map_;
  ServerOptions options_;
  int listenSocket_ = -1;
  int wake_[2] = {-1, -1};  // a byte on wake_[1] ends the accept loop
  std::string address_;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};

  // Guards current_ and the snapshots' reference counts: readers copy
  // current_ and drop their copy under it, so that publish() can tell under
  // it that no reader holds spare_ any more and fill it again.
  std::mutex snapshotMutex_;
  std::shared_ptr<Snapshot> current_;
  std::shared_ptr<Snapshot> spare_;  // the one before current_; written by the cycle thread only

  std::mutex writeMutex_;  // guards queued_
  std::vector<PointWrite> queued_, applying_;

  std::mutex connectionsMutex_;  // guards connections_ and each connection's socket
  std::list<std::unique_ptr<Connection>> connections_;

  std::atomic<uint64_t> connectionCount_{0}, refusedConnections_{0}, requests_{0}, exceptions_{0}, dropped_{0},
      writes_{0};
};

}  // namespace sicvm::modbus
