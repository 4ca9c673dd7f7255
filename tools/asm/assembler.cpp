#include "asm/assembler.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <optional>
#include <stdexcept>

#include "asm/constants.h"
#include "asm/cursor.h"
#include "builder/image_builder.h"
#include "interp/call_fields.h"
#include "interp/command_table.h"
#include "text/listing.h"

namespace sicvm::assembly {

std::string Diagnostic::text() const {
  std::string where = file;
  if (line > 0) where += ":" + std::to_string(line);
  if (line > 0 && column > 0) where += ":" + std::to_string(column);
  return where + (warning ? ": warning: " : ": error: ") + message;
}

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

// What command lines may refer to by name. Empty for lines that use numbers only.
struct Names {
  struct VarRef {
    uint32_t segment;  // data segment number
    uint32_t var;
  };
  std::map<std::string, uint32_t> segments;           // name -> segment number
  std::map<std::string, VarRef> vars;                 // "name" (segment 0) and "segment.name"
  std::map<std::string, uint32_t> arrays;             // name -> absolute array number
  std::map<std::string, uint32_t> labels;             // name -> code address
  std::map<std::pair<uint32_t, uint32_t>, int> types; // (segment number, var) -> value type, for typed vars
  // Names whose declarations failed: their uses are not errors of their own.
  std::set<std::string> failed;
  int32_t baseSegment = 0;  // var 0 of segment 0: base of set_ds offsets
  int32_t baseArray = 0;    // var 1 of segment 0: base of global array operands
};

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

// ---- The assembler ---------------------------------------------------------------

struct BlockEntry {
  const char *name;
  build::Block block;
};
const BlockEntry kBlocks[] = {
    {"machine", build::Block::Machine},       {"state", build::Block::State},
    {"callstack", build::Block::CallStack},   {"paramstack", build::Block::ParamStack},
    {"code", build::Block::Code},             {"segtable", build::Block::SegmentTable},
    {"segments", build::Block::Segments},     {"segvars", build::Block::SegmentVars},
    {"arrays", build::Block::Arrays},         {"arrayvars", build::Block::ArrayVars},
    {"replication", build::Block::Replication},
};

class Assembler {
 public:
  Assembler(std::string_view source, std::string file) : source_(source), file_(std::move(file)) {}

  Assembly run();

 private:
  struct VarDecl {
    build::Var var;
    // An array reference whose array is named: resolved after all declarations.
    std::string refName;
    size_t refLine = 0, refColumn = 0;
    std::string name;  // the var's own name, "" without
  };
  struct SegmentDecl {
    std::string name;
    std::vector<VarDecl> vars;
  };
  struct CommandLine {
    size_t line;
    std::string text;
    size_t start;
  };
  struct Patch {
    uint32_t offset;
    std::vector<uint8_t> bytes;
    size_t line;
  };

  void error(size_t line, size_t column, const std::string &message) {
    if (errors_.size() < kMaxErrors) errors_.push_back({file_, line, column, message});
  }
  void firstPass(size_t lineNo, const std::string &line);
  void directive(Cursor &c, size_t lineNo);
  void declareVar(Cursor &c, size_t lineNo);
  void declareSegment(Cursor &c);
  void declareArray(Cursor &c);
  void arrayData(Cursor &c, build::Array &array, const std::string &name);
  void defineName(Cursor &c, size_t at, const std::string &name, bool global);
  Assembly finish();
  symbols::SymbolTable symbolTable(const std::vector<uint8_t> &image) const;
  // The last command, when a run can fall through it past the end of the code.
  static std::optional<uint32_t> runsOffTheEnd(const std::vector<VmCommand> &code);

  std::string_view source_;
  std::string file_;
  std::vector<Diagnostic> errors_;

