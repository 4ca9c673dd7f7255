// SPDX-License-Identifier: MIT
// Symbol files: the format read back and refused, and the names of a source
// carried by `asm` into `list`, `disasm` and `run`.
#include <gtest/gtest.h>

#include "symbols/symbols.h"
#include "tools/tool_process.h"

using namespace tooltest;
using sicvm::symbols::readSymbols;
using sicvm::symbols::SymbolTable;

namespace {
// The sicvm command (the name alone would also name the namespace).
Result tool(const std::string &arguments) { return tooltest::sicvm(arguments); }
}  // namespace

TEST(SymbolFile, ReadsWhatItWritesAndRefusesWhatItCannotRead) {
  SymbolTable table;
  table.imageSize = 2308;
  table.imageHash = sicvm::symbols::imageHash(reinterpret_cast<const uint8_t *>("abc"), 3);
  table.segments[1] = "blocks";
  table.vars[{1, 2}] = "ton_in";
  table.arrays[0] = "samples";
  table.labels.emplace(3, "main");
  table.labels.emplace(3, "start");
  std::string error;
  SymbolTable back;
  ASSERT_TRUE(readSymbols(sicvm::symbols::writeSymbols(table), "t.sym", back, error)) << error;
  EXPECT_EQ(back.imageHash, 0xe71fa2190541574bull);  // FNV-1a 64 of "abc", the published test vector
  EXPECT_EQ(back.qualifiedVar(1, 2), "blocks.ton_in");
  EXPECT_EQ(back.labels.count(3), 2u);
  EXPECT_EQ(*back.label(3), "main");
  EXPECT_EQ(*back.array(0), "samples");

  struct Case {
    const char *text, *error;
  } cases[] = {
      {"", "t.sym:1: not a symbol file"},
      {"sicvm-symbols 2\n", "t.sym:1: symbol file version 2; this tool reads version 1"},
      {"sicvm-symbols 1\nvar 0 2 level\n", "t.sym:3: no 'image SIZE HASH' line"},
      {"sicvm-symbols 1\nimage 10 0123\n", "t.sym:2: expected 'image SIZE HASH'"},
      {"sicvm-symbols 1\nimage 10 0123456789abcdef\nvar 0 x level\n", "t.sym:3: expected 'var SEGMENT VAR NAME'"},
      {"sicvm-symbols 1\nimage 10 0123456789abcdef\nlabel 4 9lives\n", "t.sym:3: expected 'label NUMBER NAME'"},
  };
  for (const Case &c : cases) {
    EXPECT_FALSE(readSymbols(c.text, "t.sym", back, error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
  // Records of later versions are skipped, comments too.
  EXPECT_TRUE(readSymbols("sicvm-symbols 1\n# made by hand\nimage 10 0123456789abcdef\ntype 3 MOTOR\n", "t.sym", back,
                          error))
      << error;
}

TEST(SymbolFile, NamesFromTheSourceReachListDisasmAndRun) {
  const std::string source = temp("named.asm"), image = temp("named.sic"), symbols = temp("named.sym"),
                    points = temp("named.csv");
  write(source,
        ".program NAMED 3\n.segment plant\n.var level LREAL point=1001 load\n.var count DINT\n"
        ".array history DINT[3]\n"
        "        add_dint count, count, 1\n"
        "        aput history[DINT#1], count\n"
        "        jmp @done\n"
        "        nop\n"
        "done:   ret\n");
  write(points, "index,id,type,mode,value,status,name\n1,1001,LREAL,0,2.5,0,TANK.LEVEL\n");
  ASSERT_EQ(tool("asm " + source + " -o " + image).status, 0);
  ASSERT_TRUE(exists(symbols));

  Result list = tool("list " + image);
  EXPECT_EQ(list.status, 0);
  for (const char *want : {"data segment 0 plant: 4 vars", "00002  level", "array 00000 history  DINT",
                           "jmp              @00004                 ; @done", "done:\n00004  ret",
                           "; count, count"})
    EXPECT_NE(list.out.find(want), std::string::npos) << want << "\n" << list.out;

  Result disasm = tool("disasm " + image + " -o " + temp("named_back.asm"));
  ASSERT_EQ(disasm.status, 0) << disasm.out;
  const std::string back = readAll(temp("named_back.asm"));
  for (const char *want : {".segment plant", ".var level LREAL", ".array history DINT[3]", "done:\n", "@done",
                           "add_dint         count,count,DINT#1"})
    EXPECT_NE(back.find(want), std::string::npos) << want << "\n" << back;
  ASSERT_EQ(tool("asm " + temp("named_back.asm") + " -o " + temp("named_back.sic")).status, 0);
  EXPECT_EQ(readAll(temp("named_back.sic")), readAll(image));
  EXPECT_EQ(readAll(temp("named_back.sym")), readAll(symbols));

  Result run = tool("run " + image + " --points " + points + " --cycles 1 --period 0 --nvram none --watch --step");
  EXPECT_EQ(run.status, 0) << run.out;
  for (const char *want : {"  0:00002 level", "TANK.LEVEL", "  0:00003 count          DINT#0",
                           "  array 0[1] history[1]    DINT#0                   -> DINT#1", "  done:\n  00004  ret"})
    EXPECT_NE(run.out.find(want), std::string::npos) << want << "\n" << run.out;

  // A symbol file of other bytes is not believed.
  write(source, readAll(source) + "        nop\n");
  ASSERT_EQ(tool("asm " + source + " -o " + temp("other.sic")).status, 0);
  Result stale = tool("list " + image + " --symbols " + temp("other.sym"));
  EXPECT_EQ(stale.status, 0);
  EXPECT_NE(stale.out.find("was written for another image than " + image + "; no names shown"), std::string::npos)
      << stale.out;
  EXPECT_EQ(stale.out.find("level"), std::string::npos);
}

TEST(SymbolFile, NamesOfAStructuredTextProgramReachListAndRun) {
  const std::string source = temp("named_st.st"), image = temp("named_st.sic"), symbols = temp("named_st.sym"),
                    points = temp("named_st.csv");
  write(source,
        "PROGRAM TANKS\nVAR\n  level AT %PV1001 : LREAL;\n  count : DINT;\n  history : ARRAY [1..3] OF DINT;\n"
        "  delay : TON;\nEND_VAR\n"
        "count := count + 1;\nhistory[1] := count;\ndelay(IN := level > 2.0, PT := T#5s);\nEND_PROGRAM\n");
  write(points, "index,id,type,mode,value,status,name\n1,1001,LREAL,0,2.5,0,TANK.LEVEL\n");
  Result build = tool("build " + source);
  ASSERT_EQ(build.status, 0) << build.out;
  ASSERT_TRUE(exists(symbols));

  Result list = tool("list " + image);
  EXPECT_EQ(list.status, 0);
  for (const char *want : {"  level", "  count", "array 00000 history  DINT", "data segment 1 blocks",
                           "  delay_IN", "  delay_ET", "  delay_ACCUMULATOR", "; count, count"})
    EXPECT_NE(list.out.find(want), std::string::npos) << want << "\n" << list.out;

  Result run = tool("run " + image + " --points " + points + " --cycles 1 --period 0 --nvram none --watch");
  EXPECT_EQ(run.status, 0) << run.out;
  for (const char *want : {" level", "TANK.LEVEL", " count          DINT#0", "history[0]", "blocks.delay_IN"})
    EXPECT_NE(run.out.find(want), std::string::npos) << want << "\n" << run.out;

  // A program whose image would be overwritten by its own symbol file is refused.
  Result refused = tool("build " + source + " -o " + temp("named_st.sym"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("overwritten by its own symbol file"), std::string::npos) << refused.out;
}
