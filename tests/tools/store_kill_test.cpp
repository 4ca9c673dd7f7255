// SPDX-License-Identifier: MIT
// `sicvm run` commits the point store once per cycle: killed with SIGKILL at
// moments drawn from a fixed seed, round after round on the same store, the
// store always holds the state after one whole cycle, and never loses a
// cycle whose commit the runner logged. Commits that fail are said once and
// retried until they succeed.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "hostrt/store.h"
#include "tools/tool_process.h"

namespace {

using namespace tooltest;

// Each cycle reads its number from point 2 (100 c + 2), counts it on, and
// writes cycle c's values: 100 c + p, as a value to the even points and as a
// status to the odd ones.
constexpr const char kProgram[] = R"(PROGRAM KILLED
VAR
  ok : BOOL;
  v : LREAL;
  c : DINT;
  p : DINT;
END_VAR
ReadNvramValue(2, ok, v);
IF ok THEN
  c := LREAL_TRUNC_DINT(v / 100.0);
ELSE
  c := 0;
END_IF;
c := c + 1;
FOR p := 1 TO 6 DO
  IF p MOD 2 = 0 THEN
    WriteNvramValue(p, DINT_TO_LREAL(c * 100 + p), ok);
  ELSE
    WriteNvramStatus(p, c * 100 + p, ok);
  END_IF;
END_FOR;
END_PROGRAM
)";

// The cycle number of the last complete "cycle N committed" line, 0 when none.
int64_t lastCommitted(const std::string &log) {
  const std::string mark = "Point store: cycle ";
  int64_t last = 0;
  for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
    const size_t end = log.find('\n', at);
    if (end == std::string::npos) break;
    const std::string line = log.substr(at, end - at);
    if (line.find(" committed, 6 points") != std::string::npos) last = std::stoll(line.substr(mark.size()));
  }
  return last;
}

// The program's image, its points and a fresh store, under `name`.
struct Files {
  std::string image, points, store;
  explicit Files(const std::string &name)
      : image(temp(name + ".sic")), points(temp(name + ".csv")), store(temp(name + ".nvram")) {
    const std::string source = temp(name + ".st");
    write(source, kProgram);
    std::string csv = "index,id,type,mode,value,status\n";
    for (int p = 1; p <= 6; ++p) csv += std::to_string(p) + "," + std::to_string(100 + p) + ",LREAL,0,0,0\n";
    write(points, csv);
    for (const char *suffix : {"", "-wal", "-shm"}) std::remove((store + suffix).c_str());
    EXPECT_EQ(sicvm("build " + source + " -o " + image).status, 0);
  }
};

// The cycle the store holds, -1 when it is not the whole state of one cycle.
int64_t storedCycle(const std::string &store) {
  uint32_t h = DboperOpen(store.c_str());
  if (h == 0) return -1;
  DboperRecord record{};
  int64_t cycle = DboperRead(h, 2, &record) == DBOPER_HAS_VALUE ? static_cast<int64_t>(record.value) / 100 : -1;
  for (int32_t p = 1; p <= 6 && cycle >= 0; ++p) {
    const int32_t flags = DboperRead(h, p, &record);
    const double want = static_cast<double>(cycle * 100 + p);
    if (p % 2 == 0 ? flags != DBOPER_HAS_VALUE || record.value != want
                   : flags != DBOPER_HAS_STATUS || record.status != want)
      cycle = -1;
  }
  DboperClose(h);
  return cycle;
}

TEST(StoreKill, EveryKilledRunLeavesAWholeCycleAndKeepsTheLoggedCommits) {
  const Files files("killed");
  const std::string &image = files.image, &points = files.points, &store = files.store;

  std::mt19937 random(61131);
  int64_t stored = 0;  // the cycle the store holds, counted over all rounds
  for (int round = 0; round < 12; ++round) {
    const int64_t waitFor = std::uniform_int_distribution<int64_t>(1, 12)(random);
    const auto delay = std::chrono::microseconds(std::uniform_int_distribution<int>(0, 4000)(random));
    Background run({"run", image, "--points", points, "--nvram", store, "--period", "0", "--log-level", "10"},
                   temp("killed.out"));
    ASSERT_TRUE(eventually([&] { return lastCommitted(run.output()) >= waitFor; }))
        << "round " << round << ":\n" << run.output();
    std::this_thread::sleep_for(delay);
    ASSERT_EQ(run.stop(SIGKILL), -1);
    const int64_t logged = lastCommitted(run.output());

    const int64_t now = storedCycle(store);
    // The logged commits are kept; at most the cycle under way came on top.
    EXPECT_TRUE(now == stored + logged || now == stored + logged + 1)
        << "round " << round << ": store at cycle " << now << " (-1: not one whole cycle), " << stored
        << " before and " << logged << " commits logged";
    stored = now;
  }
}

void runSql(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// While the store refuses every write (a trigger another connection adds),
// the run goes on, says so once, and its cycles count on from the writes it
// holds; once the store takes writes again the next commit stores them.
TEST(StoreKill, FailedCommitsAreSaidOnceAndRetriedUntilTheyStore) {
  const Files files("refused");
  Background run({"run", files.image, "--points", files.points, "--nvram", files.store, "--period", "5",
                  "--log-level", "10"},
                 temp("refused.out"));
  ASSERT_TRUE(eventually([&] { return lastCommitted(run.output()) >= 2; })) << run.output();
  runSql(files.store,
         "CREATE TRIGGER refuse BEFORE UPDATE ON point_store BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  const std::string failing = "the writes are kept and retried with each cycle";
  ASSERT_TRUE(eventually([&] { return run.output().find(failing) != std::string::npos; })) << run.output();
  const int64_t before = storedCycle(files.store);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // some 20 more failed commits
  EXPECT_EQ(storedCycle(files.store), before) << "nothing is stored while refused";
  runSql(files.store, "DROP TRIGGER refuse;");
  const std::string again = "the point store commits again";
  ASSERT_TRUE(eventually([&] { return run.output().find(again) != std::string::npos; })) << run.output();
  EXPECT_EQ(run.stop(SIGTERM), 0);
  const std::string out = run.output();
  size_t said = 0;
  for (size_t at = out.find(failing); at != std::string::npos; at = out.find(failing, at + 1)) ++said;
  EXPECT_EQ(said, 1u) << out;
  // The program's reads saw the held writes, so its count went on through
  // the refused cycles: the store holds the last cycle run, which is the
  // last one logged as committed.
  EXPECT_EQ(storedCycle(files.store), lastCommitted(out)) << out;
}

}  // namespace
