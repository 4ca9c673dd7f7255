// SPDX-License-Identifier: MIT
// Diagnostics with a source excerpt and a caret under the column.
#include "stc/diagnostics.h"

#include <algorithm>

namespace sicvm::stc {

void Diagnostics::error(Loc loc, std::string message) {
  if (full()) return;
  list_.push_back({Severity::ERROR, loc, std::move(message)});
  ++errors_;
}

void Diagnostics::warning(Loc loc, std::string message) {
  list_.push_back({Severity::WARNING, loc, std::move(message)});
}

std::vector<Diagnostic> Diagnostics::sorted() const {
  std::vector<Diagnostic> out = list_;
  std::stable_sort(out.begin(), out.end(), [](const Diagnostic &a, const Diagnostic &b) {
    return a.loc.line != b.loc.line ? a.loc.line < b.loc.line : a.loc.column < b.loc.column;
  });
  return out;
}

std::string Diagnostics::headline(const Diagnostic &d) const {
  return file_ + ":" + std::to_string(d.loc.line) + ":" + std::to_string(d.loc.column) + ": " +
         (d.severity == Severity::ERROR ? "error: " : "warning: ") + d.message;
}

std::string Diagnostics::render(const Diagnostic &d) const {
  std::string out = headline(d);
  // Find the line; tabs stay tabs under the caret so it lines up in a terminal.
  size_t start = 0;
  for (size_t line = 1; line < d.loc.line && start != std::string_view::npos; ++line) {
    start = source_.find('\n', start);
    if (start != std::string_view::npos) ++start;
  }
  if (d.loc.line == 0 || start == std::string_view::npos || start > source_.size()) return out;
  size_t end = source_.find('\n', start);
  std::string_view text = source_.substr(start, end == std::string_view::npos ? end : end - start);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  out += "\n    ";
  out += text;
  out += "\n    ";
  for (size_t i = 0; i + 1 < d.loc.column && i < text.size(); ++i) out += text[i] == '\t' ? '\t' : ' ';
  out += '^';
  return out;
}

}  // namespace sicvm::stc
