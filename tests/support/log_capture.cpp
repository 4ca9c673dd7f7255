// SPDX-License-Identifier: MIT
#include "support/log_capture.h"

#include <mutex>

#include "sicvm/vm.h"

namespace sicvm::test {
namespace {

std::mutex g_mutex;
std::vector<LogLine> g_lines;

void capture(int level, const char *text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.push_back({level, text});
}

}  // namespace

LogCapture::LogCapture(int level) {
  clear();
  VmSetLogProc(capture);
  previousLevel_ = VmSetLogLevel(level);
}

LogCapture::~LogCapture() {
  VmSetLogLevel(previousLevel_);
  VmSetLogProc(nullptr);
}

std::vector<LogLine> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_lines;
}

std::vector<std::string> LogCapture::texts() const {
  std::vector<std::string> out;
  for (const LogLine &line : lines()) out.push_back(line.text);
  return out;
}

std::vector<std::string> LogCapture::at(int level) const {
  std::vector<std::string> out;
  for (const LogLine &line : lines())
    if (line.level == level) out.push_back(line.text);
  return out;
}

bool LogCapture::has(const std::string &text) const {
  for (const LogLine &line : lines())
    if (line.text == text) return true;
  return false;
}

std::string LogCapture::all() const {
  std::string out;
  // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about
  // a literal prepended to a temporary string.
  for (const LogLine &line : lines()) out.append("[").append(std::to_string(line.level)).append("] ").append(line.text).append("\n");
  return out;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.clear();
}

}  // namespace sicvm::test
