// SPDX-License-Identifier: MIT
// The gas functions' contract beyond the numbers (which oracle_test checks):
// counts in both modes, how the Reynolds iteration ends, the in-place
// rewrite of the length inputs, the short and full forms of GasFlowrate and
// the host library entries that hand calls on.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "gas/roughness.h"
#include "gas/gas_frame.h"
#include "hostlib/hostlib.h"
#include "support/cells.h"

using namespace sicvm;
using test::gasFrame;

namespace {

// T p rhoc xa xy K dp D20 a0 a1 a2 equiv roughness device d20 b0 b1 b2 rn mean tau limit
const std::vector<double> kFlow = {293.15, 1.0, 0.68, 0.01, 0.005, 0.98, 0.02, 200.0, 11.0, 0, 0,
                                   0,      0.05, 2,   100.0, 16.0, 0,    0,   0.04, 0,    1.0, 0};
const std::vector<double> kOrifice = {293.15, 1.0, 0.68, 0.01, 0.005, 0.98, 0.02,
                                      200.0,  1.2e-5, 0.1, 100.0, 1.6e-5, 0.04, 1.0};
const std::vector<double> kK = {270.0, 2.001, 0.6799, 0.008858, 0.000668};

bool same(const std::vector<VmCell> &a, const std::vector<VmCell> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(VmCell)) == 0;
}

TEST(GasCounts, WrongCountsGiveTwoAndTouchNothingInEitherMode) {
  const struct {
    const char *name;
    int32_t function, nin, nout, result;
  } cases[] = {
      {"GasK_NX19", 6100, 5, 2, 0},       {"GasK_NX19", 6100, 4, 2, 2},
      {"GasK_NX19", 6100, 5, 1, 2},       {"GasK_GERG91", 6101, 6, 2, 2},
      {"GasK_GERG91", 6101, 5, 3, 2},     {"GasFlowrate_DA", 6102, 14, 6, 0},
      {"GasFlowrate_DA", 6102, 13, 6, 2}, {"GasFlowrate_DF", 6103, 14, 5, 2},
      {"GasFlowrate_DT", 6104, 15, 6, 2}, {"GasFlowrate", 6105, 22, 4, 0},
      {"GasFlowrate", 6105, 22, 19, 2},   {"GasFlowrate", 6106, 22, 19, 0},
      {"GasFlowrate", 6106, 22, 4, 2},    {"GasFlowrate", 6106, 21, 19, 2},
      {"GasFlowrate", 0, 22, 4, 0},       {"GasFlowrate", 0, 22, 19, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << " " << c.function << " " << c.nin << "/" << c.nout);
    const test::GasSignature *sig = test::gasSignature(c.name);
    const std::vector<double> &inputs = sig->inputs == 5 ? kK : sig->inputs == 14 ? kOrifice : kFlow;
    std::vector<VmCell> frame = gasFrame(c.name, inputs, 19, 2);
    const std::vector<VmCell> before = frame;
    EXPECT_EQ(sig->function(0, c.function, frame.data(), c.nin, c.nout), c.result);
    EXPECT_EQ(sig->function(0, c.function, nullptr, c.nin, c.nout), c.result) << "check mode reads no frame";
    EXPECT_TRUE(same(frame, before)) << "check mode writes nothing";
    if (c.result != 0) {
      EXPECT_EQ(sig->function(1, c.function, frame.data(), c.nin, c.nout), c.result);
      EXPECT_TRUE(same(frame, before)) << "a count mismatch writes nothing";
    }
  }
}

struct Flow {
  std::vector<VmCell> frame;
  int32_t code() const { return frame[22].v.i32; }
  double out(int i) const { return frame[size_t(22 + i)].v.f64; }
  int32_t passes() const { return frame[40].v.i32; }
};

Flow flow(std::vector<std::pair<int, double>> changes, int32_t function = GAS_FLOWRATE_FULL) {
  std::vector<double> inputs = kFlow;
  for (auto [cell, value] : changes) inputs[size_t(cell)] = value;
  const int32_t nout = function == GAS_FLOWRATE_FULL ? 19 : 4;
  Flow f{gasFrame("GasFlowrate", inputs, nout, 19 - nout)};
  EXPECT_EQ(GasFlowrate(1, function, f.frame.data(), 22, nout), 0);
  return f;
}

