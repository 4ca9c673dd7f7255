// SPDX-License-Identifier: MIT
// The tank example's cycle (examples/tank.asm) written in plain C++, for
// bench/cycle_cost.py to count with callgrind as it counts `sicvm run`:
// read the five loaded points from a table laid out as the host's value
// records, the hysteresis, a TON of 2 s on the host's millisecond clock, the
// tank model with its LIMIT, and the three saved points written back.
//
// usage: bench_cycle_plain N   (runs N cycles back to back)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "hostrt/points.h"
#include "hostrt/sys.h"

namespace {

// Point indexes of examples/tank.csv.
enum { kLevel = 1, kInlet, kLow, kHigh, kAlarmLimit, kAlarm, kOutflow, kPoints };

struct Ton {
  bool q = false, m = false;
  double et = 0, start = 0;
  void run(bool in, double pt, double now) {
    if (in && !m) start = now;
    if (in) {
      et = std::min(now - start, pt);
      q = et >= pt;
    } else {
      et = 0;
      q = false;
    }
    m = in;
  }
};

}  // namespace

int main(int argc, char **argv) {
  const long cycles = argc > 1 ? std::atol(argv[1]) : 1000;
  static PointValueRecord points[kPoints] = {};
  points[kLevel].value = 50.0;
  points[kLow].value = 40.0;
  points[kHigh].value = 80.0;
  points[kAlarmLimit].value = 85.0;
  points[kOutflow].value = 1.5;
  bool inlet = false;
  Ton ton;
  double elapsed = 0;
  uint32_t last = SysGetClockCounter();
  for (long c = 0; c < cycles; ++c) {
    double level = points[kLevel].value;
    const double low = points[kLow].value, high = points[kHigh].value;
    const double limit = points[kAlarmLimit].value, outflow = points[kOutflow].value;
    const uint32_t now = SysGetClockCounter();
    elapsed += double(uint32_t(now - last));
    last = now;
    if (level < low) inlet = true;
    if (level > high) inlet = false;
    ton.run(level > limit, 2000.0, elapsed);
    const double flow = (inlet ? 4.0 : 0.0) - outflow;
    level = std::min(std::max(0.0, level + flow), 100.0);
    points[kLevel].value = level;
    points[kInlet].value = inlet ? 1.0 : 0.0;
    points[kAlarm].value = ton.q ? 1.0 : 0.0;
  }
  std::printf("%.3f %d\n", points[kLevel].value, int(points[kAlarm].value));
  return 0;
}
