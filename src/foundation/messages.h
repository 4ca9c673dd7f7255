// SPDX-License-Identifier: MIT
// The one table of error codes and message texts of the library.
//
// Every error the library records has a code (1..100: the program goes on;
// above 100: fatal), a log level and a text. The text follows one of four
// prefixes, chosen by `Prefix`; the prefix prints the recorded code.
//
// A message's type names the arguments its text takes, in order:
// Message<int, const char *> for "%s DS is NULL (%d)" would not compile,
// because its constructor, evaluated by the compiler, checks the text's
// conversions against the types (%d, %05d, %02X: int; %s: const char *;
// %g: double). The functions that report messages (report.h) accept only
// arguments of those kinds, as many as the text takes, so that no change
// can print garbage into the log or read an argument that is not there.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace sicvm {

enum class Prefix : uint8_t {
  AtCommand,  // Program "%s" (%d) error %d at addr %05d:
  OfVar,      // Program "%s" (%d) error %d of var %d:%05d:
  AtVar,      // Program "%s" (%d) error %d at var %d:%05d:
  OfArray,    // Program "%s" (%d) error %d of array %d:
};

// What printf reads for one conversion of a message text.
enum class Conversion : uint8_t { Int, Text, Real };

template <class T>
inline constexpr bool kNoConversion = false;

template <class T>
consteval Conversion conversionOf() {
  if constexpr (std::is_same_v<T, int>) return Conversion::Int;
  else if constexpr (std::is_same_v<T, const char *>) return Conversion::Text;
  else if constexpr (std::is_same_v<T, double>) return Conversion::Real;
  else static_assert(kNoConversion<T>, "message arguments are int, const char * or double");
}

// True when the printf conversions of `text` are exactly `wanted`, in order.
// Flags, width and precision are allowed; length modifiers are not.
consteval bool conversionsAre(const char *text, std::initializer_list<Conversion> wanted) {
  const Conversion *next = wanted.begin();
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
    while ((*p >= '0' && *p <= '9') || *p == '.') ++p;
    Conversion found = Conversion::Int;
    switch (*p) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'c': found = Conversion::Int; break;
      case 's': found = Conversion::Text; break;
      case 'g': case 'G': case 'f': case 'e': case 'E': found = Conversion::Real; break;
      default: return false;
    }
    if (next == wanted.end() || *next != found) return false;
    ++next;
  }
  return next == wanted.end();
}

// The fields every message has; reported through Message<Args...> only.
struct MessageText {
  int32_t code;
  int level;
  Prefix prefix;
  const char *text;
};

// An argument fits a conversion when the report can pass it as the type the
// conversion reads without changing its meaning: any integer for int (it is
// converted, as the log shows 32-bit numbers), text for const char *, a
// floating-point number for double.
template <class Want, class Given>
concept Fits = (std::is_same_v<Want, int> && std::is_integral_v<Given>) ||
               (std::is_same_v<Want, const char *> && std::is_convertible_v<Given, const char *>) ||
               (std::is_same_v<Want, double> && std::is_floating_point_v<Given>);

template <class... Args>
struct Message : MessageText {
  consteval Message(int32_t code_, int level_, Prefix prefix_, const char *text_)
      : MessageText{code_, level_, prefix_, text_} {
    // Not a constant expression, hence a compile error, when the text and
    // the argument types disagree.
    if (!conversionsAre(text_, {conversionOf<Args>()...})) throw "message text and argument types differ";
  }

  // Compile-time check of a report's arguments against this message.
  template <class... Given>
  static consteval void checkArguments() {
    static_assert(sizeof...(Args) == sizeof...(Given), "the message text takes another number of arguments");
    if constexpr (sizeof...(Args) == sizeof...(Given))
      static_assert((Fits<Args, Given> && ...), "an argument does not fit its conversion in the message text");
  }
};

// Log levels.
inline constexpr int kLevelFatal = 4;
inline constexpr int kLevelNotice = 5;
inline constexpr int kLevelOutdated = 7;
inline constexpr int kLevelInfo = 10;
inline constexpr int kLevelTrace = 15;

// A code above this is fatal.
inline constexpr int32_t kLastRunTimeCode = 100;
inline constexpr bool isFatal(int32_t code) { return code > kLastRunTimeCode; }

