// SPDX-License-Identifier: MIT
// The sicvm command as a user runs it: exit statuses, error reports, files
// written or left alone, and the usage texts.
#include <gtest/gtest.h>

#include "tools/tool_process.h"

#include <csignal>
#include <cstdio>
#include <string>

using namespace tooltest;

TEST(Command, EverySubcommandHasItsUsageAndBadUsageExitsWith1) {
  EXPECT_EQ(sicvm("--help").status, 0);
  for (const char *subcommand : {"info", "list", "asm", "build", "disasm", "verify", "run", "points", "help"}) {
    Result r = sicvm(std::string(subcommand) + " --help");
    EXPECT_EQ(r.status, 0) << subcommand;
    EXPECT_NE(r.out.find(std::string("usage: sicvm ") + subcommand), std::string::npos) << r.out;
  }
  for (const char *bad : {"frobnicate", "run --cycles", "run --bogus x.sic", "run x.sic --cycles -1"})
    EXPECT_EQ(sicvm(bad).status, 1) << bad;
}

TEST(Command, AsmWritesNothingWhenTheSourceHasErrors) {
  std::string source = temp("bad.asm"), image = temp("bad.sic");
  std::remove(image.c_str());
  write(source, ".program BAD 1\n.segment g\n.var x DINT\n  add_dint x, x, REAL#1\n  jmp @missing\n");
  Result r = sicvm("asm " + source + " -o " + image);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(source + ":4:18: error: expected a DINT constant, found 'REAL#1'"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(source + ":5:8: error: unknown label 'missing'"), std::string::npos) << r.out;
  EXPECT_FALSE(exists(image));
  // An existing image stays as it was.
  write(image, "old");
  EXPECT_EQ(sicvm("asm " + source + " -o " + image).status, 1);
  std::ifstream in(image);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
}

TEST(Command, BuildWritesTheImageOnlyWithoutErrors) {
  std::string source = temp("bad.st"), image = temp("st.sic");
  write(source, "PROGRAM P\nVAR x : INT; END_VAR\nx := y;\nx := TRUE;\nEND_PROGRAM\n");
  write(image, "old");
  Result r = sicvm("build " + source + " -o " + image);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(source + ":3:6: error: 'y' is not declared\n    x := y;\n         ^"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(source + ":4:6: error: cannot use BOOL as INT"), std::string::npos) << r.out;
  std::ifstream in(image);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
  ASSERT_EQ(sicvm("build " + kExamples + "/st/tank.st -o " + image).status, 0);
  EXPECT_EQ(sicvm("verify " + image + " --points " + kExamples + "/tank.csv").status, 0);
}

TEST(Command, ListShowsTheProgramAndItsCommands) {
  const std::string image = temp("tank.sic");
  ASSERT_EQ(sicvm("asm " + kExamples + "/tank.asm -o " + image).status, 0);
  Result list = sicvm("list " + image);
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("program    \"TANK\" (10)"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("call             @stdlib.4531"), std::string::npos) << list.out;
}

TEST(Command, ExitStatusesOfSetUpVerificationAndRuns) {
  std::string good = temp("ok.sic"), bad = temp("broken.sic"), unverified = temp("unverified.sic"),
              fatal = temp("fatal.sic");
  ASSERT_EQ(sicvm("asm " + kExamples + "/counter.asm -o " + good).status, 0);
  write(bad, std::string(400, 'x'));
  write(temp("unverified.asm"), ".segment g\npush_vars vars[0:00000],0\nret\n");
  ASSERT_EQ(sicvm("asm " + temp("unverified.asm") + " -o " + unverified).status, 0);
  write(temp("fatal.asm"), ".segment g\nmov DINT#1,vars[0:00009]\nret\n");
  ASSERT_EQ(sicvm("asm " + temp("fatal.asm") + " -o " + fatal).status, 0);

  Result ok = sicvm("run " + good + " --cycles 3 --period 0 --nvram none");
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_NE(ok.out.find("cycle 3: 4 commands, cycle complete, no error"), std::string::npos) << ok.out;

  EXPECT_EQ(sicvm("run " + bad + " --cycles 1 --nvram none").status, 2);
  EXPECT_EQ(sicvm("verify " + bad).status, 2);
  Result verify = sicvm("verify " + unverified);
  EXPECT_EQ(verify.status, 3);
  EXPECT_NE(verify.out.find("Invalid PUSH var count (0)"), std::string::npos) << verify.out;
  EXPECT_EQ(sicvm("run " + unverified + " --cycles 1 --nvram none").status, 3);
  Result run = sicvm("run " + fatal + " --cycles 5 --period 0 --nvram none");
  EXPECT_EQ(run.status, 4);
  EXPECT_NE(run.out.find("cycle 1: 0 commands, stopped by an error, error 110 at 00000 (0, 9)"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("cycle 2"), std::string::npos) << run.out;
  EXPECT_EQ(sicvm("run " + good + " --tz NOT-A-ZONE --cycles 1").status, 1);
  // A zone name from the system's zone files, or a POSIX rule; the run names its zone first.
  Result berlin = sicvm("run " + good + " --tz Europe/Berlin --cycles 1 --nvram none");
  EXPECT_EQ(berlin.status, 0) << berlin.out;
  EXPECT_NE(berlin.out.find("time zone: Europe/Berlin (UTC+01:00, summer time UTC+02:00 from M3.5.0/02:00 to "
                            "M10.5.0/03:00)\ncycle 1:"),
            std::string::npos)
      << berlin.out;
  Result india = sicvm("run " + good + " --tz '<+0530>-5:30' --cycles 1 --nvram none");
  EXPECT_NE(india.out.find("time zone: <+0530>-5:30 (UTC+05:30)\n"), std::string::npos) << india.out;
}

TEST(Command, RunWithPointsAndStore) {
  std::string image = temp("batch.sic"), store = temp("batch.nvram");
  std::remove(store.c_str());
  ASSERT_EQ(sicvm("asm " + kExamples + "/batch.asm -o " + image).status, 0);
  Result r = sicvm("run " + image + " --points " + kExamples + "/batch.csv --cycles 12 --period 1 --tz UTC0 --nvram " +
                   store + " --watch");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("  0:00005 count          DINT   save      2004       4"), std::string::npos)
      << r.out;  // linked var table
  EXPECT_NE(r.out.find("changed vars"), std::string::npos);
  EXPECT_TRUE(exists(store));
}

// SIGINT ends a run that has no cycle count after the cycle under way, with
// the summary and exit status 0.
TEST(Command, RunEndsAfterTheCurrentCycleWhenInterrupted) {
  const std::string image = temp("interrupted.sic");
  ASSERT_EQ(sicvm("asm " + kExamples + "/counter.asm -o " + image).status, 0);
  Background run({"run", image, "--period", "20", "--nvram", "none"}, temp("interrupted.out"));
  ASSERT_TRUE(eventually([&] { return run.output().find("cycle 2:") != std::string::npos; })) << run.output();
  EXPECT_EQ(run.stop(SIGINT), 0) << run.output();
  const std::string text = run.output();
  EXPECT_NE(text.find(" cycles with an error; interrupted\n"), std::string::npos) << text;
}
