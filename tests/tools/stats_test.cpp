// SPDX-License-Identifier: MIT
// Cycle statistics of `sicvm run`: the --stats file, and the summary that
// agrees with it.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "tools/tool_process.h"

using namespace tooltest;

TEST(Stats, OneLinePerCycleOnAGridThatDoesNotDrift) {
  const std::string image = temp("stats_counter.sic"), csv = temp("stats.csv");
  ASSERT_EQ(sicvm("asm " + kExamples + "/counter.asm -o " + image).status, 0);
  Result r = sicvm("run " + image + " --cycles 6 --period 10 --nvram none --stats " + csv);
  ASSERT_EQ(r.status, 0) << r.out;
  std::istringstream lines(readAll(csv));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "cycle,start_ms,jitter_us,exec_us,commands,status,error,overrun");
  int cycles = 0, overruns = 0;
  while (std::getline(lines, line)) {
    long long cycle = 0;
    double start = 0, jitter = 0, exec = 0;
    int commands = 0, overrun = -1;
    unsigned status = 0;
    int error = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lld,%lf,%lf,%lf,%d,%u,%d,%d", &cycle, &start, &jitter, &exec, &commands,
                          &status, &error, &overrun),
              8)
        << line;
    ++cycles;
    EXPECT_EQ(cycle, cycles);
    EXPECT_EQ(commands, 4);
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(error, 0);
    // Absolute sleeps: a cycle never starts before its slot, and its jitter
    // is how far after the slot it started.
    EXPECT_GE(start + 1e-3, 10.0 * double(cycle - 1)) << line;
    EXPECT_GE(jitter, 0.0) << line;
    EXPECT_EQ(overrun, exec > 10000.0 ? 1 : 0) << line;
    overruns += overrun;
  }
  EXPECT_EQ(cycles, 6);
  std::string summary = "overruns of 10 ms";
  if (overruns == 1) summary = "overrun of 10 ms";
  EXPECT_NE(r.out.find(", " + std::to_string(overruns) + " " + summary), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cycle time: exec min/avg/max "), std::string::npos) << r.out;

  // The statistics file is never one of the run's inputs.
  const std::string before = readAll(image);
  EXPECT_EQ(sicvm("run " + image + " --cycles 1 --nvram none --stats " + image).status, 1);
  EXPECT_EQ(readAll(image), before);
}
