// SPDX-License-Identifier: MIT
// The Structured Text compiler: wrong programs and their exact diagnostics,
// the constructs run on the machine, calls of every library function by
// name checked by the verifier, and random sources that must never crash it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "stc/compiler.h"
#include "stc/library.h"
#include "run_st.h"

using namespace sicvm;
using sicvm::test::StProgram;

namespace {

std::string program(const std::string &vars, const std::string &body) {
  return "PROGRAM P\nVAR\n" + vars + "END_VAR\n" + body + "END_PROGRAM\n";
}

}  // namespace

TEST(StDiagnostics, WrongProgramsGetTheirMessages) {
  struct Case {
    std::string source;
    std::string first;  // the first diagnostic's headline
    size_t errors;
  };
  const Case cases[] = {
      {"PROGRAM P\nx := 1;\nEND_PROGRAM\n", "test.st:2:1: error: 'x' is not declared", 1},
      {program("x : INT;\n", "x := 1\nx := 2;\n"), "test.st:6:1: error: expected ';', found 'x'", 1},
      {program("x : FLOAT;\n", "x := 1;\n"), "test.st:3:5: error: unknown type 'FLOAT'", 1},
      {program("x : INT;\n", "x := 40000;\n"), "test.st:5:6: error: integer '40000' does not fit in INT", 1},
      {program("b : BOOL;\nx : INT;\n", "x := b;\n"), "test.st:6:6: error: cannot use BOOL as INT (write BOOL_TO_INT)", 1},
      {program("t : TIME;\nx : DINT;\n", "x := t + 1;\n"), "test.st:6:8: error: '+' cannot combine TIME and DINT", 1},
      {program("x : INT;\n", "IF x THEN x := 1; END_IF;\n"), "test.st:5:4: error: a condition is BOOL, not INT", 1},
      {program("x : INT;\n", "EXIT;\n"), "test.st:5:1: error: EXIT outside of a loop", 1},
      {program("x : INT;\nx : DINT;\n", "x := 1;\n"), "test.st:4:1: error: 'x' is already declared (at line 3)", 1},
      {program("a : ARRAY [1..3] OF INT;\n", "a := 1;\n"), "test.st:5:1: error: array 'a' needs an index: a[i]", 1},
      {program("t : TON;\n", "t(IN := TRUE, XX := T#1s);\n"), "test.st:5:15: error: TON has no input 'XX'", 1},
      {program("t : TON;\nb : BOOL;\n", "b := t.QQ;\n"), "test.st:6:8: error: TON has no input or output 'QQ'", 1},
      {program("x : INT;\n", "x := NOSUCH(1);\n"), "test.st:5:6: error: unknown function 'NOSUCH'", 1},
      {program("x : INT;\n", "x := MAX(1);\n"), "test.st:5:6: error: MAX takes 2 to 32 arguments, not 1", 1},
      {program("x AT %PX5 : INT;\n", "x := 1;\n"),
       "test.st:3:6: error: bad point address '%PX5': expected %PV, %PI, %PQ, %PS, %PSI or %PSQ and a point ID from 1", 1},
      {"PROGRAM P\nVAR CONSTANT\nK : INT := 5;\nEND_VAR\nK := 6;\nEND_PROGRAM\n",
       "test.st:5:1: error: cannot assign to constant 'K'", 1},
      {program("x : INT;\n", "CASE x OF 1: x := 2; 1..3: x := 3; END_CASE;\n"),
       "test.st:5:22: error: case value 1 appears twice", 1},
      {program("t : TIME;\n", "t := T#5q;\n"),
       "test.st:5:6: error: bad duration 'T#5q': expected T# and components such as 1d2h3m4s5ms", 1},
      {program("x : INT;\n", "x := 1 $ 2;\n"), "test.st:5:8: error: unexpected character '$'", 2},
      // Every error of the file at once.
      {program("x : INT;\n", "y := 1;\nz := 2;\nx := TRUE;\n"), "test.st:5:1: error: 'y' is not declared", 3},
      {"VAR x : INT; END_VAR", "test.st:1:1: error: expected 'PROGRAM', found 'VAR'", 1},
  };
  for (const Case &c : cases) {
    stc::Compilation r = stc::compile(c.source, "test.st");
    SCOPED_TRACE(c.source);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.image.empty());
    EXPECT_EQ(r.errors, c.errors);
    ASSERT_FALSE(r.rendered.empty());
    EXPECT_EQ(r.rendered[0].substr(0, r.rendered[0].find('\n')), c.first);
  }
}

TEST(StDiagnostics, ShowTheLineWithACaretAndWarn) {
  stc::Compilation r = stc::compile(program("x : INT;\nd : DINT;\nunused : BOOL;\n", "  x := d;\n"), "w.st");
  EXPECT_TRUE(r.ok());
  ASSERT_EQ(r.rendered.size(), 2u);
  EXPECT_EQ(r.rendered[0], "w.st:5:1: warning: 'unused' is declared but never used\n    unused : BOOL;\n    ^");
  EXPECT_EQ(r.rendered[1],
            "w.st:7:8: warning: implicit conversion from DINT to INT may lose data (write DINT_TO_INT)\n"
            "      x := d;\n"
            "           ^");
}

