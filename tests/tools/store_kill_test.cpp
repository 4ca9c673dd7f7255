// `sicvm run` commits the point store once per cycle: killed with SIGKILL at
// moments drawn from a fixed seed, round after round on the same store, the
// store always holds the state after one whole cycle, and never loses a
// cycle whose commit the runner logged.
#include <gtest/gtest.h>

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

TEST(StoreKill, EveryKilledRunLeavesAWholeCycleAndKeepsTheLoggedCommits) {
  const std::string source = temp("killed.st"), image = temp("killed.sic"), points = temp("killed.csv"),
                    store = temp("killed.nvram");
  write(source, kProgram);
  std::string csv = "index,id,type,mode,value,status\n";
  for (int p = 1; p <= 6; ++p) csv += std::to_string(p) + "," + std::to_string(100 + p) + ",LREAL,0,0,0\n";
  write(points, csv);
  for (const char *suffix : {"", "-wal", "-shm"}) std::remove((store + suffix).c_str());
  ASSERT_EQ(sicvm("build " + source + " -o " + image).status, 0);

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

    uint32_t h = DboperOpen(store.c_str());
    ASSERT_NE(h, 0u) << DboperLastMessage();
    DboperRecord record{};
    ASSERT_EQ(DboperRead(h, 2, &record), DBOPER_HAS_VALUE);
    const int64_t now = static_cast<int64_t>(record.value) / 100;
    // The logged commits are kept; at most the cycle under way came on top.
    EXPECT_TRUE(now == stored + logged || now == stored + logged + 1)
        << "round " << round << ": store at cycle " << now << ", " << stored << " before and " << logged
        << " commits logged";
    for (int32_t p = 1; p <= 6; ++p) {
      const int32_t flags = DboperRead(h, p, &record);
      const double want = static_cast<double>(now * 100 + p);
      if (p % 2 == 0)
        EXPECT_TRUE(flags == DBOPER_HAS_VALUE && record.value == want) << "round " << round << " point " << p;
      else
        EXPECT_TRUE(flags == DBOPER_HAS_STATUS && record.status == want) << "round " << round << " point " << p;
    }
    DboperClose(h);
    stored = now;
  }
}

}  // namespace
