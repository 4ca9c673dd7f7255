// SPDX-License-Identifier: MIT
// Function blocks of the standard library: the bistables SR and RS, the
// edge detectors R_TRIG and F_TRIG, the counters CTU, CTD and CTUD, and the
// timers TP, TON and TOF.
//
// A block's memory is its frame: its outputs and the state cells after them,
// which the dispatcher has checked exist. Every block ends by storing its
// current input(s) in its M cell(s), so the next call can see edges.
//
// Timers do not measure time themselves. Their accumulator is a TIME cell
// whose flags bit 0 says "running"; the machine's timer update adds the
// elapsed milliseconds to every running TIME cell. The blocks only start
// (set the bit), stop (clear it) and reset (write 0) the accumulator.
#include "stdlib/functions.h"

namespace sicvm::stdlib {

// Cells: 0 S1, 1 R, 2 Q1. Set dominates.
int32_t sr(const lib::Call &call) {
  call.setBool(2, call.getBool(0) || (!call.getBool(1) && call.getBool(2)));
  return 0;
}

// Cells: 0 S, 1 R1, 2 Q1. Reset dominates.
int32_t rs(const lib::Call &call) {
  call.setBool(2, !call.getBool(1) && (call.getBool(0) || call.getBool(2)));
  return 0;
}

// Cells: 0 CLK, 1 Q, 2 M (previous CLK).
int32_t rTrig(const lib::Call &call) {
  bool clk = call.getBool(0);
  call.setBool(1, clk && !call.getBool(2));
  call.setBool(2, clk);
  return 0;
}

int32_t fTrig(const lib::Call &call) {
  bool clk = call.getBool(0);
  call.setBool(1, !clk && call.getBool(2));
  call.setBool(2, clk);
  return 0;
}

// Cells: 0 CU, 1 R, 2 PV, 3 Q, 4 CV, 5 upper limit, 6 M (previous CU).
// The limit cell comes from the image and is never written.
template <class V>
int32_t ctu(const lib::Call &call) {
  bool cu = call.getBool(0);
  V cv = load<V>(call.cell(4));
  if (call.getBool(1)) {
    cv = 0;
  } else if (cu && !call.getBool(6) && cv < load<V>(call.cell(5))) {
    cv = static_cast<V>(cv + 1);
  }
  store<V>(call.cell(4), cv);
  call.setBool(3, cv >= load<V>(call.cell(2)));
  call.setBool(6, cu);
  return 0;
}

// Cells: 0 CD, 1 LD, 2 PV, 3 Q, 4 CV, 5 lower limit, 6 M (previous CD).
template <class V>
int32_t ctd(const lib::Call &call) {
  bool cd = call.getBool(0);
  V cv = load<V>(call.cell(4));
  if (call.getBool(1)) {
    cv = load<V>(call.cell(2));
  } else if (cd && !call.getBool(6) && cv > load<V>(call.cell(5))) {
    cv = static_cast<V>(cv - 1);
  }
  store<V>(call.cell(4), cv);
  call.setBool(3, cv <= 0);
  call.setBool(6, cd);
  return 0;
}

// Cells: 0 CU, 1 CD, 2 R, 3 LD, 4 PV, 5 QU, 6 QD, 7 CV, 8 upper limit,
// 9 lower limit, 10 previous CU, 11 previous CD.
template <class V>
int32_t ctud(const lib::Call &call) {
  bool cu = call.getBool(0);
  bool cd = call.getBool(1);
  bool upEdge = cu && !call.getBool(10);
  bool downEdge = cd && !call.getBool(11);
  V cv = load<V>(call.cell(7));
  if (call.getBool(2)) {
    cv = 0;
  } else if (call.getBool(3)) {
    cv = load<V>(call.cell(4));
  } else if (upEdge && downEdge) {
    // Both edges at once cancel out.
  } else if (upEdge && cv < load<V>(call.cell(8))) {
    cv = static_cast<V>(cv + 1);
  } else if (downEdge && cv > load<V>(call.cell(9))) {
    cv = static_cast<V>(cv - 1);
  }
  store<V>(call.cell(7), cv);
  V pv = load<V>(call.cell(4));
  call.setBool(5, cv >= pv);
  call.setBool(6, cv <= 0);
  call.setBool(10, cu);
  call.setBool(11, cd);
  return 0;
}

namespace {

// Cells of the three timers.
enum TimerCell : int32_t { kIn = 0, kPt = 1, kQ = 2, kEt = 3, kPreset = 4, kAccumulator = 5, kM = 6 };
constexpr uint8_t kRunning = 0x01;

class Timer {
 public:
  explicit Timer(const lib::Call &call) : call_(call), acc_(call.cell(kAccumulator)) {}

  bool in() const { return call_.getBool(kIn); }
  bool previousIn() const { return call_.getBool(kM); }
  double pt() const { return call_.getDouble(kPt); }
  double elapsed() const { return acc_.v.f64; }
  bool running() const { return (acc_.flags & kRunning) != 0; }
  // The preset has been reached; an unordered comparison (NaN) has not.
  bool reached() const { return elapsed() >= pt(); }

  void start() {
    acc_.flags |= kRunning;
    call_.setDouble(kPreset, pt());
  }
  void stop() { acc_.flags &= static_cast<uint8_t>(~kRunning); }
  void reset() { acc_.v.f64 = 0.0; }

  // ET = accumulator, M = IN.
  void finish() {
    call_.setDouble(kEt, elapsed());
    call_.setBool(kM, in());
  }

 private:
  const lib::Call &call_;
  VmCell &acc_;
};

}  // namespace

// Pulse: an edge of IN starts a pulse of length PT that runs to its end
// whatever IN does meanwhile. The running state decides which half of step 1
// applies, so a pulse started in this call is tested against PT only from
// the next call on.
int32_t tp(const lib::Call &call) {
  Timer t(call);
  if (!t.running()) {
    if (t.in() && !t.previousIn()) {
      t.start();
      t.reset();
    }
  } else if (t.reached()) {
    t.stop();
  }
  if (t.running()) {
    call.setBool(kQ, true);
  } else {
    call.setBool(kQ, false);
    if (!t.in()) t.reset();
  }
  t.finish();
  return 0;
}

// On delay: Q follows IN once IN has been TRUE for PT.
int32_t ton(const lib::Call &call) {
  Timer t(call);
  if (!t.in()) {
    t.stop();
    t.reset();
  } else if (!t.previousIn()) {
    t.start();
  }
  if (!t.reached()) {
    call.setBool(kQ, false);
  } else {
    t.stop();
    call.setBool(kQ, t.in());
  }
  t.finish();
  return 0;
}

// Off delay: Q stays TRUE for PT after IN falls.
int32_t tof(const lib::Call &call) {
  Timer t(call);
  if (t.in()) {
    t.stop();
    t.reset();
  } else if (t.previousIn()) {
    t.start();
  }
  if (!t.reached()) {
    call.setBool(kQ, true);
  } else {
    t.stop();
    call.setBool(kQ, t.in());
  }
  t.finish();
  return 0;
}

template int32_t ctu<int16_t>(const lib::Call &);
template int32_t ctu<int32_t>(const lib::Call &);
template int32_t ctd<int16_t>(const lib::Call &);
template int32_t ctd<int32_t>(const lib::Call &);
template int32_t ctud<int16_t>(const lib::Call &);
template int32_t ctud<int32_t>(const lib::Call &);

}  // namespace sicvm::stdlib
