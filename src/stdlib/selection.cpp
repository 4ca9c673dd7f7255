// SPDX-License-Identifier: MIT
// Selection functions of the standard library: SEL, MAX, MIN, LIMIT, MUX,
// INC_RANGE and DEC_RANGE.
//
// Comparisons use the C type's own operators, so an unordered comparison
// (a NaN on either side) is false: MAX and MIN never replace their running
// result with a NaN and never replace a NaN first input.
#include "foundation/messages.h"
#include "stdlib/functions.h"

namespace sicvm::stdlib {

// Cells: 0 G, 1 IN0, 2 IN1, 3 OUT.
template <class V>
int32_t sel(const lib::Call &call) {
  store<V>(call.out(), load<V>(call.cell(call.getBool(0) ? 2 : 1)));
  return 0;
}

namespace {

// Cells 0..n-1 the inputs, cell n OUT: the first input that no later one
// `beats`. Equal values keep the earlier one.
template <class V, class Beats>
int32_t extreme(const lib::Call &call, Beats beats) {
  V best = load<V>(call.cell(0));
  for (int32_t i = 1; i < call.inputs(); ++i) {
    V next = load<V>(call.cell(i));
    if (beats(next, best)) best = next;
  }
  store<V>(call.out(), best);
  return 0;
}

}  // namespace

template <class V>
int32_t max(const lib::Call &call) {
  return extreme<V>(call, [](V next, V best) { return next > best; });
}

template <class V>
int32_t min(const lib::Call &call) {
  return extreme<V>(call, [](V next, V best) { return next < best; });
}

// Cells: 0 MN, 1 IN, 2 MX, 3 OUT. MIN(MAX(MN, IN), MX); MX wins when MN > MX.
template <class V>
int32_t limit(const lib::Call &call) {
  V mn = load<V>(call.cell(0));
  V in = load<V>(call.cell(1));
  V mx = load<V>(call.cell(2));
  V m = in > mn ? in : mn;
  store<V>(call.out(), m < mx ? m : mx);
  return 0;
}

// Cells: 0 K (DINT), 1..n-1 IN0..IN(n-2), cell n OUT. A K outside the
// inputs records error 33 and outputs zero at the type's width.
template <class V>
int32_t mux(const lib::Call &call) {
  int32_t k = call.getDint(0);
  int32_t choices = call.inputs() - 1;
  if (k >= 0 && k < choices) {
    store<V>(call.out(), load<V>(call.cell(1 + k)));
  } else {
    call.fail(msg::kInvalidParameter);
    store<V>(call.out(), V{});
  }
  return 0;
}

namespace {

// Cells: 0 value, 1 low, 2 high, 3 OUT (all DINT). OUT = value moved by
// `step` toward `end`; at `end` error 34, outside low..high error 33, and in
// both cases OUT keeps the value.
int32_t stepInRange(const lib::Call &call, int32_t step) {
  int32_t value = call.getDint(0);
  int32_t low = call.getDint(1);
  int32_t high = call.getDint(2);
  call.setDint(call.inputs(), value);
  if (value < low || value > high) {
    call.fail(msg::kInvalidParameter);
  } else if (value == (step > 0 ? high : low)) {
    call.fail(msg::kOutOfRange);
  } else {
    call.setDint(call.inputs(), value + step);
  }
  return 0;
}

}  // namespace

int32_t incRange(const lib::Call &call) { return stepInRange(call, +1); }
int32_t decRange(const lib::Call &call) { return stepInRange(call, -1); }

#define SICVM_SELECTION_TYPES(F) \
  template int32_t F<uint8_t>(const lib::Call &);  \
  template int32_t F<int16_t>(const lib::Call &);  \
  template int32_t F<int32_t>(const lib::Call &);  \
  template int32_t F<float>(const lib::Call &);    \
  template int32_t F<double>(const lib::Call &);
SICVM_SELECTION_TYPES(sel)
SICVM_SELECTION_TYPES(max)
SICVM_SELECTION_TYPES(min)
SICVM_SELECTION_TYPES(limit)
SICVM_SELECTION_TYPES(mux)
#undef SICVM_SELECTION_TYPES

}  // namespace sicvm::stdlib
