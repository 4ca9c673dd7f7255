// SPDX-License-Identifier: MIT
// The decoded form against the step loop on random programs (see
// fuzz/differential.h). SICVM_DIFFERENTIAL_SECONDS=N runs for N seconds
// instead of a fixed number of programs, reporting progress every minute;
// SICVM_DIFFERENTIAL_CHOICES=HEX runs the one program a failure printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "fuzz/differential.h"
#include "interp/program.h"

namespace {

TEST(Differential, RandomProgramsAgreeWithTheStepLoop) {
  if (sicvm::test::decodedFormOff())
    GTEST_SKIP() << "the decoded form is off: both sides would run the step loop";
  if (const char *hex = std::getenv("SICVM_DIFFERENTIAL_CHOICES")) {
    std::vector<uint8_t> choices;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) choices.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    EXPECT_EQ(sicvm::differential::compare(choices.data(), choices.size()), "");
    return;
  }
  const char *seconds = std::getenv("SICVM_DIFFERENTIAL_SECONDS");
  const auto start = std::chrono::steady_clock::now();
  const auto until = start + std::chrono::seconds(seconds ? std::atol(seconds) : 0);
  auto report = start + std::chrono::minutes(1);
  std::mt19937_64 random(seconds ? uint64_t(std::chrono::system_clock::now().time_since_epoch().count()) : 13);
  std::vector<uint8_t> bytes(700);
  uint64_t programs = 0;
  for (;; ++programs) {
    const auto now = std::chrono::steady_clock::now();
    if (seconds ? now >= until : programs == 1500) break;
    if (seconds && now >= report) {
      std::fprintf(stderr, "%llu programs agreed\n", static_cast<unsigned long long>(programs));
      report += std::chrono::minutes(1);
    }
    for (uint8_t &b : bytes) b = static_cast<uint8_t>(random());
    const std::string why = sicvm::differential::compare(bytes.data(), bytes.size());
    if (!why.empty()) {
      std::string hex;
      for (uint8_t b : bytes) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
      FAIL() << "program " << programs << ": " << why << "\nchoices: " << hex;
    }
  }
  std::fprintf(stderr, "%llu programs agreed\n", static_cast<unsigned long long>(programs));
}

}  // namespace