  std::string programName_ = "PROGRAM";
  int32_t programNumber_ = 0;
  bool haveProgram_ = false;
  uint32_t callStack_ = 16, paramStack_ = 64, replication_ = 0;
  int32_t commandLimit_ = 100000;
  std::vector<SegmentDecl> segments_;
  std::vector<build::Array> arrays_;
  std::vector<std::string> arrayNames_;
  Names names_;
  std::vector<CommandLine> commands_;
  std::vector<std::pair<build::Block, uint32_t>> placements_;
  std::optional<uint32_t> gap_, size_;
  std::vector<Patch> patches_;
  size_t sizeLine_ = 0;
  // The last .segment or .array failed: what continues it is not reported again.
  bool segmentFailed_ = false, arrayFailed_ = false;
};

// The name a declaration line starts with (after the directive), or "" when
// it starts with a type or a keyword.
std::string declaredName(const Cursor &line) {
  Cursor c(line.text(), line.pos());
  c.skipBlanks();
  std::string_view word = c.identifier();
  if (word == "raw" || word == "base" || word == "arrays" || word == "ref" || typeCode(word) >= 0) return {};
  return std::string(word);
}

// The line without its comment (from a ';' outside double quotes).
std::string withoutComment(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) return std::string(line.substr(0, i));
  }
  return std::string(line);
}

bool isTypeWord(std::string_view word) { return typeCode(word) >= 0 || word == "ref"; }

void Assembler::defineName(Cursor &c, size_t at, const std::string &name, bool global) {
  if (global && (names_.vars.count(name) || names_.arrays.count(name)))
    c.fail("name '" + name + "' is already declared", at);
}

Assembly Assembler::run() {
  size_t lineNo = 0, begin = 0;
  while (begin <= source_.size()) {
    size_t end = source_.find('\n', begin);
    if (end == std::string_view::npos) end = source_.size();
    ++lineNo;
    std::string line = withoutComment(source_.substr(begin, end - begin));
    try {
      firstPass(lineNo, line);
    } catch (const SyntaxError &e) {
      if (!e.consequence) error(lineNo, e.column, e.message);
    }
    if (end == source_.size()) break;
    begin = end + 1;
  }
  return finish();
}

void Assembler::firstPass(size_t lineNo, const std::string &line) {
  Cursor c(line);
  if (c.atEnd()) return;
  if (c.peek() == '.') {
    c.seek(c.pos() + 1);
    directive(c, lineNo);
    return;
  }
  // A listing line starts with the command's address: skip it (the assembler
  // counts addresses itself). "5 ?,?,?" is a command without a mnemonic.
  if (std::isdigit(static_cast<unsigned char>(c.peek()))) {
    size_t at = c.pos();
    while (std::isdigit(static_cast<unsigned char>(c.peek()))) c.seek(c.pos() + 1);
    size_t after = c.pos();
    bool blank = c.peek() == ' ' || c.peek() == '\t';
    c.skipBlanks();
    if (!blank || c.rest().substr(0, 5) == "?,?,?" || c.atEnd()) c.seek(at);
    else c.seek(after);
  }
  // Labels.
  for (;;) {
    c.skipBlanks();
    size_t at = c.pos();
    std::string_view name = c.identifier();
    if (name.empty() || c.peek() != ':') {
      c.seek(at);
      break;
    }
    c.seek(c.pos() + 1);
    if (!names_.labels.emplace(std::string(name), static_cast<uint32_t>(commands_.size())).second)
      c.fail("label '" + std::string(name) + "' is already defined", at);
  }
  if (c.atEnd()) return;
  commands_.push_back({lineNo, line, c.pos()});
}

