// The --watch table of `sicvm run`: after each cycle, the linked vars with
// their points' values, and the vars whose cells changed in the cycle.
#pragma once

#include <cstdint>
#include <vector>

#include "asm/image_reader.h"
#include "runner/session.h"

namespace sicvm::tool {

class Watch {
 public:
  explicit Watch(const runner::Session &session);

  // Prints the table after cycle `cycle` (redrawn in place on a terminal).
  void show(int64_t cycle, const runner::CycleResult &r);

 private:
  struct Entry {
    uint32_t segment, var, cellOffset;
    VmCell last;
  };
  VmCell liveCell(const Entry &e) const;
  VmVarRecord liveRecord(const Entry &e) const;
  void snapshot();

  const runner::Session &session_;
  assembly::ImageView view_;
  std::vector<Entry> vars_;
  bool tty_ = false;
};

}  // namespace sicvm::tool
