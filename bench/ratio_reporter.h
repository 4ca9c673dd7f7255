// SPDX-License-Identifier: MIT
// The console report of Google Benchmark followed by the ratio of each
// measured benchmark to its baseline, both run in the same process. Times
// are CPU times: the median of the repetitions when a benchmark repeats (a
// busy machine disturbs medians least), else the single run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace sicvm::bench {

struct Ratio {
  const char *measured;
  const char *baseline;
  // Optional: also print the measured time times `scale` with this unit
  // (e.g. per point instead of per iteration).
  const char *unit = nullptr;
  double scale = 0;
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::string title, std::vector<Ratio> ratios) : title_(std::move(title)), ratios_(std::move(ratios)) {}

  // Also prints, after the ratios, `items` per iteration of benchmark `name`
  // divided by its time (the same time as the ratios'), in millions of
  // `unit` per second. Google Benchmark's own rate counters cannot show
  // this: a "min" statistic takes the lowest rate, the slowest repetition.
  void rate(std::string name, double items, const char *unit) { rates_.push_back({std::move(name), items, unit}); }

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      const std::string &name = run.run_name.function_name;
      // The fastest repetition when a benchmark computes it, else the median.
      const bool min = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
      if (min || (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !mins_[name])) {
        cpu_[name] = run.GetAdjustedCPUTime();
        seconds_[name] = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        medians_[name] = true;
        mins_[name] = mins_[name] || min;
      } else if (run.run_type == Run::RT_Iteration && !medians_[name]) {
        cpu_[name] = run.GetAdjustedCPUTime();
        seconds_[name] = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%s\n", title_.c_str());
    for (const Ratio &r : ratios_) {
      auto measured = cpu_.find(r.measured), baseline = cpu_.find(r.baseline);
      if (measured == cpu_.end() || baseline == cpu_.end() || baseline->second <= 0) continue;
      std::printf("  %-22s / %-22s %8.2f x", r.measured, r.baseline, measured->second / baseline->second);
      if (r.unit) std::printf("   %10.2f %s", measured->second * r.scale, r.unit);
      std::printf("\n");
    }
    for (const Rate &r : rates_) {
      auto seconds = seconds_.find(r.name);
      if (seconds == seconds_.end() || seconds->second <= 0) continue;
      std::printf("  %-22s %10.1f million %s/s\n", r.name.c_str(), r.items / seconds->second / 1e6, r.unit);
    }
  }

 private:
  struct Rate {
    std::string name;
    double items;
    const char *unit;
  };
  std::string title_;
  std::vector<Ratio> ratios_;
  std::vector<Rate> rates_;
  std::map<std::string, double> cpu_, seconds_;
  std::map<std::string, bool> medians_;
  std::map<std::string, bool> mins_;
};

// The main function of a benchmark program that reports ratios.
inline int runWithRatios(int argc, char **argv, RatioReporter &reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace sicvm::bench
