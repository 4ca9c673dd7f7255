// SPDX-License-Identifier: MIT
// Cost of a durable point store write, against two baselines measured in the
// same run:
//   FsyncedFileWrite   100 records written to a plain file, each followed by
//                      fdatasync: the least any durable write can cost here;
//   SqliteUnsynced     the store's own upsert through SQLite with
//                      synchronous=OFF: the SQL work without waiting for the disk.
// Every benchmark writes 100 points per iteration, point i to index i. The
// files live in $SICVM_BENCH_DIR, or the current folder; the figures depend
// on that folder's disk. After the usual table the program prints each
// store figure as a ratio of medians to the baselines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "hostrt/points.h"
#include "hostrt/store.h"

namespace {

constexpr int kPoints = 100;

std::string benchPath(const char *name) {
  const char *dir = std::getenv("SICVM_BENCH_DIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : ".") + "/" + name;
}

void removeStore(const std::string &path) {
  for (const char *suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
}

// Seconds of real time per point written (or read).
void perPoint(benchmark::State &state) {
  state.counters["per_op"] = benchmark::Counter(static_cast<double>(kPoints),
                                               benchmark::Counter::kIsIterationInvariantRate |
                                                   benchmark::Counter::kInvert);
}

void StoreDurableWrite(benchmark::State &state) {
  const std::string path = benchPath("bench-store.db");
  removeStore(path);
  uint32_t h = DboperOpen(path.c_str());
  if (h == 0) {
    state.SkipWithError(DboperLastMessage());
    return;
  }
  PointConfigRecord config{};
  PointValueRecord value{};
  double x = 0.0;
  for (auto _ : state) {
    for (int32_t i = 1; i <= kPoints; ++i) {
      config.pointId = 1000 + i;
      value.value = x += 0.5;
      if (DboperWritePoint(h, i, DBOPER_SELECT_VALUE, &config, &value) != 1) {
        state.SkipWithError(DboperLastMessage());
        break;
      }
    }
  }
  perPoint(state);
  DboperClose(h);
  removeStore(path);
}

void StoreRead(benchmark::State &state) {
  const std::string path = benchPath("bench-store-read.db");
  removeStore(path);
  uint32_t h = DboperOpen(path.c_str());
  PointValueRecord value{};
  for (int32_t i = 1; h != 0 && i <= kPoints; ++i) DboperWritePoint(h, i, 3, nullptr, &value);
  DboperRecord record;
  for (auto _ : state) {
    for (int32_t i = 1; i <= kPoints; ++i) benchmark::DoNotOptimize(DboperRead(h, i, &record));
  }
  perPoint(state);
  DboperClose(h);
  removeStore(path);
}

void FsyncedFileWrite(benchmark::State &state) {
  const std::string path = benchPath("bench-plain.dat");
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    state.SkipWithError("cannot create the plain file");
    return;
  }
  DboperRecord record{};
  for (auto _ : state) {
    for (int i = 0; i < kPoints; ++i) {
      record.value += 0.5;
      if (pwrite(fd, &record, sizeof record, static_cast<off_t>(i) * sizeof record) != sizeof record ||
          fdatasync(fd) != 0) {
        state.SkipWithError("plain file write failed");
        break;
      }
    }
  }
  perPoint(state);
  close(fd);
  unlink(path.c_str());
}

void SqliteUnsynced(benchmark::State &state) {
  const std::string path = benchPath("bench-unsynced.db");
  removeStore(path);
  uint32_t h = DboperOpen(path.c_str());  // lays out the store's schema
  DboperClose(h);
  sqlite3 *db = nullptr;
  sqlite3_stmt *write = nullptr;
  if (h == 0 || sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db,
                         "INSERT INTO point_store (idx, point_id, status, value_bits)"
                         " VALUES (?1, ?2, NULL, ?3) ON CONFLICT (idx) DO UPDATE SET"
                         " point_id = coalesce(excluded.point_id, point_id),"
                         " status = coalesce(excluded.status, status),"
                         " value_bits = coalesce(excluded.value_bits, value_bits)",
                         -1, &write, nullptr) != SQLITE_OK) {
    state.SkipWithError("cannot set up the unsynced baseline");
  } else {
    int64_t bits = 0;
    for (auto _ : state) {
      for (int i = 1; i <= kPoints; ++i) {
        sqlite3_bind_int(write, 1, i);
        sqlite3_bind_int(write, 2, 1000 + i);
        sqlite3_bind_int64(write, 3, ++bits);
        if (sqlite3_step(write) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
        sqlite3_reset(write);
      }
    }
    perPoint(state);
  }
  sqlite3_finalize(write);
  sqlite3_close(db);
  removeStore(path);
}

BENCHMARK(FsyncedFileWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SqliteUnsynced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(StoreDurableWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(StoreRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's time per iteration for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      if (run.run_type == Run::RT_Iteration)
        seconds_[run.run_name.function_name].push_back(seconds);
      else if (run.aggregate_name == "median")
        medians_[run.run_name.function_name] = seconds;
    }
  }

  void printRatios() const {
    auto ratio = [this](const char *a, const char *b) {
      double x = median(a), y = median(b);
      if (x > 0.0 && y > 0.0) std::printf("%-18s / %-18s = %8.2f\n", a, b, x / y);
    };
    std::printf("\nRatios of the median real time per point (same run):\n");
    ratio("StoreDurableWrite", "FsyncedFileWrite");
    ratio("StoreDurableWrite", "SqliteUnsynced");
    ratio("StoreRead", "SqliteUnsynced");
  }

 private:
  // The reported median when repetitions were aggregated, else the median
  // of the runs seen.
  double median(const std::string &name) const {
    if (auto reported = medians_.find(name); reported != medians_.end()) return reported->second;
    auto found = seconds_.find(name);
    if (found == seconds_.end() || found->second.empty()) return 0.0;
    std::vector<double> times = found->second;
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
  }

  std::map<std::string, std::vector<double>> seconds_;
  std::map<std::string, double> medians_;
};

}  // namespace

// The disk's sync latency drifts while the program runs, so by default each
// benchmark is repeated and the repetitions of all of them are interleaved;
// flags given on the command line come later and win.
int main(int argc, char **argv) {
  std::vector<char *> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=7";
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char aggregates[] = "--benchmark_report_aggregates_only=true";
  args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
  argc = static_cast<int>(args.size());
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
