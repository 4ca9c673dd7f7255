// SPDX-License-Identifier: MIT
// Errors a user can read: the cycle line and the summary name the error,
// files that are no image say why, bytes from files reach the terminal
// escaped, and verify --points faults links to points the file lacks.
#include <gtest/gtest.h>

#include "tools/tool_process.h"

using namespace tooltest;

TEST(Errors, CycleLineAndSummaryNameTheError) {
  const std::string source = temp("bounds.asm"), image = temp("bounds.sic");
  write(source,
        ".segment g\n.var i DINT = 8\n.var x DINT\n.array a DINT[4]\n  aget x, a[i]\n  ret\n");
  ASSERT_EQ(sicvm("asm " + source + " -o " + image).status, 0);
  Result r = sicvm("run " + image + " --cycles 2 --period 0 --nvram none");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("cycle 1: 2 commands, cycle complete, error 8 at 00000 (8, 0): array element index out of "
                       "bounds\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2 cycles with an error (error 8 array element index out of bounds: 2)"), std::string::npos)
      << r.out;
}

TEST(Errors, AFileThatIsNoImageSaysWhyInEveryCommand) {
  std::string header(340, '\0');
  header.replace(0, 4, "SIC4");
  header[4] = 7;  // version 7
  std::string escape = "\x1b[2J" + std::string(400, '\0');
  struct Case {
    std::string name, bytes, reason;
  } cases[] = {
      {"empty.sic", "", "the file is empty"},
      {"short.sic", "SIC4abc", "the file has 7 bytes; an image has at least 336 (header and machine block)"},
      {"version.sic", header, "image format version 7; this library reads version 406"},
      {"escape.sic", escape, "it starts with \"\\x1B[2J\", an image with \"SIC4\": not a SIC image"},
  };
  for (const Case &c : cases) {
    const std::string path = temp(c.name);
    write(path, c.bytes);
    for (const std::string &command : {"info " + path, "verify " + path, "disasm " + path,
                                       "run " + path + " --nvram none --cycles 1"}) {
      Result r = sicvm(command);
      EXPECT_EQ(r.status, 2) << command << c.name << "\n" << r.out;
      EXPECT_NE(r.out.find(c.reason), std::string::npos) << command << c.name << "\n" << r.out;
      EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << command << c.name;  // never a raw control byte
    }
  }
}

TEST(Errors, VerifyWithPointsFaultsAVarLinkedToAMissingPoint) {
  const std::string source = temp("missing.asm"), image = temp("missing.sic"), points = temp("missing.csv");
  write(source, ".segment g\n.var level LREAL point=1001 load\n.var gone LREAL point=4002 load\n  ret\n");
  write(points, "index,id,type,mode,value,status\n1,1001,LREAL,0,0,0\n");
  ASSERT_EQ(sicvm("asm " + source + " -o " + image).status, 0);
  Result r = sicvm("verify " + image + " --points " + points);
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("var 0:00003 is linked to point ID 4002, which the points file does not contain"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(sicvm("verify " + image).status, 0);  // without a database nothing is linked
}
