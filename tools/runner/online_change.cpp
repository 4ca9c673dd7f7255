// SPDX-License-Identifier: MIT
#include "runner/online_change.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "hostrt/log.h"
#include "runner/image_check.h"

namespace sicvm::runner {
namespace {

using Clock = std::chrono::steady_clock;

int64_t nanosSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

bool readBytes(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

// A symbol file that does not belong to its image: the one failure that may
// only mean the writer has not finished the pair yet.
constexpr const char *kOtherImage = " was written for other image bytes";

}  // namespace

bool readSymbolFile(const std::string &path, const std::vector<uint8_t> &image, symbols::SymbolTable &table,
                    std::string &error) {
  std::vector<uint8_t> text;
  if (!readBytes(path, text, error)) return false;
  if (!symbols::readSymbols(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()), path, table,
                            error))
    return false;
  if (!table.belongsTo(image)) {
    error = path + kOtherImage;
    return false;
  }
  return true;
}

OnlineChange::OnlineChange(const Session &session, Files files, const SessionOptions &options,
                           symbols::SymbolTable running, std::atomic<bool> &hangup, int pollMs)
    : files_(std::move(files)), hangup_(hangup), pollMs_(pollMs), commandLimit_(options.commandLimit),
      names_(std::move(running)) {
  const VmMachine &m = *session.machine();
  pointCount_ = m.pointCount;
  pointConfig_ = m.pointConfig;
  pointValues_ = m.pointValues;
  storeHandle_ = m.storeHandle;
  hostRecord_ = m.hostRecord;
  tried_ = identify(files_);  // the files as the session runs them
  std::string error;
  if (!readLayout(session.image(), names_, running_, error)) {
    fail("set-up", error);
    return;
  }
  try {
    thread_ = std::thread([this] { work(); });
  } catch (const std::system_error &e) {
    fail("start", std::string("cannot start the reload thread: ") + e.what());
  }
}

OnlineChange::~OnlineChange() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (ready_ && ready_->machine) VmReleaseMachine(ready_->machine);
}

OnlineChange::PairId OnlineChange::identify(const Files &files) {
  auto id = [](const std::string &path) {
    FileId f;
    struct stat s;
    if (::stat(path.c_str(), &s) == 0) {
      f.exists = true;
      f.device = s.st_dev;
      f.inode = s.st_ino;
      f.size = static_cast<uint64_t>(s.st_size);
      f.modifiedNs = int64_t(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
    }
    return f;
  };
  return {id(files.image), id(files.symbols)};
}

void OnlineChange::fail(const char *step, const std::string &error) {
  LogPrintf(4, "online change: %s: %s: %s; the running program goes on\n", files_.image.c_str(), step, error.c_str());
}

OnlineChange::Outcome OnlineChange::prepare(bool young, std::unique_ptr<Prepared> &out) {
  Clock::time_point start = Clock::now();
  auto p = std::make_unique<Prepared>();
  std::string error;
  if (!readBytes(files_.image, p->image, error)) {
    fail("read", error);
    return Outcome::FAILED;
  }
  if (std::string problem = imageProblem(p->image); !problem.empty()) {
    fail("image", problem);
    return Outcome::FAILED;
  }
  if (!readSymbolFile(files_.symbols, p->image, p->table, error)) {
    if (young && error.ends_with(kOtherImage)) return Outcome::WAIT;
    fail("symbols", error);
    return Outcome::FAILED;
  }
  if (!readLayout(p->image, p->table, p->layout, error)) {
    fail("set-up", error);
    return Outcome::FAILED;
  }
  p->plan = planCarry(running_, p->layout);
  if (VmInitMachine(p->image.data(), static_cast<uint32_t>(p->image.size()), &p->machine) != 0) {
    p->machine = nullptr;
    fail("set-up", "VmInitMachine refused the image (the log above says why)");
    return Outcome::FAILED;
  }
  VmMachine &m = *p->machine;
  m.commandLimit = commandLimit_.value_or(m.commandLimit > 0 ? m.commandLimit : kDefaultCommandLimit);
  m.pointCount = pointCount_;
  m.pointConfig = pointConfig_;
  m.pointValues = pointValues_;
  m.storeHandle = storeHandle_;
  m.hostRecord = hostRecord_;
  if (verifyAndLink(p->machine, error) != SetUpResult::OK) {
    VmReleaseMachine(p->machine);
    fail("verify", error + " (the log above has each fault)");
    return Outcome::FAILED;
  }
  p->prepareNs = nanosSince(start);
  out = std::move(p);
  return Outcome::READY;
}

bool OnlineChange::switchIfReady(Session &session) {
  if (!pending_.load(std::memory_order_acquire)) return false;
  Clock::time_point start = Clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::unique_ptr<Prepared> p = std::move(ready_);
    carryState(p->plan, session.image().data(), p->image.data());
    carryMachine(*session.machine(), *p->machine);
    session.adopt(std::move(p->image), p->machine);
    p->machine = nullptr;
    names_ = std::move(p->table);
    p->switchNs = nanosSince(start);
    switched_ = std::move(p);
    pending_.store(false, std::memory_order_release);
  }
  wake_.notify_all();
  return true;
}

void OnlineChange::report(const Prepared &done) {
  const CarryPlan &plan = done.plan;
  LogPrintf(5, "online change: %zu kept, %zu new, %zu dropped, %zu changed\n", plan.kept.size(), plan.added.size(),
            plan.dropped.size(), plan.changed.size());
  if (LogGetLevel() < 10) return;
  for (const std::string &name : plan.kept) LogPrintf(10, "online change: kept %s\n", name.c_str());
  for (const std::string &name : plan.added) LogPrintf(10, "online change: new %s\n", name.c_str());
  for (const std::string &name : plan.dropped) LogPrintf(10, "online change: dropped %s\n", name.c_str());
  for (const std::string &name : plan.changed) LogPrintf(10, "online change: changed %s\n", name.c_str());
  LogPrintf(10, "online change: prepared in %.3f ms beside the running program, switched in %.3f ms between cycles\n",
            double(done.prepareNs) / 1e6, double(done.switchNs) / 1e6);
}

void OnlineChange::work() {
  PairId seen = tried_;
  Clock::time_point seenSince = Clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::milliseconds(pollMs_), [this] { return stop_ || switched_ != nullptr; });
    if (stop_) break;
    if (switched_) {
      std::unique_ptr<Prepared> done = std::move(switched_);
      running_ = std::move(done->layout);
      lock.unlock();
      report(*done);
      lock.lock();
      continue;
    }
    if (ready_) continue;  // a replacement waits for its switch
    PairId now = identify(files_);
    bool stable = now == seen;  // unchanged for one poll at least
    if (!stable) {
      seen = now;
      seenSince = Clock::now();
    }
    bool asked = hangup_.exchange(false);
    if (!asked && (now == tried_ || !stable)) continue;
    bool young = !asked && nanosSince(seenSince) < 1000000000;
    lock.unlock();
    std::unique_ptr<Prepared> p;
    Outcome outcome = prepare(young, p);
    lock.lock();
    if (outcome == Outcome::WAIT) continue;
    tried_ = now;
    if (outcome == Outcome::READY && !stop_) {
      ready_ = std::move(p);
      pending_.store(true, std::memory_order_release);
    } else if (p && p->machine) {
      VmReleaseMachine(p->machine);
    }
  }
  if (switched_) {
    std::unique_ptr<Prepared> done = std::move(switched_);
    lock.unlock();
    report(*done);
  }
}

}  // namespace sicvm::runner
