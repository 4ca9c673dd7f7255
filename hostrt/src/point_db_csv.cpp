// SPDX-License-Identifier: MIT
// Reader of the points file. Every line is checked before anything is built,
// so a file with one bad line yields no table at all.
#include "point_db_csv.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "hostrt/points.h"

namespace hostrt::points {
namespace {

constexpr int kMaxListedErrors = 20;
constexpr std::array<std::string_view, 7> kColumns = {"index", "id",     "type", "mode",
                                                      "value", "status", "name"};
constexpr size_t kRequiredColumns = 6;

struct TypeName {
  std::string_view name;
  int32_t code;
};
constexpr std::array<TypeName, 5> kTypes = {{{"BOOL", POINT_TYPE_BOOL},
                                             {"DINT", POINT_TYPE_DINT},
                                             {"LREAL", POINT_TYPE_LREAL},
                                             {"INT", POINT_TYPE_INT},
                                             {"REAL", POINT_TYPE_REAL}}};

// Collects "SOURCE:LINE: reason" lines, listing the first few and counting the rest.
class ErrorList {
 public:
  explicit ErrorList(std::string_view source) : source_(source) {}

  void add(int line, const std::string &reason) {
    ++count_;
    if (count_ > kMaxListedErrors) return;
    if (!text_.empty()) text_ += '\n';
    text_.append(source_);
    if (line > 0) text_ += ':' + std::to_string(line);
    text_ += ": " + reason;
  }

  bool empty() const { return count_ == 0; }

  std::string finish() const {
    std::string all = text_;
    if (count_ > kMaxListedErrors) {
      all += '\n';
      all.append(source_);
      all += ": " + std::to_string(count_ - kMaxListedErrors) + " more errors";
    }
    return all;
  }

