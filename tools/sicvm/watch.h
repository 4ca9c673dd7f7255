// SPDX-License-Identifier: MIT
// The --watch table of `sicvm run`: after each cycle, the linked vars with
// their points (IDs, names, values), and the vars and array cells whose
// cells changed in the cycle, by name where the symbol file has one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asm/image_reader.h"
#include "names.h"
#include "runner/session.h"

namespace sicvm::tool {

class Watch {
 public:
  Watch(const runner::Session &session, const ProgramNames &names);

  // Prints the table after cycle `cycle` (redrawn in place on a terminal);
  // `timing` is a line of cycle statistics for the header ("" for none).
  void show(int64_t cycle, const runner::CycleResult &r, const std::string &timing);

 private:
  struct Entry {
    uint32_t cellOffset;
    int type;          // for a var, read from its live record
    std::string name;  // "0:00002 level", "array 0[3] samples[3]"
    uint32_t segment, var;  // a var's place; segment UINT32_MAX for an array cell
    VmCell last;
  };
  VmCell liveCell(const Entry &e) const;
  VmVarRecord liveRecord(const Entry &e) const;
  std::string pointName(int32_t index) const;
  void snapshot();

  const runner::Session &session_;
  assembly::ImageView view_;
  std::vector<Entry> cells_;  // every var, then every array cell
  bool tty_ = false;
};

}  // namespace sicvm::tool