void Assembler::directive(Cursor &c, size_t lineNo) {
  size_t at = c.pos();
  std::string name(c.identifier());
  auto endOfLine = [&] {
    if (!c.atEnd()) c.expected("end of line");
  };
  if (name == "program") {
    if (haveProgram_) c.fail(".program is given twice", at);
    haveProgram_ = true;
    size_t wordAt = c.pos();
    programName_ = c.word("a program name");
    if (programName_.size() >= VM_PROGRAM_NAME_SIZE)
      c.fail("a program name has at most " + std::to_string(VM_PROGRAM_NAME_SIZE - 1) + " bytes", wordAt);
    programNumber_ = static_cast<int32_t>(c.integer("a program number", INT32_MIN, INT32_MAX));
  } else if (name == "stacks") {
    callStack_ = static_cast<uint32_t>(c.integer("the call stack size (entries)", 1, 0x1FFFFFFF));
    paramStack_ = static_cast<uint32_t>(c.integer("the param stack size (entries)", 1, 0x15555555));
  } else if (name == "command_limit") {
    commandLimit_ = static_cast<int32_t>(c.integer("a command limit", INT32_MIN, INT32_MAX));
  } else if (name == "replication") {
    replication_ = static_cast<uint32_t>(c.integer("the replication block size in bytes", 0, UINT32_MAX));
  } else if (name == "segment") {
    std::string declared = declaredName(c);
    segmentFailed_ = true;
    try {
      declareSegment(c);
    } catch (const SyntaxError &) {
      names_.failed.insert(declared);
      throw;
    }
    segmentFailed_ = false;
  } else if (name == "var") {
    std::string declared = declaredName(c);
    std::string segment = segments_.empty() ? std::string() : segments_.back().name;
    auto failed = [&] {
      names_.failed.insert(declared);
      if (!segment.empty()) names_.failed.insert(segment + "." + declared);
    };
    if (segmentFailed_) {  // its segment was reported
      failed();
      throw SyntaxError{c.column(), "", true};
    }
    if (segments_.empty()) c.fail(".var needs a .segment before it", at - 1);
    try {
      declareVar(c, lineNo);
    } catch (const SyntaxError &) {
      failed();
      throw;
    }
  } else if (name == "array") {
    std::string declared = declaredName(c);
    arrayFailed_ = true;
    try {
      declareArray(c);
    } catch (const SyntaxError &) {
      names_.failed.insert(declared);
      throw;
    }
    arrayFailed_ = false;
  } else if (name == "data") {
    if (arrayFailed_) throw SyntaxError{c.column(), "", true};  // its array was reported
    if (arrays_.empty()) c.fail(".data continues an .array: declare the array first", at);
    arrayData(c, arrays_.back(), arrayNames_.back());
  } else if (name == "place") {
    c.skipBlanks();
    size_t blockAt = c.pos();
    std::string_view block = c.identifier();
    const BlockEntry *entry = nullptr;
    for (const BlockEntry &b : kBlocks)
      if (block == b.name) entry = &b;
    if (!entry)
      c.fail("expected a block name (machine, state, callstack, paramstack, code, segtable, segments, segvars, "
             "arrays, arrayvars, replication), found '" + std::string(block) + "'",
             blockAt);
    placements_.emplace_back(entry->block, static_cast<uint32_t>(c.integer("an offset", 0, UINT32_MAX)));
  } else if (name == "gap") {
    gap_ = static_cast<uint32_t>(c.integer("a gap in bytes", 0, UINT32_MAX));
  } else if (name == "size") {
    size_ = static_cast<uint32_t>(c.integer("an image size in bytes", 336, UINT32_MAX));
    sizeLine_ = lineNo;
  } else if (name == "patch") {
    Patch patch;
    patch.line = lineNo;
    patch.offset = static_cast<uint32_t>(c.integer("an image offset", 0, UINT32_MAX));
    c.skipBlanks();
    while (!c.atEnd()) {
      char h = c.peek(), l = c.peek(1);
      if (!std::isxdigit(static_cast<unsigned char>(h)) || !std::isxdigit(static_cast<unsigned char>(l)))
        c.expected("bytes as pairs of hexadecimal digits");
      auto nibble = [](char x) { return std::isdigit(static_cast<unsigned char>(x)) ? x - '0' : std::tolower(x) - 'a' + 10; };
      patch.bytes.push_back(static_cast<uint8_t>(nibble(h) * 16 + nibble(l)));
      c.seek(c.pos() + 2);
      c.skipBlanks();
    }
    if (patch.bytes.empty()) c.expected("bytes as pairs of hexadecimal digits");
    patches_.push_back(std::move(patch));
  } else {
    c.fail("unknown directive '." + name +
               "' (.program, .stacks, .command_limit, .replication, .segment, .var, .array, .data, .place, .gap, "
               ".size, .patch)",
           at > 0 ? at - 1 : 0);
  }
  endOfLine();
}

