// SPDX-License-Identifier: MIT
// Diagnostics of the Structured Text compiler: errors and warnings with
// their place in the source, rendered as
//
//   FILE:LINE:COLUMN: error: MESSAGE
//       the offending source line
//           ^
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sicvm::stc {

struct Loc {
  size_t line = 0;    // 1-based
  size_t column = 0;  // 1-based
};

enum class Severity { ERROR, WARNING };

struct Diagnostic {
  Severity severity = Severity::ERROR;
  Loc loc;
  std::string message;
};

// Most errors reported for one file; a source with more stops being compiled.
inline constexpr size_t kMaxErrors = 100;

class Diagnostics {
 public:
  Diagnostics(std::string_view source, std::string file) : source_(source), file_(std::move(file)) {}

  void error(Loc loc, std::string message);
  void warning(Loc loc, std::string message);
  size_t errorCount() const { return errors_; }
  bool full() const { return errors_ >= kMaxErrors; }
  // In source order (stable for equal places).
  std::vector<Diagnostic> sorted() const;
  // "FILE:LINE:COLUMN: error: MESSAGE", then the source line and a caret.
  std::string render(const Diagnostic &d) const;
  // The first line of render().
  std::string headline(const Diagnostic &d) const;

 private:
  std::string_view source_;
  std::string file_;
  std::vector<Diagnostic> list_;
  size_t errors_ = 0;
};

}  // namespace sicvm::stc
