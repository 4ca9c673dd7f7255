// SPDX-License-Identifier: MIT
// POINTS family: load_points and save_points (codes 202, 203).
//
// Both commands read only the segment index of SRC1's var operand (word 1;
// the var itself is not resolved). An index whose data segment slot is empty
// is fatal 118 ("Load direct vars" / "Save direct vars"); an index above 1
// names no slot at all and counts as empty. Any index other than 0 does
// nothing but advance: the commands always work on all the image's data
// segments, in table order, var by var.
//
// load_points reads, for every var of class 1 with the load flag and a point
// index other than 0, the var's point field through the point access rules,
// stores it into the var by the var's type, and then runs the timer update.
// save_points writes every var of class 1 with the save flag and a point
// index to its point field. A point index outside the tables raises error 4
// and a refused field read or write error 5; the command goes on with the
// next var (a var whose load failed receives 0.0). Each var is traced at
// level 15. A var whose cell location does not lie in the image (only a
// program that overwrote its var record can cause that) is passed over.
#pragma once

#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::points {

void loadPoints(RunContext &ctx, const VmCommand &cmd);
void savePoints(RunContext &ctx, const VmCommand &cmd);

template <uint16_t Code>
inline void exec(RunContext &ctx, VmCommand &cmd) {
  static_assert(kCommands[Code].family == Family::POINTS);
  if constexpr (Code == op("load_points")) loadPoints(ctx, cmd);
  else savePoints(ctx, cmd);
}

}  // namespace sicvm::interp::points
