// SPDX-License-Identifier: MIT
// A cursor over one line of assembler source, with the small scanners the
// assembler's grammar is made of. Scanners that cannot read what they expect
// throw SyntaxError with the column and an "expected ..., found ..." text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sicvm::assembly {

struct SyntaxError {
  size_t column;  // 1-based
  std::string message;
  // Set for a consequence of an error reported elsewhere (a use of a name
  // whose declaration failed): not reported again.
  bool consequence = false;
};

class Cursor {
 public:
  explicit Cursor(std::string_view text, size_t pos = 0) : text_(text), pos_(pos) {}

  size_t pos() const { return pos_; }
  void seek(size_t pos) { pos_ = pos; }
  size_t column() const { return pos_ + 1; }
  std::string_view text() const { return text_; }
  std::string_view rest() const { return text_.substr(pos_); }

  void skipBlanks();
  // True when only blanks are left.
  bool atEnd();
  // The next character without skipping blanks ('\0' at the end).
  char peek(size_t ahead = 0) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0'; }

  // Skips blanks, then consumes `c` if it is next.
  bool accept(char c);
  // Consumes `word` if the text continues with it exactly (no blanks skipped).
  bool acceptText(std::string_view word);
  // Skips blanks and consumes `c`, or fails with "expected <what>".
  void expect(char c, const std::string &what);
  // [A-Za-z_][A-Za-z0-9_]*, or empty (nothing consumed).
  std::string_view identifier();
  // A name that may be qualified: ident or ident.ident.
  std::string_view qualifiedName();
  // An integer in [min, max]: decimal with an optional sign, or 0x hexadecimal.
  int64_t integer(const std::string &what, int64_t min, int64_t max);
  // True when an integer starts here (after blanks).
  bool atInteger();
  // A quoted "string" without escapes, or a bare word up to the next blank.
  std::string word(const std::string &what);

  // Throws SyntaxError at the cursor: "expected <what>, found <token>".
  [[noreturn]] void expected(const std::string &what) const;
  // Throws SyntaxError at `pos` with the message as given.
  [[noreturn]] void fail(const std::string &message, size_t pos) const;
  // The token at the cursor, for messages: 'text' or "end of line".
  std::string found() const;

 private:
  std::string_view text_;
  size_t pos_;
};

}  // namespace sicvm::assembly