// Each construct runs one cycle; the vars hold what the statements computed.
// IF, CASE with single and range labels, FOR with a constant step, ** and the selection functions are
// checked against the oracle on random programs (oracle_test).
TEST(StConstructs, RunAsWritten) {
  struct Case {
    const char *vars;
    const char *body;
    const char *name;
    double expected;
  };
  const Case cases[] = {
      {"x : INT := 16#7FFF;", "x := x + 1;", "x", -32768},
      {"x : DINT := 2#1010;", "x := x * 1_000;", "x", 10000},
      {"x : DINT; i : DINT; s : DINT := -1;", "FOR i := 3 TO 0 BY s DO x := x * 10 + i; END_FOR;", "x", 3210},
      {"x : DINT;", "WHILE x < 100 DO x := x * 2 + 1; END_WHILE;", "x", 127},
      {"x : DINT;", "REPEAT x := x + 5; IF x > 12 THEN EXIT; END_IF; UNTIL FALSE END_REPEAT;", "x", 15},
      {"x : DINT := 2;", "CASE x OF 1, 2: x := 10; 5..9: x := 20; ELSE x := 30; END_CASE;", "x", 10},
      {"x : INT := 2;", "IF x = 1 THEN x := 10; ELSIF x = 2 THEN x := 20; ELSE x := 30; END_IF;", "x", 20},
      {"x : DINT;", "x := 1; RETURN; x := 2;", "x", 1},
      {"a : ARRAY [-2..2] OF DINT := [1, 2, 3, 4, 5]; x : DINT; i : INT := 2;", "x := a[-2] + a[i]; a[0] := x;", "x", 6},
      {"b : BOOL; x : INT := 5; y : INT := 5;", "b := x = y AND NOT (x > y) OR FALSE;", "b", 1},
      {"r : REAL; l : LREAL;", "r := 0.1; l := r;", "l", static_cast<double>(0.1f)},
      {"x : INT;", "x := REAL_TO_INT(2.5) + LREAL_TRUNC_INT(-2.7);", "x", 3 - 2},
      {"t : TIME; x : LREAL;", "t := T#1h2m + TIME#500ms * 2; x := TIME_TO_LREAL(t);", "x", 3720000 + 1000},
      {"d : DT := DT#2024-03-05-07:08:09; t : TIME; x : LREAL;", "t := (d + T#1d) - d; x := TIME_TO_LREAL(t);", "x", 86400000},
      {"x : DINT;", "x := INC_RANGE(4, 0, 5) * 10 + DEC_RANGE(4, 0, 5);", "x", 53},
      {"x : DINT := 1;", "x := SHL(x, 4) + ABS(-3);", "x", 19},
      {"x : DINT;", "x := GetCycleCount();", "x", 1},
      {"x : DINT; a, b, c : DINT;", "x := GetLastErrorInfo(a, b, c) + 1;", "x", 1},
      {"x, lo, hi : INT; l : DINT;", "l := MakeDword(INT#-1, 16#1234); x := SplitDword(l, lo, hi) + hi;", "x", -1 + 0x1234},
      {"r : R_TRIG; q : BOOL;", "r(CLK := TRUE, Q => q);", "q", 1},
      {"c : CTU; q : BOOL; v : INT;", "c(CU := TRUE, R := FALSE, PV := 1); q := c.Q; v := c.CV;", "v", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.body);
    StProgram p(program(std::string(c.vars) + "\n", std::string(c.body) + "\n"));
    ASSERT_TRUE(p.ok());
    p.cycle();
    EXPECT_EQ(p.value(c.name), c.expected);
  }
}

// Every host library function the compiler knows by name is called with
// its declared counts: the verifier asks the library itself.
TEST(StLibrary, EveryFunctionByNameVerifies) {
  std::string vars = "b : BOOL; i : INT; d : DINT; r : REAL; l : LREAL; t : TIME; dt : DT;\n";
  std::string body;
  const char *names[] = {"", "b", "d", "l", "i", "r", "t", "dt"};
  for (const stc::HostFunction &f : stc::hostFunctions()) {
    std::string call = std::string(f.name) + "(";
    for (size_t k = 0; k < f.inputs.size() + f.outputs.size(); ++k)
      call += std::string(k ? ", " : "") + names[k < f.inputs.size() ? f.inputs[k] : f.outputs[k - f.inputs.size()]];
    body += "IF FALSE THEN " + call + "); END_IF;\n";
  }
  for (const stc::FunctionBlock &fb : stc::functionBlocks()) {
    vars += std::string("fb_") + fb.name + " : " + fb.name + ";\n";
    body += std::string("fb_") + fb.name + "();\n";
  }
  for (const char *type : {"b", "i", "d", "r", "l", "t", "dt"})
    body += std::string(type) + " := SEL(b, " + type + ", " + type + "); " + type + " := MAX(" + type + ", " + type +
            ", " + type + "); " + type + " := MIN(" + type + ", " + type + "); " + type + " := LIMIT(" + type + ", " +
            type + ", " + type + "); " + type + " := MUX(d, " + type + ", " + type + ");\n";
  StProgram p(program(vars, body));
  EXPECT_TRUE(p.ok());
}

