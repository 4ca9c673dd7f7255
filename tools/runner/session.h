// SPDX-License-Identifier: MIT
// A host for one program: owns the image, the point tables and the
// non-volatile store, performs the set-up sequence and runs cycles. The
// `sicvm run` command is a front end to it; tests drive it directly.
//
// Set-up, in this order: VmInitMachine; the host fields (commandLimit,
// pointCount, pointConfig, pointValues, storeHandle; hostRecord none);
// VmSetExternalProc(NULL) (this host has no external procedure); the three
// verifiers VmVerifyCode, VmVerifyVars and VmVerifyArrays (all three run, so
// every fault is logged); then VmInitHostTypes, VmInitTimers, VmInitVarLinks.
// A cycle is VmResetMachine and VmRunProgram, then the run status and the
// error record are read. Forced points (PointDbForce) are written into the
// value table before each cycle and again after it, over whatever the
// program's save_points stored.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hostrt/points.h"
#include "sicvm/vm.h"

namespace sicvm::runner {

struct SessionOptions {
  std::optional<std::string> pointsFile;  // CSV point database; none = no point tables
  std::optional<std::string> shmName;     // publish the tables under this shared-memory name ("/NAME");
                                          // one left by a killed run is reclaimed
  std::optional<std::string> nvramFile;   // SQLite store; none = no store
  std::optional<int32_t> commandLimit;    // none: the image's value when above 0, else kDefaultCommandLimit
};

inline constexpr int32_t kDefaultCommandLimit = 100000;

enum class SetUpResult { OK, SET_UP_FAILED, VERIFY_FAILED };

struct CycleResult {
  int32_t commands = 0;     // VmRunProgram's result
  uint32_t runStatus = 0;   // VM_RUNNING .. VM_STOPPED
  int32_t error = 0;        // the error record after the cycle
  uint32_t address = 0, arg1 = 0, arg2 = 0;
  bool fatal() const { return runStatus == VM_STOPPED || error > 100; }
};

class Session {
 public:
  explicit Session(std::vector<uint8_t> image);
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // The set-up sequence; on failure `message` says which step failed (the
  // library's log says why).
  SetUpResult setUp(const SessionOptions &options, std::string &message);

  // What set-up did besides the usual, for the user (a reclaimed object).
  const std::vector<std::string> &notices() const { return notices_; }

  // One cycle. With `step`, commands run one at a time and onStep sees each
  // command before it runs (address and record); `stop` ends a stepped cycle
  // early when it returns true.
  CycleResult runCycle(bool step = false, const std::function<void(uint32_t, const VmCommand &)> &onStep = {},
                       const std::function<bool()> &stop = {});

  VmMachine *machine() const { return machine_; }
  const std::vector<uint8_t> &image() const { return image_; }
  PointDb *points() const { return points_; }
  uint32_t store() const { return store_; }

 private:
  uint32_t stateWord(uint32_t location) const;

  std::vector<uint8_t> image_;
  VmMachine *machine_ = nullptr;
  PointDb *points_ = nullptr;
  std::string shmName_;
  std::vector<std::string> notices_;
  uint32_t store_ = 0;
  uint32_t configToken_ = 0, valuesToken_ = 0;
};

}  // namespace sicvm::runner