void Assembler::declareSegment(Cursor &c) {
  SegmentDecl segment;
  c.skipBlanks();
  size_t nameAt = c.pos();
  std::string_view word = c.identifier();
  bool raw = false;
  int32_t base = 0, arrays = 0;
  auto key = [&](std::string_view w) {
    if (w == "raw") {
      raw = true;
    } else if (w == "base" || w == "arrays") {
      c.expect('=', "'=' after " + std::string(w));
      int32_t v = static_cast<int32_t>(c.integer("a number", INT32_MIN, UINT32_MAX));
      (w == "base" ? base : arrays) = v;
    } else {
      return false;
    }
    return true;
  };
  if (!word.empty() && !key(word)) {
    segment.name = word;
    if (names_.segments.count(segment.name)) c.fail("segment '" + segment.name + "' is already declared", nameAt);
  }
  while (!c.atEnd()) {
    size_t keyAt = c.pos();
    std::string_view w = c.identifier();
    if (w.empty() || !key(w)) {
      c.seek(keyAt);
      c.expected("base=N, arrays=N or raw");
    }
  }
  if (raw && (base != 0 || arrays != 0)) c.fail("a raw segment has no base vars: drop base= and arrays=", nameAt);
  if (!raw) {
    segment.vars.push_back({build::Var(build::Value::dint(base)), {}, 0, 0, {}});
    segment.vars.push_back({build::Var(build::Value::dint(arrays)), {}, 0, 0, {}});
  }
  if (!segment.name.empty()) names_.segments[segment.name] = static_cast<uint32_t>(segments_.size());
  if (segments_.empty() && segment.vars.size() >= 2) {
    names_.baseSegment = base;
    names_.baseArray = arrays;
  }
  segments_.push_back(std::move(segment));
}

