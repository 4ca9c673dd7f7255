// SPDX-License-Identifier: MIT
#include "cycle_text.h"

#include <cctype>
#include <cstdio>

#include "foundation/messages.h"

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

std::string errorTitle(int32_t code) {
  const MessageText *message = messageFor(code);
  if (message == nullptr) return "unknown error";
  std::string text = message->text;
  if (size_t details = text.find(" (%"); details != std::string::npos) text.erase(details);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::string title;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      title += text[i];
      continue;
    }
    while (i + 1 < text.size() && !std::isalpha(static_cast<unsigned char>(text[i + 1]))) ++i;  // width, flags
    ++i;                                                                                        // conversion
    title += "...";
  }
  // "Array element ..." reads as "array element ..." after a colon; "NVRAM" stays.
  if (title.size() > 1 && std::isupper(static_cast<unsigned char>(title[0])) &&
      std::islower(static_cast<unsigned char>(title[1])))
    title[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(title[0])));
  return title;
}

std::string errorText(const runner::CycleResult &r) {
  if (r.error == 0) return "no error";
  char text[96];
  std::snprintf(text, sizeof text, "error %d at %05u (%u, %u): ", r.error, r.address, r.arg1, r.arg2);
  return text + errorTitle(r.error);
}

void RunTally::add(const runner::CycleResult &r) {
  ++cycles;
  commands += r.commands;
  if (r.error != 0) {
    ++withErrors;
    ++errorCycles[r.error];
  }
  fatal = r.fatal();
}

std::string RunTally::summary(bool interrupted) const {
  std::string errors;
  for (const auto &[code, count] : errorCycles)
    errors += (errors.empty() ? " (" : ", ") + std::string("error ") + std::to_string(code) + " " + errorTitle(code) +
              ": " + std::to_string(count);
  if (!errors.empty()) errors += ")";
  char text[160];
  std::snprintf(text, sizeof text, "%lld cycle%s, %lld commands, %lld cycle%s with an error",
                static_cast<long long>(cycles), cycles == 1 ? "" : "s", static_cast<long long>(commands),
                static_cast<long long>(withErrors), withErrors == 1 ? "" : "s");
  return text + errors + (fatal ? "; stopped by a fatal error" : "") + (interrupted ? "; interrupted" : "");
}

}  // namespace sicvm::tool
