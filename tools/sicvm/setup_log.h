// SPDX-License-Identifier: MIT
// Collects the library's log lines while it lives (for set-up reports).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace sicvm::tool {

// One log message as a terminal line: without its line end, every byte that
// is not printable ASCII escaped.
std::string lineOf(std::string_view text);

// Sends the library's log to standard error, one escaped line per message
// after its level: "[5] Program ...".
void logToStandardError();

class LogCollector {
 public:
  explicit LogCollector(int level);
  ~LogCollector();
  LogCollector(const LogCollector &) = delete;
  LogCollector &operator=(const LogCollector &) = delete;

  const std::vector<std::string> &lines() const { return lines_; }
  // Prints every line, each prefixed by `indent`, and makes sure each ends with a newline.
  void print(FILE *out, const char *indent) const;

 private:
  std::vector<std::string> lines_;
  int previousLevel_;
};

}  // namespace sicvm::tool
