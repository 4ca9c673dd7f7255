// SPDX-License-Identifier: MIT
// A bounded text writer over a caller's char array: appends until the array
// is full, cuts what does not fit and keeps the text NUL-terminated.
// Header-only, so the listing tools share it with the library.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace sicvm::text {

class TextBuffer {
 public:
  // Writes at most size - 1 characters into data and a NUL after them.
  TextBuffer(char *data, size_t size) : data_(data), size_(size) {
    if (size_ > 0) data_[0] = '\0';
  }

  void put(const char *text) { put(text, std::strlen(text)); }
  void put(const char *text, size_t length) {
    if (size_ == 0) return;
    size_t room = size_ - 1 - length_;
    size_t n = length < room ? length : room;
    std::memcpy(data_ + length_, text, n);
    length_ += n;
    data_[length_] = '\0';
  }
  void put(char c) { put(&c, 1); }

  void format(const char *format, ...) __attribute__((format(printf, 2, 3))) {
    if (size_ == 0) return;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(data_ + length_, size_ - length_, format, args);
    va_end(args);
    if (n < 0) {
      data_[length_] = '\0';
      return;
    }
    length_ += static_cast<size_t>(n) < size_ - length_ ? static_cast<size_t>(n) : size_ - 1 - length_;
  }

  // Removes the last character, if any.
  void drop() {
    if (length_ > 0) data_[--length_] = '\0';
  }

  const char *text() const { return data_; }
  size_t length() const { return length_; }

 private:
  char *data_;
  size_t size_;
  size_t length_ = 0;
};

}  // namespace sicvm::text
