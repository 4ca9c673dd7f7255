// SPDX-License-Identifier: MIT
// The external procedure and its guarded caller.
#include "interp/external_call.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "foundation/messages.h"
#include "libcall/library.h"
#include "hostrt/log.h"

namespace sicvm {
namespace {

std::atomic<VmLibraryProc> g_externalProc{nullptr};

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];

// What the handler saw.
struct Fault {
  uint32_t code = 0;
  void *address = nullptr;
};

// One guarded call in progress on this thread; guarded calls may nest (an
// external procedure may run another machine), so each frame links to the
// one it interrupts.
struct GuardFrame {
  sigjmp_buf env;
  Fault fault;
  GuardFrame *outer = nullptr;
};

thread_local GuardFrame *t_guard = nullptr;

// ---- Fault description -------------------------------------------------------

uint32_t faultCode(int signo, int code) {
  switch (signo) {
    case SIGSEGV:
      return kExceptionAccessViolation;
    case SIGBUS:
      return code == BUS_ADRALN ? kExceptionMisalignment : kExceptionInPageError;
    case SIGFPE:
      switch (code) {
        case FPE_INTDIV: return kExceptionIntDivideByZero;
        case FPE_INTOVF: return kExceptionIntOverflow;
        case FPE_FLTDIV: return kExceptionFltDivideByZero;
        case FPE_FLTOVF: return kExceptionFltOverflow;
        case FPE_FLTUND: return kExceptionFltUnderflow;
        case FPE_FLTRES: return kExceptionFltInexact;
        default: return kExceptionFltInvalid;
      }
    case SIGILL:
      return code == ILL_PRVOPC || code == ILL_PRVREG ? kExceptionPrivileged
                                                      : kExceptionIllegalInstruction;
    default:
      return kExceptionAccessViolation;
  }
}

// The instruction pointer of the interrupted context, or the signal's own
// address where the architecture is not known here.
void *faultAddress(const siginfo_t *info, void *context) {
  const auto *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
  if (uc != nullptr) return reinterpret_cast<void *>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  if (uc != nullptr) return reinterpret_cast<void *>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  if (uc != nullptr) return reinterpret_cast<void *>(uc->uc_mcontext.pc);
#else
  (void)uc;
#endif
  return info->si_addr;
}

// The base name of the module holding `address`, at most 259 characters.
void moduleName(const void *address, char (&name)[260]) {
  char path[4096] = "";
  Dl_info info{};
  if (dladdr(address, &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] != '\0') {
    std::snprintf(path, sizeof path, "%s", info.dli_fname);
  } else {
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
      path[n] = '\0';
    } else {
      std::snprintf(path, sizeof path, "%s", program_invocation_name);
    }
  }
  const char *slash = std::strrchr(path, '/');
  const char *base = slash != nullptr ? slash + 1 : path;
  size_t length = strnlen(base, sizeof name - 1);
  std::memcpy(name, base, length);
  name[length] = '\0';
}

void reportFault(const Fault &fault) {
  if (LogGetLevel() < kLevelFatal) return;
  char name[260];
  moduleName(fault.address, name);
  LogPrintf(kLevelFatal, "External call exception %08X at address %p in module %s", fault.code,
            fault.address, name);
}

// ---- Signal handlers -------------------------------------------------------------

std::mutex g_handlersMutex;
int g_guardedCalls = 0;  // guarded calls in progress in the process
struct sigaction g_hostActions[kSignalCount];

const struct sigaction *hostAction(int signo) {
  for (int i = 0; i < kSignalCount; ++i)
    if (kGuardedSignals[i] == signo) return &g_hostActions[i];
  return nullptr;
}

// A signal that no guarded call of this thread expects: hand it to the
// host's handler, or let the default action happen.
void forward(int signo, siginfo_t *info, void *context) {
  const struct sigaction *host = hostAction(signo);
  if (host != nullptr && (host->sa_flags & SA_SIGINFO) != 0 && host->sa_sigaction != nullptr) {
    host->sa_sigaction(signo, info, context);
    return;
  }
  if (host != nullptr && host->sa_handler != SIG_DFL && host->sa_handler != SIG_IGN) {
    host->sa_handler(signo);
    return;
  }
  // Default action: for a fault the instruction runs again on return and
  // the signal then takes its default course.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signo, &fallback, nullptr);
  if (info->si_code <= 0) ::raise(signo);
}

