// SPDX-License-Identifier: MIT
// sicvm gas: named inputs in, named outputs with units out, as text and JSON;
// usage errors exit with 1 and name the problem.
#include <gtest/gtest.h>

#include <string>

#include "tools/tool_process.h"

namespace {

using GasRun = tooltest::Result;

GasRun gas(const std::string &arguments) { return tooltest::sicvm("gas " + arguments); }

const std::string kGas = "T=293.15 p=1 rho=0.68 xa=0.01 xy=0.005 K=0.98 dp=0.02 D=200 d=100";

TEST(GasCommand, PrintsNamedOutputsWithUnitsAndTheResultInWords) {
  const struct { std::string args; std::vector<std::string> expected; } cases[] = {
      // The compressibility of the modified NX19 method's worked example, to its five decimals.
      {"k-nx19 T=273.15 p=1.5 rho=0.7 xa=0.01 xy=0.005", {"result   0: computed", "K        0.96448"}},
      {"k-gerg91 T=350 p=1 rho=0.7 xa=0 xy=0", {"result   2: an input or the geometry lies outside"}},
      {"flow-df " + kGas, {"GasFlowrate_DF (host library function 6103)", "Qc ", "m3/h"}},
      {"flow device=2 max-iter=1 " + kGas,
       {"D_T      200                      mm", "Re       1000000 ", "passes   1 "}},
      {"flow device=2 --json " + kGas,
       {"{\"function\":\"GasFlowrate\",\"number\":6106,", "\"result\":0,\"result_text\":\"computed\"",
        "\"beta\":0.5,", "\"units\":{\"Qc\":\"m3/h\""}},
      {"flow device=2 dp=0 --json T=293.15 p=1 rho=0.68 xa=0.01 xy=0.005 K=0.98 D=200 d=100",
       {"\"Qc\":null"}},
  };
  for (const auto &c : cases) {
    GasRun r = gas(c.args);
    EXPECT_EQ(r.status, 0) << c.args << "\n" << r.out;
    for (const std::string &e : c.expected) EXPECT_NE(r.out.find(e), std::string::npos) << c.args << "\n" << r.out;
  }
}

TEST(GasCommand, UsageErrorsNameTheProblem) {
  const struct { std::string args, message; } cases[] = {
      {"", "name a function"},
      {"k-nx20 T=1", "unknown function 'k-nx20'"},
      {"k-nx19 T=270 p=2 rho=0.7 xa=0", "missing input xy"},
      {"k-nx19 T=270 p=2 rho=0.7 xa=0 xy=0 K=1", "'K' is not an input of k-nx19"},
      {"k-nx19 T=270 T=271 p=2 rho=0.7 xa=0 xy=0", "'T' is given twice"},
      {"k-nx19 T=warm p=2 rho=0.7 xa=0 xy=0", "T needs a number, found 'warm'"},
      {"flow device=2.5 " + kGas, "device needs a whole number"},
      {"flow device=2 equivalent=2 " + kGas, "equivalent needs 0 or 1"},
      {"k-nx19 270", "expected NAME=VALUE"},
  };
  for (const auto &c : cases) {
    GasRun r = gas(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.args << "\n" << r.out;
  }
  GasRun help = gas("flow --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("max-iter"), std::string::npos);
  EXPECT_EQ(help.out.find("k-nx19"), std::string::npos) << "only the named function";
  EXPECT_NE(gas("--help").out.find("250 .. 330"), std::string::npos) << "every function's ranges";
}

}  // namespace
