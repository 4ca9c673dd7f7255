// SPDX-License-Identifier: MIT
#include "asm/constants.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "hostrt/datetime.h"
#include "sicvm/text.h"

namespace sicvm::assembly {
namespace {

const char *const kTypeNames[] = {nullptr, "BOOL", "DINT", "LREAL", "INT", "REAL", "TIME", "DT"};

bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// "TYPE<n>" with n in 0..65535, or -1.
int rawTypeCode(std::string_view name) {
  if (name.size() < 5 || name.substr(0, 4) != "TYPE") return -1;
  int n = 0;
  for (char c : name.substr(4)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    n = n * 10 + (c - '0');
    if (n > 65535) return -1;
  }
  return n;
}

// A floating-point number as strtod reads it, starting with a digit, a '.'
// or a sign (or inf/nan when allowSpecial), and not followed by a name character.
template <class Float>
Float readFloat(Cursor &cursor, const std::string &what, bool allowSpecial) {
  cursor.skipBlanks();
  std::string rest(cursor.rest());
  size_t skip = (rest[0] == '-' || rest[0] == '+') ? 1 : 0;
  char first = skip < rest.size() ? rest[skip] : '\0';
  bool special = allowSpecial && (std::tolower(first) == 'i' || std::tolower(first) == 'n');
  bool hex = first == '0' && skip + 1 < rest.size() && std::tolower(rest[skip + 1]) == 'x';
  if ((!std::isdigit(static_cast<unsigned char>(first)) && first != '.' && !special) || hex) cursor.expected(what);
  char *end = nullptr;
  Float value;
  if constexpr (std::is_same_v<Float, float>)
    value = std::strtof(rest.c_str(), &end);
  else
    value = std::strtod(rest.c_str(), &end);
  size_t used = static_cast<size_t>(end - rest.c_str());
  if (used == 0) cursor.expected(what);
  // A number too large for the type would silently become infinity; only
  // 'inf' itself means infinity.
  if (!special && std::isinf(value))
    cursor.fail("'" + rest.substr(0, used) + "' is too large for " + what + " (largest " +
                    (std::is_same_v<Float, float> ? "3.4e38" : "1.8e308") + ")",
                cursor.pos());
  cursor.seek(cursor.pos() + used);
  return value;
}

void endOfConstant(Cursor &cursor, size_t start, const std::string &what) {
  if (isIdentChar(cursor.peek()) || cursor.peek() == '.') {
    size_t end = cursor.pos();
    while (isIdentChar(cursor.peek()) || cursor.peek() == '.') cursor.seek(cursor.pos() + 1);
    cursor.fail("expected " + what + ", found '" + std::string(cursor.text().substr(start, cursor.pos() - start)) + "'",
                end);
  }
}

double readDuration(Cursor &cursor, size_t start) {
  const std::string what = "a duration such as T#1s_500ms";
  bool negative = cursor.acceptText("-");
  double sum = 0.0;
  int components = 0;
  while (std::isdigit(static_cast<unsigned char>(cursor.peek())) || cursor.peek() == '.') {
    if (cursor.peek() == '0' && std::tolower(cursor.peek(1)) == 'x') cursor.expected(what);
    double n = readFloat<double>(cursor, what, false);
    double unit;
    if (cursor.acceptText("ms"))
      unit = 1.0;
    else if (cursor.acceptText("d"))
      unit = 86400000.0;
    else if (cursor.acceptText("h"))
      unit = 3600000.0;
    else if (cursor.acceptText("m"))
      unit = 60000.0;
    else if (cursor.acceptText("s"))
      unit = 1000.0;
    else
      cursor.expected("a unit (d, h, m, s or ms)");
    sum = components == 0 ? n * unit : sum + n * unit;
    ++components;
    cursor.acceptText("_");
  }
  if (components == 0 && !negative) cursor.expected(what);
  endOfConstant(cursor, start, what);
  return negative ? -sum : sum;
}

int32_t digits(Cursor &cursor, int minDigits, int maxDigits, const std::string &what) {
  int32_t value = 0;
  int n = 0;
  while (std::isdigit(static_cast<unsigned char>(cursor.peek())) && n < maxDigits) {
    value = value * 10 + (cursor.peek() - '0');
    cursor.seek(cursor.pos() + 1);
    ++n;
  }
  if (n < minDigits) cursor.expected(what);
  return value;
}

double readDateTime(Cursor &cursor, size_t start) {
  const std::string what = "a date and time such as DT#2024-03-05-07:08:09";
  size_t p = cursor.pos();
  size_t q = p + (cursor.peek() == '-' ? 1 : 0);
  while (q < cursor.text().size() && std::isdigit(static_cast<unsigned char>(cursor.text()[q]))) ++q;
  if (q > p && q < cursor.text().size() && cursor.text()[q] == '-' && q > p + (cursor.peek() == '-' ? 1 : 0)) {
    DtCalendarRecord r{};
    bool negativeYear = cursor.acceptText("-");
    r.year = digits(cursor, 1, 9, what);
    if (negativeYear) r.year = -r.year;
    cursor.expect('-', "'-' after the year");
    r.month = digits(cursor, 1, 2, "a month");
    if (!cursor.acceptText("-")) cursor.expected("'-' after the month");
    r.day = digits(cursor, 1, 2, "a day");
    if (!cursor.acceptText("-")) cursor.expected("'-' after the day");
    r.hour = digits(cursor, 1, 2, "an hour");
    if (!cursor.acceptText(":")) cursor.expected("':' after the hour");
    r.minute = digits(cursor, 1, 2, "a minute");
    if (!cursor.acceptText(":")) cursor.expected("':' after the minute");
    r.second = digits(cursor, 1, 2, "a second");
    if (cursor.acceptText(".")) {
      size_t before = cursor.pos();
      int32_t ms = digits(cursor, 1, 3, "milliseconds");
      for (size_t n = cursor.pos() - before; n < 3; ++n) ms *= 10;
      r.millisecond = ms;
    }
    endOfConstant(cursor, start, what);
    double dt = DtEncodeDateTime(&r, 0);
    if (std::isnan(dt))
      cursor.fail("not a valid date and time: '" + std::string(cursor.text().substr(start, cursor.pos() - start)) + "'",
                  start);
    return dt;
  }
  double days = readFloat<double>(cursor, what, false);
  endOfConstant(cursor, start, what);
  return days;
}

Constant readOfType(Cursor &cursor, int type, size_t start) {
  Constant c;
  c.type = static_cast<uint16_t>(type);
  switch (type) {
    case VM_TYPE_BOOL: {
      std::string_view word = cursor.identifier();
      if (word == "TRUE") c.value.b = 1;
      else if (word == "FALSE") c.value.b = 0;
      else if (!word.empty()) cursor.fail("expected 0 to 255, TRUE or FALSE, found '" + std::string(word) + "'", start);
      else c.value.b = static_cast<uint8_t>(cursor.integer("a BOOL value (0 to 255)", 0, 255));
      break;
    }
    case VM_TYPE_INT:
      c.value.u16 = static_cast<uint16_t>(cursor.integer("an INT value", -32768, 65535));
      break;
    case VM_TYPE_DINT:
      c.value.u32 = static_cast<uint32_t>(cursor.integer("a DINT value", INT32_MIN, UINT32_MAX));
      break;
    case VM_TYPE_REAL:
      c.value.f32 = readFloat<float>(cursor, "a REAL number", true);
      endOfConstant(cursor, start, "a REAL number");
      break;
    case VM_TYPE_LREAL:
      c.value.f64 = readFloat<double>(cursor, "an LREAL number", true);
      endOfConstant(cursor, start, "an LREAL number");
      break;
    case VM_TYPE_TIME: c.value.f64 = readDuration(cursor, start); break;
    case VM_TYPE_DT: c.value.f64 = readDateTime(cursor, start); break;
    default: {
      uint32_t words[2] = {0, 0};
      for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 8; ++i) {
          char h = cursor.peek();
          if (!std::isxdigit(static_cast<unsigned char>(h))) cursor.expected("16 hexadecimal digits");
          words[w] = words[w] * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : std::tolower(h) - 'a' + 10);
          cursor.seek(cursor.pos() + 1);
        }
      endOfConstant(cursor, start, "16 hexadecimal digits");
      c.value.w[0] = words[0];
      c.value.w[1] = words[1];
    }
  }
  return c;
}

