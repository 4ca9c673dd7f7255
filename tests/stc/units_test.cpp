// SPDX-License-Identifier: MIT
// User functions and function blocks: what their calls compute, over one or
// more cycles, and the programs they refuse. The expected values are worked
// out by hand from the sources.
#include <gtest/gtest.h>

#include <string>

#include "run_st.h"
#include "stc/compiler.h"

using sicvm::test::StProgram;

namespace {

// A block that adds its input to a total: omitted inputs keep their value.
const char *kAcc =
    "FUNCTION_BLOCK Acc\nVAR_INPUT inc : DINT := 1; END_VAR\nVAR_OUTPUT total : DINT; END_VAR\n"
    "VAR_TEMP t : DINT := 100; END_VAR\nt := t + inc; total := total + t - 100;\nEND_FUNCTION_BLOCK\n";
// A hysteresis switch and a block holding two of them and an edge detector.
const char *kHyst =
    "FUNCTION_BLOCK Hyst\nVAR_INPUT x : REAL; lo : REAL := 10.0; hi : REAL := 20.0; END_VAR\n"
    "VAR_OUTPUT on : BOOL; END_VAR\nIF x > hi THEN on := TRUE; ELSIF x < lo THEN on := FALSE; END_IF;\n"
    "END_FUNCTION_BLOCK\n"
    "FUNCTION_BLOCK Pair\nVAR_INPUT v : REAL; END_VAR\nVAR_OUTPUT both : BOOL; n : DINT; END_VAR\n"
    "VAR h1 : Hyst; h2 : Hyst; t : R_TRIG; END_VAR\n"
    "h1(x := v); h2(x := v, lo := 0.0, hi := 5.0); t(CLK := h1.on);\n"
    "IF t.Q THEN n := n + 1; END_IF; both := h1.on AND h2.on;\nEND_FUNCTION_BLOCK\n";
// Functions: RETURN, an output, vars that start afresh on every call.
const char *kFunctions =
    "FUNCTION Sq : DINT\nVAR_INPUT a : DINT := 4; END_VAR\nSq := a * a;\n"
    "IF a > 100 THEN Sq := -1; RETURN; END_IF;\nSq := Sq + 1;\nEND_FUNCTION\n"
    "FUNCTION Div : DINT\nVAR_INPUT a, b : DINT; END_VAR\nVAR_OUTPUT r : DINT; END_VAR\n"
    "Div := a / b; r := a MOD b;\nEND_FUNCTION\n"
    "FUNCTION Cnt : DINT\nVAR n : DINT := 10; END_VAR\nn := n + 1; Cnt := n;\nEND_FUNCTION\n"
    "FUNCTION Twice : LREAL\nVAR_INPUT x : DINT; END_VAR\nTwice := DINT_TO_LREAL(Sq(x)) * 2.0;\nEND_FUNCTION\n";

std::string withProgram(const std::string &units, const std::string &vars, const std::string &body) {
  return units + "PROGRAM P\nVAR\n" + vars + "\nEND_VAR\n" + body + "\nEND_PROGRAM\n";
}

}  // namespace

TEST(StUnits, CallsComputeWhatTheSourceSays) {
  struct Case {
    const char *units, *vars, *body;
    int cycles;
    const char *name;
    double expected;
  };
  const Case cases[] = {
      // Omitted inputs keep the last value given; VAR_TEMP starts afresh, outputs keep theirs.
      {kAcc, "a : Acc;", "a(inc := 5); a(); a();", 1, "a.total", 15},
      {kAcc, "a, b : Acc; x : DINT;", "a(inc := 2); b(inc := 3); x := b.total - a.total;", 3, "x", 3},
      {kAcc, "a : Acc; x : DINT;", "a(); x := a.total;", 4, "x", 4},
      // An input set before the call, and an output taken with '=>'.
      {kAcc, "a : Acc; x : DINT;", "a.inc := 7; a(total => x);", 2, "x", 14},
      // Nested instances with defaults of their own and a standard block inside.
      {kHyst, "p : Pair; level : REAL := 16.0;", "level := level + 2.0; p(v := level);", 3, "p.h1.on", 1},
      {kHyst, "p : Pair; level : REAL := 16.0;", "level := level + 2.0; p(v := level);", 3, "p.both", 1},
      {kHyst, "p : Pair; level : REAL := 16.0;", "level := level + 2.0; p(v := level);", 2, "p.h1.on", 0},
      {kHyst, "p : Pair; s : REAL := 30.0; k : DINT;",
       "k := k + 1; IF k MOD 2 = 0 THEN s := 0.0; ELSE s := 30.0; END_IF; p(v := s);", 5, "p.n", 3},
      // Positional, formal and omitted inputs; RETURN; an output; calls in arguments.
      {kFunctions, "y : DINT;", "y := Sq(3) + Sq(a := 200) + Sq();", 1, "y", 10 - 1 + 17},
      {kFunctions, "q, m : DINT;", "q := Div(a := 17, b := 5, r => m) * 10 + m;", 1, "q", 32},
      {kFunctions, "y : DINT;", "y := Cnt() * 100 + Cnt();", 2, "y", 1111},
      {kFunctions, "l : LREAL;", "l := Twice(Sq(2));", 1, "l", 52},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.body) + " -> " + c.name);
    StProgram p(withProgram(c.units, c.vars, c.body));
    ASSERT_TRUE(p.ok());
    for (int k = 0; k < c.cycles; ++k) p.cycle();
    EXPECT_EQ(p.value(c.name), c.expected);
  }
}

