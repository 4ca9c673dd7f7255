// SPDX-License-Identifier: MIT
// The example programs: each is assembled from examples/ (and compiled from
// its Structured Text twin in examples/st/), set up against its points file
// as `sicvm run` does, and run cycle by cycle on a manual clock (100 ms per
// cycle). After every cycle the points it writes are compared with an
// independent model of the same control logic and plant.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "asm/assembler.h"
#include "hostrt/datetime.h"
#include "hostrt/points.h"
#include "hostrt/store.h"
#include "hostrt/sys.h"
#include "runner/session.h"
#include "sicvm/datetime.h"
#include "stc/compiler.h"
#include "sicvm/gas.h"
#include "support/dates.h"

using namespace sicvm;

namespace {

class Example {
 public:
  // `language` "asm": examples/NAME.asm; "st": examples/st/NAME.st.
  // `nvram`: the non-volatile store file; none by default.
  Example(const std::string &name, const std::string &language,
          const std::optional<std::string> &nvram = std::nullopt) {
    std::vector<uint8_t> image;
    if (language == "asm") {
      std::ifstream source(std::string(SICVM_EXAMPLES) + "/" + name + ".asm");
      assembly::Assembly a = assembly::assemble(std::string(std::istreambuf_iterator<char>(source), {}), name);
      EXPECT_TRUE(a.ok()) << (a.ok() ? "" : a.errors[0].text());
      image = a.image;
    } else {
      std::ifstream source(std::string(SICVM_EXAMPLES) + "/st/" + name + ".st");
      stc::Compilation c = stc::compile(std::string(std::istreambuf_iterator<char>(source), {}), name);
      EXPECT_TRUE(c.ok()) << (c.rendered.empty() ? "" : c.rendered[0]);
      EXPECT_TRUE(c.diagnostics.empty()) << (c.rendered.empty() ? "" : c.rendered[0]);
      image = c.image;
    }
    SysSetManualClock(5000);
    session_ = std::make_unique<runner::Session>(image);
    runner::SessionOptions options;
    options.pointsFile = std::string(SICVM_EXAMPLES) + "/" + name + ".csv";
    options.nvramFile = nvram;
    std::string message;
    ok_ = session_->setUp(options, message) == runner::SetUpResult::OK;
    EXPECT_TRUE(ok_) << message;
  }
  ~Example() { SysUseRealClock(); }

  bool ok() const { return ok_; }

  // One cycle, 100 ms after the previous one; it must complete without errors.
  void cycle() {
    SysAdvanceManualClock(100);
    runner::CycleResult r = session_->runCycle();
    EXPECT_EQ(r.runStatus, uint32_t(VM_CYCLE_COMPLETE));
    EXPECT_EQ(r.error, 0) << "at " << r.address;
  }

  double point(int index) const { return PointDbValues(session_->points())[index].value; }
  // A point the host changes, as an operator would.
  void setPoint(int index, double value) { PointDbValues(session_->points())[index].value = value; }

 private:
  std::unique_ptr<runner::Session> session_;
  bool ok_ = false;
};

// The TON block as the standard library defines it, advanced by the machine's
// timer update at the start of each cycle.
struct TonModel {
  bool running = false, m = false;
  double acc = 0, pt;
  explicit TonModel(double preset) : pt(preset) {}
  void tick(double ms) { acc += running ? ms : 0; }
  bool call(bool in) {
    if (!in) acc = 0;
    running = in && (running || !m);  // IN FALSE stops and clears, a rising edge starts
    m = in;
    if (acc < pt) return false;
    running = false;
    return in;
  }
};

double limit(double mn, double in, double mx) {
  double m = in > mn ? in : mn;
  return m < mx ? m : mx;
}

}  // namespace

