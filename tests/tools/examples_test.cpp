// The example programs: each is assembled from examples/ (and compiled from
// its Structured Text twin in examples/st/), set up against its points file
// as `sicvm run` does, and run cycle by cycle on a manual clock (100 ms per
// cycle). After every cycle the points it writes are compared with an
// independent model of the same control logic and plant.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "asm/assembler.h"
#include "hostrt/points.h"
#include "hostrt/sys.h"
#include "runner/session.h"
#include "stc/compiler.h"

using namespace sicvm;

namespace {

class Example {
 public:
  // `language` "asm": examples/NAME.asm; "st": examples/st/NAME.st.
  Example(const std::string &name, const std::string &language) {
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
