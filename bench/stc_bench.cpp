// SPDX-License-Identifier: MIT
// The Structured Text compiler: how long a generated 10,000-line program
// takes to compile, against assembling the same image from its assembly
// source (what `sicvm disasm` writes for it), both measured in this run; and
// how many commands the compiled examples have and run, against their
// hand-written assembly twins.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "asm/assembler.h"
#include "asm/disassembler.h"
#include "hostrt/sys.h"
#include "ratio_reporter.h"
#include "runner/session.h"
#include "stc/compiler.h"

namespace {

constexpr int kLines = 10000;

// A program of kLines statement lines: assignments of mixed expressions,
// IF, CASE and FOR statements, function and function block calls.
std::string generated() {
  std::ostringstream s;
  s << "PROGRAM BIG\nVAR\n";
  for (int k = 0; k < 20; ++k)
    s << "  i" << k << " : INT := " << k << "; d" << k << " : DINT; r" << k << " : REAL := 1.5; l" << k
      << " : LREAL; b" << k << " : BOOL;\n";
  s << "  a : ARRAY [1..100] OF DINT; t : TON; c : CTU; n : DINT;\nEND_VAR\n";
  uint32_t x = 12345;
  auto next = [&x](uint32_t n) {
    x = x * 1103515245u + 12345u;
    return (x >> 16) % n;
  };
  for (int line = 0; line < kLines; ++line) {
    int a = static_cast<int>(next(20)), b = static_cast<int>(next(20)), c = static_cast<int>(next(20));
    switch (next(8)) {
      case 0: s << "d" << a << " := d" << b << " * 3 + i" << c << " - (d" << a << " MOD 7);\n"; break;
      case 1: s << "l" << a << " := l" << b << " * 0.5 + INT_TO_LREAL(i" << c << ") / (r" << a << " + 2.0);\n"; break;
      case 2: s << "IF d" << a << " > i" << b << " AND NOT b" << c << " THEN i" << a << " := i" << b << " + 1; ELSE b" << c << " := TRUE; END_IF;\n"; break;
      case 3: s << "CASE d" << a << " OF 1: d" << b << " := 0; 2..9: d" << b << " := d" << c << "; ELSE d" << b << " := -1; END_CASE;\n"; break;
      case 4: s << "FOR n := 1 TO 10 DO a[n] := a[n] + d" << a << "; END_FOR;\n"; break;
      case 5: s << "r" << a << " := MAX(r" << b << ", r" << c << ", 1.0) + LIMIT(0.0, r" << a << ", 10.0);\n"; break;
      case 6: s << "t(IN := b" << a << ", PT := T#2s); b" << b << " := t.Q;\n"; break;
      default: s << "c(CU := b" << a << ", R := b" << b << ", PV := i" << c << "); i" << a << " := c.CV;\n"; break;
    }
  }
  s << "END_PROGRAM\n";
  return s.str();
}

const std::string &source() {
  static const std::string text = generated();
  return text;
}

const std::string &assemblySource() {
  static const std::string text = [] {
    sicvm::stc::Compilation c = sicvm::stc::compile(source(), "big.st");
    std::string out, error;
    if (!c.ok() || !sicvm::assembly::disassemble(c.image, "big.sic", out, error))
      std::fprintf(stderr, "the generated program does not compile: %s\n",
                   c.rendered.empty() ? error.c_str() : c.rendered[0].c_str());
    return out;
  }();
  return text;
}

void CompileSt10kLines(benchmark::State &state) {
  for (auto _ : state) {
    sicvm::stc::Compilation c = sicvm::stc::compile(source(), "big.st");
    benchmark::DoNotOptimize(c.image.data());
  }
}
BENCHMARK(CompileSt10kLines)->Unit(benchmark::kMillisecond)->Repetitions(5);

void AssembleSameImage(benchmark::State &state) {
  const std::string &text = assemblySource();
  for (auto _ : state) {
    sicvm::assembly::Assembly a = sicvm::assembly::assemble(text, "big.asm");
    benchmark::DoNotOptimize(a.image.data());
  }
}
BENCHMARK(AssembleSameImage)->Unit(benchmark::kMillisecond)->Repetitions(5);

std::string readAll(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Commands in the image (end markers not counted).
int commandCount(const std::vector<uint8_t> &image) {
  const auto &header = *reinterpret_cast<const VmHeader *>(image.data());
  int n = 0;
  for (uint32_t k = 0; k < header.commandCount; ++k) {
    int32_t code;
    std::memcpy(&code, image.data() + header.codeOffset + k * VM_COMMAND_SIZE, 4);
    n += code >= 0;
  }
  return n;
}

// Commands run in 100 cycles against the example's points (100 ms apart).
long commandsRun(const std::vector<uint8_t> &image, const std::string &points) {
  SysSetManualClock(5000);
  sicvm::runner::Session session(image);
  sicvm::runner::SessionOptions options;
  options.pointsFile = points;
  std::string message;
  if (session.setUp(options, message) != sicvm::runner::SetUpResult::OK) return -1;
  long total = 0;
  for (int k = 0; k < 100; ++k) {
    SysAdvanceManualClock(100);
    total += session.runCycle().commands;
  }
  SysUseRealClock();
  return total;
}

void exampleCounts() {
  std::printf("Commands of the examples, Structured Text against hand-written assembly:\n");
  std::printf("  %-6s %10s %8s %8s %8s %12s %12s %8s\n", "", "statements", "ST", "asm", "ST/asm", "run ST",
              "run asm", "ST/asm");
  for (const char *name : {"tank", "batch", "pumps"}) {
    std::string dir = SICVM_EXAMPLES;
    sicvm::stc::Compilation st = sicvm::stc::compile(readAll(dir + "/st/" + name + ".st"), name);
    sicvm::assembly::Assembly as = sicvm::assembly::assemble(readAll(dir + "/" + name + ".asm"), name);
    if (!st.ok() || !as.ok()) {
      std::printf("  %s: does not build\n", name);
      continue;
    }
    int s = commandCount(st.image), a = commandCount(as.image);
    long rs = commandsRun(st.image, dir + "/" + name + ".csv"), ra = commandsRun(as.image, dir + "/" + name + ".csv");
    std::printf("  %-6s %10zu %8d %8d %8.2f %12ld %12ld %8.2f\n", name, st.statements, s, a, double(s) / a, rs, ra,
                double(rs) / double(ra));
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char **argv) {
  exampleCounts();
  benchmark::Initialize(&argc, argv);
  sicvm::bench::RatioReporter reporter(
      "Compile time of 10,000 lines of ST against assembling the same image:",
      {{"CompileSt10kLines", "AssembleSameImage", "ms per 10,000 lines", 1.0}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