// With its points file the tank keeps its level between the setpoints; with
// the high setpoint above the alarm limit and a slow outflow the level stays
// above 85 % for longer than the alarm delay.
TEST(Examples, TankKeepsItsLevelBetweenTheSetpointsAndRaisesTheAlarm) {
  for (auto [high, outflow, language] :
       {std::tuple{80.0, 1.5, "asm"}, {95.0, 0.5, "asm"}, {80.0, 1.5, "st"}, {95.0, 0.5, "st"}}) {
    SCOPED_TRACE(language);
    Example tank("tank", language);
    ASSERT_TRUE(tank.ok());
    tank.setPoint(4, high);
    tank.setPoint(7, outflow);
    double level = 50.0;
    bool inlet = false, everAlarm = false;
    TonModel alarm(2000);
    for (int n = 1; n <= 120; ++n) {
      tank.cycle();
      alarm.tick(100);
      if (level < 40.0) inlet = true;
      if (level > high) inlet = false;
      const bool alarmOn = alarm.call(level > 85.0);
      everAlarm = everAlarm || alarmOn;
      level = limit(0.0, level + (inlet ? 4.0 : 0.0) - outflow, 100.0);
      ASSERT_EQ(tank.point(1), level) << "level after cycle " << n;
      ASSERT_EQ(tank.point(2), inlet ? 1.0 : 0.0) << "inlet after cycle " << n;
      ASSERT_EQ(tank.point(6), alarmOn ? 1.0 : 0.0) << "alarm after cycle " << n;
    }
    EXPECT_EQ(everAlarm, high > 85.0);
  }
}

TEST(Examples, BatchCountsItemsAndReportsStatistics) {
  const double feed[] = {10.2, 9.8, 10.5, 9.9, 10.1, 10.4, 9.7, 10.0};
  const int size = 5;  // the batch size in batch.csv
  for (const char *language : {"asm", "st"}) {
  SCOPED_TRACE(language);
  Example batch("batch", language);
  ASSERT_TRUE(batch.ok());
  bool sensor = false, trigM = false, ctuM = false, reset = false, done = false;
  int feedIndex = 0, cv = 0, batches = 0;
  double samples[16] = {}, weight = 0, max = 0, min = 0, average = 0;
  for (int n = 1; n <= 60; ++n) {
    batch.cycle();
    sensor = !sensor;
    bool edge = sensor && !trigM;
    trigM = sensor;
    if (edge) {
      weight = feed[feedIndex];
      feedIndex = (feedIndex + 1) % 8;
      samples[cv] = weight;
    }
    if (reset) cv = 0;
    else if (edge && !ctuM) ++cv;
    ctuM = edge;
    done = cv >= size;
    reset = false;
    if (done) {
      double sum = max = min = samples[0];
      for (int i = 1; i < cv; ++i) {
        if (samples[i] > max) max = samples[i];
        if (samples[i] < min) min = samples[i];
        sum += samples[i];
      }
      average = sum / cv;
      ++batches;
      reset = true;
    }
    ASSERT_EQ(batch.point(1), sensor ? 1.0 : 0.0) << n;
    ASSERT_EQ(batch.point(2), weight) << n;
    ASSERT_EQ(batch.point(4), cv) << n;
    ASSERT_EQ(batch.point(5), done ? 1.0 : 0.0) << n;
    ASSERT_EQ(batch.point(6), batches) << n;
    ASSERT_EQ(batch.point(7), max) << n;
    ASSERT_EQ(batch.point(8), min) << n;
    ASSERT_EQ(batch.point(9), average) << n;
  }
  EXPECT_EQ(batches, 6);
  }
}

