// SPDX-License-Identifier: MIT
// The parameter frame of a gas function: a run of 12-byte cells whose values
// lie at byte 4. Cells may sit at any address, so values are copied with
// memcpy. Outputs are gathered in a zero-filled block of whole cells and
// copied over the output cells in one go.
#pragma once

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "sicvm/image.h"

namespace sicvm::gas {

class Frame {
 public:
  explicit Frame(void *base) noexcept : base_(static_cast<unsigned char *>(base)) {}

  double real(int cell) const noexcept {
    double v;
    std::memcpy(&v, value(cell), sizeof v);
    return v;
  }
  int32_t dint(int cell) const noexcept {
    int32_t v;
    std::memcpy(&v, value(cell), sizeof v);
    return v;
  }
  bool boolean(int cell) const noexcept { return *value(cell) != 0; }
  void setReal(int cell, double v) noexcept { std::memcpy(value(cell), &v, sizeof v); }

  // Copies `count` whole cells from `cells` over the frame from `first` on.
  void writeCells(int first, const VmCell *cells, int count) noexcept {
    std::memcpy(base_ + size_t(first) * sizeof(VmCell), cells, size_t(count) * sizeof(VmCell));
  }

 private:
  unsigned char *value(int cell) const noexcept {
    return base_ + size_t(cell) * sizeof(VmCell) + offsetof(VmCell, v);
  }
  unsigned char *base_;
};

// The output block of a call: N cells, all zero until set.
template <int N>
class Outputs {
 public:
  void setCode(int i, int32_t code) noexcept { cells_[i].v.i32 = code; }
  void setReal(int i, double v) noexcept { std::memcpy(&cells_[i].v, &v, sizeof v); }
  const VmCell *data() const noexcept { return cells_.data(); }

 private:
  std::array<VmCell, N> cells_{};
};

// Keeps errno as the caller left it. A gas function reports bad data only
// through its result code and NaN or infinite outputs; a domain or pole error
// of the math library inside it (log10 of a zero Reynolds number, say) must
// not reach the run, which reads errno after each command in one of its
// floating-point error modes and would record a math error for the call.
class ErrnoKeeper {
 public:
  ErrnoKeeper() noexcept : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }
  ErrnoKeeper(const ErrnoKeeper &) = delete;
  ErrnoKeeper &operator=(const ErrnoKeeper &) = delete;

 private:
  int saved_;
};

// True when x lies outside [lo, hi]; a NaN lies inside every range.
inline bool outside(double x, double lo, double hi) noexcept { return x < lo || x > hi; }

}  // namespace sicvm::gas
