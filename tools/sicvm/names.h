// SPDX-License-Identifier: MIT
// The names of a program for display: its symbol file, checked against the
// image, and the notes that name a command's operands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "asm/image_reader.h"
#include "symbols/symbols.h"

namespace sicvm::tool {

class ProgramNames {
 public:
  ProgramNames() = default;

  // The symbol file of the image at `imagePath`: `explicitPath` (--symbols),
  // or IMAGE with the extension .sym when that file exists. A file that
  // cannot be read, or that was written for other image bytes, gives a
  // warning on standard error and no names; so does an explicit file that
  // does not exist.
  static ProgramNames load(const std::string &imagePath, const std::optional<std::string> &explicitPath,
                           const std::vector<uint8_t> &bytes, const char *subcommand);

  const symbols::SymbolTable &table() const { return table_; }

  // "plant.level", or "" without a name.
  std::string var(uint32_t segment, uint32_t var) const { return table_.qualifiedVar(segment, var); }

  // The names a command refers to, as a comment text ("level, alarm",
  // "@main", "segment blocks"); "" when it names nothing. Only what the
  // command fixes is named: global vars and arrays (segment index 0), code
  // addresses, and set_ds from the global segment. A local var (segment
  // index 1) depends on the segment selected at run time.
  std::string note(const VmCommand &command) const;

 private:
  symbols::SymbolTable table_;
  int32_t baseSegment_ = 0, baseArray_ = 0;  // vars 0 and 1 of data segment 0
};

}  // namespace sicvm::tool
