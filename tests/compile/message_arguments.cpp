// SPDX-License-Identifier: MIT
// Reports whose arguments do not match their message must not compile. The
// file builds in one variant per defect (ctest expects each to fail) and,
// with no variant, as a well-formed use that must compile.
#include "foundation/report.h"

namespace sicvm {

// The format parser on its own.
static_assert(conversionsAre("a %d:%05d %s %02X %g %% b", {Conversion::Int, Conversion::Int, Conversion::Text,
                                                           Conversion::Int, Conversion::Real}));
static_assert(!conversionsAre("%d", {}));
static_assert(!conversionsAre("x", {Conversion::Int}));
static_assert(!conversionsAre("%s", {Conversion::Int}));
static_assert(!conversionsAre("%ld", {Conversion::Int}));

void report(const Image &image) {
  raise(image, msg::kDsNull, 0, 1, 2, "Set", 1u);
  raiseForVar(image, msg::kUnknownTypeClass, 0, 1, 2, 3, 4, uint8_t(9));
#if defined(MISSING_ARGUMENT)
  raise(image, msg::kDsNull, 0, 1, 2, "Set");
#elif defined(EXTRA_ARGUMENT)
  raise(image, msg::kInvalidPointNo, 0, 1, 2, 4, 5);
#elif defined(NUMBER_FOR_TEXT)
  raise(image, msg::kOutsideCode, 0, 1, 2, 7, 7);
#elif defined(TEXT_FOR_NUMBER)
  raiseForArray(image, msg::kInvalidElementSize, 0, 1, 2, 3, "twelve");
#elif defined(REAL_FOR_NUMBER)
  raise(image, msg::kMathError, 0, 1, 2, 33.0);
#elif defined(TYPES_DIFFER_FROM_TEXT)
  static constexpr Message<int, int> wrong{1, kLevelInfo, Prefix::AtCommand, "%s DS (%d)\n"};
  raise(image, wrong, 0, 1, 2, 1, 2);
#endif
}

}  // namespace sicvm
