// SPDX-License-Identifier: MIT
// Cost of a durable point store write, against two baselines measured in the
// same run:
//   FsyncedFileWrite   100 records written to a plain file, each followed by
//                      fdatasync: the least any durable write can cost here;
//   SqliteUnsynced     the store's own upsert through SQLite with
//                      synchronous=OFF: the SQL work without waiting for the disk.
// PerWriteCommit/100 (below) is the store's durable write against them, and
// StoreRead reads; each handles 100 points per iteration, point i at index i.
//
// Writes of a control cycle, 1, 10 or 100 points a cycle, one cycle per
// iteration, each way in the same run:
//   PerWriteCommit/N   each write its own transaction (a store without a
//                      cycle, as hosts that do not call DboperBeginCycle use it);
//   CycleCommit/N      DboperBeginCycle, N writes, DboperCommitCycle.
// Each reports writes_per_s and syncs_per_cycle: the disk syncs SQLite asked
// for (xSync calls, counted by a VFS laid over the default one), checkpoints
// included, divided by the cycles run.
//
// The files live in $SICVM_BENCH_DIR, or the current folder; the figures
// depend on that folder's disk. After the usual table the program prints each
// store figure as a ratio of medians to the baselines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "hostrt/points.h"
#include "hostrt/store.h"

namespace {

constexpr int kPoints = 100;

// The syncs SQLite asks of the files it opens: the default VFS's files get a
// copy of their method table whose xSync counts before it syncs.
std::atomic<long long> g_syncs{0};
sqlite3_vfs *g_realVfs = nullptr;
sqlite3_vfs g_countingVfs;

struct CountingMethods {
  sqlite3_io_methods methods;  // first, so that a file's pMethods leads back here
  int (*realSync)(sqlite3_file *, int);
};

int countingSync(sqlite3_file *file, int flags) {
  ++g_syncs;
  return reinterpret_cast<const CountingMethods *>(file->pMethods)->realSync(file, flags);
}

const sqlite3_io_methods *counting(const sqlite3_io_methods *real) {
  static std::mutex mutex;
  static std::map<const sqlite3_io_methods *, std::unique_ptr<CountingMethods>> copies;
  std::lock_guard lock(mutex);
  std::unique_ptr<CountingMethods> &copy = copies[real];
  if (!copy) copy.reset(new CountingMethods{*real, real->xSync});
  copy->methods.xSync = countingSync;
  return &copy->methods;
}

int countingOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags) {
  int rc = g_realVfs->xOpen(g_realVfs, name, file, flags, outFlags);
  if (rc == SQLITE_OK && file->pMethods != nullptr) file->pMethods = counting(file->pMethods);
  return rc;
}

void countSyncs() {
  g_realVfs = sqlite3_vfs_find(nullptr);
  g_countingVfs = *g_realVfs;
  g_countingVfs.zName = "counting-syncs";
  g_countingVfs.xOpen = countingOpen;
  sqlite3_vfs_register(&g_countingVfs, 1);
}

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

// One cycle of `state.range(0)` writes per iteration, in a cycle or not.
void cycleWrites(benchmark::State &state, bool inCycle, const char *file) {
  const std::string path = benchPath(file);
  removeStore(path);
  uint32_t h = DboperOpen(path.c_str());
  if (h == 0) {
    state.SkipWithError(DboperLastMessage());
    return;
  }
  const int32_t writes = static_cast<int32_t>(state.range(0));
  PointValueRecord value{};
  const long long syncsBefore = g_syncs;
  for (auto _ : state) {
    if (inCycle && DboperBeginCycle(h) != 0) state.SkipWithError(DboperLastMessage());
    for (int32_t i = 1; i <= writes; ++i) {
      value.value += 0.5;
      if (DboperWritePoint(h, i, DBOPER_SELECT_VALUE, nullptr, &value) != 1) state.SkipWithError(DboperLastMessage());
    }
    if (inCycle && DboperCommitCycle(h) != writes) state.SkipWithError(DboperLastMessage());
  }
  state.counters["writes_per_s"] = benchmark::Counter(writes, benchmark::Counter::kIsIterationInvariantRate);
  const auto cycles = std::max<benchmark::IterationCount>(state.iterations(), 1);
  state.counters["syncs_per_cycle"] = static_cast<double>(g_syncs - syncsBefore) / static_cast<double>(cycles);
  DboperClose(h);
  removeStore(path);
}

void PerWriteCommit(benchmark::State &state) { cycleWrites(state, false, "bench-per-write.db"); }
void CycleCommit(benchmark::State &state) { cycleWrites(state, true, "bench-cycle.db"); }

BENCHMARK(PerWriteCommit)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CycleCommit)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FsyncedFileWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SqliteUnsynced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(StoreRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's time per iteration for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      if (run.run_type == Run::RT_Iteration) {
        seconds_[name].push_back(seconds);
        for (const auto &[counter, value] : run.counters) counterRuns_[name + " " + counter].push_back(value.value);
      } else if (run.aggregate_name == "median") {
        medians_[name] = seconds;
        for (const auto &[counter, value] : run.counters) counterMedians_[name + " " + counter] = value.value;
      }
    }
  }

  void printRatios() const {
    auto ratio = [this](const char *a, const char *b) {
      double x = median(a), y = median(b);
      if (x > 0.0 && y > 0.0) std::printf("%-18s / %-18s = %8.2f\n", a, b, x / y);
    };
    std::printf("\nRatios of the median real time per point (same run):\n");
    ratio("PerWriteCommit/100", "FsyncedFileWrite");
    ratio("PerWriteCommit/100", "SqliteUnsynced");
    ratio("StoreRead", "SqliteUnsynced");
    std::printf("\nWrites of a cycle committed together against each its own commit (medians, same run):\n");
    for (const char *n : {"1", "10", "100"}) {
      const std::string cycle = std::string("CycleCommit/") + n, each = std::string("PerWriteCommit/") + n;
      double cycleRate = counter(cycle + " writes_per_s"), eachRate = counter(each + " writes_per_s");
      if (cycleRate <= 0.0 || eachRate <= 0.0) continue;
      std::printf("%3s a cycle: %9.0f writes/s (%6.2f x each its own commit, %9.0f writes/s); "
                  "syncs a cycle %6.2f (each its own commit: %6.2f)\n",
                  n, cycleRate, cycleRate / eachRate, eachRate, counter(cycle + " syncs_per_cycle"),
                  counter(each + " syncs_per_cycle"));
    }
  }

 private:
  static double medianOf(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
  }

  // The reported median when repetitions were aggregated, else the median
  // of the runs seen.
  double median(const std::string &name) const {
    if (auto reported = medians_.find(name); reported != medians_.end()) return reported->second;
    auto found = seconds_.find(name);
    return found == seconds_.end() ? 0.0 : medianOf(found->second);
  }

  double counter(const std::string &key) const {
    if (auto reported = counterMedians_.find(key); reported != counterMedians_.end()) return reported->second;
    auto found = counterRuns_.find(key);
    return found == counterRuns_.end() ? 0.0 : medianOf(found->second);
  }

  std::map<std::string, std::vector<double>> seconds_;
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> counterRuns_;
  std::map<std::string, double> counterMedians_;
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
  countSyncs();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
