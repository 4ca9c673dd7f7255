// SPDX-License-Identifier: MIT
// Online change of a running session (`sicvm run --reload`): a replacement
// of the image file is loaded, set up and verified beside the running
// program on a thread of its own, and the running program is switched to it
// between two cycles with its state carried by name (state_carry.h).
//
// The thread polls the image file and its symbol file every `pollMs`
// milliseconds (their device, inode, size and modification time). A pair
// that changed is tried once it has stayed the same for one poll, so a file
// that is still being written is not read half-way; a hangup request
// (SIGHUP) tries the files as they are at once. The symbol file must belong
// to the new image (its hash line): `sicvm build` and `asm` write the image
// first and the symbol file a moment later, so a pair whose symbol file does
// not match yet is waited for, and only reported when it has stayed so for
// a second.
//
// Trying a pair means, all on the thread: read both files, read the
// replacement's layout and plan what is carried, VmInitMachine, the host
// fields of the running machine (point tables, store, the command limit as
// at start: --command-limit, else the new image's own when above 0, else the
// default), the verifiers, VmInitHostTypes, VmInitTimers and VmInitVarLinks
// (the links are made against the session's point tables, which an online
// change keeps). The thread never touches the running image. The runner's
// external procedure is none, so VmSetExternalProc is not called again.
//
// A pair that fails is logged in one line at level 4, "online change: FILE:
// STEP: ERROR; the running program goes on", with STEP one of read (the
// file), image (not an image at all), symbols, set-up (VmInitMachine) and
// verify; the running program is untouched, and the next change of
// either file (or a SIGHUP) is tried again. A prepared replacement waits for
// switchIfReady, which the cycle loop calls between cycles: it copies the
// planned cells and the machine's timer clock and cycle count, and makes the
// replacement the session's program; the thread then logs at level 5
// "online change: N kept, M new, K dropped, C changed" and at level 10 one
// line per name ("online change: kept level", "... new x", "... dropped y",
// "... changed z (INT -> DINT)") and the times it took.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runner/session.h"
#include "runner/state_carry.h"
#include "symbols/symbols.h"

namespace sicvm::runner {

// Reads the symbol file at `path` and checks that it was written for the
// image bytes `image` (as stored); false with a reason.
bool readSymbolFile(const std::string &path, const std::vector<uint8_t> &image, symbols::SymbolTable &table,
                    std::string &error);

class OnlineChange {
 public:
  struct Files {
    std::string image, symbols;
  };

  // Starts watching `files` for a session that runs the image they hold now,
  // whose names are `running`. `hangup` is set by a signal handler to ask for
  // an immediate try; the thread clears it.
  OnlineChange(const Session &session, Files files, const SessionOptions &options, symbols::SymbolTable running,
               std::atomic<bool> &hangup, int pollMs = 50);
  ~OnlineChange();
  OnlineChange(const OnlineChange &) = delete;
  OnlineChange &operator=(const OnlineChange &) = delete;

  // False when the thread could not be started (logged; no reload then).
  bool watching() const { return thread_.joinable(); }

  // Between cycles: when a replacement is ready, carries the state into it
  // and makes it the session's program. True when it switched. Without a
  // replacement this is one atomic load.
  bool switchIfReady(Session &session);

  // The names of the program the session runs (changes at a switch).
  const symbols::SymbolTable &names() const { return names_; }

 private:
  struct FileId {
    bool exists = false;
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileId &) const = default;
  };
  struct PairId {
    FileId image, symbols;
    bool operator==(const PairId &) const = default;
  };
  struct Prepared {
    std::vector<uint8_t> image;
    VmMachine *machine = nullptr;
    symbols::SymbolTable table;
    StateLayout layout;
    CarryPlan plan;
    int64_t prepareNs = 0, switchNs = 0;
  };
  enum class Outcome { READY, FAILED, WAIT };

  static PairId identify(const Files &files);
  void work();
  Outcome prepare(bool young, std::unique_ptr<Prepared> &out);
  void fail(const char *step, const std::string &error);
  void report(const Prepared &done);

  Files files_;
  std::atomic<bool> &hangup_;
  int pollMs_;
  std::optional<int32_t> commandLimit_;
  int32_t pointCount_;
  uint32_t pointConfig_, pointValues_, storeHandle_, hostRecord_;
  PairId tried_;                   // the thread's: the files last tried (at start: the running ones)
  StateLayout running_;            // the thread's: the layout of the running image
  symbols::SymbolTable names_;     // the cycle loop's: the names of the running image

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;                    // guarded by mutex_
  std::unique_ptr<Prepared> ready_;      // guarded by mutex_; waits for a switch
  std::unique_ptr<Prepared> switched_;   // guarded by mutex_; switched, to be reported
  std::atomic<bool> pending_{false};     // ready_ holds a replacement
  std::thread thread_;
};

}  // namespace sicvm::runner
