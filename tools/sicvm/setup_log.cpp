#include "setup_log.h"

#include "sicvm/vm.h"

namespace sicvm::tool {
namespace {

std::vector<std::string> *g_lines = nullptr;

void collect(int, const char *text) {
  if (g_lines) g_lines->push_back(text);
}

}  // namespace

LogCollector::LogCollector(int level) {
  g_lines = &lines_;
  VmSetLogProc(collect);
  previousLevel_ = VmSetLogLevel(level);
}

LogCollector::~LogCollector() {
  VmSetLogLevel(previousLevel_);
  VmSetLogProc(nullptr);
  g_lines = nullptr;
}

void LogCollector::print(FILE *out, const char *indent) const {
  for (const std::string &line : lines_) {
    std::fprintf(out, "%s%s", indent, line.c_str());
    if (line.empty() || line.back() != '\n') std::fputc('\n', out);
  }
}

}  // namespace sicvm::tool
