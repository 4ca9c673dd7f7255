// SPDX-License-Identifier: MIT
// Floating-point error control: the process-wide error mode and math error
// word, the guard a run keeps around its commands, and checked calls into the
// math library.
//
// Math errors reach a run the way the host runtime delivers them: a failing
// math library call (domain or range error) is handed to VmMatherr, which sets
// the math error word, when the error mode is 0; with any other mode the
// runtime's errno keeps the error number (33 domain, 34 range) instead. The
// run clears the chosen word before each command and reads it after.
#pragma once

#include <atomic>
#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdint>

namespace sicvm {

extern std::atomic<int32_t> g_fpeMode;
extern std::atomic<int32_t> g_mathError;

// How a failing function's range errors are classified: a pole (log of 0,
// 0 to a negative power) is a singularity, anything else an overflow or
// underflow.
enum class RangeKind { Range, Pole, PoleWhenBaseZero };

// Hands a math library error to VmMatherr as the runtime's hook would.
void reportMathError(int errorNumber, RangeKind kind, double firstArgument);

// Calls a math function of one or two arguments (the first one tells a pole
// of pow) and routes its domain or range error.
template <RangeKind Kind = RangeKind::Range, class F, class... Rest>
inline double checkedMath(F function, double x, Rest... rest) {
  int saved = errno;
  errno = 0;
  double result = function(x, rest...);
  int e = errno;
  if (e == 0) {
    errno = saved;
  } else if (e == EDOM || e == ERANGE) {
    reportMathError(e, Kind, x);
    if (g_fpeMode.load(std::memory_order_relaxed) == 0) errno = saved;
  }
  return result;
}

// The math error word of the current mode: cleared before a command, read after.
inline void clearMathError() {
  if (g_fpeMode.load(std::memory_order_relaxed) == 0)
    g_mathError.store(0, std::memory_order_relaxed);
  else
    errno = 0;
}
inline int32_t currentMathError() {
  return g_fpeMode.load(std::memory_order_relaxed) == 0 ? g_mathError.load(std::memory_order_relaxed)
                                                        : errno;
}

// Masks all six floating-point exceptions (invalid, denormal, zero-divide,
// overflow, underflow, inexact) so that no trap can fire during a run, and
// clears the exception flags. The masks stay set afterwards; the rounding
// mode is left as it is.
void maskFloatExceptions() noexcept;

// A run's guard: masks and clears on entry, clears (and masks again, in
// case a library function changed them) on exit.
class FloatGuard {
 public:
  FloatGuard() noexcept { maskFloatExceptions(); }
  ~FloatGuard() { maskFloatExceptions(); }
  FloatGuard(const FloatGuard &) = delete;
  FloatGuard &operator=(const FloatGuard &) = delete;
};

}  // namespace sicvm
