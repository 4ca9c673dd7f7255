// SPDX-License-Identifier: MIT
// The shapes of listing lines: for each Listing value of the command table,
// the pieces a command's line is made of, in order. The library renders
// commands with them (VmCmdToStr); the assembler parses the same pieces back
// and the disassembler renders with exact constants. Header-only, so the
// tools share these definitions with the library instead of keeping a copy.
#pragma once

#include <cstdint>

#include "interp/command_table.h"
#include "sicvm/image.h"
#include "sicvm/vm.h"
#include "text/text_buffer.h"

namespace sicvm::text {

enum Slot : uint8_t { SRC1 = 0, SRC2 = 1, DST = 2 };

// Which type a constant operand is printed with.
enum class ConstType : uint8_t {
  NONE,  // type 0: raw words
  T1,    // the command table's SRC1 type
  T2,    // the command table's SRC2 type
  DINT,
  BOOL,
  MOV,   // the low 16 bits of SRC2 word 1 (mov, push_const)
};

enum class Piece : uint8_t {
  END,
  LITERAL,   // fixed text
  OPERAND,   // operand text by the slot's kind: constant, vars[..], arrays[..], op_type_N
  ARRAY,     // the slot's words 1 and 2 as an array address, whatever its kind
  NUMBER,    // the slot's word 1 as a signed decimal
  TARGET,    // '@' and the slot's word 1 as a code address
  DATA_SEG,  // "LDS" when the slot's word 1 is not 0, else "GDS"
  CALL,      // call target from SRC1's words 1 (number) and 2 (descriptor)
};

struct Part {
  Piece piece;
  uint8_t slot;
  ConstType type;
  const char *text;
};

// A line shape and the operand kinds a command written in it gets for the
// slots its text does not show (what the verifier expects of them).
struct Shape {
  const Part *parts;
  uint8_t defaultKind[3];
};

namespace shape_detail {
constexpr Part lit(const char *t) { return {Piece::LITERAL, 0, ConstType::NONE, t}; }
constexpr Part opd(uint8_t s, ConstType t) { return {Piece::OPERAND, s, t, nullptr}; }
constexpr Part arr(uint8_t s) { return {Piece::ARRAY, s, ConstType::NONE, nullptr}; }
constexpr Part num(uint8_t s) { return {Piece::NUMBER, s, ConstType::NONE, nullptr}; }
constexpr Part target(uint8_t s) { return {Piece::TARGET, s, ConstType::NONE, nullptr}; }
constexpr Part end() { return {Piece::END, 0, ConstType::NONE, nullptr}; }
using CT = ConstType;

inline constexpr Part kBare[] = {end()};
inline constexpr Part kCodeVersion[] = {num(SRC1), end()};
inline constexpr Part kMov[] = {opd(SRC1, CT::MOV), lit(","), opd(DST, CT::NONE), end()};
inline constexpr Part kPushConst[] = {opd(SRC1, CT::MOV), end()};
inline constexpr Part kPushVars[] = {opd(SRC1, CT::NONE), lit(","), num(SRC2), end()};
inline constexpr Part kPushEmpty[] = {num(SRC2), end()};
inline constexpr Part kAget[] = {opd(DST, CT::NONE), lit(","), arr(SRC1), lit("["), opd(SRC2, CT::DINT),
                                 lit("]"), end()};
inline constexpr Part kAput[] = {arr(DST), lit("["), opd(SRC1, CT::DINT), lit("]"), lit(","),
                                 opd(SRC2, CT::NONE), end()};
inline constexpr Part kAcopy[] = {arr(DST), lit(","), arr(SRC1), end()};
inline constexpr Part kAcopyAbs[] = {arr(DST), lit(","), opd(SRC1, CT::DINT), end()};
inline constexpr Part kBinary[] = {opd(DST, CT::NONE), lit(","), opd(SRC1, CT::T1), lit(","),
                                   opd(SRC2, CT::T2), end()};
inline constexpr Part kUnary[] = {opd(DST, CT::NONE), lit(","), opd(SRC1, CT::T1), end()};
inline constexpr Part kCompare[] = {opd(SRC1, CT::T1), lit(","), opd(SRC2, CT::T2), end()};
inline constexpr Part kTest[] = {opd(DST, CT::NONE), end()};
inline constexpr Part kJump[] = {target(SRC1), end()};
inline constexpr Part kIf[] = {opd(SRC1, CT::BOOL), lit(","), target(SRC2), end()};
inline constexpr Part kSetDs[] = {lit("vars["), num(SRC1), lit(":00000]+"), num(SRC2), end()};
inline constexpr Part kPoints[] = {{Piece::DATA_SEG, SRC1, CT::NONE, nullptr}, end()};
inline constexpr Part kCall[] = {{Piece::CALL, SRC1, CT::NONE, nullptr}, end()};
inline constexpr Part kTimerVar[] = {opd(DST, CT::NONE), lit(","), opd(SRC1, CT::NONE), end()};
inline constexpr Part kTimerArray[] = {opd(DST, CT::NONE), lit(","), opd(SRC1, CT::NONE), lit("["),
                                       opd(SRC2, CT::DINT), lit("]"), end()};
inline constexpr Part kTimerOther[] = {lit("?,?"), end()};
inline constexpr Part kOther[] = {lit("?,?,?"), end()};
}  // namespace shape_detail

inline constexpr Shape kShapeBare{shape_detail::kBare, {0, 0, 0}};
inline constexpr Shape kShapeCodeVersion{shape_detail::kCodeVersion, {1, 0, 0}};
inline constexpr Shape kShapeMov{shape_detail::kMov, {1, 1, 2}};
inline constexpr Shape kShapePushConst{shape_detail::kPushConst, {1, 1, 0}};
inline constexpr Shape kShapePushVars{shape_detail::kPushVars, {2, 1, 0}};
inline constexpr Shape kShapePushEmpty{shape_detail::kPushEmpty, {1, 1, 0}};
inline constexpr Shape kShapeAget{shape_detail::kAget, {3, 1, 2}};
inline constexpr Shape kShapeAput{shape_detail::kAput, {1, 1, 3}};
inline constexpr Shape kShapeAcopy{shape_detail::kAcopy, {3, 0, 3}};
inline constexpr Shape kShapeAcopyAbs{shape_detail::kAcopyAbs, {1, 0, 3}};
inline constexpr Shape kShapeBinary{shape_detail::kBinary, {1, 1, 2}};
inline constexpr Shape kShapeUnary{shape_detail::kUnary, {1, 0, 2}};
inline constexpr Shape kShapeCompare{shape_detail::kCompare, {1, 1, 0}};
inline constexpr Shape kShapeTest{shape_detail::kTest, {0, 0, 2}};
inline constexpr Shape kShapeJump{shape_detail::kJump, {1, 0, 0}};
inline constexpr Shape kShapeIf{shape_detail::kIf, {1, 1, 0}};
inline constexpr Shape kShapeSetDs{shape_detail::kSetDs, {1, 1, 0}};
inline constexpr Shape kShapePoints{shape_detail::kPoints, {1, 0, 0}};
inline constexpr Shape kShapeCall{shape_detail::kCall, {1, 1, 0}};
inline constexpr Shape kShapeTimerVar{shape_detail::kTimerVar, {2, 0, 2}};
inline constexpr Shape kShapeTimerArray{shape_detail::kTimerArray, {3, 1, 2}};
inline constexpr Shape kShapeTimerOther{shape_detail::kTimerOther, {0, 0, 0}};
// Codes without a listing shape: the whole code word as a signed number, no mnemonic.
inline constexpr Shape kShapeOther{shape_detail::kOther, {0, 0, 0}};

// The shape of a command of this listing kind; timers depend on SRC1's kind.
constexpr const Shape &shapeOf(Listing listing, uint8_t src1Kind) {
  switch (listing) {
    case Listing::BARE: return kShapeBare;
    case Listing::CODE_VERSION: return kShapeCodeVersion;
    case Listing::MOV: return kShapeMov;
    case Listing::PUSH_CONST: return kShapePushConst;
    case Listing::PUSH_VARS: return kShapePushVars;
    case Listing::PUSH_EMPTY: return kShapePushEmpty;
    case Listing::AGET: return kShapeAget;
    case Listing::APUT: return kShapeAput;
    case Listing::ACOPY: return kShapeAcopy;
    case Listing::ACOPY_ABS: return kShapeAcopyAbs;
    case Listing::BINARY: return kShapeBinary;
    case Listing::UNARY: return kShapeUnary;
    case Listing::COMPARE: return kShapeCompare;
    case Listing::TEST: return kShapeTest;
    case Listing::JUMP: return kShapeJump;
    case Listing::IF: return kShapeIf;
    case Listing::SET_DS: return kShapeSetDs;
    case Listing::POINTS: return kShapePoints;
    case Listing::CALL: return kShapeCall;
    case Listing::TIMER:
      return src1Kind == VM_KIND_VAR ? kShapeTimerVar
             : src1Kind == VM_KIND_ARRAY ? kShapeTimerArray
                                         : kShapeTimerOther;
    case Listing::OTHER: break;
  }
  return kShapeOther;
}

// The listing kind of a code word: that of its low 16 bits; OTHER above 280.
constexpr Listing listingOf(uint32_t codeWord) {
  const CommandInfo *info = commandInfo(codeWord);
  return info ? info->listing : Listing::OTHER;
}

// The value type a constant in this piece is printed with (0 = none).
constexpr int constTypeOf(const Part &part, const VmCommand &command) {
  const CommandInfo *info = commandInfo(command.code);
  switch (part.type) {
    case ConstType::NONE: return 0;
    case ConstType::T1: return info ? info->src1Type : 0;
    case ConstType::T2: return info ? info->src2Type : 0;
    case ConstType::DINT: return VM_TYPE_DINT;
    case ConstType::BOOL: return VM_TYPE_BOOL;
    case ConstType::MOV: return command.src2.v.u16;
  }
  return 0;
}

constexpr const VmCell &slotCell(const VmCommand &command, uint8_t slot) {
  return slot == SRC1 ? command.src1 : slot == SRC2 ? command.src2 : command.dst;
}
constexpr uint8_t slotKind(const VmCommand &command, uint8_t slot) {
  return slot == SRC1 ? command.src1Kind : slot == SRC2 ? command.src2Kind : command.dstKind;
}

// Call classes as the call target text names them.
inline const char *libraryPrefix(uint32_t callClass) {
  switch (callClass) {
    case VM_CALL_STANDARD: return "stdlib";
    case VM_CALL_HOST: return "vellib";
    case VM_CALL_EXTERNAL: return "extlib";
  }
  return nullptr;
}

// Renders a command record in its listing shape. Style supplies the texts
// that differ between a listing and exact assembler source:
//   mnemonic(codeWord, out)             the command's name
//   constant(cell, type, out)           a constant operand of that type
//   varAddress(segment, var, out)       vars[..]
//   arrayAddress(segment, array, out)   arrays[..]
//   codeAddress(address, out)           a code address
template <class Style>
void renderCommand(const VmCommand &command, TextBuffer &out, Style &style) {
  const Shape &shape = shapeOf(listingOf(command.code), command.src1Kind);
  if (&shape == &kShapeOther) {
    out.format("%d ?,?,?", static_cast<int32_t>(command.code));
    return;
  }
  char name[64];
  TextBuffer mnemonic(name, sizeof name);
  style.mnemonic(command.code, mnemonic);
  out.format("%-16s", name);
  if (shape.parts[0].piece == Piece::END) return;
  out.put(' ');
  for (const Part *part = shape.parts; part->piece != Piece::END; ++part) {
    const VmCell &cell = slotCell(command, part->slot);
    switch (part->piece) {
      case Piece::END: break;
      case Piece::LITERAL: out.put(part->text); break;
      case Piece::OPERAND:
        switch (slotKind(command, part->slot)) {
          case VM_KIND_CONST: style.constant(cell, constTypeOf(*part, command), out); break;
          case VM_KIND_VAR: style.varAddress(cell.v.w[0], cell.v.w[1], out); break;
          case VM_KIND_ARRAY: style.arrayAddress(cell.v.w[0], cell.v.w[1], out); break;
          default: out.format("op_type_%d", slotKind(command, part->slot)); break;
        }
        break;
      case Piece::ARRAY: style.arrayAddress(cell.v.w[0], cell.v.w[1], out); break;
      case Piece::NUMBER: out.format("%d", static_cast<int32_t>(cell.v.w[0])); break;
      case Piece::TARGET:
        out.put('@');
        style.codeAddress(cell.v.w[0], out);
        break;
      case Piece::DATA_SEG: out.put(cell.v.w[0] != 0 ? "LDS" : "GDS"); break;
      case Piece::CALL: {
        uint32_t callClass = cell.v.w[1] & 0xFF00u;
        if (const char *prefix = libraryPrefix(callClass)) {
          out.format("@%s.%d", prefix, static_cast<int32_t>(cell.v.w[0]));
        } else if (callClass == VM_CALL_CODE || callClass == VM_CALL_CODE_ALT) {
          out.put('@');
          style.codeAddress(cell.v.w[0], out);
        } else {
          out.format("[%d]", static_cast<int32_t>(cell.v.w[0]));
        }
        break;
      }
    }
  }
}

}  // namespace sicvm::text
