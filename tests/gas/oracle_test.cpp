// SPDX-License-Identifier: MIT
// Replays the case table of the second implementation (tests/gas/oracle.py)
// against the exports and compares the whole frame after each call: input
// cells as rewritten, output heads zeroed, codes and counts exactly, values
// to 1e-9 relative.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "gas/gas_frame.h"

using namespace sicvm;

namespace {

struct Case {
  std::string label, function;
  int outputs = 0;
  std::vector<double> inputs, after;
};

std::vector<double> numbers(const std::string &text) {
  std::vector<double> out;
  std::istringstream in(text);
  std::string word;
  while (in >> word) out.push_back(std::strtod(word.c_str(), nullptr));
  return out;
}

std::vector<Case> loadCases() {
  std::ifstream file(SICVM_GAS_DIR "/cases.txt");
  std::vector<Case> cases;
  std::string line;
  while (std::getline(file, line)) {
    std::vector<std::string> f;
    std::istringstream in(line);
    for (std::string part; std::getline(in, part, '|');) f.push_back(part);
    if (f.size() != 5) continue;
    cases.push_back({f[0], f[1], std::atoi(f[2].c_str()), numbers(f[3]), numbers(f[4])});
  }
  return cases;
}

bool close(double got, double want) {
  if (std::isnan(want)) return std::isnan(got);
  if (got == want) return true;
  return std::fabs(got - want) <= 1e-9 * std::fabs(want);
}

TEST(GasOracle, EveryCaseOfTheSecondImplementationAgrees) {
  const std::vector<Case> cases = loadCases();
  ASSERT_GT(cases.size(), 1000u) << "the case table " SICVM_GAS_DIR "/cases.txt";
  std::map<std::string, int> perFunction;
  std::map<std::pair<std::string, int>, double> worst;  // relative difference per function and cell
  int failures = 0;
  for (const Case &c : cases) {
    const test::GasSignature *sig = test::gasSignature(c.function);
    ASSERT_NE(sig, nullptr) << c.function;
    ASSERT_EQ(int(c.inputs.size()), sig->inputs) << c.label;
    ASSERT_EQ(int(c.after.size()), sig->inputs + c.outputs) << c.label;
    const int32_t number = c.outputs == 19 ? GAS_FLOWRATE_FULL : GAS_FLOWRATE_SHORT;
    std::vector<VmCell> frame = test::gasFrame(c.function, c.inputs, c.outputs, 1);
    const std::vector<VmCell> before = frame;
    ASSERT_EQ(sig->function(1, number, frame.data(), sig->inputs, c.outputs), 0) << c.label;
    for (int i = 0; i < int(c.after.size()); ++i) {
      const VmCell &cell = frame[size_t(i)];
      const bool output = i >= sig->inputs;
      const uint8_t type = test::gasCellType(c.function, i, sig->inputs);
      std::ostringstream where;
      where << c.function << " [" << c.label << "] cell " << i;
      if (output) {
        EXPECT_EQ(cell.type | cell.flags | cell.spare[0] | cell.spare[1], 0) << where.str();
      } else {
        EXPECT_EQ(std::memcmp(&cell, &before[size_t(i)], 4), 0) << where.str() << " head";
      }
      bool ok;
      double got;
      if (type == VM_TYPE_LREAL) {
        got = cell.v.f64;
        ok = close(got, c.after[size_t(i)]);
        const double want = c.after[size_t(i)];
        if (std::isfinite(want) && want != 0) {
          double &w = worst[{c.function, i}];
          w = std::max(w, std::fabs(got - want) / std::fabs(want));
        }
      } else if (type == VM_TYPE_DINT) {
        got = cell.v.i32;
        ok = got == c.after[size_t(i)] && (!output || cell.v.w[1] == 0);
      } else {
        got = cell.v.b;
        ok = std::memcmp(&cell, &before[size_t(i)], sizeof cell) == 0;
      }
      if (!ok && ++failures <= 20)
        ADD_FAILURE() << where.str() << ": " << got << ", the oracle has " << c.after[size_t(i)];
    }
    EXPECT_EQ(std::memcmp(&frame.back(), &before.back(), sizeof(VmCell)), 0)
        << c.label << ": the cell after the outputs";
    ++perFunction[c.function];
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(perFunction.size(), 6u);
  for (const auto &[key, w] : worst)
    if (w > 1e-14) std::printf("%s cell %d: worst relative difference %.1e\n", key.first.c_str(), key.second, w);
}

}  // namespace