// Random and mutated sources: the compiler reports errors and never crashes.
TEST(StFuzz, MutatedSourcesNeverCrashTheCompiler) {
  const std::string seed = program(
      "x : INT := 5; a : ARRAY [0..3] OF REAL; t : TON; b AT %PV7 : BOOL;\n",
      "IF x > 3 THEN a[x MOD 4] := INT_TO_REAL(x) * 1.5; ELSE b := NOT b; END_IF;\n"
      "t(IN := b, PT := T#1s);\nCASE x OF 1..2: x := 0; ELSE x := MAX(x, 2); END_CASE;\n"
      "FOR x := 1 TO 3 DO WHILE b DO EXIT; END_WHILE; END_FOR;\n");
  std::mt19937 rng(1234);
  const std::string alphabet = "();:=[]., +-*/<>#%'\"$\tabcxyzIFTHENEND_IF0123456789\n";
  size_t rejected = 0, accepted = 0;
  for (int n = 0; n < 3000; ++n) {
    std::string s = seed;
    int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
      size_t at = rng() % (s.size() + 1);
      switch (rng() % 3) {
        case 0: s.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
        case 1:
          if (at < s.size()) s.erase(at, 1 + rng() % 8);
          break;
        default: s.insert(at, s.substr(rng() % s.size(), rng() % 20)); break;
      }
    }
    stc::Compilation r = stc::compile(s, "fuzz.st");
    if (!r.ok()) {
      ++rejected;
      EXPECT_FALSE(r.rendered.empty());
      EXPECT_TRUE(r.image.empty());
      continue;
    }
    // What compiles passes set-up and the three verifiers.
    runner::Session session(r.image);
    std::string message;
    EXPECT_EQ(session.setUp({}, message), runner::SetUpResult::OK) << message << "\n" << s;
    ++accepted;
  }
  EXPECT_GT(rejected, 1000u);
  EXPECT_GT(accepted, 10u);
}

// Each point address form sets the var record's point ID, field and flags.
TEST(StPoints, AddressFormsSetTheLinkOfTheVar) {
  struct Case {
    const char *address;
    int8_t field;
    bool load, save;
  };
  const Case cases[] = {{"PV1001", 44, true, true},  {"PI1001", 44, true, false}, {"PQ1001", 44, false, true},
                        {"PS1001", 43, true, true},  {"PSI1001", 43, true, false}, {"PSQ1001", 43, false, true}};
  for (const Case &c : cases) {
    stc::Compilation r = stc::compile(program(std::string("x AT %") + c.address + " : DINT;\n", "x := x + 1;\n"), "p.st");
    ASSERT_TRUE(r.ok()) << c.address;
    build::ImageBytes image{r.image};
    const VmVarRecord &record = image.varRecord(0, r.symbol("x")->var);
    EXPECT_EQ(record.pointId, 1001) << c.address;
    EXPECT_EQ(record.pointField, c.field) << c.address;
    EXPECT_EQ((record.classByte & 0x10) != 0, c.load) << c.address;
    EXPECT_EQ((record.classByte & 0x20) != 0, c.save) << c.address;
    EXPECT_EQ(record.classByte & 0x0F, 1) << c.address;
  }
}

// Nesting beyond the parser's limit is an error, not a stack overflow.
TEST(StFuzz, DeepNestingIsReported) {
  const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
  for (const std::string &body : {"x := " + deep + ";\n", "x := " + std::string(50000, '-') + "x;\n",
                                   [] {
                                     std::string s;
                                     for (int k = 0; k < 5000; ++k) s += "IF TRUE THEN ";
                                     s += "x := 1;";
                                     for (int k = 0; k < 5000; ++k) s += " END_IF;";
                                     return s + "\n";
                                   }()}) {
    stc::Compilation r = stc::compile(program("x : DINT;\n", body), "deep.st");
    EXPECT_FALSE(r.ok());
    ASSERT_FALSE(r.rendered.empty());
    EXPECT_NE(r.rendered[0].find("error: expected less deeply nested code (at most 200 levels)"), std::string::npos)
        << r.rendered[0].substr(0, 200);
  }
  std::string sum = "x := 1";
  for (int k = 0; k < 100000; ++k) sum += " + 1";
  stc::Compilation r = stc::compile(program("x : DINT;\n", sum + ";\n"), "long.st");
  ASSERT_FALSE(r.rendered.empty());
  EXPECT_NE(r.rendered[0].find("error: expected at most 200 operators in a row (split the expression)"),
            std::string::npos) << r.rendered[0].substr(0, 200);
}
