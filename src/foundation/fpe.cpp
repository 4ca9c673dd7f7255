// SPDX-License-Identifier: MIT
// Floating-point error mode, math error handler and the run's floating-point guard.
#include "foundation/fpe.h"

#include "sicvm/vm.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace sicvm {

std::atomic<int32_t> g_fpeMode{0};
std::atomic<int32_t> g_mathError{0};

void reportMathError(int errorNumber, RangeKind kind, double firstArgument) {
  if (g_fpeMode.load(std::memory_order_relaxed) != 0) return;  // errno carries it
  VmMathException exception{};
  if (errorNumber == EDOM) {
    exception.type = VM_MATH_DOMAIN;
  } else if (kind == RangeKind::Pole || (kind == RangeKind::PoleWhenBaseZero && firstArgument == 0.0)) {
    exception.type = VM_MATH_SING;
  } else {
    exception.type = VM_MATH_OVERFLOW;
  }
  exception.arg1 = firstArgument;
  VmMatherr(&exception);
}

void maskFloatExceptions() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  // The SSE unit computes every float and double; its control and status
  // register holds the six masks (bits 7..12) and the six flags (bits 0..5).
  _mm_setcsr((_mm_getcsr() | 0x1F80u) & ~0x3Fu);
#endif
  fedisableexcept(FE_ALL_EXCEPT);
  std::feclearexcept(FE_ALL_EXCEPT);
}

}  // namespace sicvm

extern "C" {

SICVM_API int32_t VmSetFpemode(int32_t mode) { return sicvm::g_fpeMode.exchange(mode); }

SICVM_API int32_t VmMatherr(VmMathException *exception) {
  if (exception == nullptr) return 1;
  int32_t type = exception->type;
  sicvm::g_mathError.store(type == VM_MATH_DOMAIN || type == VM_MATH_SING ? 33 : 34,
                           std::memory_order_relaxed);
  return 1;
}

}  // extern "C"
