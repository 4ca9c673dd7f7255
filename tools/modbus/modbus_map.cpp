// SPDX-License-Identifier: MIT
#include "modbus_map.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

namespace sicvm::modbus {
namespace {

constexpr int kMaxListedErrors = 20;
constexpr uint32_t kAddressSpace = 65536;

struct TableRow {
  std::string_view name;
  Table table;
  bool bits;      // coil, discrete: one bit per bool
  bool readOnly;  // discrete, input: clients never write them
};
constexpr std::array<TableRow, kTableCount> kTables = {{{"coil", Table::COIL, true, false},
                                                        {"discrete", Table::DISCRETE, true, true},
                                                        {"input", Table::INPUT, false, true},
                                                        {"holding", Table::HOLDING, false, false}}};

struct TypeRow {
  std::string_view name;
  ValueType type;
  int width;
};
constexpr std::array<TypeRow, 7> kTypes = {{{"bool", ValueType::BOOL, 1},
                                            {"int16", ValueType::INT16, 1},
                                            {"uint16", ValueType::UINT16, 1},
                                            {"int32", ValueType::INT32, 2},
                                            {"uint32", ValueType::UINT32, 2},
                                            {"float32", ValueType::FLOAT32, 2},
                                            {"float64", ValueType::FLOAT64, 4}}};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    size_t comma = line.find(',');
    fields.push_back(trim(line.substr(0, comma)));
    if (comma == std::string_view::npos) return fields;
    line.remove_prefix(comma + 1);
  }
}

template <typename T>
bool wholeNumber(std::string_view text, T &out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// Field text as it may be shown in a message: printable ASCII, at most 40 bytes.
std::string shown(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 40)) out += (c >= 0x20 && c < 0x7F) ? c : '?';
  return text.size() > 40 ? out + "..." : out;
}

class Errors {
 public:
  explicit Errors(const std::string &source) : source_(source) {}
  void add(int line, const std::string &reason) {
    if (++count_ > kMaxListedErrors) return;
    if (!text_.empty()) text_ += '\n';
    text_ += source_ + ':' + std::to_string(line) + ": " + reason;
  }
  bool empty() const { return count_ == 0; }
  std::string finish() const {
    if (count_ <= kMaxListedErrors) return text_;
    return text_ + '\n' + source_ + ": " + std::to_string(count_ - kMaxListedErrors) + " more errors";
  }

 private:
  const std::string &source_;
  std::string text_;
  int count_ = 0;
};

// The index of the point named by `text` (a point ID or a name), or -1.
int32_t pointIndex(const PointDb *points, std::string_view text) {
  const PointConfigRecord *config = PointDbConfig(points);
  int32_t count = PointDbCount(points);
  int32_t id = 0;
  bool byId = wholeNumber(text, id);
  for (int32_t i = 1; i < count; ++i) {
    if (config[i].ownIndex != i) continue;
    if (byId ? config[i].pointId == id
             : std::string_view(config[i].name, strnlen(config[i].name, sizeof config[i].name)) == text)
      return i;
  }
  return -1;
}

}  // namespace

int widthOf(ValueType type) {
  for (const TypeRow &row : kTypes)
    if (row.type == type) return row.width;
  return 1;
}

const char *tableName(Table table) { return kTables[int(table)].name.data(); }

bool ModbusMap::load(const std::string &path, const PointDb *points, ModbusMap &out, std::string &errors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    errors = path + ": cannot read the Modbus map";
    return false;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    errors = path + ": cannot read the Modbus map";
    return false;
  }
  return parse(path, text, points, out, errors);
}

