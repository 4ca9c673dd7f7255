// SPDX-License-Identifier: MIT
#include "pacer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

namespace sicvm::tool {
namespace {

constexpr int64_t kNsPerMs = 1000000;

int64_t now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

CyclePacer::CyclePacer(int64_t periodMs) : periodNs_(periodMs * kNsPerMs) {}

void CyclePacer::waitForSlot(const std::atomic<bool> &stop) {
  if (origin_ < 0 || periodNs_ == 0) return;  // the first cycle starts at once
  slot_ += periodNs_;
  int64_t late = now() - slot_;
  if (late >= periodNs_) slot_ += late / periodNs_ * periodNs_;  // give up the slots that passed
  timespec at{static_cast<time_t>(slot_ / 1000000000), static_cast<long>(slot_ % 1000000000)};
  while (!stop && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

void CyclePacer::begin() {
  started_ = now();
  if (origin_ < 0) origin_ = slot_ = started_;
}

CycleTiming CyclePacer::end() {
  CycleTiming t;
  t.execNs = now() - started_;
  t.startNs = started_ - origin_;
  t.jitterNs = periodNs_ == 0 ? 0 : started_ - slot_;
  t.overrun = periodNs_ > 0 && t.execNs > periodNs_;
  return t;
}

void CycleStats::add(const CycleTiming &t) {
  execMin_ = count_ == 0 ? t.execNs : std::min(execMin_, t.execNs);
  execMax_ = std::max(execMax_, t.execNs);
  jitterMax_ = std::max(jitterMax_, t.jitterNs);
  execSum_ += double(t.execNs);
  jitterSum_ += double(t.jitterNs);
  if (t.overrun) ++overruns_;
  ++count_;
}

std::string CycleStats::text() const {
  if (count_ == 0) return {};
  auto ms = [](double ns) { return ns / kNsPerMs; };
  char line[200];
  int n = std::snprintf(line, sizeof line, "exec min/avg/max %.3f/%.3f/%.3f ms", ms(double(execMin_)),
                        ms(execSum_ / double(count_)), ms(double(execMax_)));
  if (periodMs_ > 0 && n > 0 && size_t(n) < sizeof line)
    std::snprintf(line + n, sizeof line - size_t(n), ", start jitter avg/max %.3f/%.3f ms, %lld overrun%s of %lld ms",
                  ms(jitterSum_ / double(count_)), ms(double(jitterMax_)), static_cast<long long>(overruns_),
                  overruns_ == 1 ? "" : "s", static_cast<long long>(periodMs_));
  return line;
}

}  // namespace sicvm::tool
