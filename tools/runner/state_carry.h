// SPDX-License-Identifier: MIT
// Carrying a running program's state into a replacement image by name: the
// symbol files of both images name the vars (function block cells included,
// as INSTANCE_CELL vars of their segment) and arrays, and an item whose name
// and type are the same in both has its value cells copied from the running
// image into the replacement.
//
// What an item's type is:
//   a var     its value type and its class (bits 0 to 3 of the class byte);
//   an array  its value type, element size and element count (an array that
//             grew or shrank is a changed item: its cells are not carried).
// A var is named as the symbol file qualifies it ("level", "blocks.t_ET",
// "2.x" for a var of an unnamed segment 2); an array by its own name. The
// two share one name space, so a var that became an array is "changed".
//
// Not state, never carried, not counted: vars 0 and 1 of every segment (the
// base segment and array numbers the code is relocated by) and array
// reference vars (class 5, whose cells hold array addresses the compiler
// wrote for its own image). Unnamed vars and arrays (temporaries) are not
// carried either: the replacement starts them from its own initial values.
//
// A value cell is copied whole (12 bytes): the value, and in a TIME cell the
// running flag of a timer. The machine's timer clock (`lastClock`) and its
// cycle count go with the cells (carryMachine), so a running timer counts the
// time since the running program's last update exactly once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "symbols/symbols.h"

struct VmMachine;

namespace sicvm::runner {

// The named state of one image: where each carried item's cells lie.
struct StateLayout {
  struct Item {
    std::string name;   // as the summary lists it
    bool array = false;
    uint32_t type = 0;  // value type code
    uint32_t shape = 0; // a var: its class; an array: element size
    uint32_t count = 1; // cells of an array (element count x element size); 1 for a var
    uint32_t elements = 1;  // an array's element count
    uint32_t offset = 0;    // of the first value cell, from the image start
  };
  std::vector<Item> items;  // sorted by name, one item per name (the first one wins)
};

// Reads the layout of `image` (the bytes as stored or after set-up) with the
// names of `table`; false with a message when the image's blocks do not lie
// within it.
bool readLayout(const std::vector<uint8_t> &image, const symbols::SymbolTable &table, StateLayout &layout,
                std::string &error);

// "DINT", "TIME", "class 3 DINT" (a var whose class is not 1),
// "ARRAY[10] OF INT", "ARRAY[4 x 2] OF LREAL".
std::string typeText(const StateLayout::Item &item);

// What a change does with each item, and the copies that do it.
struct CarryPlan {
  struct Copy {
    uint32_t from, to, bytes;  // offsets into the running image and the replacement
  };
  std::vector<Copy> copies;
  std::vector<std::string> kept;     // same name and type: carried
  std::vector<std::string> added;    // only in the replacement: initial values
  std::vector<std::string> dropped;  // only in the running image
  std::vector<std::string> changed;  // in both, with another type: "x (INT -> DINT)"
};

CarryPlan planCarry(const StateLayout &running, const StateLayout &replacement);

// Copies the planned cells from the running image into the replacement, and
// the running machine's timer clock and cycle count into the replacement's
// machine. Both images must be the ones the layouts were read from.
void carryState(const CarryPlan &plan, const uint8_t *running, uint8_t *replacement);
void carryMachine(const VmMachine &running, VmMachine &replacement);

}  // namespace sicvm::runner
