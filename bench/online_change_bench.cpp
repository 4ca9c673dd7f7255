// SPDX-License-Identifier: MIT
// Online change: the work the reload thread does beside the running program
// (plan the carry, VmInitMachine, the verifiers, host types, timers, links)
// and the work the switch does between two cycles (copy the carried cells,
// the timer clock, adopt the new image), each against one cycle of the same
// program in this run. The program is the pumps example in Structured Text,
// replaced by itself, so every named var is carried (the most copies).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>

#include "ratio_reporter.h"
#include "runner/session.h"
#include "runner/state_carry.h"
#include "stc/compiler.h"

namespace {

using namespace sicvm::runner;

const sicvm::stc::Compilation &pumps() {
  static const sicvm::stc::Compilation c = [] {
    std::ifstream in(std::string(SICVM_EXAMPLES) + "/st/pumps.st", std::ios::binary);
    return sicvm::stc::compile(std::string(std::istreambuf_iterator<char>(in), {}), "pumps.st");
  }();
  return c;
}

SessionOptions options() {
  SessionOptions o;
  o.pointsFile = std::string(SICVM_EXAMPLES) + "/pumps.csv";
  return o;
}

// A replacement set up as the reload thread does it, with the running
// machine's host fields.
VmMachine *prepare(std::vector<uint8_t> &image, const VmMachine &running) {
  VmMachine *m = nullptr;
  if (VmInitMachine(image.data(), static_cast<uint32_t>(image.size()), &m) != 0) return nullptr;
  m->commandLimit = running.commandLimit;
  m->pointCount = running.pointCount;
  m->pointConfig = running.pointConfig;
  m->pointValues = running.pointValues;
  std::string error;
  return verifyAndLink(m, error) == SetUpResult::OK ? m : nullptr;
}

void Cycle(benchmark::State &state) {
  Session session(pumps().image);
  std::string error;
  if (session.setUp(options(), error) != SetUpResult::OK) return state.SkipWithError(error.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(session.runCycle().commands);
}

void PrepareBesideTheCycle(benchmark::State &state) {
  Session session(pumps().image);
  std::string error;
  if (session.setUp(options(), error) != SetUpResult::OK) return state.SkipWithError(error.c_str());
  StateLayout running, next;
  readLayout(session.image(), pumps().symbolTable, running, error);
  for (auto _ : state) {
    std::vector<uint8_t> image = pumps().image;
    readLayout(image, pumps().symbolTable, next, error);
    CarryPlan plan = planCarry(running, next);
    VmMachine *m = prepare(image, *session.machine());
    if (!m) return state.SkipWithError("the replacement was refused");
    benchmark::DoNotOptimize(plan.copies.data());
    VmReleaseMachine(m);
  }
}

void SwitchBetweenCycles(benchmark::State &state) {
  Session session(pumps().image);
  std::string error;
  if (session.setUp(options(), error) != SetUpResult::OK) return state.SkipWithError(error.c_str());
  StateLayout layout;
  readLayout(pumps().image, pumps().symbolTable, layout, error);
  CarryPlan plan = planCarry(layout, layout);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<uint8_t> image = pumps().image;
    VmMachine *m = prepare(image, *session.machine());
    if (!m) return state.SkipWithError("the replacement was refused");
    state.ResumeTiming();
    carryState(plan, session.image().data(), image.data());
    carryMachine(*session.machine(), *m);
    session.adopt(std::move(image), m);
  }
  state.counters["cells"] = double(plan.copies.size());
}

BENCHMARK(Cycle)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(PrepareBesideTheCycle)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(SwitchBetweenCycles)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  sicvm::bench::RatioReporter reporter("Online change of the pumps example, against one of its cycles:",
                                       {{"PrepareBesideTheCycle", "Cycle"}, {"SwitchBetweenCycles", "Cycle"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