// The type of the prefix at the cursor ("DINT#", "T#", "TYPE9#"), consuming it;
// -1 (nothing consumed) when no prefix is there. *raw tells a TYPEn# prefix.
int readPrefix(Cursor &cursor, bool *raw) {
  size_t start = cursor.pos();
  std::string_view name = cursor.identifier();
  if (name.empty() || cursor.peek() != '#') {
    cursor.seek(start);
    return -1;
  }
  int type = -1;
  *raw = false;
  if (name == "T" || name == "TIME") type = VM_TYPE_TIME;
  else if (name == "DT") type = VM_TYPE_DT;
  else if (int code = rawTypeCode(name); code >= 0) {
    type = code;
    *raw = true;
  } else
    type = typeCode(name);
  if (type < 0) {
    cursor.seek(start);
    return -1;
  }
  cursor.seek(cursor.pos() + 1);
  return type;
}

}  // namespace

std::string typeName(int type) {
  if (type >= 1 && type <= 7) return kTypeNames[type];
  return "TYPE" + std::to_string(type);
}

std::string aType(int type) {
  return (type == VM_TYPE_INT || type == VM_TYPE_LREAL ? "an " : "a ") + typeName(type);
}

int typeCode(std::string_view name) {
  for (int t = 1; t <= 7; ++t)
    if (name == kTypeNames[t]) return t;
  return rawTypeCode(name);
}

