// SPDX-License-Identifier: MIT
#include "runner/session.h"

#include <cstring>

#include "hostrt/store.h"
#include "runner/image_check.h"

namespace sicvm::runner {

Session::Session(std::vector<uint8_t> image) : image_(std::move(image)) {}

Session::~Session() {
  if (store_) DboperClose(store_);
  if (configToken_) VmReleaseHostLocation(configToken_);
  if (valuesToken_) VmReleaseHostLocation(valuesToken_);
  if (points_) PointDbClose(points_);
  if (!shmName_.empty()) PointDbUnlink(shmName_.c_str());
}

SetUpResult Session::setUp(const SessionOptions &options, std::string &message) {
  if (VmInitMachine(image_.data(), static_cast<uint32_t>(image_.size()), &machine_) != 0) {
    std::string problem = imageProblem(image_);
    message = "set-up refused the image (VmInitMachine)" + (problem.empty() ? std::string() : ": " + problem);
    return SetUpResult::SET_UP_FAILED;
  }
  // Host fields.
  int32_t limit = options.commandLimit.value_or(machine_->commandLimit > 0 ? machine_->commandLimit
                                                                           : kDefaultCommandLimit);
  machine_->commandLimit = limit;
  machine_->pointCount = 0;
  machine_->pointConfig = 0;
  machine_->pointValues = 0;
  machine_->storeHandle = 0;
  machine_->hostRecord = 0;
  if (options.pointsFile) {
    char error[2048];
    const char *name = options.shmName ? options.shmName->c_str() : nullptr;
    if (name) {
      int32_t reclaimed = PointDbReclaim(name, error, sizeof error);
      if (reclaimed < 0) {
        message = error;
        return SetUpResult::SET_UP_FAILED;
      }
      if (reclaimed == 1) notices_.push_back(error);
    }
    points_ = PointDbLoad(options.pointsFile->c_str(), name, error, sizeof error);
    if (!points_) {
      message = std::string("cannot load the point database: ") + error;
      return SetUpResult::SET_UP_FAILED;
    }
    if (options.shmName) shmName_ = *options.shmName;
    configToken_ = VmHostLocation(PointDbConfig(points_));
    valuesToken_ = VmHostLocation(PointDbValues(points_));
    if (!configToken_ || !valuesToken_) {
      message = "no room for the point tables in the host location registry";
      return SetUpResult::SET_UP_FAILED;
    }
    machine_->pointCount = PointDbCount(points_);
    machine_->pointConfig = configToken_;
    machine_->pointValues = valuesToken_;
  } else if (options.shmName) {
    message = "--shm needs a point database (--points)";
    return SetUpResult::SET_UP_FAILED;
  }
  if (options.nvramFile) {
    store_ = DboperOpen(options.nvramFile->c_str());
    if (!store_) {
      message = "cannot open the point store " + *options.nvramFile + ": " + DboperLastMessage();
      return SetUpResult::SET_UP_FAILED;
    }
    machine_->storeHandle = store_;
  }
  VmSetExternalProc(nullptr);
  // All three verifiers run, so that every fault is reported.
  bool code = VmVerifyCode(machine_) == 0;
  bool vars = VmVerifyVars(machine_) == 0;
  bool arrays = VmVerifyArrays(machine_) == 0;
  if (!code || !vars || !arrays) {
    message = std::string("verification failed:") + (code ? "" : " code") + (vars ? "" : " vars") +
              (arrays ? "" : " arrays");
    return SetUpResult::VERIFY_FAILED;
  }
  VmInitHostTypes(machine_);
  VmInitTimers(machine_);
  VmInitVarLinks(machine_);
  return SetUpResult::OK;
}

uint32_t Session::stateWord(uint32_t location) const {
  uint32_t word = 0;
  if (uint64_t(location) + 4 <= image_.size()) std::memcpy(&word, image_.data() + location, 4);
  return word;
}

CycleResult Session::runCycle(bool step, const std::function<void(uint32_t, const VmCommand &)> &onStep,
                              const std::function<bool()> &stop) {
  CycleResult result;
  if (points_) PointDbApplyForces(points_);
  VmResetMachine(machine_);
  if (!step) {
    result.commands = VmRunProgram(machine_, 0, 0);
  } else {
    const VmHeader &h = *reinterpret_cast<const VmHeader *>(image_.data());
    for (;;) {
      uint32_t pc = machine_->pc;
      if (onStep && pc < h.commandCount) {
        VmCommand command;
        std::memcpy(&command, image_.data() + h.codeOffset + uint64_t(pc) * VM_COMMAND_SIZE, sizeof command);
        onStep(pc, command);
      }
      result.commands = VmRunProgram(machine_, VM_RUN_SINGLE_STEP, 0);
      if (stateWord(machine_->runStatusRef) != VM_RUNNING) break;
      if (stop && stop()) break;
    }
  }
  if (points_) PointDbApplyForces(points_);
  result.runStatus = stateWord(machine_->runStatusRef);
  result.error = VmGetLastError(machine_, &result.address, &result.arg1, &result.arg2);
  return result;
}

}  // namespace sicvm::runner
