// SPDX-License-Identifier: MIT
#include "asm/assembler.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <optional>
#include <stdexcept>

#include "asm/command_reader.h"
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
  // One handler per directive (after its name; `at` is where the name starts).
  struct DirectiveEntry {
    const char *name;
    void (Assembler::*handle)(Cursor &c, size_t lineNo, size_t at);
  };
  static const DirectiveEntry kDirectives[];
  void directiveProgram(Cursor &c, size_t lineNo, size_t at);
  void directiveStacks(Cursor &c, size_t lineNo, size_t at);
  void directiveCommandLimit(Cursor &c, size_t lineNo, size_t at);
  void directiveReplication(Cursor &c, size_t lineNo, size_t at);
  void directiveSegment(Cursor &c, size_t lineNo, size_t at);
  void directiveVar(Cursor &c, size_t lineNo, size_t at);
  void directiveArray(Cursor &c, size_t lineNo, size_t at);
  void directiveData(Cursor &c, size_t lineNo, size_t at);
  void directivePlace(Cursor &c, size_t lineNo, size_t at);
  void directiveGap(Cursor &c, size_t lineNo, size_t at);
  void directiveSize(Cursor &c, size_t lineNo, size_t at);
  void directivePatch(Cursor &c, size_t lineNo, size_t at);
  void declareVar(Cursor &c, size_t lineNo);
  void declareSegment(Cursor &c);
  // Runs a declaration. When it fails, its names are remembered (their uses
  // are not reported again) and *failedFlag, when given, stays set for the
  // lines that continue it.
  template <class Declare>
  void declaring(const std::vector<std::string> &names, bool *failedFlag, Declare declare) {
    if (failedFlag) *failedFlag = true;
    try {
      declare();
    } catch (const SyntaxError &) {
      for (const std::string &name : names) names_.failed.insert(name);
      throw;
    }
    if (failedFlag) *failedFlag = false;
  }
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

// The directives, in the order the README lists them.
const Assembler::DirectiveEntry Assembler::kDirectives[] = {
    {"program", &Assembler::directiveProgram},
    {"stacks", &Assembler::directiveStacks},
    {"command_limit", &Assembler::directiveCommandLimit},
    {"replication", &Assembler::directiveReplication},
    {"segment", &Assembler::directiveSegment},
    {"var", &Assembler::directiveVar},
    {"array", &Assembler::directiveArray},
    {"data", &Assembler::directiveData},
    {"place", &Assembler::directivePlace},
    {"gap", &Assembler::directiveGap},
    {"size", &Assembler::directiveSize},
    {"patch", &Assembler::directivePatch},
};

void Assembler::directive(Cursor &c, size_t lineNo) {
  size_t at = c.pos();
  std::string name(c.identifier());
  const DirectiveEntry *entry = nullptr;
  for (const DirectiveEntry &d : kDirectives)
    if (name == d.name) entry = &d;
  if (!entry) {
    std::string known;
    for (const DirectiveEntry &d : kDirectives) known += std::string(known.empty() ? "" : ", ") + "." + d.name;
    c.fail("unknown directive '." + name + "' (" + known + ")", at > 0 ? at - 1 : 0);
  }
  (this->*entry->handle)(c, lineNo, at);
  if (!c.atEnd()) c.expected("end of line");
}

void Assembler::directiveProgram(Cursor &c, size_t, size_t at) {
  if (haveProgram_) c.fail(".program is given twice", at);
  haveProgram_ = true;
  size_t wordAt = c.pos();
  programName_ = c.word("a program name");
  if (programName_.size() >= VM_PROGRAM_NAME_SIZE)
    c.fail("a program name has at most " + std::to_string(VM_PROGRAM_NAME_SIZE - 1) + " bytes", wordAt);
  programNumber_ = static_cast<int32_t>(c.integer("a program number", INT32_MIN, INT32_MAX));
}

void Assembler::directiveStacks(Cursor &c, size_t, size_t) {
  callStack_ = static_cast<uint32_t>(c.integer("the call stack size (entries)", 1, 0x1FFFFFFF));
  paramStack_ = static_cast<uint32_t>(c.integer("the param stack size (entries)", 1, 0x15555555));
}

void Assembler::directiveCommandLimit(Cursor &c, size_t, size_t) {
  commandLimit_ = static_cast<int32_t>(c.integer("a command limit", INT32_MIN, INT32_MAX));
}

void Assembler::directiveReplication(Cursor &c, size_t, size_t) {
  replication_ = static_cast<uint32_t>(c.integer("the replication block size in bytes", 0, UINT32_MAX));
}

void Assembler::directiveSegment(Cursor &c, size_t, size_t) {
  declaring({declaredName(c)}, &segmentFailed_, [&] { declareSegment(c); });
}

void Assembler::directiveVar(Cursor &c, size_t lineNo, size_t at) {
  std::string declared = declaredName(c);
  std::string segment = segments_.empty() ? std::string() : segments_.back().name;
  std::vector<std::string> names{declared};
  if (!segment.empty()) names.push_back(segment + "." + declared);
  declaring(names, nullptr, [&] {
    if (segmentFailed_) throw SyntaxError{c.column(), "", true};  // its segment was reported
    if (segments_.empty()) c.fail(".var needs a .segment before it", at - 1);
    declareVar(c, lineNo);
  });
}

void Assembler::directiveArray(Cursor &c, size_t, size_t) {
  declaring({declaredName(c)}, &arrayFailed_, [&] { declareArray(c); });
}

void Assembler::directiveData(Cursor &c, size_t, size_t at) {
  if (arrayFailed_) throw SyntaxError{c.column(), "", true};  // its array was reported
  if (arrays_.empty()) c.fail(".data continues an .array: declare the array first", at);
  arrayData(c, arrays_.back(), arrayNames_.back());
}

void Assembler::directivePlace(Cursor &c, size_t, size_t) {
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
}

void Assembler::directiveGap(Cursor &c, size_t, size_t) {
  gap_ = static_cast<uint32_t>(c.integer("a gap in bytes", 0, UINT32_MAX));
}

void Assembler::directiveSize(Cursor &c, size_t lineNo, size_t) {
  size_ = static_cast<uint32_t>(c.integer("an image size in bytes", 336, UINT32_MAX));
  sizeLine_ = lineNo;
}

void Assembler::directivePatch(Cursor &c, size_t lineNo, size_t) {
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