bool atTypedConstant(Cursor &cursor) {
  cursor.skipBlanks();
  size_t start = cursor.pos();
  std::string_view name = cursor.identifier();
  bool result = name == "TRUE" || name == "FALSE";
  if (!result && !name.empty() && cursor.peek() == '#') {
    result = name == "T" || name == "TIME" || name == "DT" || typeCode(name) >= 0;
  }
  cursor.seek(start);
  return result;
}

Constant readTypedConstant(Cursor &cursor, bool *rawOut) {
  cursor.skipBlanks();
  if (rawOut) *rawOut = false;
  size_t start = cursor.pos();
  std::string_view word = cursor.identifier();
  if (word == "TRUE" || word == "FALSE") {
    Constant c;
    c.type = VM_TYPE_BOOL;
    c.value.b = word == "TRUE";
    return c;
  }
  cursor.seek(start);
  bool raw = false;
  int type = readPrefix(cursor, &raw);
  if (type < 0) cursor.expected("a constant such as DINT#5, LREAL#0.5, T#1s or DT#2024-01-01-00:00:00");
  if (raw) {
    if (rawOut) *rawOut = true;
    Constant c = readOfType(cursor, -1, start);
    c.type = static_cast<uint16_t>(type);
    return c;
  }
  return readOfType(cursor, type, start);
}

