// The guarded caller of the external procedure: results, the fault report,
// thread safety, and that the host's own signal set-up survives every call.
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "interp/external_call.h"
#include "support/log_capture.h"

using namespace sicvm;

namespace {

#define FAULTING __attribute__((noinline)) __attribute__((no_sanitize("address"))) \
  __attribute__((no_sanitize("undefined")))

// ---- External procedures ---------------------------------------------------------

int32_t writesItsOutput(int32_t mode, int32_t function, VmCell *frame, int32_t, int32_t first,
                        int32_t nin, int32_t, VmMachine *) {
  if (mode != 0) frame[first + nin].v.i32 = function * 2;
  return 0;
}

int32_t returnsSeven(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t, VmMachine *) {
  return 7;
}

FAULTING int32_t dereferencesNull(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t,
                                  VmMachine *) {
  volatile int *volatile p = nullptr;
  *p = 1;
  return 0;
}

FAULTING int32_t dividesByZero(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t,
                               VmMachine *) {
  volatile int one = 1, zero = 0;
  volatile int quotient = one / zero;
  return quotient;
}

int32_t throwsException(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t, VmMachine *) {
  throw std::runtime_error("external failure");
}

int32_t throwsInteger(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t, VmMachine *) {
  throw 42;
}

// Deeper than any stack: the recursion ends only in a fault.
volatile int g_depthLimit = 1 << 30;

FAULTING int recurse(volatile char *previous, int depth) {
  volatile char local[512];
  local[0] = static_cast<char>(depth);
  local[511] = previous != nullptr ? previous[0] : 0;
  if (depth >= g_depthLimit) return local[511];
  return recurse(local, depth + 1) + local[511];
}

FAULTING int32_t overflowsTheStack(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t,
                                   VmMachine *) {
  return recurse(nullptr, 0);
}

// ---- Helpers -------------------------------------------------------------------------

std::string baseName(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string programName() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  path[n > 0 ? n : 0] = '\0';
  return baseName(path);
}

std::string moduleOf(const void *address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0')
    return programName();
  return baseName(info.dli_fname);
}

struct Report {
  unsigned code = 0;
  void *address = nullptr;
  std::string module;
};

// Parses the one exception line that the call logged.
bool parseReport(const test::LogCapture &log, Report &report) {
  std::vector<std::string> lines = log.at(4);
  if (lines.size() != 1) return false;
  char module[300] = "";
  if (std::sscanf(lines[0].c_str(), "External call exception %8X at address %p in module %299s",
                  &report.code, &report.address, module) != 3)
    return false;
  report.module = module;
  char again[400];
  std::snprintf(again, sizeof again, "External call exception %08X at address %p in module %s",
                report.code, report.address, module);
  return lines[0] == again;  // exactly this form, no line end
}

struct Case {
  const char *what;
  VmLibraryProc proc;
  int32_t result;
  uint32_t code;  // 0: nothing is logged
};

const Case kCases[] = {
    {"succeeds", writesItsOutput, 0, 0},
    {"dereferences null", dereferencesNull, 5, kExceptionAccessViolation},
    {"returns its own result", returnsSeven, 7, 0},
    {"divides by zero", dividesByZero, 5, kExceptionIntDivideByZero},
    {"succeeds after a fault", writesItsOutput, 0, 0},
    {"throws a standard exception", throwsException, 5, kExceptionCpp},
    {"throws an integer", throwsInteger, 5, kExceptionCpp},
    {"overflows its stack", overflowsTheStack, 5, kExceptionAccessViolation},
    {"succeeds at the end", writesItsOutput, 0, 0},
};

// Runs every case in order on the calling thread; gtest assertions are
// thread-safe on POSIX.
void runCases() {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    VmSetExternalProc(c.proc);
    VmCell frame[2] = {};
    test::LogCapture log(4);
    EXPECT_EQ(callExternal(1, 21, frame, 2, 0, 1, 1, nullptr), c.result);
    if (c.code == 0) {
      EXPECT_TRUE(log.at(4).empty()) << log.all();
      if (c.result == 0) {
        EXPECT_EQ(frame[1].v.i32, 42);
      }
      continue;
    }
    Report report;
    ASSERT_TRUE(parseReport(log, report)) << log.all();
    EXPECT_EQ(report.code, c.code);
    if (c.code == kExceptionCpp) {
      EXPECT_EQ(report.address, reinterpret_cast<void *>(c.proc));
    } else {
      // The faulting instruction, not the data address of the fault.
      EXPECT_NE(report.address, nullptr);
    }
    EXPECT_EQ(report.module, moduleOf(report.address));
    EXPECT_EQ(report.module, programName()) << "the procedures live in the test program";
  }
  VmSetExternalProc(nullptr);
}

