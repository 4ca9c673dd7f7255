// SPDX-License-Identifier: MIT
#include "asm/cursor.h"

#include <cctype>
#include <limits>

namespace sicvm::assembly {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

}  // namespace

void Cursor::skipBlanks() {
  while (pos_ < text_.size() && isBlank(text_[pos_])) ++pos_;
}

bool Cursor::atEnd() {
  skipBlanks();
  return pos_ >= text_.size();
}

bool Cursor::accept(char c) {
  skipBlanks();
  if (peek() != c) return false;
  ++pos_;
  return true;
}

bool Cursor::acceptText(std::string_view word) {
  if (text_.substr(pos_, word.size()) != word) return false;
  pos_ += word.size();
  return true;
}

void Cursor::expect(char c, const std::string &what) {
  if (!accept(c)) expected(what);
}

std::string_view Cursor::identifier() {
  if (!isIdentStart(peek())) return {};
  size_t start = pos_;
  while (isIdentChar(peek())) ++pos_;
  return text_.substr(start, pos_ - start);
}

std::string_view Cursor::qualifiedName() {
  size_t start = pos_;
  if (identifier().empty()) return {};
  if (peek() == '.' && isIdentStart(peek(1))) {
    ++pos_;
    identifier();
  }
  return text_.substr(start, pos_ - start);
}

bool Cursor::atInteger() {
  skipBlanks();
  char c = peek();
  if (c == '-' || c == '+') c = peek(1);
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

int64_t Cursor::integer(const std::string &what, int64_t min, int64_t max) {
  skipBlanks();
  size_t start = pos_;
  bool negative = false;
  if (peek() == '-' || peek() == '+') {
    negative = peek() == '-';
    ++pos_;
  }
  uint64_t value = 0;
  int digits = 0;
  bool tooLarge = false;
  if (peek() == '0' && (peek(1) == 'x' || peek(1) == 'X') && std::isxdigit(static_cast<unsigned char>(peek(2)))) {
    pos_ += 2;
    while (std::isxdigit(static_cast<unsigned char>(peek()))) {
      char c = peek();
      int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
      if (value > (std::numeric_limits<uint64_t>::max() >> 4)) tooLarge = true;
      value = value * 16 + static_cast<uint64_t>(d);
      ++pos_;
      ++digits;
    }
  } else {
    while (std::isdigit(static_cast<unsigned char>(peek()))) {
      if (value > 1000000000000000000ull) tooLarge = true;
      value = value * 10 + static_cast<uint64_t>(peek() - '0');
      ++pos_;
      ++digits;
    }
  }
  if (digits == 0) {
    pos_ = start;
    expected(what);
  }
  if (isIdentChar(peek())) {
    pos_ = start;
    expected(what);
  }
  int64_t signedValue = 0;
  if (!tooLarge && value <= uint64_t(std::numeric_limits<int64_t>::max()))
    signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  if (tooLarge || signedValue < min || signedValue > max)
    fail(what + " out of range (" + std::to_string(min) + " to " + std::to_string(max) + "), found '" +
             std::string(text_.substr(start, pos_ - start)) + "'",
         start);
  return signedValue;
}

std::string Cursor::word(const std::string &what) {
  skipBlanks();
  if (peek() == '"') {
    size_t start = pos_++;
    size_t end = text_.find('"', pos_);
    if (end == std::string_view::npos) fail("unterminated string: missing '\"'", start);
    std::string result(text_.substr(pos_, end - pos_));
    pos_ = end + 1;
    return result;
  }
  size_t start = pos_;
  while (pos_ < text_.size() && !isBlank(text_[pos_])) ++pos_;
  if (pos_ == start) expected(what);
  return std::string(text_.substr(start, pos_ - start));
}

std::string Cursor::found() const {
  size_t p = pos_;
  while (p < text_.size() && isBlank(text_[p])) ++p;
  if (p >= text_.size()) return "end of line";
  size_t end = p;
  if (isIdentChar(text_[end]) || text_[end] == '-' || text_[end] == '+') {
    ++end;
    while (end < text_.size() && (isIdentChar(text_[end]) || text_[end] == '.' || text_[end] == '#')) ++end;
  } else {
    ++end;
  }
  // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about
  // a literal prepended to a temporary string.
  std::string quoted = "'";
  quoted.append(text_.substr(p, end - p)).append("'");
  return quoted;
}

void Cursor::expected(const std::string &what) const {
  size_t p = pos_;
  while (p < text_.size() && isBlank(text_[p])) ++p;
  throw SyntaxError{p + 1, "expected " + what + ", found " + found()};
}

void Cursor::fail(const std::string &message, size_t pos) const { throw SyntaxError{pos + 1, message}; }

}  // namespace sicvm::assembly