 private:
  std::string_view source_;
  std::string text_;
  int count_ = 0;
};

std::string_view trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    size_t comma = line.find(',', start);
    fields.push_back(trim(line.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

template <typename T>
std::optional<T> parseInteger(std::string_view text, int base = 10) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> parseDouble(std::string_view text) {
  double value = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint32_t> parseStatus(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return parseInteger<uint32_t>(text.substr(2), 16);
  return parseInteger<uint32_t>(text);
}

std::optional<int32_t> parseType(std::string_view text) {
  for (const TypeName &type : kTypes)
    if (equalsIgnoringCase(text, type.name)) return type.code;
  auto code = parseInteger<int32_t>(text);
  if (code && *code >= POINT_TYPE_BOOL && *code <= POINT_TYPE_REAL) return code;
  return std::nullopt;
}

bool isWhole(double value, double low, double high) {
  return value == std::trunc(value) && value >= low && value <= high;
}

}  // namespace

std::string fitValue(int32_t type, std::string_view text, double &value) {
  const std::string quoted = "value '" + std::string(text) + "'";
  if (!std::isfinite(value)) return quoted + " is not a finite number";
  switch (type) {
    case POINT_TYPE_BOOL:
      if (value != 0.0 && value != 1.0) return quoted + " is not 0 or 1 (BOOL)";
      break;
    case POINT_TYPE_DINT:
      if (!isWhole(value, INT32_MIN, INT32_MAX)) return quoted + " is not a whole number in the DINT range";
      break;
    case POINT_TYPE_INT:
      if (!isWhole(value, INT16_MIN, INT16_MAX)) return quoted + " is not a whole number in the INT range";
      break;
    case POINT_TYPE_REAL:
      if (std::fabs(value) > FLT_MAX) return quoted + " is outside the REAL range";
      value = static_cast<double>(static_cast<float>(value));
      break;
    default:
      break;
  }
  value += 0.0;  // -0 becomes +0: a point never starts at negative zero
  return {};
}

namespace {

// Parses one data line into `row`; returns the reason for refusing it, or "".
std::string parseRow(const std::vector<std::string_view> &fields, PointRow &row) {
  auto index = parseInteger<int32_t>(fields[0]);
  if (!index) return "bad index '" + std::string(fields[0]) + "'";
  if (*index < 0 || *index > POINTDB_MAX_INDEX)
    return "index " + std::to_string(*index) + " is out of range (0 to " +
           std::to_string(POINTDB_MAX_INDEX) + ")";
  row.index = *index;

  auto id = parseInteger<int32_t>(fields[1]);
  if (!id) return "bad point ID '" + std::string(fields[1]) + "'";
  if (*id == 0 && row.index != 0) return "point ID 0 is not allowed (it means no point)";
  row.id = *id;

  auto type = parseType(fields[2]);
  if (!type)
    return "unknown value type '" + std::string(fields[2]) +
           "' (expected BOOL, DINT, LREAL, INT, REAL or 1 to 5)";
  row.type = *type;

  auto mode = parseInteger<int32_t>(fields[3]);
  if (!mode) return "bad status mode '" + std::string(fields[3]) + "'";
  row.mode = *mode;

  auto value = parseDouble(fields[4]);
  if (!value) return "bad value '" + std::string(fields[4]) + "'";
  row.value = *value;
  std::string unfit = fitValue(row.type, fields[4], row.value);
  if (!unfit.empty()) return unfit;

  auto status = parseStatus(fields[5]);
  if (!status) return "bad status '" + std::string(fields[5]) + "'";
  row.status = *status;

  if (fields.size() > kRequiredColumns) {
    std::string_view name = fields[kRequiredColumns];
    if (name.size() >= POINTDB_NAME_MAX)
      return "name is longer than " + std::to_string(POINTDB_NAME_MAX - 1) + " bytes";
    for (char c : name)
      if (static_cast<unsigned char>(c) < 0x20) return "name contains a control character";
    row.name = std::string(name);
  }
  return {};
}

// Checks the header line; returns the number of columns, or 0 when it is wrong.
size_t headerColumns(const std::vector<std::string_view> &fields) {
  if (fields.size() < kRequiredColumns || fields.size() > kColumns.size()) return 0;
  for (size_t i = 0; i < fields.size(); ++i)
    if (!equalsIgnoringCase(fields[i], kColumns[i])) return 0;
  return fields.size();
}

}  // namespace

bool parsePointsText(std::string_view source, std::string_view text, PointsFile &out,
                     std::string &errors) {
  ErrorList problems(source);
  out = PointsFile{};
  size_t columns = 0;
  int lastIndexLine = 0;
  int line = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view content = trim(text.substr(start, end - start));
    start = end + 1;
    ++line;
    if (content.empty() || content.front() == '#') continue;

    std::vector<std::string_view> fields = splitFields(content);
    if (columns == 0) {
      columns = headerColumns(fields);
      if (columns == 0) {
        problems.add(line, "header must be 'index,id,type,mode,value,status[,name]', found '" +
                               std::string(content) + "'");
        errors = problems.finish();
        return false;
      }
      continue;
    }
    if (fields.size() != columns) {
      problems.add(line, "expected " + std::to_string(columns) + " fields, found " +
                             std::to_string(fields.size()));
      continue;
    }
    PointRow row;
    std::string reason = parseRow(fields, row);
    if (reason.empty() && !out.rows.empty()) {
      int32_t previous = out.rows.back().index;
      if (row.index == previous)
        reason = "duplicate index " + std::to_string(row.index) + " (also on line " +
                 std::to_string(lastIndexLine) + ")";
      else if (row.index < previous)
        reason = "index " + std::to_string(row.index) + " follows index " +
                 std::to_string(previous) + "; rows must be in ascending index order";
    }
    if (!reason.empty()) {
      problems.add(line, reason);
      continue;
    }
    lastIndexLine = line;
    out.rows.push_back(std::move(row));
  }
  if (columns == 0) problems.add(0, "no header line (index,id,type,mode,value,status[,name])");
  if (!problems.empty()) {
    errors = problems.finish();
    return false;
  }
  out.count = out.rows.empty() ? 1 : out.rows.back().index + 1;
  return true;
}

}  // namespace hostrt::points
