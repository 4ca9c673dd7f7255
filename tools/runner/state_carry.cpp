// SPDX-License-Identifier: MIT
#include "runner/state_carry.h"

#include <algorithm>
#include <cstring>

#include "asm/image_reader.h"
#include "sicvm/image.h"

namespace sicvm::runner {
namespace {

const char *typeName(uint32_t type) {
  static const char *const names[] = {"type 0", "BOOL", "DINT", "LREAL", "INT", "REAL", "TIME", "DT"};
  return type < 8 ? names[type] : "unknown type";
}

bool sameType(const StateLayout::Item &a, const StateLayout::Item &b) {
  return a.array == b.array && a.type == b.type && a.shape == b.shape && a.count == b.count;
}

}  // namespace

bool readLayout(const std::vector<uint8_t> &image, const symbols::SymbolTable &table, StateLayout &layout,
                std::string &error) {
  assembly::ImageView view;
  if (!assembly::readImage(image, view, error)) return false;
  layout.items.clear();
  uint64_t cell = view.header.segmentVarsOffset;
  for (uint32_t k = 0; k < view.segments.size(); ++k) {
    const auto &vars = view.segments[k].vars;
    for (uint32_t n = 0; n < vars.size(); ++n, cell += VM_CELL_SIZE) {
      uint32_t cls = vars[n].record.classByte & VM_CLASS_MASK;
      std::string name = table.qualifiedVar(k, n);
      if (n < 2 || cls == VM_CLASS_ARRAY_REF || name.empty()) continue;
      layout.items.push_back({std::move(name), false, vars[n].record.type, cls, 1, 1, static_cast<uint32_t>(cell)});
    }
  }
  cell = view.header.arrayVarsOffset;
  for (uint32_t j = 0; j < view.arrays.size(); ++j) {
    const VmArrayRecord &a = view.arrays[j].record;
    uint32_t cells = static_cast<uint32_t>(view.arrays[j].cells.size());
    if (const std::string *name = table.array(j))
      layout.items.push_back({*name, true, a.type, a.elementSize, cells, a.elementCount, static_cast<uint32_t>(cell)});
    cell += uint64_t(cells) * VM_CELL_SIZE;
  }
  // One item per name: the first in image order stays.
  using Item = StateLayout::Item;
  std::stable_sort(layout.items.begin(), layout.items.end(),
                   [](const Item &a, const Item &b) { return a.name < b.name; });
  auto end = std::unique(layout.items.begin(), layout.items.end(),
                         [](const Item &a, const Item &b) { return a.name == b.name; });
  layout.items.erase(end, layout.items.end());
  return true;
}

std::string typeText(const StateLayout::Item &item) {
  if (item.array) {
    std::string size = std::to_string(item.elements);
    if (item.shape != 1) size += " x " + std::to_string(item.shape);
    return "ARRAY[" + size + "] OF " + typeName(item.type);
  }
  std::string text = typeName(item.type);
  return item.shape == 1 ? text : "class " + std::to_string(item.shape) + " " + text;
}

CarryPlan planCarry(const StateLayout &running, const StateLayout &replacement) {
  CarryPlan plan;
  auto from = running.items.begin(), to = replacement.items.begin();
  while (from != running.items.end() || to != replacement.items.end()) {
    if (to == replacement.items.end() || (from != running.items.end() && from->name < to->name)) {
      plan.dropped.push_back((from++)->name);
    } else if (from == running.items.end() || to->name < from->name) {
      plan.added.push_back((to++)->name);
    } else {
      if (sameType(*from, *to)) {
        plan.kept.push_back(to->name);
        plan.copies.push_back({from->offset, to->offset, to->count * VM_CELL_SIZE});
      } else {
        plan.changed.push_back(to->name + " (" + typeText(*from) + " -> " + typeText(*to) + ")");
      }
      ++from;
      ++to;
    }
  }
  return plan;
}

void carryState(const CarryPlan &plan, const uint8_t *running, uint8_t *replacement) {
  for (const CarryPlan::Copy &c : plan.copies) std::memcpy(replacement + c.to, running + c.from, c.bytes);
}

void carryMachine(const VmMachine &running, VmMachine &replacement) {
  replacement.lastClock = running.lastClock;
  replacement.cycleCount = running.cycleCount;
}

}  // namespace sicvm::runner