namespace msg {
constexpr Prefix C = Prefix::AtCommand;

// Run-time errors: the program goes on.
inline constexpr Message<int> kMathError{2, kLevelInfo, C, "Math error (%d)\n"};
inline constexpr Message<> kDivisionByZero{3, kLevelInfo, C, "Division by zero\n"};
inline constexpr Message<int> kInvalidPointNo{4, kLevelInfo, C, "Invalid point no (%d)\n"};
inline constexpr Message<int> kInvalidPointField{5, kLevelInfo, C, "Invalid point field (%d)\n"};
inline constexpr Message<int> kDeletedPoint{6, kLevelInfo, C, "Access to a deleted point (%d)\n"};
inline constexpr Message<int> kNvramError{7, kLevelInfo, C, "NVRAM error (%d)\n"};
inline constexpr Message<int> kIndexOutOfBounds{8, kLevelInfo, C, "Array element index out of bounds (%d)\n"};
inline constexpr Message<const char *, int> kNvramHasNo{9, kLevelInfo, C, "NVRAM has no %s for point %d\n"};
inline constexpr Message<> kInvalidParameter{33, kLevelInfo, C, "Invalid parameter\n"};
inline constexpr Message<> kOutOfRange{34, kLevelInfo, C, "Result out of range\n"};

// Fatal errors.
inline constexpr Message<int> kCommandLimit{106, kLevelFatal, C, "Command limit was exeeded (%d)\n"};
inline constexpr Message<int> kUnknownCommand{107, kLevelFatal, C, "Unknown command code (%d)\n"};
inline constexpr Message<int, const char *, int, int> kOperandKind{108, kLevelFatal, C,
                                      "Command %d invalid %s operand type (found %d, required %d)\n"};
inline constexpr Message<int, const char *, int, int, int> kOperandKind2{108, kLevelFatal, C,
                                       "Command %d invalid %s operand type (found %d, required %d or %d)\n"};
inline constexpr Message<const char *, int> kOutsideCode{109, kLevelFatal, C, "%s address is outside of code (%d)\n"};
inline constexpr Message<int> kInvalidCallAddress{109, kLevelFatal, C, "Invalid call address (%05d)\n"};
inline constexpr Message<int, int> kInvalidVarOperand{110, kLevelFatal, C, "Invalid operand var address (%d:%05d)\n"};
inline constexpr Message<int> kUnknownTypeClass{111, kLevelFatal, Prefix::OfVar, "Unknown type class (%d)\n"};
inline constexpr Message<int, int> kInvalidArrayOperand{112, kLevelFatal, C, "Invalid operand array address (%d:%d)\n"};
inline constexpr Message<int, int, int, int> kInvalidVarArray{112, kLevelFatal, C, "Invalid var %d:%05d array address (%d:%d)\n"};
inline constexpr Message<int, int> kInvalidArrayAddress{112, kLevelFatal, Prefix::AtVar, "Invalid array address (%d:%05d)\n"};
inline constexpr Message<const char *, int> kInvalidAbsoluteArray{113, kLevelFatal, C, "Invalid %s array absolute address (%d)\n"};
inline constexpr Message<int> kInvalidElementSize{114, kLevelFatal, Prefix::OfArray, "Invalid array element size (%d)\n"};
inline constexpr Message<int> kInvalidElementCount{115, kLevelFatal, Prefix::OfArray, "Invalid array element count (%d)\n"};
inline constexpr Message<int, int, int, int> kArraySizeMismatch{117, kLevelFatal, C, "Arrays %d and %d size mismatch (%d, %d)\n"};
inline constexpr Message<const char *, int> kDsOutOfRange{118, kLevelFatal, C, "%s DS is out of range (%d)\n"};
inline constexpr Message<const char *, int> kDsNull{118, kLevelFatal, C, "%s DS is NULL (%d)\n"};
inline constexpr Message<const char *, int> kDsNotGlobalOrLocal{118, kLevelFatal, C, "%s DS is not global or local (%d)\n"};
inline constexpr Message<int> kCallStackOverflow{119, kLevelFatal, C, "Call stack overflow (%d)\n"};
inline constexpr Message<int> kParamStackOverflow{120, kLevelFatal, C, "Param stack overflow (%d)\n"};
inline constexpr Message<int> kParamStackUnderflow{121, kLevelFatal, C, "Param stack underflow (%d)\n"};
inline constexpr Message<int> kInvalidPushCount{122, kLevelFatal, C, "Invalid PUSH var count (%d)\n"};
inline constexpr Message<int> kInvalidPushEmptyCount{122, kLevelFatal, C, "Invalid PUSH empty count (%d)\n"};
inline constexpr Message<int> kInvalidPopCount{124, kLevelFatal, C, "Invalid POP var count (%d)\n"};
inline constexpr Message<int> kUnknownEntryKind{125, kLevelFatal, C, "Unknown stack param type (%d)\n"};
inline constexpr Message<int> kUnknownCallTypeByte{127, kLevelFatal, C, "Unknown call class (%02X)\n"};
inline constexpr Message<int> kUnknownCallClass{127, kLevelFatal, C, "Unknown call type (%02X)\n"};
inline constexpr Message<const char *, int, int> kLibraryError{128, kLevelFatal, C, "%s function %d returns error %d\n"};
inline constexpr Message<const char *, int, const char *, int> kLibraryCheck{128, kLevelFatal, C, "%s function %d %s (error code %d)\n"};

// Every message above, for lookups by code (tools explain a recorded code
// with the text of its first message).
inline constexpr const MessageText *kAll[] = {
    &kMathError, &kDivisionByZero, &kInvalidPointNo, &kInvalidPointField, &kDeletedPoint, &kNvramError,
    &kIndexOutOfBounds, &kNvramHasNo, &kInvalidParameter, &kOutOfRange, &kCommandLimit, &kUnknownCommand,
    &kOperandKind, &kOperandKind2, &kOutsideCode, &kInvalidCallAddress, &kInvalidVarOperand, &kUnknownTypeClass,
    &kInvalidArrayOperand, &kInvalidVarArray, &kInvalidArrayAddress, &kInvalidAbsoluteArray, &kInvalidElementSize,
    &kInvalidElementCount, &kArraySizeMismatch, &kDsOutOfRange, &kDsNull, &kDsNotGlobalOrLocal,
    &kCallStackOverflow, &kParamStackOverflow, &kParamStackUnderflow, &kInvalidPushCount, &kInvalidPushEmptyCount,
    &kInvalidPopCount, &kUnknownEntryKind, &kUnknownCallTypeByte, &kUnknownCallClass, &kLibraryError,
    &kLibraryCheck,
};

}  // namespace msg

// The first message of `code`, or nullptr for a code the library never records.
constexpr const MessageText *messageFor(int32_t code) {
  for (const MessageText *m : msg::kAll)
    if (m->code == code) return m;
  return nullptr;
}

}  // namespace sicvm
