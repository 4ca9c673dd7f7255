// SPDX-License-Identifier: MIT
// Reader of the points file: text in, checked rows out (format in hostrt/points.h).
#ifndef HOSTRT_SRC_POINT_DB_CSV_H
#define HOSTRT_SRC_POINT_DB_CSV_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostrt::points {

struct PointRow {
  int32_t index = 0;
  int32_t id = 0;
  int32_t type = 0;
  int32_t mode = 0;
  double value = 0.0;  // already in the type's representation
  uint32_t status = 0;
  std::string name;
};

struct PointsFile {
  int32_t count = 1;           // records per table: largest index + 1
  std::vector<PointRow> rows;  // strictly ascending index
};

// Parses a whole points file. Returns false when anything is wrong; `errors`
// then holds one "SOURCE:LINE: reason" per line and `out` must not be used.
// Checks that a point of `type` can hold `value` and brings it into the
// type's representation; returns "" or the reason for refusing it, naming
// the value as `text`.
std::string fitValue(int32_t type, std::string_view text, double &value);

bool parsePointsText(std::string_view source, std::string_view text, PointsFile &out,
                     std::string &errors);

}  // namespace hostrt::points

#endif
