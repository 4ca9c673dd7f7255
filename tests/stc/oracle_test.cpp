// SPDX-License-Identifier: MIT
// Expression semantics against an independent oracle: tests/stc/oracle.py
// writes random programs and evaluates every expression itself; each
// program is compiled, verified, run for one cycle, and every result var
// must hold exactly the oracle's value (REAL and LREAL bit for bit).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "run_st.h"

using sicvm::test::StProgram;

namespace {

constexpr int kPrograms = SICVM_ORACLE_PROGRAMS;  // 50: 100,000 results in all
constexpr int kStatements = 2000;

std::string readAll(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string bitsOf(const std::string &type, const VmCell &cell) {
  size_t n = type == "REAL" ? 4 : 8;
  std::string hex;
  char byte[3];
  for (size_t k = 0; k < n; ++k) {
    std::snprintf(byte, sizeof byte, "%02x", cell.v.bytes[k]);
    hex += byte;
  }
  return hex;
}

}  // namespace

TEST(StOracle, RandomExpressionsComputeWhatTheOracleComputes) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("sicvm_oracle_" + std::to_string(getpid()));
  std::string command = std::string(SICVM_PYTHON) + " " + SICVM_ORACLE + " --seed 16 --programs " +
                        std::to_string(kPrograms) + " --statements " + std::to_string(kStatements) + " --out " +
                        dir.string();
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  size_t compared = 0;
  for (int k = 0; k < kPrograms; ++k) {
    std::string base = (dir / ("oracle_" + std::to_string(k))).string();
    SCOPED_TRACE(base + ".st");
    StProgram p(readAll(base + ".st"));
    ASSERT_TRUE(p.ok());
    p.cycle();
    std::ifstream expected(base + ".expected");
    std::string name, type, value;
    size_t mismatches = 0;
    while (expected >> name >> type >> value) {
      VmCell cell = p.cell(name);
      std::string got;
      if (type == "REAL" || type == "LREAL") {
        got = bitsOf(type, cell);
      } else {
        got = std::to_string(type == "BOOL" ? cell.v.b : type == "INT" ? cell.v.i16 : cell.v.i32);
      }
      if (got != value && ++mismatches <= 5) ADD_FAILURE() << name << " (" << type << "): oracle " << value << ", machine " << got;
      ++compared;
    }
    EXPECT_EQ(mismatches, 0u);
  }
  EXPECT_EQ(compared, size_t(kPrograms) * kStatements);
  std::filesystem::remove_all(dir);
}
