// SPDX-License-Identifier: MIT
// What hot standby adds to a primary's cycle: one cycle of the pumps example
// alone (the baseline) against the same cycle followed by handing its state
// to the sender (Primary::afterCycle) while a standby in the same process,
// on 127.0.0.1, applies every state. CPU times are the cycle thread's own,
// so the sender thread's work (the delta and the send) is not in them; it is
// measured apart as the delta of two successive states.
//
// `bench_standby --count CYCLES` runs CYCLES cycles with the primary and
// exits, for instruction counts:
//   valgrind --tool=callgrind --toggle-collect='sicvm::standby::Primary::afterCycle*' bench_standby --count 1000
//   valgrind --tool=callgrind --toggle-collect='sicvm::runner::Session::runCycle*' bench_standby --count 1000
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ratio_reporter.h"
#include "runner/session.h"
#include "standby/delta.h"
#include "standby/primary.h"
#include "standby/standby.h"

using namespace sicvm;

namespace {

std::unique_ptr<runner::Session> pumps() {
  std::ifstream in(SICVM_EXAMPLE_IMAGES "/pumps.sic", std::ios::binary);
  std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), {}};
  auto s = std::make_unique<runner::Session>(image);
  runner::SessionOptions options;
  options.pointsFile = SICVM_EXAMPLES "/pumps.csv";
  std::string error;
  if (s->setUp(options, error) != runner::SetUpResult::OK) {
    std::fprintf(stderr, "pumps.sic: %s\n", error.c_str());
    std::exit(1);
  }
  return s;
}

// A primary and its standby, the standby served by a thread of its own.
struct Pair {
  std::unique_ptr<runner::Session> primarySession = pumps(), standbySession = pumps();
  standby::ImageIdentity identity{1, 1};
  std::unique_ptr<standby::Standby> standby;
  std::unique_ptr<standby::Primary> primary;
  std::atomic<bool> stop{false};
  std::thread server;

  Pair() {
    auto quiet = [](const std::string &) {};
    standby = std::make_unique<standby::Standby>(*standbySession, identity, 1000000, quiet);
    std::string error;
    if (!standby->listen({"127.0.0.1", 0}, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    primary = std::make_unique<standby::Primary>(*primarySession, standby::Endpoint{"127.0.0.1", standby->port()},
                                                 identity, 0, quiet);
    server = std::thread([this] {
      while (!stop) standby->serve(10);
    });
  }
  ~Pair() {
    primary->finish();
    stop = true;
    server.join();
  }
};

void BM_cycle(benchmark::State &state) {
  auto s = pumps();
  for (auto _ : state) benchmark::DoNotOptimize(s->runCycle().commands);
}
BENCHMARK(BM_cycle)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_cycle_primary(benchmark::State &state) {
  Pair pair;
  uint64_t seq = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pair.primarySession->runCycle().commands);
    pair.primary->afterCycle(++seq);
  }
  standby::Primary::Counters c = pair.primary->counters();
  state.counters["bytes/state"] = c.states ? double(c.bytes) / double(c.states) : 0;
  state.counters["replaced"] = double(c.replaced) / double(seq);
}
BENCHMARK(BM_cycle_primary)->Repetitions(5)->ReportAggregatesOnly(true);

// The sender's work per state: the delta between two successive cycles' states.
void BM_delta(benchmark::State &state) {
  auto s = pumps();
  standby::StateMap map(*s);
  std::vector<uint8_t> before(map.size()), after(map.size()), out;
  s->runCycle();
  map.gather(before.data());
  s->runCycle();
  map.gather(after.data());
  for (auto _ : state) {
    out.clear();
    benchmark::DoNotOptimize(standby::encodeDelta(before.data(), after.data(), map.size(), out));
  }
  state.counters["state bytes"] = double(map.size());
  state.counters["delta bytes"] = double(out.size());
}
BENCHMARK(BM_delta)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--count") == 0) {
    Pair pair;
    uint64_t cycles = std::strtoull(argv[2], nullptr, 10);
    for (uint64_t seq = 1; seq <= cycles; ++seq) {
      pair.primarySession->runCycle();
      pair.primary->afterCycle(seq);
    }
    return 0;
  }
  sicvm::bench::RatioReporter reporter("Hot standby: a pumps cycle on the primary against the cycle alone",
                                       {{"BM_cycle_primary", "BM_cycle"}, {"BM_delta", "BM_cycle"}});
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
