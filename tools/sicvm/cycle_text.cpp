#include "cycle_text.h"

#include <cstdio>

namespace sicvm::tool {

const char *statusText(uint32_t status) {
  switch (status) {
    case VM_RUNNING: return "running";
    case VM_CYCLE_COMPLETE: return "cycle complete";
    case VM_END_MARKER: return "end marker";
    case VM_STOPPED: return "stopped by an error";
  }
  return "unknown status";
}

std::string errorText(const runner::CycleResult &r) {
  if (r.error == 0) return "no error";
  char text[96];
  std::snprintf(text, sizeof text, "error %d at %05u (%u, %u)", r.error, r.address, r.arg1, r.arg2);
  return text;
}

}  // namespace sicvm::tool
