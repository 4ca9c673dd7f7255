// SPDX-License-Identifier: MIT
#include "symbols/symbols.h"

#include <charconv>
#include <cstdio>

namespace sicvm::symbols {

namespace {

template <class T>
const std::string *find(const T &map, const typename T::key_type &key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t at = 0;
  while (at < line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string_view::npos) end = line.size();
    if (end > at) out.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

template <class T>
bool number(std::string_view text, T &out, int base = 10) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

const std::string *SymbolTable::segment(uint32_t k) const { return find(segments, k); }
const std::string *SymbolTable::var(uint32_t k, uint32_t n) const { return find(vars, {k, n}); }
const std::string *SymbolTable::array(uint32_t j) const { return find(arrays, j); }
const std::string *SymbolTable::label(uint32_t address) const {
  auto it = labels.find(address);
  return it == labels.end() ? nullptr : &it->second;
}

std::string SymbolTable::qualifiedVar(uint32_t k, uint32_t n) const {
  const std::string *name = var(k, n);
  if (name == nullptr) return {};
  if (k == 0) return *name;
  const std::string *seg = segment(k);
  return (seg ? *seg : std::to_string(k)) + "." + *name;
}

bool SymbolTable::belongsTo(const std::vector<uint8_t> &image) const {
  return imageSize == image.size() && imageHash == symbols::imageHash(image.data(), image.size());
}

uint64_t imageHash(const uint8_t *bytes, size_t size) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < size; ++i) {
    hash ^= bytes[i];
    hash *= 0x100000001b3ull;
  }
  return hash;
}

bool validName(std::string_view name) {
  if (name.empty() || name.size() > 255 || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

std::string writeSymbols(const SymbolTable &table) {
  char hash[24];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(table.imageHash));
  std::string out = "sicvm-symbols " + std::to_string(kFormatVersion) + "\n";
  out += "image " + std::to_string(table.imageSize) + " " + hash + "\n";
  for (const auto &[k, name] : table.segments) out += "segment " + std::to_string(k) + " " + name + "\n";
  for (const auto &[key, name] : table.vars)
    out += "var " + std::to_string(key.first) + " " + std::to_string(key.second) + " " + name + "\n";
  for (const auto &[j, name] : table.arrays) out += "array " + std::to_string(j) + " " + name + "\n";
  for (const auto &[a, name] : table.labels) out += "label " + std::to_string(a) + " " + name + "\n";
  return out;
}

bool readSymbols(std::string_view text, const std::string &file, SymbolTable &table, std::string &error) {
  table = SymbolTable{};
  size_t lineNo = 0, at = 0;
  bool haveHead = false, haveImage = false;
  auto fail = [&](const std::string &reason) {
    error = file + ":" + std::to_string(lineNo) + ": " + reason;
    return false;
  };
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!haveHead) {
      int version = 0;
      auto w = words(line);
      if (w.size() != 2 || w[0] != "sicvm-symbols" || !number(w[1], version))
        return fail("not a symbol file (it starts with 'sicvm-symbols 1')");
      if (version != kFormatVersion)
        return fail("symbol file version " + std::to_string(version) + "; this tool reads version " +
                    std::to_string(kFormatVersion));
      haveHead = true;
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    auto w = words(line);
    if (w.empty()) continue;
    const std::string_view kind = w[0];
    uint32_t a = 0, b = 0;
    if (kind == "image") {
      if (w.size() != 3 || !number(w[1], table.imageSize) || w[2].size() != 16 || !number(w[2], table.imageHash, 16))
        return fail("expected 'image SIZE HASH' with the hash in 16 hex digits");
      haveImage = true;
    } else if (kind == "segment" || kind == "array" || kind == "label") {
      if (w.size() != 3 || !number(w[1], a) || !validName(w[2]))
        return fail("expected '" + std::string(kind) + " NUMBER NAME'");
      std::string name(w[2]);
      if (kind == "segment") table.segments[a] = name;
      else if (kind == "array") table.arrays[a] = name;
      else table.labels.emplace(a, name);
    } else if (kind == "var") {
      if (w.size() != 4 || !number(w[1], a) || !number(w[2], b) || !validName(w[3]))
        return fail("expected 'var SEGMENT VAR NAME'");
      table.vars[{a, b}] = std::string(w[3]);
    }
  }
  if (!haveHead) return fail("the file is empty");
  if (!haveImage) return fail("no 'image SIZE HASH' line");
  return true;
}

}  // namespace sicvm::symbols
