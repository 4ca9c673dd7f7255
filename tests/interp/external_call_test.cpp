// SPDX-License-Identifier: MIT
// The external procedure through a program and its guard: results, the fault report, both
// threads, the next cycle, and the host's signal set-up, which every call leaves as it was.
#include <errno.h>
#include <signal.h>

#include <atomic>
#include <regex>
#include <thread>

#include "interp/external_call.h"
#include "interp/program.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

#define FAULTING __attribute__((noinline, no_sanitize("address", "undefined")))
#define PROC(name)                                                                                       \
  int32_t name([[maybe_unused]] int32_t mode, [[maybe_unused]] int32_t function, [[maybe_unused]] VmCell *frame, \
               int32_t, [[maybe_unused]] int32_t first, [[maybe_unused]] int32_t nin, int32_t, VmMachine *)

PROC(writesItsOutput) {
  if (mode != 0) frame[first + nin].v.i32 = function + frame[first].v.i32 * 4;
  return 0;
}
PROC(returnsSeven) { return 7; }
FAULTING PROC(dereferencesNull) {
  volatile int *volatile p = nullptr;
  *p = 1;
  return 0;
}
FAULTING PROC(dividesByZero) {
  volatile int zero = 0;
  return function / zero;
}
PROC(throwsException) { throw 42; }

// Deeper than any stack: only a fault ends the recursion.
volatile int g_depthLimit = 1 << 30;
FAULTING int recurse(int depth) {
  volatile char local[512] = {char(depth)};
  return depth >= g_depthLimit ? local[0] : recurse(depth + 1) + local[0];
}
FAULTING PROC(overflowsTheStack) { return recurse(0); }

std::atomic<int> g_hostSignals{0};
void hostHandler(int, siginfo_t *, void *) { g_hostSignals.fetch_add(1); }
constexpr int kHostSignals[] = {SIGSEGV, SIGFPE};

// Every case in order on this thread, through a program calling function 21 with the input
// 7 and popping the output into var 2: what the call leaves and the fault report logged
// (code 0: none). A fault stops its cycle only: the next one runs normally.
void runCases(bool hostStack) {
  const struct { const char *what; VmLibraryProc proc; uint32_t result; uint32_t code; } cases[] = {
      {"succeeds", writesItsOutput, 0, 0},
      {"dereferences null", dereferencesNull, 5, kExceptionAccessViolation},
      {"returns its own result", returnsSeven, 7, 0},
      {"divides by zero", dividesByZero, 5, kExceptionIntDivideByZero},
      {"throws", throwsException, 5, kExceptionCpp},
      {"overflows its stack", overflowsTheStack, 5, kExceptionAccessViolation},
      {"succeeds at the end", writesItsOutput, 0, 0},
  };
  ImageBuilder b;
  b.var(b.segment(), Var(Value::dint(0)));
  b.command(op("push_const"), c(Value::dint(7)));
  b.command(op("call"), Operand::words(1, 21, VM_CALL_EXTERNAL | 1), Operand::words(1, 1 << 8 | 1 << 16));
  b.command(op("pop_vars"), g(2), num(1));
  b.end();
  test::TestMachine m(b);
  // The host's own handlers for SIGSEGV and SIGFPE and, with `hostStack`, its alternate stack.
  struct sigaction host {}, saved[2];
  host.sa_sigaction = hostHandler;
  host.sa_flags = SA_SIGINFO | SA_RESTART;
  for (int i : {0, 1}) sigaction(kHostSignals[i], &host, &saved[i]);
  std::vector<char> stackMemory(64 * 1024);
  stack_t stack{stackMemory.data(), hostStack ? 0 : SS_DISABLE, stackMemory.size()}, savedStack{};
  sigaltstack(&stack, &savedStack);
  for (const auto &k : cases) [&] {  // a failed assertion leaves the case, not the set-up
    SCOPED_TRACE(k.what);
    VmSetExternalProc(k.proc);
    VmResetMachine(m.get());
    m.globalCell(2).v.i32 = 0;
    test::LogCapture log(4);
    VmRunProgram(m.get(), 0, 0);
    for (int signo : kHostSignals) {
      struct sigaction now {};
      sigaction(signo, nullptr, &now);
      EXPECT_EQ(now.sa_sigaction, hostHandler) << signo;
    }
    sigaltstack(nullptr, &stack);
    EXPECT_EQ(stack.ss_flags & SS_DISABLE ? nullptr : stack.ss_sp, hostStack ? stackMemory.data() : nullptr);
    EXPECT_EQ(test::recordOf(m), (k.result ? test::Record{128, 1, 21, k.result} : test::Record{}));
    EXPECT_EQ(test::value(m.globalCell(2).v.i32), k.result ? 0 : 49);
    const std::vector<std::string> lines = log.at(4);
    ASSERT_EQ(lines.size(), (k.code ? 1u : 0u) + (k.result ? 1u : 0u));
    const std::string stop = "External function 21 returns error " + std::to_string(k.result);
    if (k.result) { EXPECT_EQ(lines.back(), test::errorLine(128, 1, stop)); }
    if (!k.code) return;
    // Exactly this form, without a line end; the procedures live in the test program.
    const std::regex form("External call exception ([0-9A-F]{8}) at address 0x([0-9a-f]+) in module " +
                          std::string(program_invocation_short_name));
    std::smatch report;
    ASSERT_TRUE(std::regex_match(lines[0], report, form)) << lines[0];
    EXPECT_EQ(std::stoul(report[1], nullptr, 16), k.code);
    // A C++ exception names the procedure, a fault the instruction that failed.
    EXPECT_EQ(std::stoull(report[2], nullptr, 16) == uintptr_t(k.proc), k.code == kExceptionCpp);
  }();
  VmSetExternalProc(nullptr);
  EXPECT_EQ(g_hostSignals.load(), 0) << "the faults of the procedures were the guard's";
  for (int i : {0, 1}) sigaction(kHostSignals[i], &saved[i], nullptr);
  sigaltstack(&savedStack, nullptr);
}

TEST(ExternalCall, TurnsFaultsAndExceptionsIntoResult5OnTheMainThread) { runCases(true); }

// Without an alternate stack of the host's, a stack overflow needs the guard's own.
TEST(ExternalCall, TurnsFaultsAndExceptionsIntoResult5OnASecondThread) { std::thread(runCases, false).join(); }

}  // namespace
