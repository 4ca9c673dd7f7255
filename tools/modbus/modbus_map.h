// SPDX-License-Identifier: MIT
// The Modbus map of `sicvm run --modbus-map`: which point is served at which
// address of which table, as which type, and whether clients may write it.
//
// File format (CSV, one mapping a line; blank lines and lines whose first
// non-blank character is '#' are skipped, and so is anything after a '#'):
//   point,table,address,type,access[,word_order]
//   point       a point name from the points file, or its point ID (a whole
//               number); an ID carried by two records means the lower index
//   table       coil, discrete, input (input registers) or holding
//   address     the 0-based Modbus address of the first bit or register
//   type        bool (coil and discrete only), or int16, uint16, int32,
//               uint32, float32, float64 (input and holding only)
//   access      ro or rw; discrete inputs and input registers are ro
//   word_order  (only when the header names the column) normal or blank:
//               the high word first; swapped: the low word first (for
//               float64 the four words in reverse); 32- and 64-bit types only
// Values are big-endian within each register. Two mappings of one table may
// not share an address; one point may be mapped several times.
//
// Every line is checked before anything is served: a bad map yields no map,
// with one "FILE:LINE: reason" per fault (at most 20 listed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostrt/points.h"

namespace sicvm::modbus {

enum class Table : uint8_t { COIL, DISCRETE, INPUT, HOLDING };
inline constexpr int kTableCount = 4;

enum class ValueType : uint8_t { BOOL, INT16, UINT16, INT32, UINT32, FLOAT32, FLOAT64 };

// Bits (coil, discrete) or registers (input, holding) one value takes.
int widthOf(ValueType type);
const char *tableName(Table table);

struct Mapping {
  int32_t pointIndex = 0;
  int32_t pointType = POINT_TYPE_LREAL;  // the point's value type, POINT_TYPE_*
  Table table = Table::HOLDING;
  uint16_t address = 0;                  // first bit or register
  ValueType type = ValueType::UINT16;
  bool writable = false;
  bool swapped = false;                  // low word first
  int line = 0;                          // line of the map file

  uint32_t end() const { return uint32_t(address) + uint32_t(widthOf(type)); }
};

class ModbusMap {
 public:
  // Reads the map at `path` against the point tables. False with `errors`
  // filled ("FILE:LINE: reason" lines) when the file cannot be read or any
  // line is bad.
  static bool load(const std::string &path, const PointDb *points, ModbusMap &out, std::string &errors);
  // The same with the file's text given; `source` names it in messages.
  static bool parse(const std::string &source, const std::string &text, const PointDb *points, ModbusMap &out,
                    std::string &errors);

  const std::vector<Mapping> &mappings() const { return mappings_; }

  // The mappings of `table` in address order.
  const std::vector<int32_t> &ordered(Table table) const { return ordered_[int(table)]; }

  // One past the highest address any mapping of `table` covers (0: none).
  uint32_t extent(Table table) const { return extent_[int(table)]; }

  // The mapping that covers `address` of `table`, or -1.
  int32_t find(Table table, uint32_t address) const;

 private:
  std::vector<Mapping> mappings_;
  std::vector<int32_t> ordered_[kTableCount];
  uint32_t extent_[kTableCount] = {};
};

}  // namespace sicvm::modbus