TEST(ExternalCall, WithoutAProcedureTheAnswerIsUnknown) {
  VmSetExternalProc(nullptr);
  EXPECT_EQ(externalProc(), nullptr);
  EXPECT_EQ(callExternal(0, 1, nullptr, 0, 0, 0, 0, nullptr), 1);
  EXPECT_EQ(callExternal(1, 1, nullptr, 0, 0, 0, 0, nullptr), 1);
}

TEST(ExternalCall, TurnsFaultsAndExceptionsIntoResult5OnTheMainThread) { runCases(); }

TEST(ExternalCall, TurnsFaultsAndExceptionsIntoResult5OnASecondThread) {
  std::thread worker(runCases);
  worker.join();
}

TEST(ExternalCall, SurvivesAStackOverflowOnASmallThreadStack) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 128 * 1024);
  int32_t result = -1;
  pthread_t thread;
  auto body = [](void *out) -> void * {
    VmSetExternalProc(overflowsTheStack);
    *static_cast<int32_t *>(out) = callExternal(1, 1, nullptr, 0, 0, 0, 0, nullptr);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &result), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  VmSetExternalProc(nullptr);
  EXPECT_EQ(result, 5);
}

// ---- The host's signal set-up --------------------------------------------------------

std::atomic<int> g_hostSignals{0};
void hostHandler(int, siginfo_t *, void *) { g_hostSignals.fetch_add(1); }

// Installs a host handler for SIGSEGV and SIGFPE and a host alternate stack
// for the life of the object, and puts the old ones back afterwards.
class HostSignals {
 public:
  HostSignals() {
    struct sigaction action {};
    action.sa_sigaction = hostHandler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGUSR2);
    sigaction(SIGSEGV, &action, &savedSegv_);
    sigaction(SIGFPE, &action, &savedFpe_);
    stack_t stack{};
    stack.ss_sp = stack_;
    stack.ss_size = sizeof stack_;
    sigaltstack(&stack, &savedStack_);
  }
  ~HostSignals() {
    sigaction(SIGSEGV, &savedSegv_, nullptr);
    sigaction(SIGFPE, &savedFpe_, nullptr);
    sigaltstack(&savedStack_, nullptr);
  }

 private:
  struct sigaction savedSegv_ {}, savedFpe_{};
  stack_t savedStack_{};
  alignas(16) char stack_[64 * 1024];
};

void expectHostHandler(int signo) {
  struct sigaction now {};
  sigaction(signo, nullptr, &now);
  EXPECT_EQ(now.sa_sigaction, hostHandler) << signo;
  EXPECT_EQ(now.sa_flags & (SA_SIGINFO | SA_RESTART | SA_ONSTACK), SA_SIGINFO | SA_RESTART) << signo;
  EXPECT_EQ(sigismember(&now.sa_mask, SIGUSR2), 1) << signo;
}

TEST(ExternalCall, LeavesTheHostsHandlersAndAlternateStackAsTheyWere) {
  auto hostStack = std::make_unique<HostSignals>();
  stack_t before{};
  sigaltstack(nullptr, &before);
  for (VmLibraryProc proc : {dereferencesNull, writesItsOutput, dividesByZero, throwsException}) {
    VmSetExternalProc(proc);
    VmCell frame[2] = {};
    callExternal(1, 1, frame, 2, 0, 1, 1, nullptr);
    expectHostHandler(SIGSEGV);
    expectHostHandler(SIGFPE);
    stack_t after{};
    sigaltstack(nullptr, &after);
    EXPECT_EQ(after.ss_sp, before.ss_sp);
    EXPECT_EQ(after.ss_size, before.ss_size);
  }
  VmSetExternalProc(nullptr);
  EXPECT_EQ(g_hostSignals.load(), 0) << "the faults of the procedures were the guard's";
}

// While one thread is inside a guarded call, a SIGSEGV delivered to another
// thread belongs to the host and reaches its handler.
int32_t signalsAnotherThread(int32_t, int32_t, VmCell *, int32_t, int32_t, int32_t, int32_t,
                             VmMachine *) {
  std::thread other([] { pthread_kill(pthread_self(), SIGSEGV); });
  other.join();
  return 0;
}

TEST(ExternalCall, PassesOtherThreadsSignalsToTheHost) {
  auto host = std::make_unique<HostSignals>();
  g_hostSignals = 0;
  VmSetExternalProc(signalsAnotherThread);
  EXPECT_EQ(callExternal(1, 1, nullptr, 0, 0, 0, 0, nullptr), 0);
  VmSetExternalProc(nullptr);
  EXPECT_EQ(g_hostSignals.load(), 1);
}

}  // namespace
