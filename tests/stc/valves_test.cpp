// SPDX-License-Identifier: MIT
// The valve example (examples/st/valves.st, one function block for both
// valves) against its points file and an independent model of the control
// and the plant (valves_model.py): the host's points set as the model says
// before each cycle, every written point compared after it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "hostrt/points.h"
#include "run_st.h"

namespace {

std::string readAll(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string bitsOf(double x) {
  unsigned char bytes[8];
  std::memcpy(bytes, &x, 8);
  std::string hex;
  char byte[3];
  for (unsigned char b : bytes) {
    std::snprintf(byte, sizeof byte, "%02x", b);
    hex += byte;
  }
  return hex;
}

}  // namespace

TEST(StExamples, ValvesFollowTheModelCycleByCycle) {
  std::string examples = SICVM_EXAMPLES;
  sicvm::stc::Compilation c = sicvm::stc::compile(readAll(examples + "/st/valves.st"), "valves.st");
  ASSERT_TRUE(c.ok()) << (c.rendered.empty() ? "" : c.rendered[0]);
  EXPECT_TRUE(c.diagnostics.empty()) << (c.rendered.empty() ? "" : c.rendered[0]);
  std::string expected = (std::filesystem::temp_directory_path() / ("sicvm_valves_" + std::to_string(getpid()))).string();
  for (int seed : {3, 5}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::string command = std::string(SICVM_PYTHON) + " " + SICVM_VALVES_MODEL + " --seed " + std::to_string(seed) +
                          " --cycles 400 > " + expected;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    sicvm::runner::Session session(c.image);
    sicvm::runner::SessionOptions options;
    options.pointsFile = examples + "/valves.csv";
    std::string message;
    ASSERT_EQ(session.setUp(options, message), sicvm::runner::SetUpResult::OK) << message;
    auto *points = PointDbValues(session.points());
    // The records are packed: values are read by copy, never by reference.
    auto point = [&](int index) -> double { return points[index].value; };
    std::ifstream model(expected);
    double level;
    int fill, drain, inletOpen, outletOpen, reset, inletCmd, outletCmd, faults, openings;
    std::string filled;
    int cycles = 0, faulted = 0;
    while (model >> level >> fill >> drain >> inletOpen >> outletOpen >> reset >> inletCmd >> outletCmd >> faults >>
           openings >> filled) {
      ++cycles;
      points[1].value = level;
      points[2].value = fill;
      points[3].value = drain;
      points[4].value = inletOpen;
      points[5].value = outletOpen;
      points[6].value = reset;
      sicvm::runner::CycleResult r = session.runCycle();
      ASSERT_EQ(r.runStatus, uint32_t(VM_CYCLE_COMPLETE)) << "cycle " << cycles;
      ASSERT_EQ(point(7), inletCmd) << "inlet command, cycle " << cycles;
      ASSERT_EQ(point(8), outletCmd) << "outlet command, cycle " << cycles;
      ASSERT_EQ(point(9), faults) << "faults, cycle " << cycles;
      ASSERT_EQ(point(10), openings) << "openings, cycle " << cycles;
      ASSERT_EQ(bitsOf(point(11)), filled) << "filled, cycle " << cycles;
      faulted += faults != 0;
    }
    EXPECT_EQ(cycles, 400);
    EXPECT_GT(faulted, 0);  // the watchdog tripped at least once
  }
  std::filesystem::remove(expected);
}