TEST(StUnits, WrongUnitsGetTheirMessages) {
  struct Case {
    std::string source;
    std::string first;
  };
  const std::string f = "FUNCTION F : DINT\nVAR_INPUT a : DINT; END_VAR\n";
  const Case cases[] = {
      {f + "F := F(a);\nEND_FUNCTION\n" + withProgram("", "x : DINT;", "x := F(1);"),
       "test.st:3:6: error: recursive call of 'F' (a function or function block cannot call itself, directly or through others)"},
      {f + "F := G(a);\nEND_FUNCTION\nFUNCTION G : DINT\nVAR_INPUT a : DINT; END_VAR\nG := F(a);\nEND_FUNCTION\n" +
           withProgram("", "x : DINT;", "x := F(1);"),
       "test.st:"},
      {"FUNCTION_BLOCK B\nVAR b : B; END_VAR\nEND_FUNCTION_BLOCK\n" + withProgram("", "x : B;", "x();"),
       "test.st:2:9: error: function block B contains an instance of itself"},
      {std::string(kAcc) + withProgram("", "x : DINT;", "x := Acc(1);"),
       "test.st:11:6: error: function block Acc is called through an instance: declare 'name : Acc;' and call name(...);"},
      {std::string(kAcc) + withProgram("", "a : Acc;", "a(step := 1);"), "test.st:11:3: error: Acc has no input 'STEP'"},
      {std::string(kAcc) + withProgram("", "a : Acc;", "a.total := 1;"),
       "test.st:11:3: error: 'total' is an output of Acc; only its inputs can be set"},
      {std::string(kFunctions) + withProgram("", "y : DINT;", "y := Div(1, b := 2);"),
       "test.st:24:18: error: the arguments of Div are either all formal (name := value) or all positional"},
      {"TYPE Mode : (IDLE, RUN); END_TYPE\n" + withProgram("", "x : DINT;", "x := 1;"),
       "test.st:1:1: error: TYPE ... END_TYPE is not supported yet"},
      {"FUNCTION_BLOCK B\nVAR_IN_OUT v : DINT; END_VAR\nEND_FUNCTION_BLOCK\n" + withProgram("", "x : B;", "x();"),
       "test.st:2:12: error: VAR_IN_OUT is not supported yet"},
      {"FUNCTION_BLOCK B\nVAR v : ARRAY [1..2] OF DINT; END_VAR\nEND_FUNCTION_BLOCK\n" + withProgram("", "x : B;", "x();"),
       "test.st:2:25: error: arrays inside a FUNCTION or FUNCTION_BLOCK are not supported yet"},
      {withProgram(kAcc, "a : ARRAY [1..2] OF Acc;", "a[1]();"),
       "test.st:9:21: error: arrays of function block instances are not supported yet"},
      {kAcc, "test.st:1:1: error: a build needs a PROGRAM; this source has only functions and function blocks"},
      {withProgram("", "x : DINT;", "x := 1;") + withProgram("", "y : DINT;", "y := 1;"),
       "test.st:7:1: error: one PROGRAM per build (the first is at line 1)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.source);
    sicvm::stc::Compilation r = sicvm::stc::compile(c.source, "test.st");
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.image.empty());
    ASSERT_FALSE(r.rendered.empty());
    std::string headline = r.rendered[0].substr(0, r.rendered[0].find('\n'));
    EXPECT_EQ(headline.substr(0, c.first.size()), c.first);
    if (c.first == "test.st:") {
      EXPECT_NE(headline.find("recursive call of"), std::string::npos) << headline;
    }
  }
}