bool ModbusMap::parse(const std::string &source, const std::string &text, const PointDb *points, ModbusMap &out,
                      std::string &errorText) {
  Errors errors(source);
  ModbusMap map;
  bool header = false, wordOrderColumn = false;
  std::istringstream lines(text);
  std::string raw;
  for (int number = 1; std::getline(lines, raw); ++number) {
    std::string_view line(raw);
    if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = trim(line);
    if (line.empty()) continue;
    std::vector<std::string_view> fields = split(line);
    if (!header) {
      std::string names = lower(line);
      names.erase(std::remove_if(names.begin(), names.end(), [](char c) { return c == ' ' || c == '\t'; }),
                  names.end());
      if (names == "point,table,address,type,access,word_order") {
        wordOrderColumn = true;
      } else if (names != "point,table,address,type,access") {
        errors.add(number, "expected the header point,table,address,type,access[,word_order], found '" +
                               shown(line) + "'");
        break;
      }
      header = true;
      continue;
    }
    size_t columns = wordOrderColumn ? 6 : 5;
    if (fields.size() != columns && !(wordOrderColumn && fields.size() == 5)) {
      errors.add(number, "expected " + std::to_string(columns) + " fields, found " + std::to_string(fields.size()));
      continue;
    }
    Mapping m;
    m.line = number;
    bool good = true;
    auto fault = [&](const std::string &reason) {
      errors.add(number, reason);
      good = false;
    };
    m.pointIndex = pointIndex(points, fields[0]);
    if (fields[0].empty())
      fault("no point given");
    else if (m.pointIndex < 0)
      fault("no point '" + shown(fields[0]) + "' in the points file");
    else
      m.pointType = PointDbConfig(points)[m.pointIndex].valueType;

    const TableRow *table = nullptr;
    for (const TableRow &row : kTables)
      if (lower(fields[1]) == row.name) table = &row;
    if (!table)
      fault("unknown table '" + shown(fields[1]) + "' (coil, discrete, input or holding)");
    else
      m.table = table->table;

    uint32_t address = 0;
    if (!wholeNumber(fields[2], address) || address >= kAddressSpace)
      fault("address '" + shown(fields[2]) + "' is not a number from 0 to 65535");
    m.address = uint16_t(address);

    const TypeRow *type = nullptr;
    for (const TypeRow &row : kTypes)
      if (lower(fields[3]) == row.name) type = &row;
    if (!type) {
      fault("unknown type '" + shown(fields[3]) + "' (bool, int16, uint16, int32, uint32, float32 or float64)");
    } else {
      m.type = type->type;
      if (table && table->bits != (type->type == ValueType::BOOL))
        fault("type " + std::string(type->name) + " does not fit a " + std::string(table->name) +
              (table->bits ? " (bits hold bool only)" : " (registers hold int16 to float64, not bool)"));
      else if (address + uint32_t(type->width) > kAddressSpace)
        fault(std::string(type->name) + " at address " + std::to_string(address) + " runs past address 65535");
    }

    std::string access = lower(fields[4]);
    if (access == "rw")
      m.writable = true;
    else if (access != "ro")
      fault("access '" + shown(fields[4]) + "' is neither ro nor rw");
    if (m.writable && table && table->readOnly)
      fault(std::string(table->bits ? "discrete inputs" : "input registers") + " are read-only: access must be ro");

    if (fields.size() == 6) {
      std::string order = lower(fields[5]);
      if (order == "swapped")
        m.swapped = true;
      else if (!order.empty() && order != "normal")
        fault("word order '" + shown(fields[5]) + "' is neither normal nor swapped");
      if (m.swapped && type && type->width < 2) fault("word order applies to 32- and 64-bit types only");
    }
    if (good) map.mappings_.push_back(m);
  }
  if (!header && errors.empty()) errors.add(1, "no header line point,table,address,type,access");

  // Overlaps, table by table in address order.
  for (int t = 0; t < kTableCount; ++t) {
    std::vector<int32_t> &order = map.ordered_[t];
    for (int32_t i = 0; i < int32_t(map.mappings_.size()); ++i)
      if (int(map.mappings_[i].table) == t) order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return map.mappings_[a].address < map.mappings_[b].address; });
    // `reach`: of the mappings so far, the one that ends last.
    for (size_t k = 1, reach = 0; k < order.size(); ++k) {
      const Mapping &before = map.mappings_[order[reach]], &m = map.mappings_[order[k]];
      if (m.end() > before.end()) reach = k;
      if (m.address < before.end())
        errors.add(m.line, std::string(tableName(m.table)) + " address " + std::to_string(m.address) +
                               " is already taken by line " + std::to_string(before.line) + " (" +
                               tableName(before.table) + " " + std::to_string(before.address) + ".." +
                               std::to_string(before.end() - 1) + ")");
    }
    map.extent_[t] = order.empty() ? 0 : map.mappings_[order.back()].end();
  }
  if (!errors.empty()) {
    errorText = errors.finish();
    return false;
  }
  out = std::move(map);
  return true;
}

int32_t ModbusMap::find(Table table, uint32_t address) const {
  const std::vector<int32_t> &order = ordered_[int(table)];
  // The last mapping that starts at or before the address.
  auto after = std::upper_bound(order.begin(), order.end(), address,
                                [&](uint32_t a, int32_t i) { return a < mappings_[i].address; });
  if (after == order.begin()) return -1;
  int32_t i = *std::prev(after);
  return address < mappings_[i].end() ? i : -1;
}

}  // namespace sicvm::modbus
