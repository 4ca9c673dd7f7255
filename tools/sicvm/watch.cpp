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

Watch::Watch(const runner::Session &session) : session_(session) {
  std::string error;
  assembly::readImage(session.image(), view_, error);
  const VmHeader &h = view_.header;
  uint64_t cell = h.segmentVarsOffset;
  for (size_t k = 0; k < view_.segments.size(); ++k)
    for (size_t i = 0; i < view_.segments[k].vars.size(); ++i, cell += VM_CELL_SIZE)
      vars_.push_back({static_cast<uint32_t>(k), static_cast<uint32_t>(i), static_cast<uint32_t>(cell), {}});
  snapshot();
  tty_ = isatty(STDOUT_FILENO);
}

void Watch::show(int64_t cycle, const runner::CycleResult &r) {
  if (tty_) std::printf("\x1b[H\x1b[2J");
  std::printf("program \"%s\" (%d)  cycle %lld: %d commands, %s, %s\n\n", runner::escaped(view_.programName()).c_str(),
              view_.header.programNumber, static_cast<long long>(cycle), r.commands, statusText(r.runStatus),
              errorText(r).c_str());
  std::printf("%-9s %-6s %-9s %-10s %-8s %-6s %-24s %s\n", "seg:var", "type", "link", "point id", "index", "field",
              "var value", "point value");
  char text[VM_VALUE_TEXT_SIZE];
  for (const Entry &e : vars_) {
    VmVarRecord record = liveRecord(e);
    if (record.pointId == 0) continue;
    VmCell cell = liveCell(e);
    const char *link = (record.classByte & VM_VAR_LOAD) && (record.classByte & VM_VAR_SAVE) ? "load+save"
                       : (record.classByte & VM_VAR_LOAD)                                  ? "load"
                       : (record.classByte & VM_VAR_SAVE)                                  ? "save"
                                                                                            : "-";
    double point = 0.0;
    std::string pointText = "-";
    if (record.pointIndex > 0 &&
        VmGetPointFieldValue(session_.machine(), record.pointIndex, record.pointField, &point) >= 0) {
      char p[32];
      std::snprintf(p, sizeof p, "%g", point);
      pointText = p;
    }
    std::printf("%3u:%05u %-6s %-9s %-10d %-8d %-6d %-24s %s\n", e.segment, e.var,
                assembly::typeName(record.type).c_str(), link, record.pointId, record.pointIndex, record.pointField,
                VmValueToStr(&cell, record.type, text), pointText.c_str());
  }
  std::printf("\nchanged vars (data segment:var):\n");
  int changed = 0;
  for (Entry &e : vars_) {
    VmCell cell = liveCell(e);
    if (std::memcmp(&cell, &e.last, sizeof cell) == 0) continue;
    VmVarRecord record = liveRecord(e);
    std::printf("  %3u:%05u %-24s", e.segment, e.var, VmValueToStr(&e.last, record.type, text));
    std::printf(" -> %s\n", VmValueToStr(&cell, record.type, text));
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

void Watch::snapshot() {
  for (Entry &e : vars_) e.last = liveCell(e);
}

}  // namespace sicvm::tool