void Assembler::declareVar(Cursor &c, size_t lineNo) {
  SegmentDecl &segment = segments_.back();
  uint32_t segmentNo = static_cast<uint32_t>(segments_.size() - 1);
  VarDecl decl;
  c.skipBlanks();
  size_t nameAt = c.pos();
  std::string_view word = c.identifier();
  std::string name;
  if (word.empty()) c.expected("a var name or a type");
  if (!isTypeWord(word)) {
    name = word;
    c.skipBlanks();
    size_t typeAt = c.pos();
    word = c.identifier();
    if (!isTypeWord(word)) {
      c.seek(typeAt);
      c.expected("a type (BOOL, DINT, LREAL, INT, REAL, TIME, DT or TYPEn) or ref");
    }
  }
  build::Var &var = decl.var;
  int type;
  uint32_t varNo = static_cast<uint32_t>(segment.vars.size());
  if (word == "ref") {
    type = VM_TYPE_DINT;
    var.typeClass = VM_CLASS_ARRAY_REF;
    c.skipBlanks();
    size_t refAt = c.pos();
    if (c.acceptText("arrays[")) {
      uint32_t s, r;
      readArrayAddress(c, s, r);
      var.init = build::Value::raw(VM_TYPE_DINT, s, r);
    } else {
      std::string_view array = c.identifier();
      if (array.empty()) c.expected("an array (arrays[vars[S:00001]+N] or an array name)");
      decl.refName = array;
      decl.refLine = lineNo;
      decl.refColumn = refAt + 1;
      var.init = build::Value::raw(VM_TYPE_DINT, 0, 0);
    }
  } else {
    type = typeCode(word);
    var.init = build::Value::raw(static_cast<uint8_t>(type), 0, 0);
    if (c.accept('=')) {
      Constant value = readValue(c, type);
      var.init.type = static_cast<uint8_t>(value.type);
      var.init.v = value.value;
    }
  }
  var.recordType = static_cast<uint16_t>(type);
  int cellType = var.init.type;
  while (!c.atEnd()) {
    size_t keyAt = c.pos();
    std::string_view key = c.identifier();
    if (key == "load") { var.load = true; continue; }
    if (key == "save") { var.save = true; continue; }
    if (key.empty() || !c.accept('=')) {
      c.seek(keyAt);
      c.expected("a var field (= VALUE, class=, load, save, point=, field=, index=, flags=, celltype=, rtype=)");
    }
    if (key == "field") {
      c.skipBlanks();
      if (c.acceptText("value")) var.pointField = 44;
      else if (c.acceptText("status")) var.pointField = 43;
      else var.pointField = static_cast<int8_t>(c.integer("a point field number", -128, 127));
    } else if (key == "class") {
      var.typeClass = static_cast<uint8_t>(c.integer("a type class (0 to 15)", 0, 15));
    } else if (key == "point") {
      var.pointId = static_cast<int32_t>(c.integer("a point ID", INT32_MIN, INT32_MAX));
    } else if (key == "index") {
      var.pointIndex = static_cast<int32_t>(c.integer("a point index", INT32_MIN, INT32_MAX));
    } else if (key == "flags") {
      var.cellFlags = static_cast<uint8_t>(c.integer("cell flags (0 to 255)", 0, 255));
    } else if (key == "celltype") {
      cellType = static_cast<int>(c.integer("a cell type byte (0 to 255)", 0, 255));
    } else if (key == "rtype") {
      var.recordType = static_cast<uint16_t>(c.integer("a record type (0 to 65535)", 0, 65535));
    } else {
      c.fail("unknown var field '" + std::string(key) + "'", keyAt);
    }
  }
  var.init.type = static_cast<uint8_t>(cellType);
  decl.name = name;
  if (int recordType = var.recordType ? *var.recordType : var.init.type;
      (var.typeClass & VM_CLASS_MASK) != VM_CLASS_ARRAY_REF && recordType >= VM_TYPE_BOOL && recordType <= VM_TYPE_DT)
    names_.types[{segmentNo, varNo}] = recordType;
  if (!name.empty()) {
    if (segmentNo == 0) defineName(c, nameAt, name, true);
    std::string qualified = segment.name.empty() ? std::string() : segment.name + "." + name;
    if (!qualified.empty() && names_.vars.count(qualified))
      c.fail("var '" + name + "' is already declared in segment " + segment.name, nameAt);
    if (segmentNo == 0) names_.vars[name] = {segmentNo, varNo};
    if (!qualified.empty()) names_.vars[qualified] = {segmentNo, varNo};
  }
  segment.vars.push_back(std::move(decl));
}

void Assembler::arrayData(Cursor &c, build::Array &array, const std::string &name) {
  uint64_t cells = uint64_t(array.elementCount) * array.elementSize;
  do {
    c.skipBlanks();
    size_t at = c.pos();
    Constant value = readValue(c, static_cast<int>(array.type));
    if (array.init.size() >= cells)
      c.fail("array " + (name.empty() ? std::to_string(arrays_.size() - 1) : name) + " has " +
                 std::to_string(cells) + " cells: too many values",
             at);
    build::Value v;
    v.type = static_cast<uint8_t>(value.type);
    v.v = value.value;
    array.init.push_back(v);
  } while (c.accept(','));
}