TEST(Examples, PumpsRotateTheDutyAndAssistAtLowPressure) {
  for (const char *language : {"asm", "st"}) {
  SCOPED_TRACE(language);
  Example pumps("pumps", language);
  ASSERT_TRUE(pumps.ok());
  double pressure = 5.0, startAt = 4.0, stopAt = 6.0, runtime = 0;
  bool demand = false, timerRunning = false;
  int duty = 0, rotations = 0, assisted = 0;
  TonModel ton(3000);
  for (int n = 1; n <= 400; ++n) {
    pumps.cycle();
    ton.tick(100);
    if (timerRunning) runtime += 100;
    bool start = pressure < startAt, keep = pressure <= stopAt;
    demand = demand ? keep : start;
    bool assist = ton.call(pressure < startAt - 1.0) && demand;
    if (demand) {
      if (!timerRunning) {
        runtime = 0;
        timerRunning = true;
      }
      if (runtime >= 5000) {
        duty = (duty + 1) % 3;
        ++rotations;
        timerRunning = false;
      }
    } else {
      timerRunning = false;
      runtime = 0;
    }
    bool run[3];
    for (int k = 0; k < 3; ++k) {
      int role = (3 + k - duty) % 3;
      run[k] = role == 0 ? demand : role == 1 ? demand && assist : false;
    }
    const int running = run[0] + run[1] + run[2];
    pressure = limit(0.0, pressure + (running * 0.6 - 1.0), 10.0);
    if (assist) ++assisted;
    ASSERT_EQ(pumps.point(1), pressure) << n;
    for (int k = 0; k < 3; ++k) ASSERT_EQ(pumps.point(4 + k), run[k] ? 1.0 : 0.0) << "pump " << k + 1 << " at " << n;
    ASSERT_EQ(pumps.point(7), duty + 1) << n;
    ASSERT_EQ(pumps.point(8), rotations) << n;
    ASSERT_EQ(pumps.point(9), assist ? 1.0 : 0.0) << n;
  }
  EXPECT_GE(rotations, 3);  // every pump had the duty
  EXPECT_GT(assisted, 0);
  }
}

// The shift report in Berlin across both changes of 2023, one cycle every 10
// minutes of a clock set through DtSetUtcTime. The model knows Berlin's
// offsets of 2023 by hand (summer time from 2023-03-26 01:00 UTC to
// 2023-10-29 01:00 UTC) and counts report days as local dates shifted back by
// the 06:00 start.
TEST(Examples, ShiftReportClosesItsDaysAt0600LocalAcrossSummerTime) {
  TzZoneRecord berlin;
  ASSERT_EQ(TzParseTimeZone("CET-1CEST,M3.5.0,M10.5.0/3", &berlin), 0);
  ASSERT_EQ(VmSetTimeZone(&berlin), 0);
  constexpr int64_t kMinute = 60000, kHour = 60 * kMinute, kDay = 24 * kHour;
  // Milliseconds since 1899-12-30 00:00 UTC of a UTC date at midnight.
  auto utcDay = [](int y, int m, int d) { return static_cast<int64_t>(std::llround(test::at(y, m, d) * kDay)); };
  const int64_t summerFrom = utcDay(2023, 3, 26) + kHour, summerTo = utcDay(2023, 10, 29) + kHour;
  auto local = [&](int64_t utc) { return utc + (utc >= summerFrom && utc < summerTo ? 2 : 1) * kHour; };
  auto floorDiv = [](int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0 ? 1 : 0); };
  auto reportDay = [&](int64_t utc) { return floorDiv(local(utc) - 6 * kHour, kDay); };
  const int64_t commissioned = utcDay(2023, 1, 2) + 6 * kHour;  // the points file's 44928.25

  for (int64_t from : {utcDay(2023, 3, 24), utcDay(2023, 10, 27)}) {
    SCOPED_TRACE(from);
    Example report("shift_report", "asm");
    ASSERT_TRUE(report.ok());
    int64_t counter = 0, dayStart = 0, yesterday = 0, closed = 0, current = 0;
    int closedAtFive = 0, closedAtFour = 0;
    for (int n = 0; n < 4 * 144; ++n) {
      const int64_t now = from + n * 10 * kMinute;
      const int rate = n % 5 + 1;
      report.setPoint(2, rate);
      ASSERT_EQ(DtSetUtcTime(static_cast<double>(now) / kDay), 0);
      report.cycle();
      counter += rate;
      if (n == 0) {
        dayStart = counter;
        current = reportDay(now);
      } else if (reportDay(now) != current) {
        yesterday = counter - dayStart;
        dayStart = counter;
        current = reportDay(now);
        ++closed;
        (floorDiv(now, kHour) % 24 == 5 ? closedAtFive : closedAtFour)++;
      }
      const int64_t weekday = floorDiv(local(now), kDay) % 7;  // 0 Saturday, 1 Sunday
      ASSERT_EQ(report.point(1), counter) << n;
      ASSERT_EQ(report.point(3), counter - dayStart) << n;
      ASSERT_EQ(report.point(4), yesterday) << n;
      ASSERT_EQ(report.point(5), dayStart) << n;
      ASSERT_EQ(report.point(8), reportDay(now) - reportDay(commissioned)) << n;
      ASSERT_EQ(report.point(9), weekday <= 1 ? 1.0 : 0.0) << n;
      ASSERT_EQ(report.point(10), closed) << n;
    }
    // Four days closed: at 05:00 UTC in winter and 04:00 UTC in summer.
    EXPECT_EQ(closed, 4);
    EXPECT_GT(closedAtFive, 0);
    EXPECT_GT(closedAtFour, 0);
  }
  DtResetUtcTime();
  VmSetTimeZone(nullptr);
}