Constant readValue(Cursor &cursor, int type) {
  cursor.skipBlanks();
  size_t start = cursor.pos();
  if (atTypedConstant(cursor)) {
    bool raw = false;
    Constant c = readTypedConstant(cursor, &raw);
    if (!raw && c.type != type)
      cursor.fail("expected " + aType(type) + " value, found '" +
                      std::string(cursor.text().substr(start, cursor.pos() - start)) + "'",
                  start);
    return c;
  }
  switch (type) {
    case VM_TYPE_BOOL:
    case VM_TYPE_INT:
    case VM_TYPE_DINT: {
      // A bare decimal number is a value of the type and must fit it; the
      // typed forms (BOOL#200, INT#0xFFFF) also give any bit pattern.
      bool hex = cursor.rest().substr(cursor.rest()[0] == '-' ? 1 : 0, 2) == "0x";
      Constant c = readOfType(cursor, type, start);
      int64_t v = type == VM_TYPE_BOOL ? c.value.b : type == VM_TYPE_INT ? int64_t(c.value.u16) : int64_t(c.value.u32);
      bool negative = cursor.text()[start] == '-';
      bool fits = type == VM_TYPE_BOOL ? v <= 1 || std::isalpha(static_cast<unsigned char>(cursor.text()[start]))
                  : hex || negative ? true
                  : type == VM_TYPE_INT ? v <= INT16_MAX
                                        : v <= INT32_MAX;
      if (!fits)
        cursor.fail("'" + std::string(cursor.text().substr(start, cursor.pos() - start)) + "' does not fit " +
                        aType(type) + (type == VM_TYPE_BOOL ? " (0, 1, TRUE or FALSE)"
                                       : type == VM_TYPE_INT ? " (-32768 to 32767)"
                                                             : " (-2147483648 to 2147483647)"),
                    start);
      return c;
    }
    case VM_TYPE_REAL:
    case VM_TYPE_LREAL: return readOfType(cursor, type, start);
    case VM_TYPE_TIME: cursor.expected("a TIME constant such as T#1s_500ms");
    case VM_TYPE_DT: cursor.expected("a DT constant such as DT#2024-03-05-07:08:09");
    default: cursor.expected("a raw constant such as " + typeName(type) + "#0000000000000000");
  }
}

std::string shortestDouble(double value) {
  char text[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    double back = std::strtod(text, nullptr);
    if (std::memcmp(&back, &value, sizeof value) == 0) return text;
  }
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string shortestFloat(float value) {
  char text[40];
  for (int precision = 1; precision <= 9; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
    float back = std::strtof(text, nullptr);
    if (std::memcmp(&back, &value, sizeof value) == 0) return text;
  }
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

std::string exactConstant(int type, const VmValue &value) {
  std::string candidates[3];
  char text[64];
  VmCell cell{};
  cell.v = value;
  switch (type) {
    case VM_TYPE_BOOL: candidates[0] = "BOOL#" + std::to_string(value.b); break;
    case VM_TYPE_INT: candidates[0] = "INT#" + std::to_string(value.i16); break;
    case VM_TYPE_DINT: candidates[0] = "DINT#" + std::to_string(value.i32); break;
    case VM_TYPE_REAL: candidates[0] = "REAL#" + shortestFloat(value.f32); break;
    case VM_TYPE_LREAL: candidates[0] = "LREAL#" + shortestDouble(value.f64); break;
    case VM_TYPE_TIME:
      candidates[0] = VmValueToStr(&cell, type, text);
      if (std::isfinite(value.f64))
        candidates[1] = std::signbit(value.f64) ? "T#-" + shortestDouble(-value.f64) + "ms"
                                                : "T#" + shortestDouble(value.f64) + "ms";
      break;
    case VM_TYPE_DT:
      candidates[0] = VmValueToStr(&cell, type, text);
      if (std::isfinite(value.f64)) candidates[1] = "DT#" + shortestDouble(value.f64);
      break;
    default: break;
  }
  for (const std::string &candidate : candidates) {
    if (candidate.empty()) continue;
    try {
      Cursor cursor(candidate);
      Constant back = readTypedConstant(cursor);
      if (cursor.atEnd() && back.type == type && std::memcmp(&back.value, &value, sizeof value) == 0)
        return candidate;
    } catch (const SyntaxError &) {
    }
  }
  std::snprintf(text, sizeof text, "TYPE%d#%08X%08X", type, value.w[0], value.w[1]);
  return text;
}

}  // namespace sicvm::assembly
