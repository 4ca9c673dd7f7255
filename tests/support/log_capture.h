// SPDX-License-Identifier: MIT
// Captures the library's log through the callback device for the life of
// the object, at the given level.
#pragma once

#include <string>
#include <vector>

namespace sicvm::test {

struct LogLine {
  int level;
  std::string text;
};

class LogCapture {
 public:
  explicit LogCapture(int level = 100);
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<LogLine> lines() const;
  std::vector<std::string> texts() const;
  // Texts of the lines emitted at exactly `level`.
  std::vector<std::string> at(int level) const;
  // True when some line equals `text` exactly.
  bool has(const std::string &text) const;
  // The concatenation of every text, for messages in failing assertions.
  std::string all() const;
  void clear();

 private:
  int previousLevel_;
};

}  // namespace sicvm::test