// Alarms latch on their rising edge, the operator's bits acknowledge them, and the total of
// alarms raised is kept in the store: after a restart of the runner it goes on from where it
// was (the alarms still active rise again), and the store file holds the last total.
TEST(Examples, AlarmsLatchAcknowledgeAndKeepTheirTotalAcrossRestarts) {
  const std::string store = ::testing::TempDir() + "alarms_example_" + std::to_string(getpid()) + ".nvram";
  std::remove(store.c_str());
  // Per cycle: the five inputs as bits (alarm 1 = bit 0) and the acknowledgement bits.
  const struct { int inputs, ack; } script[] = {
      {0b00010, 0},  {0b00010, 0},  {0b00110, 0}, {0b00111, 0}, {0b00101, 0b00010}, {0b00101, 0b00101},
      {0b00000, 0},  {0b00000, 0b00100}, {0b11000, 0}, {0b11000, 0b11000}, {0b01000, 0}, {0b01001, 0},
      {0b00000, 0b00001}, {0b10000, 0}, {0b10000, 0},
  };
  int last = 0, word = 0, first = 0;
  double total = 0;
  for (int run = 0; run < 3; ++run) {
    Example alarms("alarms", "asm", store);
    ASSERT_TRUE(alarms.ok());
    last = 0;  // a restart forgets the previous inputs; the word and first-out start clear
    word = first = 0;
    for (const auto &step : script) {
      for (int b = 0; b < 5; ++b) alarms.setPoint(1 + b, (step.inputs >> b) & 1);
      alarms.setPoint(7, step.ack);
      alarms.cycle();
      for (int b = 0; b < 5; ++b) {
        const int mask = 1 << b;
        if ((step.inputs & mask) && !(last & mask)) {
          word |= mask;
          total += 1;
          if (first == 0) first = b + 1;
        }
        if (step.ack & mask) word &= ~mask;
      }
      last = step.inputs;
      if (word == 0) first = 0;
      const int n = int(&step - script);
      ASSERT_EQ(alarms.point(6), word) << "run " << run << " cycle " << n;
      ASSERT_EQ(alarms.point(7), 0) << "run " << run << " cycle " << n;
      ASSERT_EQ(alarms.point(8), first) << "run " << run << " cycle " << n;
      ASSERT_EQ(alarms.point(9), total) << "run " << run << " cycle " << n;
    }
  }
  EXPECT_EQ(total, 21.0) << "seven rising edges in each of the three runs";
  const uint32_t handle = DboperOpen(store.c_str());
  ASSERT_NE(handle, 0u) << DboperLastMessage();
  DboperRecord record{};
  EXPECT_EQ(DboperRead(handle, 9, &record), DBOPER_HAS_VALUE);
  EXPECT_EQ(double(record.value), total);
  DboperClose(handle);
  std::remove(store.c_str());
}

