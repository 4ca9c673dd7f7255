// SPDX-License-Identifier: MIT
// Symbol files: the names of a program's source (data segments, vars,
// arrays, code labels), kept beside its image ("prog.sic" -> "prog.sym") so
// that tools can show names while the image's bytes stay as the compiler
// wrote them.
//
// Format (text, one record a line, fields separated by single blanks):
//
//   sicvm-symbols 1
//   image 1568 cbf29ce484222325
//   segment 1 plant
//   var 1 2 level
//   array 0 samples
//   label 5 main
//
//   sicvm-symbols N   the first line; N is the format version (1).
//   image SIZE HASH   the image the names belong to: its size in bytes and
//                     the FNV-1a 64-bit hash of its bytes as stored, in 16
//                     lower-case hex digits. Tools ignore (with a warning) a
//                     symbol file whose image line does not match the image.
//   segment K NAME    data segment K (0 is the global one).
//   var K N NAME      var N of data segment K.
//   array J NAME      array J (absolute array number).
//   label A NAME      code address A; several labels may name one address.
//
// Numbers are decimal. A NAME is 1 to 255 bytes of letters, digits and '_'
// not starting with a digit (the names the assembler accepts). Blank lines
// and lines starting with '#' are comments. A line whose first word is none
// of the above is skipped, so later versions may add records; a known
// record with bad fields makes the whole file unreadable. One name per
// segment, var and array: a later record replaces an earlier one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sicvm::symbols {

inline constexpr int kFormatVersion = 1;

struct SymbolTable {
  uint32_t imageSize = 0;
  uint64_t imageHash = 0;
  std::map<uint32_t, std::string> segments;                    // K -> name
  std::map<std::pair<uint32_t, uint32_t>, std::string> vars;   // (K, N) -> name
  std::map<uint32_t, std::string> arrays;                      // J -> name
  std::multimap<uint32_t, std::string> labels;                 // A -> names, in file order

  // The names, or nullptr.
  const std::string *segment(uint32_t k) const;
  const std::string *var(uint32_t k, uint32_t n) const;
  const std::string *array(uint32_t j) const;
  const std::string *label(uint32_t address) const;  // the first label of the address

  // "level" for a var of segment 0, "plant.level" for a var of a named
  // segment, "2.level" for one of an unnamed segment; "" without a name.
  std::string qualifiedVar(uint32_t k, uint32_t n) const;

  bool empty() const { return segments.empty() && vars.empty() && arrays.empty() && labels.empty(); }
  // True when the table was written for exactly these image bytes.
  bool belongsTo(const std::vector<uint8_t> &image) const;
};

// FNV-1a, 64 bits.
uint64_t imageHash(const uint8_t *bytes, size_t size);

// The table as a symbol file.
std::string writeSymbols(const SymbolTable &table);

// Reads a symbol file; false with "FILE:LINE: reason" in `error`.
bool readSymbols(std::string_view text, const std::string &file, SymbolTable &table, std::string &error);

// True for a NAME as the format allows it.
bool validName(std::string_view name);

}  // namespace sicvm::symbols
