// SPDX-License-Identifier: MIT
#include "watch.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "asm/constants.h"
#include "cycle_text.h"
#include "runner/image_check.h"
#include "sicvm/points.h"
#include "sicvm/text.h"

namespace sicvm::tool {
namespace {

constexpr uint32_t kArrayCell = UINT32_MAX;

const char *linkText(uint8_t classByte) {
  bool load = classByte & VM_VAR_LOAD, save = classByte & VM_VAR_SAVE;
  return load && save ? "load+save" : load ? "load" : save ? "save" : "-";
}

}  // namespace

Watch::Watch(const runner::Session &session, const ProgramNames &names) : session_(session) {
  std::string error;
  assembly::readImage(session.image(), view_, error);
  const VmHeader &h = view_.header;
  char place[48];
  uint64_t cell = h.segmentVarsOffset;
  for (uint32_t k = 0; k < view_.segments.size(); ++k)
    for (uint32_t i = 0; i < view_.segments[k].vars.size(); ++i, cell += VM_CELL_SIZE) {
      std::snprintf(place, sizeof place, "%3u:%05u", k, i);
      std::string name = names.var(k, i);
      cells_.push_back({static_cast<uint32_t>(cell), 0, std::string(place) + (name.empty() ? "" : " " + name), k, i,
                        {}});
    }
  cell = h.arrayVarsOffset;
  for (uint32_t j = 0; j < view_.arrays.size(); ++j) {
    const std::string *arrayName = names.table().array(j);
    for (uint32_t x = 0; x < view_.arrays[j].cells.size(); ++x, cell += VM_CELL_SIZE) {
      std::snprintf(place, sizeof place, "array %u[%u]", j, x);
      std::string name = arrayName ? " " + *arrayName + "[" + std::to_string(x) + "]" : "";
      cells_.push_back({static_cast<uint32_t>(cell), static_cast<int>(view_.arrays[j].record.type),
                        place + name, kArrayCell, 0, {}});
    }
  }
  snapshot();
  tty_ = isatty(STDOUT_FILENO);
}

void Watch::show(int64_t cycle, const runner::CycleResult &r, const std::string &timing) {
  if (tty_) std::printf("\x1b[H\x1b[2J");
  std::printf("program \"%s\" (%d)  cycle %lld: %d commands, %s, %s\n", runner::escaped(view_.programName()).c_str(),
              view_.header.programNumber, static_cast<long long>(cycle), r.commands, statusText(r.runStatus),
              errorText(r).c_str());
  if (!timing.empty()) std::printf("%s\n", timing.c_str());
  std::printf("\n%-24s %-6s %-9s %-10s %-8s %-6s %-24s %-14s %s\n", "seg:var name", "type", "link", "point id",
              "index", "field", "var value", "point value", "point name");
  char text[VM_VALUE_TEXT_SIZE];
  for (const Entry &e : cells_) {
    if (e.segment == kArrayCell) continue;
    VmVarRecord record = liveRecord(e);
    if (record.pointId == 0) continue;
    VmCell cell = liveCell(e);
    double point = 0.0;
    std::string pointText = "-";
    if (record.pointIndex > 0 &&
        VmGetPointFieldValue(session_.machine(), record.pointIndex, record.pointField, &point) >= 0) {
      char p[32];
      double held = 0.0;
      bool forced = session_.points() && PointDbForcedValue(session_.points(), record.pointIndex, &held) == 1;
      std::snprintf(p, sizeof p, forced ? "%g FORCED" : "%g", point);
      pointText = p;
    }
    std::printf("%-24s %-6s %-9s %-10d %-8d %-6d %-24s %-14s %s\n", e.name.c_str(),
                assembly::typeName(record.type).c_str(), linkText(record.classByte), record.pointId,
                record.pointIndex, record.pointField, VmValueToStr(&cell, record.type, text), pointText.c_str(),
                pointName(record.pointIndex).c_str());
  }
  std::printf("\nchanged vars and array cells:\n");
  int changed = 0;
  for (Entry &e : cells_) {
    VmCell cell = liveCell(e);
    if (std::memcmp(&cell, &e.last, sizeof cell) == 0) continue;
    int type = e.segment == kArrayCell ? e.type : liveRecord(e).type;
    std::printf("  %-24s %-24s", e.name.c_str(), VmValueToStr(&e.last, type, text));
    std::printf(" -> %s\n", VmValueToStr(&cell, type, text));
    ++changed;
  }
  if (changed == 0) std::printf("  none\n");
  snapshot();
  std::fflush(stdout);
}

VmCell Watch::liveCell(const Entry &e) const {
  VmCell cell;
  std::memcpy(&cell, session_.image().data() + e.cellOffset, sizeof cell);
  return cell;
}

VmVarRecord Watch::liveRecord(const Entry &e) const {
  VmVarRecord record;
  uint64_t at = uint64_t(view_.segments[e.segment].offset) + 4 + uint64_t(e.var) * VM_VAR_RECORD_SIZE;
  std::memcpy(&record, session_.image().data() + at, sizeof record);
  return record;
}

std::string Watch::pointName(int32_t index) const {
  const PointDb *points = session_.points();
  if (points == nullptr || index <= 0 || index >= PointDbCount(points)) return "";
  const PointConfigRecord &record = PointDbConfig(points)[index];
  return runner::escaped(std::string_view(record.name, strnlen(record.name, sizeof record.name)));
}

void Watch::snapshot() {
  for (Entry &e : cells_) e.last = liveCell(e);
}

}  // namespace sicvm::tool