void Assembler::declareArray(Cursor &c) {
  c.skipBlanks();
  size_t nameAt = c.pos();
  std::string_view word = c.identifier();
  std::string name;
  if (!word.empty() && !isTypeWord(word)) {
    name = word;
    defineName(c, nameAt, name, true);
    c.skipBlanks();
    size_t typeAt = c.pos();
    word = c.identifier();
    if (word.empty() || typeCode(word) < 0) c.seek(typeAt);
  }
  if (word.empty() || typeCode(word) < 0) c.expected("an element type (BOOL, DINT, LREAL, INT, REAL, TIME, DT or TYPEn)");
  build::Array array;
  array.type = static_cast<uint32_t>(typeCode(word));
  c.expect('[', "'[' and the element count");
  array.elementCount = static_cast<uint32_t>(c.integer("an element count", 1, UINT32_MAX));
  c.expect(']', "']'");
  while (!c.atEnd() && c.peek() != '=') {
    size_t keyAt = c.pos();
    std::string_view key = c.identifier();
    if (key.empty() || !c.accept('=')) {
      c.seek(keyAt);
      c.expected("size=, dims=, flags= or '=' and the initial values");
    }
    if (key == "size") array.elementSize = static_cast<uint32_t>(c.integer("an element size", 1, UINT32_MAX));
    else if (key == "dims") array.dimensions = static_cast<uint32_t>(c.integer("a dimension count (1 to 3)", 1, 3));
    else if (key == "flags") array.cellFlags = static_cast<uint8_t>(c.integer("cell flags (0 to 255)", 0, 255));
    else c.fail("unknown array field '" + std::string(key) + "'", keyAt);
  }
  if (uint64_t(array.elementCount) * array.elementSize > 0x15555555u)
    c.fail("array too large for an image", nameAt);
  arrays_.push_back(array);
  arrayNames_.push_back(name);
  if (!name.empty()) names_.arrays[name] = static_cast<uint32_t>(arrays_.size() - 1);
  if (c.accept('=')) arrayData(c, arrays_.back(), name);
}

Assembly Assembler::finish() {
  // Array references by name.
  for (SegmentDecl &segment : segments_)
    for (VarDecl &decl : segment.vars) {
      if (decl.refName.empty()) continue;
      auto it = names_.arrays.find(decl.refName);
      if (it == names_.arrays.end())
        error(decl.refLine, decl.refColumn, "unknown array '" + decl.refName + "'");
      else
        decl.var.init.v.w[1] = it->second - static_cast<uint32_t>(names_.baseArray);
    }
  // Commands, now that every label and name is known.
  std::vector<VmCommand> records;
  for (const CommandLine &line : commands_) {
    Cursor c(line.text, line.start);
    try {
      records.push_back(readCommand(c, names_));
    } catch (const SyntaxError &e) {
      if (!e.consequence) error(line.line, e.column, e.message);
    }
  }
  if (segments_.empty()) error(0, 0, "no data segment: a program needs at least one .segment");
  for (size_t k = 0; k < segments_.size(); ++k)
    if (segments_[k].vars.empty())
      error(0, 0, "data segment " + std::to_string(k) + " has no vars (a raw segment needs at least one .var)");
  if (commands_.empty()) error(0, 0, "no commands: a program needs at least one command");
  // Declarations were read before commands: report in line order, the
  // errors about the file as a whole last.
  std::stable_sort(errors_.begin(), errors_.end(), [](const Diagnostic &a, const Diagnostic &b) {
    return (a.line == 0 ? SIZE_MAX : a.line) < (b.line == 0 ? SIZE_MAX : b.line);
  });
  Assembly result;
  if (!errors_.empty()) {
    result.errors = errors_;
    return result;
  }

  build::ImageBuilder b;
  b.name(programName_).number(programNumber_).callStack(callStack_).paramStack(paramStack_);
  b.replication(replication_).commandLimit(commandLimit_);
  for (const SegmentDecl &segment : segments_) {
    std::vector<build::Var> vars;
    for (const VarDecl &decl : segment.vars) vars.push_back(decl.var);
    b.rawSegment(vars);
  }
  for (const build::Array &array : arrays_) b.array(array);
  for (const VmCommand &r : records) {
    build::Command cmd;
    cmd.code = r.code;
    cmd.src1 = {r.src1Kind, r.src1};
    cmd.src2 = {r.src2Kind, r.src2};
    cmd.dst = {r.dstKind, r.dst};
    cmd.reserved = r.reserved;
    b.command(cmd);
  }
  for (const auto &[block, offset] : placements_) b.place(block, offset);
  if (gap_) b.gap(*gap_);
  try {
    if (size_) {
      uint32_t natural = b.layout().size;
      if (*size_ < natural) {
        error(sizeLine_, 0, ".size " + std::to_string(*size_) + " is smaller than the blocks need (" +
                                std::to_string(natural) + " bytes)");
        result.errors = errors_;
        return result;
      }
      b.tail(*size_ - natural);
    }
    result.image = b.build();
  } catch (const std::exception &e) {
    error(0, 0, std::string("cannot lay out the image: ") + e.what());
    result.errors = errors_;
    return result;
  }
  for (const Patch &patch : patches_) {
    if (uint64_t(patch.offset) + patch.bytes.size() > result.image.size()) {
      error(patch.line, 0, ".patch at " + std::to_string(patch.offset) + " runs past the image end (" +
                               std::to_string(result.image.size()) + " bytes)");
      continue;
    }
    std::memcpy(result.image.data() + patch.offset, patch.bytes.data(), patch.bytes.size());
  }
  if (!errors_.empty()) {
    result.image.clear();
    result.errors = errors_;
    return result;
  }
  result.symbols = symbolTable(result.image);
  if (std::optional<uint32_t> last = runsOffTheEnd(records))
    result.warnings.push_back({file_, commands_[*last].line, 0,
                               "the program can run off its end after this command (it is reached and does not "
                               "jump, return or end); end the program with ret or end",
                               true});
  return result;
}