// The iteration always ends: on convergence, at the pass limit, as soon as
// the mass flow is no longer a finite number, or after 1000 passes.
TEST(GasFlowrateIteration, EndsOnConvergenceTheLimitOrANonFiniteFlow) {
  const struct {
    const char *label;
    std::vector<std::pair<int, double>> changes;
    int32_t passes;  // 0: converged within 10
    bool finite;
  } cases[] = {
      {"converges", {}, 0, true},
      {"limit 1: one pass at Re 1e6", {{21, 1}}, 1, true},
      {"limit 2", {{21, 2}}, 2, true},
      {"a negative limit is no limit", {{21, -3}}, 0, true},
      // A zero flow gives a NaN change (0/0), the zero Reynolds number a NaN flow.
      {"dp 0, orifice", {{6, 0.0}}, 2, false},
      // The expansion factor of a nozzle is 0/0 at once.
      {"dp 0, nozzle", {{6, 0.0}, {13, 4}}, 1, false},
      {"NaN pressure", {{1, NAN}}, 1, false},
      {"infinite edge radius: infinite flow", {{18, INFINITY}}, 1, false},
      // A rough orifice pipe whose flow alternates for ever across the jump
      // of the roughness limit at Re = 1e4: the pass bound ends it.
      {"alternating", {{1, 0.2}, {6, 4.3177965190485995e-06}, {8, 0}, {12, 0.5}, {13, 1}, {15, 0}}, 1000, true},
      {"alternating, limit 5000",
       {{1, 0.2}, {6, 4.3177965190485995e-06}, {8, 0}, {12, 0.5}, {13, 1}, {15, 0}, {21, 5000}}, 1000, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    Flow f = flow(c.changes);
    if (c.passes == 0) {
      EXPECT_GE(f.passes(), 2);
      EXPECT_LE(f.passes(), 10);
    } else {
      EXPECT_EQ(f.passes(), c.passes);
    }
    EXPECT_EQ(std::isfinite(f.out(1)) && std::isfinite(f.out(3)), c.finite);
  }
  EXPECT_EQ(flow({{21, 1}}).out(17), 1e6);
  EXPECT_EQ(flow({{21, -3}}).passes(), flow({}).passes());
}

TEST(GasFlowrateFrame, LengthsAreRewrittenInPlaceOnEveryCall) {
  Flow f = flow({{11, 1}, {12, 0.1}});
  const auto cell = [&](int i) { return f.frame[size_t(i)].v.f64; };
  EXPECT_EQ(cell(7), 0.2);
  EXPECT_EQ(cell(14), 0.1);
  EXPECT_EQ(cell(18), 0.04 / 1000);
  EXPECT_EQ(cell(12), 0.1 / 1000 / M_PI) << "equivalent roughness becomes the mean one";
  EXPECT_EQ(f.code(), 0);
  // The same frame again: metres taken for millimetres, the pipe too small.
  ASSERT_EQ(GasFlowrate(1, GAS_FLOWRATE_FULL, f.frame.data(), 22, 19), 0);
  EXPECT_EQ(cell(7), 0.2 / 1000);
  EXPECT_EQ(cell(12), 0.1 / 1000 / M_PI / 1000) << "not divided by pi again: the check failed first";
  EXPECT_EQ(f.code(), GAS_INPUT_OUT_OF_RANGE);
}

TEST(GasFlowrateFrame, ShortFormWritesFourOutputsOnly) {
  Flow full = flow({}), shortForm = flow({}, GAS_FLOWRATE_SHORT);
  EXPECT_EQ(std::memcmp(&full.frame[22], &shortForm.frame[22], 4 * sizeof(VmCell)), 0);
  for (size_t i = 26; i < 41; ++i) EXPECT_EQ(shortForm.frame[i].v.bytes[0], 0xEE) << i;
}

TEST(GasFlowrateRoughness, NozzleLimitIsLinearBetweenItsPoints) {
  const struct { double beta, limit; } cases[] = {
      {0.2, 8.0}, {0.35, 8.0}, {0.355, 6.95}, {0.36, 5.9}, {0.45, 2.25},
      {0.55, 1.6}, {0.77, 1.2}, {0.8, 1.2},
  };
  for (const auto &c : cases) EXPECT_NEAR(gas::nozzleRoughnessLimit(c.beta), c.limit, 1e-12) << c.beta;
}

// The host library hands 6100 to 6106 to the exports with the frame at
// `first`; the export's result is the dispatcher's, in both modes.
TEST(GasHostEntries, HandTheCallToTheExportsInBothModes) {
  test::TestMachine m(test::minimalProgram());
  const struct { int32_t function; const char *name; int32_t nout; } entries[] = {
      {6100, "GasK_NX19", 2},      {6101, "GasK_GERG91", 2},    {6102, "GasFlowrate_DA", 6},
      {6103, "GasFlowrate_DF", 6}, {6104, "GasFlowrate_DT", 6}, {6105, "GasFlowrate", 4},
      {6106, "GasFlowrate", 19},
  };
  for (const auto &e : entries) {
    SCOPED_TRACE(e.function);
    const test::GasSignature *sig = test::gasSignature(e.name);
    const int32_t nin = sig->inputs;
    EXPECT_EQ(hostlib::dispatch(0, e.function, nullptr, 0, 0, nin, e.nout, nullptr), 0);
    EXPECT_EQ(hostlib::dispatch(0, e.function, nullptr, 0, 0, nin, e.nout + 1, nullptr), 2);
    EXPECT_EQ(hostlib::dispatch(0, e.function, nullptr, 0, 0, nin - 1, e.nout, nullptr), 2);
    const std::vector<double> &inputs = nin == 5 ? kK : nin == 14 ? kOrifice : kFlow;
    std::vector<VmCell> direct = gasFrame(e.name, inputs, e.nout);
    ASSERT_EQ(sig->function(1, e.function, direct.data(), nin, e.nout), 0);
    // Through the dispatcher, the frame starting at cell 3 of the run.
    std::vector<VmCell> run(3);
    const std::vector<VmCell> frame = gasFrame(e.name, inputs, e.nout);
    run.insert(run.end(), frame.begin(), frame.end());
    ASSERT_EQ(hostlib::dispatch(1, e.function, run.data(), int32_t(run.size()), 3, nin, e.nout, m.get()), 0);
    EXPECT_EQ(std::memcmp(run.data() + 3, direct.data(), direct.size() * sizeof(VmCell)), 0);
    EXPECT_EQ(hostlib::dispatch(1, e.function, run.data(), int32_t(run.size()), 3, nin, e.nout - 1, m.get()), 2);
  }
}

}  // namespace