// The gas meter over 300 cycles of changing temperature, pressure and
// differential pressure, with stretches below the low-flow cutoff, below the
// temperature range of GERG-91 and beyond the accepted dp/p. The model does
// the metering logic itself and takes K and the flows from the exports
// (their numbers have their own tests), with the gas and run of the program.
TEST(Examples, GasMeterTotalisesTheStandardVolumeAndAlarmsOnBadResults) {
  Example meter("gas_meter", "asm");
  ASSERT_TRUE(meter.ok());
  const double rhoc = 0.6799, xa = 0.008858, xy = 0.000668, period = 1.0, cutoff = 0.05;
  auto lreal = [](double v) { return VmCell{VM_TYPE_LREAL, 0, {}, {.f64 = v}}; };
  auto dint = [](int32_t v) { return VmCell{VM_TYPE_DINT, 0, {}, {.i32 = v}}; };
  double total = 0;
  int alarms = 0, stopped = 0;
  for (int n = 1; n <= 300; ++n) {
    double T = 283.15 + 10 * std::sin(n / 40.0), p = 2.5 + 0.5 * std::sin(n / 25.0);
    double dpKpa = 25 + 20 * std::sin(n / 10.0);
    if (n > 100 && n <= 120) dpKpa = 0.02;  // below the cutoff
    if (n > 200 && n <= 210) T = 245.0;     // below the range of GERG-91
    if (n > 250 && n <= 255) dpKpa = 700;   // dp / p above 0.25
    meter.setPoint(1, T);
    meter.setPoint(2, p);
    meter.setPoint(3, dpKpa);
    meter.cycle();

    std::vector<VmCell> kf = {lreal(T), lreal(p), lreal(rhoc), lreal(xa), lreal(xy), dint(0), lreal(0)};
    ASSERT_EQ(GasK_GERG91(1, 6101, kf.data(), 5, 2), 0);
    const double K = kf[6].v.f64;
    double qc = 0, qm = 0;
    int32_t code = 0;
    if (dpKpa >= cutoff) {
      std::vector<VmCell> f = {lreal(T),    lreal(p),   lreal(rhoc), lreal(xa),  lreal(xy),    lreal(K),
                               lreal(dpKpa / 1000), lreal(200.0), lreal(11.1), lreal(7.7), lreal(-3.4), dint(1),
                               lreal(0.1),  dint(2),    lreal(100.0), lreal(15.6), lreal(8.3), lreal(-6.5),
                               lreal(0.04), dint(0),    lreal(1.0),  dint(0)};
      f[11].type = f[19].type = VM_TYPE_BOOL;
      f.resize(41);
      ASSERT_EQ(GasFlowrate(1, 6106, f.data(), 22, 19), 0);
      code = f[22].v.i32;
      qc = f[23].v.f64;
      qm = f[25].v.f64;
    } else {
      ++stopped;
    }
    double volume = qc * period;
    volume = volume / 3600;
    total = total + volume;
    alarms += code != 0;
    ASSERT_EQ(meter.point(9), K) << n;
    ASSERT_EQ(meter.point(4), qc) << n;
    ASSERT_EQ(meter.point(5), qm) << n;
    ASSERT_EQ(meter.point(6), code) << n;
    ASSERT_EQ(meter.point(7), total) << n;
    ASSERT_EQ(meter.point(8), code != 0 ? 1.0 : 0.0) << n;
  }
  EXPECT_EQ(stopped, 20);
  EXPECT_EQ(alarms, 15) << "ten cycles too cold for GERG-91, five with too large a dp";
  EXPECT_GT(total, 1000.0);
}
