// SPDX-License-Identifier: MIT
#include "names.h"

#include <cstdio>
#include <cstring>

#include "image_file.h"
#include "options.h"
#include "text/listing.h"
#include "text/text_buffer.h"

namespace sicvm::tool {
namespace {

// Renders nothing of its own; collects the names of what a command refers to.
struct NoteStyle {
  const symbols::SymbolTable &table;
  int32_t baseArray;
  std::vector<std::string> names;

  void mnemonic(uint32_t, text::TextBuffer &) {}
  void constant(const VmCell &, int, text::TextBuffer &) {}
  void varAddress(uint32_t segment, uint32_t var, text::TextBuffer &) {
    if (const std::string *name = segment == 0 ? table.var(0, var) : nullptr) names.push_back(*name);
  }
  void arrayAddress(uint32_t segment, uint32_t array, text::TextBuffer &) {
    uint32_t absolute = static_cast<uint32_t>(baseArray) + array;
    if (const std::string *name = segment == 0 ? table.array(absolute) : nullptr) names.push_back(*name);
  }
  void codeAddress(uint32_t address, text::TextBuffer &) {
    if (const std::string *name = table.label(address)) names.push_back("@" + *name);
  }
};

}  // namespace

ProgramNames ProgramNames::load(const std::string &imagePath, const std::optional<std::string> &explicitPath,
                                const std::vector<uint8_t> &bytes, const char *subcommand) {
  ProgramNames names;
  std::string path = explicitPath.value_or(withExtension(imagePath, ".sym"));
  std::vector<uint8_t> text;
  std::string error;
  if (!explicitPath && !readFile(path, text, error)) return names;  // no symbol file: numbers only
  if (explicitPath && !readFile(path, text, error)) {
    std::fprintf(stderr, "sicvm %s: warning: %s; no names shown\n", subcommand, error.c_str());
    return names;
  }
  symbols::SymbolTable table;
  if (!symbols::readSymbols(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()), path, table,
                            error)) {
    std::fprintf(stderr, "sicvm %s: warning: %s; no names shown\n", subcommand, error.c_str());
    return names;
  }
  if (!table.belongsTo(bytes)) {
    std::fprintf(stderr, "sicvm %s: warning: %s was written for another image than %s; no names shown\n", subcommand,
                 path.c_str(), imagePath.c_str());
    return names;
  }
  names.table_ = std::move(table);
  assembly::ImageView view;
  if (assembly::readImage(bytes, view, error) && !view.segments.empty()) {
    const auto &global = view.segments[0].vars;
    if (global.size() >= 2) {
      names.baseSegment_ = global[0].cell.v.i32;
      names.baseArray_ = global[1].cell.v.i32;
    }
  }
  return names;
}

std::string ProgramNames::note(const VmCommand &command) const {
  if (table_.empty()) return {};
  NoteStyle style{table_, baseArray_, {}};
  if (text::listingOf(command.code) == Listing::SET_DS) {
    if (command.src1.v.w[0] == 0) {
      uint32_t segment = static_cast<uint32_t>(baseSegment_) + command.src2.v.w[0];
      if (const std::string *name = table_.segment(segment)) style.names.push_back("segment " + *name);
    }
  } else {
    char scratch[256];
    text::TextBuffer out(scratch, sizeof scratch);
    text::renderCommand(command, out, style);
  }
  std::string note;
  for (const std::string &name : style.names) note += (note.empty() ? "" : ", ") + name;
  return note;
}

}  // namespace sicvm::tool