namespace {

// Math library errors inside a gas function (log10 of a zero Reynolds
// number, pow of a negative base) never reach errno, which a run reads after
// each command in one of its floating-point modes.
TEST(GasErrno, MathLibraryErrorsStayInside) {
  const struct {
    const char *name;
    std::vector<double> inputs;
    int nout;
  } cases[] = {
      {"GasFlowrate", [] { auto v = kFlow; v[6] = 0.0; return v; }(), 19},               // log10(Re = 0)
      {"GasFlowrate", [] { auto v = kFlow; v[13] = 4; v[1] = -1.0; return v; }(), 19},  // out of range, checked first
      {"GasFlowrate_DA", [] { auto v = kOrifice; v[9] = 0.0; return v; }(), 6},         // smooth pipe
      {"GasFlowrate_DA", [] { auto v = kOrifice; v[6] = 0.0; v[9] = 5.0; return v; }(), 6},  // log10(Re = NaN)
      {"GasK_GERG91", {270.0, 2.0, 0.7, 0.6, 0.4}, 2},                                   // xa + xy = 1
      {"GasK_NX19", {270.0, 2.0, 1e-6, 0.0, 0.0}, 2},
  };
  for (const auto &c : cases) {
    std::vector<VmCell> frame = gasFrame(c.name, c.inputs, c.nout);
    errno = EINTR;
    ASSERT_EQ(test::gasSignature(c.name)->function(1, GAS_FLOWRATE_FULL, frame.data(), int32_t(c.inputs.size()), c.nout), 0);
    EXPECT_EQ(errno, EINTR) << c.name;
  }
}

}  // namespace
