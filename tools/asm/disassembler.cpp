// SPDX-License-Identifier: MIT
#include "asm/disassembler.h"

#include <cstdio>
#include <cstring>

#include "asm/assembler.h"
#include "asm/constants.h"
#include "asm/image_reader.h"
#include "sicvm/text.h"
#include "text/listing.h"

namespace sicvm::assembly {
namespace {

// Renders commands as the listing does, but with constants that read back exactly.
struct ExactStyle {
  const symbols::SymbolTable *names = nullptr;  // names of global vars and code addresses
  void mnemonic(uint32_t codeWord, text::TextBuffer &out) {
    char name[VM_OPCODE_TEXT_SIZE];
    out.put(VmOpCodeToStr(codeWord, name));
  }
  void constant(const VmCell &cell, int type, text::TextBuffer &out) { out.put(exactConstant(type, cell.v).c_str()); }
  void varAddress(uint32_t segment, uint32_t var, text::TextBuffer &out) {
    if (const std::string *name = names && segment == 0 ? names->var(0, var) : nullptr) {
      out.put(name->c_str());  // a global var by name; a local one depends on the selected segment
      return;
    }
    char t[VM_VAR_ADDR_TEXT_SIZE];
    out.put(VmVarAddrToStr(segment, var, t));
  }
  void arrayAddress(uint32_t segment, uint32_t array, text::TextBuffer &out) {
    char t[VM_ARRAY_ADDR_TEXT_SIZE];
    out.put(VmArrayAddrToStr(segment, array, t));
  }
  void codeAddress(uint32_t address, text::TextBuffer &out) {
    if (const std::string *label = names ? names->label(address) : nullptr) {
      out.put(label->c_str());
      return;
    }
    char t[VM_ADDR_TEXT_SIZE];
    out.put(VmAddrToStr(address, t));
  }
};

std::string trimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The text a command is written with before its fields: "end" for a plain
// end marker; the listing shape otherwise; "#CODE" in place of the empty
// mnemonic of codes without a command.
std::string commandText(const VmCommand &command, const symbols::SymbolTable *names) {
  if ((command.code & 0x7FFFFFFFu) == 0 && (command.code & 0x80000000u)) return "end";
  char buffer[512];
  text::TextBuffer out(buffer, sizeof buffer);
  ExactStyle style{names};
  text::renderCommand(command, out, style);
  std::string line = buffer;
  const CommandInfo *info = commandInfo(command.code);
  if (info && info->mnemonic[0] == '\0' && line.compare(0, 16, std::string(16, ' ')) == 0) {
    char code[24];
    std::snprintf(code, sizeof code, "#%-15u", command.code & 0xFFFFu);
    line.replace(0, 16, code);
  }
  return trimRight(line);
}

std::string hex32(uint32_t v) {
  char t[16];
  std::snprintf(t, sizeof t, "0x%08X", v);
  return t;
}

bool autoBaseVar(const ImageView::Var &var) {
  const VmVarRecord &r = var.record;
  const VmCell &c = var.cell;
  return r.type == VM_TYPE_DINT && r.classByte == 1 && r.pointField == 44 && r.pointId == 0 && r.pointIndex == 0 &&
         c.type == VM_TYPE_DINT && c.flags == 0 && c.spare[0] == 0 && c.spare[1] == 0 && c.v.w[1] == 0;
}

bool allZero(const VmValue &v) { return v.w[0] == 0 && v.w[1] == 0; }

std::string varLine(const ImageView::Var &var, const std::string *name) {
  const VmVarRecord &r = var.record;
  std::string line = ".var " + (name ? *name + " " : std::string()) + typeName(r.type);
  if (!allZero(var.cell.v)) line += " = " + exactConstant(r.type, var.cell.v);
  if ((r.classByte & VM_CLASS_MASK) != 1) line += " class=" + std::to_string(r.classByte & VM_CLASS_MASK);
  if (r.classByte & VM_VAR_LOAD) line += " load";
  if (r.classByte & VM_VAR_SAVE) line += " save";
  if (r.pointId != 0) line += " point=" + std::to_string(r.pointId);
  if (r.pointField != 44) line += " field=" + std::to_string(r.pointField);
  if (r.pointIndex != 0) line += " index=" + std::to_string(r.pointIndex);
  if (var.cell.flags != 0) line += " flags=" + std::to_string(var.cell.flags);
  if (var.cell.type != (r.type & 0xFFu)) line += " celltype=" + std::to_string(var.cell.type);
  return line;
}

void writeArray(std::string &out, const ImageView::Array &array, uint32_t number, const std::string *name) {
  const VmArrayRecord &r = array.record;
  int type = r.type <= 0xFFFFu ? static_cast<int>(r.type) : 0;
  std::string head = ".array " + (name ? *name + " " : std::string()) + typeName(type) + "[" + std::to_string(r.elementCount) + "]";
  if (r.elementSize != 1) head += " size=" + std::to_string(r.elementSize);
  if (r.dimensions != 1) head += " dims=" + std::to_string(r.dimensions);
  if (!array.cells.empty() && array.cells[0].flags != 0) head += " flags=" + std::to_string(array.cells[0].flags);
  size_t used = array.cells.size();
  while (used > 0 && allZero(array.cells[used - 1].v)) --used;
  auto values = [&](size_t from) {
    std::string text;
    for (size_t k = from; k < used && k < from + 8; ++k) text += (k > from ? ", " : "") + exactConstant(type, array.cells[k].v);
    return text;
  };
  std::string comment = "  ; array " + std::to_string(number) + "\n";
  out += used == 0 ? head + comment : head + " = " + values(0) + comment;
  for (size_t i = 8; i < used; i += 8) out += ".data " + values(i) + "\n";
}

std::string escapeName(const std::string &name) {
  for (char c : name)
    if (c == '"' || static_cast<unsigned char>(c) < 32) return "\"\"";  // the patch restores the bytes
  return "\"" + name + "\"";
}

const char *const kBlockNames[] = {"machine", "state",    "callstack", "paramstack", "code",       "segtable",
                                   "segments", "segvars", "arrays",    "arrayvars",  "replication"};

std::vector<uint32_t> blockOffsets(const VmHeader &h) {
  return {h.machineOffset,      h.stateOffset,   h.callStackOffset, h.paramStackOffset,
          h.codeOffset,         h.segmentTableOffset, h.segmentsOffset, h.segmentVarsOffset,
          h.arraysOffset,       h.arrayVarsOffset, h.replicationOffset};
}

std::string patches(const std::vector<uint8_t> &built, const std::vector<uint8_t> &original) {
  std::string out;
  size_t n = original.size(), i = 0;
  while (i < n) {
    if (built[i] == original[i]) {
      ++i;
      continue;
    }
    // A run of differences, bridging equal stretches shorter than 8 bytes.
    size_t start = i, end = i + 1, same = 0;
    for (size_t k = end; k < n && same < 8; ++k) {
      if (built[k] != original[k]) {
        end = k + 1;
        same = 0;
      } else {
        ++same;
      }
    }
    for (size_t at = start; at < end; at += 32) {
      out += ".patch " + std::to_string(at);
      for (size_t k = at; k < end && k < at + 32; ++k) {
        char t[4];
        std::snprintf(t, sizeof t, " %02X", original[k]);
        out += t;
      }
      out += "\n";
    }
    i = end;
  }
  return out;
}


// The command line with labels for its code addresses when `names` has them.
std::string namedCommand(const VmCommand &command, const symbols::SymbolTable *names) {
  std::string line = commandText(command, names);
  VmCommand baseline{};
  std::string error;
  // The fields are found against the line without names (labels are not
  // known to a single line); the named line is what is written.
  std::string plain = names ? commandText(command, nullptr) : line;
  if (!assembleCommand(plain, baseline, error)) {
    line = plain = "nop";
    assembleCommand(plain, baseline, error);
  }
  bool isCall = text::listingOf(baseline.code) == Listing::CALL;
  for (const CommandKey &key : kCommandKeys) {
    if (key.callOnly && !isCall) continue;
    uint32_t want = getField(command, key);
    if (getField(baseline, key) == want) continue;
    line += std::string(" ") + key.name + "=" + (key.max <= 0xFF ? std::to_string(want) : hex32(want));
    setField(baseline, key, want);
  }
  return line;
}

bool disassembleWith(const std::vector<uint8_t> &bytes, const std::string &origin, std::string &source,
                     std::string &error, const symbols::SymbolTable *names) {
  ImageView view;
  if (!readImage(bytes, view, error)) return false;
  const VmHeader &h = view.header;
  std::string out;
  out += "; " + origin + ": program \"" + view.programName() + "\" (" + std::to_string(h.programNumber) + "), " +
         std::to_string(bytes.size()) + " bytes\n";
  out += ".program " + escapeName(view.programName()) + " " + std::to_string(h.programNumber) + "\n";
  out += ".stacks " + std::to_string(h.callStackSize) + " " + std::to_string(h.paramStackSize) + "\n";
  out += ".command_limit " + std::to_string(view.machine.commandLimit) + "\n";
  if (h.replicationSize != 0) out += ".replication " + std::to_string(h.replicationSize) + "\n";

  for (size_t k = 0; k < view.segments.size(); ++k) {
    const auto &vars = view.segments[k].vars;
    size_t first = 0;
    const auto segment = static_cast<uint32_t>(k);
    const std::string *name = names ? names->segment(segment) : nullptr;
    const std::string segmentName = name ? *name + " " : std::string();
    out += "\n";
    if (vars.size() >= 2 && autoBaseVar(vars[0]) && autoBaseVar(vars[1])) {
      out += ".segment " + segmentName + "base=" + std::to_string(vars[0].cell.v.i32) + " arrays=" + std::to_string(vars[1].cell.v.i32) +
             "  ; segment " + std::to_string(k) + "\n";
      first = 2;
    } else {
      out += ".segment " + segmentName + "raw  ; segment " + std::to_string(k) + "\n";
    }
    for (size_t i = first; i < vars.size(); ++i)
      out += varLine(vars[i], names ? names->var(segment, static_cast<uint32_t>(i)) : nullptr) + "  ; " + std::to_string(k) + ":" + std::to_string(i) + "\n";
  }
  if (!view.arrays.empty()) out += "\n";
  for (size_t j = 0; j < view.arrays.size(); ++j) writeArray(out, view.arrays[j], static_cast<uint32_t>(j),
                                                                   names ? names->array(static_cast<uint32_t>(j)) : nullptr);

  out += "\n";
  for (size_t i = 0; i < view.code.size(); ++i) {
    char address[VM_ADDR_TEXT_SIZE];
    if (names)
      for (auto [at, end] = names->labels.equal_range(static_cast<uint32_t>(i)); at != end; ++at)
        out += at->second + ":\n";
    out += std::string(VmAddrToStr(static_cast<uint32_t>(i), address)) + "  " + namedCommand(view.code[i], names) +
           "\n";
  }

  // Block placement, when the assembler's own layout differs from the image's.
  Assembly draft = assemble(out, origin);
  if (!draft.ok()) {
    error = "internal error: the disassembly does not assemble: " + draft.errors[0].text();
    return false;
  }
  const VmHeader &built = *reinterpret_cast<const VmHeader *>(draft.image.data());
  if (blockOffsets(built) != blockOffsets(h) || draft.image.size() != bytes.size()) {
    out += "\n";
    std::vector<uint32_t> offsets = blockOffsets(h);
    for (size_t b = 0; b < offsets.size(); ++b) out += ".place " + std::string(kBlockNames[b]) + " " + std::to_string(offsets[b]) + "\n";
    out += ".size " + std::to_string(bytes.size()) + "\n";
    draft = assemble(out, origin);
    if (!draft.ok() || draft.image.size() != bytes.size()) {
      error = "internal error: the disassembly does not reproduce the image layout";
      return false;
    }
  }
  std::string raw = patches(draft.image, bytes);
  if (!raw.empty()) out += "\n; bytes the declarations above do not set\n" + raw;
  Assembly check = assemble(out, origin);
  if (!check.ok() || check.image != bytes) {
    error = "internal error: the disassembly does not reproduce the image";
    return false;
  }
  source = out;
  return true;
}

}  // namespace

std::string disassembleCommand(const VmCommand &command) { return namedCommand(command, nullptr); }

bool disassemble(const std::vector<uint8_t> &bytes, const std::string &origin, std::string &source,
                 std::string &error, const symbols::SymbolTable *names, bool *namesUsed) {
  if (namesUsed) *namesUsed = false;
  if (names && !names->empty() && names->belongsTo(bytes) &&
      disassembleWith(bytes, origin, source, error, names)) {
    if (namesUsed) *namesUsed = true;
    return true;
  }
  return disassembleWith(bytes, origin, source, error, nullptr);
}

}  // namespace sicvm::assembly
