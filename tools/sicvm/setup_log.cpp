// SPDX-License-Identifier: MIT
#include "setup_log.h"

#include <cstdio>

#include "runner/image_check.h"
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

// One message as a line: bytes from the image (a program name, a label) escaped.
std::string lineOf(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return runner::escaped(text);
}

void LogCollector::print(FILE *out, const char *indent) const {
  for (const std::string &line : lines_) std::fprintf(out, "%s%s\n", indent, lineOf(line).c_str());
}

namespace {

void toStandardError(int level, const char *text) {
  std::fprintf(stderr, "[%d] %s\n", level, lineOf(text).c_str());
}

}  // namespace

void logToStandardError() { VmSetLogProc(toStandardError); }

}  // namespace sicvm::tool