std::optional<uint32_t> Assembler::runsOffTheEnd(const std::vector<VmCommand> &code) {
  // Follows every path from command 0: a command is left by falling through
  // to the next one, except ret, jmp and the end marker; jumps, if_eq/if_ne
  // and calls into the code also go to their targets.
  const uint32_t count = static_cast<uint32_t>(code.size());
  std::vector<bool> seen(count, false);
  std::vector<uint32_t> pending{0};
  while (!pending.empty()) {
    uint32_t at = pending.back();
    pending.pop_back();
    if (at >= count || seen[at]) continue;
    seen[at] = true;
    const VmCommand &command = code[at];
    if (static_cast<int32_t>(command.code) < 0) continue;  // end marker
    const CommandInfo *info = commandInfo(command.code);
    const std::string_view mnemonic = info ? info->mnemonic : "";
    const Listing listing = info ? info->listing : Listing::OTHER;
    if (listing == Listing::JUMP || listing == Listing::IF)
      pending.push_back(listing == Listing::JUMP ? command.src1.v.w[0] : command.src2.v.w[0]);
    if (listing == Listing::CALL) {
      uint32_t callClass = command.src1.v.w[1] & 0xFF00u;
      if (callClass == VM_CALL_CODE || callClass == VM_CALL_CODE_ALT) pending.push_back(command.src1.v.w[0]);
    }
    if (mnemonic == "ret" || mnemonic == "jmp") continue;
    if (at + 1 == count) return at;
    pending.push_back(at + 1);
  }
  return std::nullopt;
}

symbols::SymbolTable Assembler::symbolTable(const std::vector<uint8_t> &image) const {
  symbols::SymbolTable table;
  table.imageSize = static_cast<uint32_t>(image.size());
  table.imageHash = symbols::imageHash(image.data(), image.size());
  for (uint32_t k = 0; k < segments_.size(); ++k) {
    if (!segments_[k].name.empty()) table.segments[k] = segments_[k].name;
    for (uint32_t n = 0; n < segments_[k].vars.size(); ++n)
      if (!segments_[k].vars[n].name.empty()) table.vars[{k, n}] = segments_[k].vars[n].name;
  }
  for (uint32_t j = 0; j < arrayNames_.size(); ++j)
    if (!arrayNames_[j].empty()) table.arrays[j] = arrayNames_[j];
  for (const auto &[name, address] : names_.labels) table.labels.emplace(address, name);
  return table;
}

}  // namespace

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

Assembly assemble(std::string_view source, const std::string &file) { return Assembler(source, file).run(); }

bool assembleCommand(std::string_view line, VmCommand &command, std::string &error) {
  static const Names none;
  std::string text = withoutComment(line);
  Cursor c(text);
  try {
    command = readCommand(c, none);
    return true;
  } catch (const SyntaxError &e) {
    error = "column " + std::to_string(e.column) + ": " + e.message;
    return false;
  }
}

}  // namespace sicvm::assembly
