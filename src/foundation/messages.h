// The one table of error codes and message texts of the library.
//
// Every error the library records has a code (1..100: the program goes on;
// above 100: fatal), a log level and a text. The text follows one of four
// prefixes, chosen by `Prefix`; the prefix prints the recorded code.
#pragma once

#include <cstdint>

namespace sicvm {

enum class Prefix : uint8_t {
  AtCommand,  // Program "%s" (%d) error %d at addr %05d:
  OfVar,      // Program "%s" (%d) error %d of var %d:%05d:
  AtVar,      // Program "%s" (%d) error %d at var %d:%05d:
  OfArray,    // Program "%s" (%d) error %d of array %d:
};

struct Message {
  int32_t code;
  int level;
  Prefix prefix;
  const char *text;
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
inline constexpr Message kMathError{2, kLevelInfo, C, "Math error (%d)\n"};
inline constexpr Message kDivisionByZero{3, kLevelInfo, C, "Division by zero\n"};
inline constexpr Message kInvalidPointNo{4, kLevelInfo, C, "Invalid point no (%d)\n"};
inline constexpr Message kInvalidPointField{5, kLevelInfo, C, "Invalid point field (%d)\n"};
inline constexpr Message kDeletedPoint{6, kLevelInfo, C, "Access to a deleted point (%d)\n"};
inline constexpr Message kNvramError{7, kLevelInfo, C, "NVRAM error (%d)\n"};
inline constexpr Message kIndexOutOfBounds{8, kLevelInfo, C, "Array element index out of bounds (%d)\n"};
inline constexpr Message kNvramHasNo{9, kLevelInfo, C, "NVRAM has no %s for point %d\n"};
inline constexpr Message kInvalidParameter{33, kLevelInfo, C, "Invalid parameter\n"};
inline constexpr Message kOutOfRange{34, kLevelInfo, C, "Result out of range\n"};

// Fatal errors.
inline constexpr Message kCommandLimit{106, kLevelFatal, C, "Command limit was exeeded (%d)\n"};
inline constexpr Message kUnknownCommand{107, kLevelFatal, C, "Unknown command code (%d)\n"};
inline constexpr Message kOperandKind{108, kLevelFatal, C,
                                      "Command %d invalid %s operand type (found %d, required %d)\n"};
inline constexpr Message kOperandKind2{108, kLevelFatal, C,
                                       "Command %d invalid %s operand type (found %d, required %d or %d)\n"};
inline constexpr Message kOutsideCode{109, kLevelFatal, C, "%s address is outside of code (%d)\n"};
inline constexpr Message kInvalidCallAddress{109, kLevelFatal, C, "Invalid call address (%05d)\n"};
inline constexpr Message kInvalidVarOperand{110, kLevelFatal, C, "Invalid operand var address (%d:%05d)\n"};
inline constexpr Message kUnknownTypeClass{111, kLevelFatal, Prefix::OfVar, "Unknown type class (%d)\n"};
inline constexpr Message kInvalidArrayOperand{112, kLevelFatal, C, "Invalid operand array address (%d:%d)\n"};
inline constexpr Message kInvalidVarArray{112, kLevelFatal, C, "Invalid var %d:%05d array address (%d:%d)\n"};
inline constexpr Message kInvalidArrayAddress{112, kLevelFatal, Prefix::AtVar, "Invalid array address (%d:%05d)\n"};
inline constexpr Message kInvalidAbsoluteArray{113, kLevelFatal, C, "Invalid %s array absolute address (%d)\n"};
inline constexpr Message kInvalidElementSize{114, kLevelFatal, Prefix::OfArray, "Invalid array element size (%d)\n"};
inline constexpr Message kInvalidElementCount{115, kLevelFatal, Prefix::OfArray, "Invalid array element count (%d)\n"};
inline constexpr Message kArraySizeMismatch{117, kLevelFatal, C, "Arrays %d and %d size mismatch (%d, %d)\n"};
inline constexpr Message kDsOutOfRange{118, kLevelFatal, C, "%s DS is out of range (%d)\n"};
inline constexpr Message kDsNull{118, kLevelFatal, C, "%s DS is NULL (%d)\n"};
inline constexpr Message kDsNotGlobalOrLocal{118, kLevelFatal, C, "%s DS is not global or local (%d)\n"};
inline constexpr Message kCallStackOverflow{119, kLevelFatal, C, "Call stack overflow (%d)\n"};
inline constexpr Message kParamStackOverflow{120, kLevelFatal, C, "Param stack overflow (%d)\n"};
inline constexpr Message kParamStackUnderflow{121, kLevelFatal, C, "Param stack underflow (%d)\n"};
inline constexpr Message kInvalidPushCount{122, kLevelFatal, C, "Invalid PUSH var count (%d)\n"};
inline constexpr Message kInvalidPushEmptyCount{122, kLevelFatal, C, "Invalid PUSH empty count (%d)\n"};
inline constexpr Message kInvalidPopCount{124, kLevelFatal, C, "Invalid POP var count (%d)\n"};
inline constexpr Message kUnknownEntryKind{125, kLevelFatal, C, "Unknown stack param type (%d)\n"};
inline constexpr Message kUnknownCallTypeByte{127, kLevelFatal, C, "Unknown call class (%02X)\n"};
inline constexpr Message kUnknownCallClass{127, kLevelFatal, C, "Unknown call type (%02X)\n"};
inline constexpr Message kLibraryError{128, kLevelFatal, C, "%s function %d returns error %d\n"};
inline constexpr Message kLibraryCheck{128, kLevelFatal, C, "%s function %d %s (error code %d)\n"};

// Every message above, for lookups by code (tools explain a recorded code
// with the text of its first message).
inline constexpr const Message *kAll[] = {
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
constexpr const Message *messageFor(int32_t code) {
  for (const Message *m : msg::kAll)
    if (m->code == code) return m;
  return nullptr;
}

}  // namespace sicvm
