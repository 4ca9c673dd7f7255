// SPDX-License-Identifier: MIT
#include "asm/command_reader.h"

#include <cctype>
#include <optional>

#include "asm/assembler.h"
#include "asm/constants.h"
#include "interp/call_fields.h"
#include "interp/command_table.h"
#include "text/listing.h"

namespace sicvm::assembly {
namespace {

// Throws the quiet error for a use of a name whose declaration failed
// ("plant.level" also when only the segment "plant" failed).
void checkFailed(const Cursor &c, const std::set<std::string> &failed, std::string_view name) {
  std::string whole(name);
  size_t dot = whole.find('.');
  if (failed.count(whole) || (dot != std::string::npos && failed.count(whole.substr(0, dot))))
    throw SyntaxError{c.column(), "", true};
}

using text::Part;
using text::Piece;
using text::Shape;

VmCell &slotCell(VmCommand &c, uint8_t slot) { return slot == 0 ? c.src1 : slot == 1 ? c.src2 : c.dst; }
uint8_t &slotKind(VmCommand &c, uint8_t slot) { return slot == 0 ? c.src1Kind : slot == 1 ? c.src2Kind : c.dstKind; }


// ---- Operands ----------------------------------------------------------------

uint32_t word32(Cursor &c, const std::string &what) {
  return static_cast<uint32_t>(c.integer(what, INT32_MIN, UINT32_MAX));
}

void readVarAddress(Cursor &c, uint32_t &segment, uint32_t &var) {
  segment = static_cast<uint32_t>(c.integer("a segment index", 0, UINT32_MAX));
  c.expect(':', "':' between segment index and var number");
  var = static_cast<uint32_t>(c.integer("a var number", 0, UINT32_MAX));
  c.expect(']', "']'");
}

void readVarAddress(Cursor &c, VmCell &cell) {
  uint32_t segment, var;
  readVarAddress(c, segment, var);
  cell.v.w[0] = segment;
  cell.v.w[1] = var;
}

}  // namespace

// After "arrays[": vars[S:00001]+R]
void readArrayAddress(Cursor &c, uint32_t &segment, uint32_t &relative) {
  c.skipBlanks();
  if (!c.acceptText("vars[")) c.expected("'vars[' (an array address is arrays[vars[S:00001]+N])");
  uint32_t var;
  size_t at = c.pos();
  readVarAddress(c, segment, var);
  if (var != 1) c.fail("an array address counts from var 1 of its segment (vars[S:00001])", at);
  c.expect('+', "'+' and the relative array number");
  relative = static_cast<uint32_t>(c.integer("a relative array number", 0, UINT32_MAX));
  c.expect(']', "']'");
}

namespace {


void setArrayOperand(VmCell &cell, uint32_t segment, uint32_t relative) {
  cell.v.w[0] = segment;
  cell.v.w[1] = relative;
}

// An array by address or by name; returns false when neither starts here.
bool readArray(Cursor &c, const Names &names, VmCell &cell) {
  c.skipBlanks();
  if (c.acceptText("arrays[")) {
    uint32_t s, r;
    readArrayAddress(c, s, r);
    setArrayOperand(cell, s, r);
    return true;
  }
  size_t start = c.pos();
  std::string_view name = c.identifier();
  if (name.empty()) return false;
  auto it = names.arrays.find(std::string(name));
  if (it == names.arrays.end()) {
    checkFailed(c, names.failed, name);
    c.seek(start);
    return false;
  }
  setArrayOperand(cell, 0, it->second - static_cast<uint32_t>(names.baseArray));
  return true;
}

// Reads an operand: vars[S:N], arrays[...], op_type_K, a constant, a bare
// number (when `type` names a type), or a name. `type` is the type a constant
// in this position has: 0 = any typed constant, -1 = as written (mov).
void readOperand(Cursor &c, int type, const Names &names, uint8_t &kind, VmCell &cell, uint32_t &movType,
                 int &varType) {
  c.skipBlanks();
  movType = 0;
  varType = 0;
  auto typeOf = [&](uint32_t segment, uint32_t var) {
    auto it = names.types.find({segment, var});
    return it == names.types.end() ? 0 : it->second;
  };
  size_t start = c.pos();
  cell = VmCell{};
  if (c.acceptText("vars[")) {
    kind = VM_KIND_VAR;
    readVarAddress(c, cell);
    return;  // an address as the listing writes it stands for itself, whatever the var's type
  }
  if (c.acceptText("arrays[")) {
    kind = VM_KIND_ARRAY;
    uint32_t s, r;
    readArrayAddress(c, s, r);
    setArrayOperand(cell, s, r);
    return;
  }
  if (c.acceptText("op_type_")) {
    kind = static_cast<uint8_t>(c.integer("an operand kind", 0, 255));
    return;
  }
  if (atTypedConstant(c)) {
    bool raw = false;
    Constant k = readTypedConstant(c, &raw);
    if (type > 0 && !raw && k.type != type)
      c.fail("expected " + aType(type) + " constant, found '" +
                 std::string(c.text().substr(start, c.pos() - start)) + "'",
             start);
    kind = VM_KIND_CONST;
    cell.type = static_cast<uint8_t>(k.type);
    cell.v = k.value;
    if (type < 0) movType = k.type;
    return;
  }
  if (c.atInteger() || c.peek() == '.') {
    if (type <= 0) c.expected("a typed constant such as DINT#5 (this operand has no type of its own)");
    Constant k = readValue(c, type);
    kind = VM_KIND_CONST;
    cell.type = static_cast<uint8_t>(k.type);
    cell.v = k.value;
    return;
  }
  std::string_view name = c.qualifiedName();
  if (!name.empty()) {
    auto var = names.vars.find(std::string(name));
    if (var != names.vars.end()) {
      kind = VM_KIND_VAR;
      cell.v.w[0] = var->second.segment == 0 ? 0 : 1;
      cell.v.w[1] = var->second.var;
      varType = typeOf(var->second.segment, var->second.var);
      return;
    }
    auto array = names.arrays.find(std::string(name));
    if (array != names.arrays.end()) {
      kind = VM_KIND_ARRAY;
      setArrayOperand(cell, 0, array->second - static_cast<uint32_t>(names.baseArray));
      return;
    }
    checkFailed(c, names.failed, name);
    c.fail("unknown name '" + std::string(name) + "' (not a declared var or array)", start);
  }
  c.expected("an operand (vars[S:N], arrays[...], a constant such as DINT#5, or a name)");
}

uint32_t readTarget(Cursor &c, const Names &names) {
  c.skipBlanks();
  size_t start = c.pos();
  if (c.atInteger()) return static_cast<uint32_t>(c.integer("a code address", 0, UINT32_MAX));
  std::string_view name = c.identifier();
  if (name.empty()) c.expected("a code address or a label");
  auto it = names.labels.find(std::string(name));
  if (it == names.labels.end()) c.fail("unknown label '" + std::string(name) + "'", start);
  return it->second;
}

void readCallTarget(Cursor &c, const Names &names, VmCommand &cmd) {
  c.skipBlanks();
  uint32_t callClass = 0;
  if (c.accept('[')) {
    cmd.src1.v.w[0] = word32(c, "a function number");
    c.expect(']', "']'");
  } else {
    c.expect('@', "a call target (@label, @00012, @stdlib.N, @vellib.N, @extlib.N or [N])");
    static const struct {
      const char *prefix;
      uint32_t callClass;
    } libraries[] = {{"stdlib.", VM_CALL_STANDARD}, {"vellib.", VM_CALL_HOST}, {"extlib.", VM_CALL_EXTERNAL}};
    bool library = false;
    for (const auto &lib : libraries)
      if (c.acceptText(lib.prefix)) {
        cmd.src1.v.w[0] = word32(c, "a function number");
        callClass = lib.callClass;
        library = true;
        break;
      }
    if (!library) {
      cmd.src1.v.w[0] = readTarget(c, names);
      callClass = VM_CALL_CODE;
    }
  }
  cmd.src1.v.w[1] = callClass | 1u;  // call type 1: parameters on the param stack
}

// set_ds vars[S:00000]+K, or set_ds SEGMENT (the segment's number relative to
// the base segment number in var 0 of segment 0).
void readSetDs(Cursor &c, const Names &names, VmCommand &cmd) {
  c.skipBlanks();
  size_t start = c.pos();
  if (c.acceptText("vars[")) {
    cmd.src1.v.w[0] = word32(c, "a segment index");
    c.expect(':', "':'");
    size_t zeros = 0;
    while (c.acceptText("0")) ++zeros;
    if (zeros == 0) c.expected("'00000' (set_ds counts from var 0: vars[S:00000]+K)");
    c.expect(']', "']'");
    c.expect('+', "'+' and the segment offset");
    cmd.src2.v.w[0] = word32(c, "a segment offset");
    return;
  }
  std::string_view name = c.identifier();
  if (name.empty()) c.expected("vars[S:00000]+K or a segment name");
  auto it = names.segments.find(std::string(name));
  if (it == names.segments.end()) {
    checkFailed(c, names.failed, name);
    c.fail("unknown segment '" + std::string(name) + "'", start);
  }
  cmd.src1.v.w[0] = 0;
  cmd.src2.v.w[0] = it->second - static_cast<uint32_t>(names.baseSegment);
}

void readLiteral(Cursor &c, const char *literal) {
  c.skipBlanks();
  for (const char *p = literal; *p; ++p) {
    if (*p == ',' || *p == '[' || *p == ']') {
      c.expect(*p, std::string("'") + *p + "'");
    } else if (!c.acceptText(std::string_view(p, 1))) {
      c.expected(std::string("'") + literal + "'");
    }
  }
}

// Reads the pieces of `shape` into cmd (whose kinds hold the shape's defaults).
void readShape(Cursor &c, const Shape &shape, const Names &names, VmCommand &cmd, uint32_t &movType) {
  int movSource = 0;  // the type of a mov's source: its constant's or its named var's
  for (int k = 0; k < 3; ++k) slotKind(cmd, static_cast<uint8_t>(k)) = shape.defaultKind[k];
  for (const Part *part = shape.parts; part->piece != Piece::END; ++part) {
    VmCell &cell = slotCell(cmd, part->slot);
    switch (part->piece) {
      case Piece::END: break;
      case Piece::LITERAL: readLiteral(c, part->text); break;
      case Piece::OPERAND: {
        const bool mov = part->type == text::ConstType::MOV;
        int type = mov ? -1 : text::constTypeOf(*part, cmd);
        uint32_t written = 0;
        int varType = 0;
        c.skipBlanks();
        size_t start = c.pos();
        readOperand(c, type, names, slotKind(cmd, part->slot), cell, written, varType);
        if (mov) {
          movType = written;  // the record keeps a constant's type only
          movSource = written ? static_cast<int>(written) : varType;
        }
        // A var given by name must have the type the command works on: the
        // command table's operand type, the result type for DST, and for mov
        // the source's. (vars[S:N] is taken as written: an image may hold
        // anything, and disasm must reproduce it.)
        int need = part->slot == text::DST ? (text::listingOf(cmd.code) == Listing::MOV ? movSource : resultTypeOf(cmd.code))
                   : mov                   ? 0
                                           : type;
        if (varType > 0 && need > 0 && varType != need)
          c.fail("'" + std::string(c.text().substr(start, c.pos() - start)) + "' is " + aType(varType) + " var; " +
                     kCommands[cmd.code & 0xFFFFu].mnemonic + " needs " + aType(need) + " here",
                 start);
        break;
      }
      case Piece::ARRAY:
        if (!readArray(c, names, cell)) c.expected("an array (arrays[vars[S:00001]+N] or an array name)");
        break;
      case Piece::NUMBER: cell.v.w[0] = word32(c, "a number"); break;
      case Piece::TARGET:
        c.expect('@', "'@' and a code address or label");
        cell.v.w[0] = readTarget(c, names);
        break;
      case Piece::DATA_SEG: {
        c.skipBlanks();
        if (c.acceptText("GDS")) cell.v.w[0] = 0;
        else if (c.acceptText("LDS")) cell.v.w[0] = 1;
        else c.expected("GDS or LDS");
        break;
      }
      case Piece::CALL: readCallTarget(c, names, cmd); break;
    }
  }
}

const CommandKey *findKey(std::string_view name) {
  for (const CommandKey &key : kCommandKeys)
    if (name == key.name) return &key;
  return nullptr;
}

void readKeys(Cursor &c, const Names &names, VmCommand &cmd, bool isCall) {
  while (!c.atEnd()) {
    size_t start = c.pos();
    std::string_view name = c.qualifiedName();
    if (name.empty()) c.expected("end of line or a field such as nin=2");
    const CommandKey *key = findKey(name);
    if (!key) c.fail("unknown field '" + std::string(name) + "' (see the list of command fields)", start);
    if (key->callOnly && !isCall) c.fail("field '" + std::string(name) + "' belongs to call commands only", start);
    c.expect('=', "'=' after " + std::string(name));
    c.skipBlanks();
    size_t at = c.pos();
    int64_t value;
    std::string_view varName = c.qualifiedName();
    if (!varName.empty()) {
      auto it = names.vars.find(std::string(varName));
      if (it == names.vars.end() || (key->field != Field::FIRST && key->field != Field::NIN && key->field != Field::NOUT))
        c.fail("expected a number for " + std::string(name) + ", found '" + std::string(varName) + "'", at);
      value = it->second.var;
    } else {
      value = c.integer("a number for " + std::string(name), INT32_MIN, UINT32_MAX);
    }
    uint32_t v = static_cast<uint32_t>(value);
    if ((value < 0 && key->max != 0xFFFFFFFFu) || v > key->max)
      c.fail(std::string(name) + " must be 0 to " + std::to_string(key->max) + ", found " + std::to_string(value),
             at);
    if (key->field == Field::CALL_CLASS && (v & 0xFFu) != 0)
      c.fail("a call class is a multiple of 0x100 (0x100, 0x200, 0x400, 0x800, 0x1000, ...)", at);
    setField(cmd, *key, v);
  }
}

}  // namespace

// A whole command line after any address and labels.
VmCommand readCommand(Cursor &c, const Names &names) {
  VmCommand cmd{};
  c.skipBlanks();
  size_t start = c.pos();
  const Shape *shape = nullptr;
  Listing listing = Listing::OTHER;
  uint32_t movType = 0;  // the type of a constant in a mov or push_const
  if (c.accept('#')) {
    cmd.code = static_cast<uint32_t>(c.integer("a command code (0 to 280)", 0, VM_COMMAND_CODES - 1));
    listing = text::listingOf(cmd.code);
  } else if (c.atInteger()) {
    cmd.code = word32(c, "a code word");
    readLiteral(c, "?,?,?");
    readKeys(c, names, cmd, false);
    return cmd;
  } else {
    std::string_view mnemonic = c.identifier();
    if (mnemonic.empty()) c.expected("a command mnemonic");
    if (mnemonic == "end") {
      cmd.code = 0x80000000u;
      readKeys(c, names, cmd, false);
      return cmd;
    }
    int code = codeOf(mnemonic);
    if (code < 0) c.fail("unknown command '" + std::string(mnemonic) + "'", start);
    cmd.code = static_cast<uint32_t>(code);
    listing = kCommands[code].listing;
  }
  if (listing == Listing::TIMER) {
    // The operand text tells which timer shape it is: a var, an array
    // element, or ?,? for any other SRC1 kind.
    static const Shape *const alternatives[] = {&text::kShapeTimerVar, &text::kShapeTimerArray,
                                                &text::kShapeTimerOther};
    size_t at = c.pos();
    std::optional<SyntaxError> firstError;
    for (const Shape *alternative : alternatives) {
      c.seek(at);
      VmCommand attempt = cmd;
      try {
        readShape(c, *alternative, names, attempt, movType);
        if (&text::shapeOf(listing, attempt.src1Kind) != alternative) continue;
        size_t keysAt = c.pos();
        if (!c.atEnd() && !std::isalpha(static_cast<unsigned char>(c.peek()))) {
          c.seek(keysAt);
          continue;
        }
        c.seek(keysAt);
        cmd = attempt;
        shape = alternative;
        break;
      } catch (const SyntaxError &e) {
        if (!firstError || e.column > firstError->column) firstError = e;
      }
    }
    if (!shape) {
      c.seek(at);
      if (firstError) throw *firstError;
      c.expected("a timer: DST,vars[..] or DST,arrays[..][INDEX] or ?,?");
    }
  } else {
    shape = &text::shapeOf(listing, 0);
    if (shape == &text::kShapeOther) {
      readLiteral(c, "?,?,?");
    } else if (listing == Listing::SET_DS) {
      for (int k = 0; k < 3; ++k) slotKind(cmd, static_cast<uint8_t>(k)) = shape->defaultKind[k];
      readSetDs(c, names, cmd);
    } else {
      readShape(c, *shape, names, cmd, movType);
    }
  }
  if (listing == Listing::MOV || listing == Listing::PUSH_CONST)
    cmd.src2.v.w[0] = movType;
  readKeys(c, names, cmd, listing == Listing::CALL);
  return cmd;
}

uint32_t getField(const VmCommand &command, const CommandKey &key) {
  VmCommand &c = const_cast<VmCommand &>(command);
  switch (key.field) {
    case Field::CODE: return c.code;
    case Field::RESERVED: return c.reserved;
    case Field::KIND: return slotKind(c, key.slot);
    case Field::HEAD: {
      uint32_t head;
      std::memcpy(&head, &slotCell(c, key.slot), 4);
      return head;
    }
    case Field::WORD1: return slotCell(c, key.slot).v.w[0];
    case Field::WORD2: return slotCell(c, key.slot).v.w[1];
    case Field::CALL_TYPE: return call_fields::callType(c);
    case Field::CALL_CLASS: return call_fields::callClass(c);
    case Field::FIRST: return call_fields::first(c);
    case Field::NIN: return call_fields::inputs(c);
    case Field::NOUT: return call_fields::outputs(c);
  }
  return 0;
}

void setField(VmCommand &c, const CommandKey &key, uint32_t value) {
  switch (key.field) {
    case Field::CODE: c.code = value; break;
    case Field::RESERVED: c.reserved = static_cast<uint8_t>(value); break;
    case Field::KIND: slotKind(c, key.slot) = static_cast<uint8_t>(value); break;
    case Field::HEAD: std::memcpy(&slotCell(c, key.slot), &value, 4); break;
    case Field::WORD1: slotCell(c, key.slot).v.w[0] = value; break;
    case Field::WORD2: slotCell(c, key.slot).v.w[1] = value; break;
    case Field::CALL_TYPE: call_fields::setCallType(c, value); break;
    case Field::CALL_CLASS: call_fields::setCallClass(c, value); break;
    case Field::FIRST: call_fields::setFirst(c, static_cast<uint8_t>(value)); break;
    case Field::NIN: call_fields::setInputs(c, static_cast<uint8_t>(value)); break;
    case Field::NOUT: call_fields::setOutputs(c, static_cast<uint8_t>(value)); break;
  }
}

// The type a command writes into its DST: the target of a conversion
// (dint_to_lreal: LREAL), BOOL for the test commands, the operand type of
// the arithmetic, bit and logic commands (TIME for sub_dt); 0 when the
// command table does not fix it.
int resultTypeOf(uint32_t codeWord) {
  const CommandInfo *info = commandInfo(codeWord);
  if (info == nullptr || info->mnemonic[0] == '\0') return 0;
  std::string_view name = info->mnemonic;
  for (std::string_view marker : {"_to_", "_trunc_"})
    if (size_t at = name.find(marker); at != std::string_view::npos) {
      std::string target(name.substr(at + marker.size()));
      for (char &ch : target) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      return typeCode(target);
    }
  if (info->listing == Listing::TEST) return VM_TYPE_BOOL;
  if (name == "sub_dt") return VM_TYPE_TIME;
  if (info->listing == Listing::BINARY || info->listing == Listing::UNARY) return info->src1Type;
  return 0;
}

}  // namespace sicvm::assembly