void onFault(int signo, siginfo_t *info, void *context) {
  GuardFrame *frame = t_guard;
  if (frame == nullptr) {
    forward(signo, info, context);
    return;
  }
  frame->fault.code = faultCode(signo, info->si_code);
  frame->fault.address = faultAddress(info, context);
  siglongjmp(frame->env, 1);
}

// Installs the handlers for the first guarded call in progress and puts the
// host's back after the last.
class HandlerScope {
 public:
  HandlerScope() {
    std::lock_guard<std::mutex> lock(g_handlersMutex);
    if (g_guardedCalls++ > 0) return;
    struct sigaction ours {};
    ours.sa_sigaction = onFault;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kGuardedSignals[i], &ours, &g_hostActions[i]);
  }
  ~HandlerScope() {
    std::lock_guard<std::mutex> lock(g_handlersMutex);
    if (--g_guardedCalls > 0) return;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kGuardedSignals[i], &g_hostActions[i], nullptr);
  }
  HandlerScope(const HandlerScope &) = delete;
  HandlerScope &operator=(const HandlerScope &) = delete;
};

// ---- Alternate signal stack ---------------------------------------------------------

// The thread's alternate stack, mapped at its first guarded call and
// unmapped when the thread ends.
class AltStackMemory {
 public:
  ~AltStackMemory() {
    if (base_ != nullptr) munmap(base_, size_);
  }
  void *base() {
    if (base_ == nullptr) {
      size_t size = std::max<size_t>(64 * 1024, static_cast<size_t>(SIGSTKSZ));
      void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p != MAP_FAILED) {
        base_ = p;
        size_ = size;
      }
    }
    return base_;
  }
  size_t size() const { return size_; }

 private:
  void *base_ = nullptr;
  size_t size_ = 0;
};

thread_local AltStackMemory t_altStack;

// Puts the thread's alternate stack in place for the outermost guarded call
// and restores the one that was there. When the thread already runs on an
// alternate stack (a guarded call from a signal handler), that one stays.
class AltStackScope {
 public:
  explicit AltStackScope(bool outermost) {
    if (!outermost || t_altStack.base() == nullptr) return;
    stack_t ours{};
    ours.ss_sp = t_altStack.base();
    ours.ss_size = t_altStack.size();
    ours.ss_flags = 0;
    swapped_ = sigaltstack(&ours, &previous_) == 0;
  }
  ~AltStackScope() {
    if (swapped_) sigaltstack(&previous_, nullptr);
  }
  AltStackScope(const AltStackScope &) = delete;
  AltStackScope &operator=(const AltStackScope &) = delete;

 private:
  stack_t previous_{};
  bool swapped_ = false;
};

// Runs the procedure; on a C++ exception fills `fault` and gives 5. Kept
// apart from the sigsetjmp frame so that nothing there lives across a jump.
int32_t invoke(VmLibraryProc proc, Fault &fault, int32_t mode, int32_t function, VmCell *frame,
               int32_t count, int32_t first, int32_t nin, int32_t nout, VmMachine *machine) {
  try {
    return proc(mode, function, frame, count, first, nin, nout, machine);
  } catch (...) {
    fault.code = kExceptionCpp;
    fault.address = reinterpret_cast<void *>(proc);
    return lib::kException;
  }
}

}  // namespace

VmLibraryProc externalProc() noexcept { return g_externalProc.load(std::memory_order_acquire); }

int32_t callExternal(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first,
                     int32_t nin, int32_t nout, VmMachine *machine) {
  VmLibraryProc proc = externalProc();
  if (proc == nullptr) return lib::kUnknown;

  GuardFrame guard;
  guard.outer = t_guard;
  AltStackScope altStack(guard.outer == nullptr);
  HandlerScope handlers;

  volatile int32_t result = lib::kException;
  if (sigsetjmp(guard.env, 1) == 0) {
    t_guard = &guard;
    result = invoke(proc, guard.fault, mode, function, frame, count, first, nin, nout, machine);
  }
  // Reached after a normal return and after a fault alike.
  t_guard = guard.outer;
  if (guard.fault.code != 0) {
    reportFault(guard.fault);
    return lib::kException;
  }
  return result;
}

}  // namespace sicvm

extern "C" SICVM_API void VmSetExternalProc(VmLibraryProc proc) {
  sicvm::g_externalProc.store(proc, std::memory_order_release);
}
