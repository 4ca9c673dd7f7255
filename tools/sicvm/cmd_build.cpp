// SPDX-License-Identifier: MIT
// sicvm build PROGRAM.st [-o IMAGE]: compiles a Structured Text program.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "image_file.h"
#include "options.h"
#include "stc/compiler.h"
#include "symbols/symbols.h"

namespace sicvm::tool {

int buildCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"-o", true}, {"--output", true}}, options, error)) return usageError(error, "build");
  if (options.help) {
    std::printf(
        "usage: sicvm build PROGRAM.st [-o IMAGE]\n\n"
        "Compiles a Structured Text program (see README.md, \"Writing programs in\n"
        "Structured Text\") into a SIC image, and writes the program's names into a\n"
        "symbol file: IMAGE with the extension .sym. list, disasm and run show them.\n\n"
        "  -o, --output IMAGE  the image file to write (default: PROGRAM with the\n"
        "                      extension .sic)\n\n"
        "Errors and warnings are reported as FILE:LINE:COLUMN: error: TEXT with the\n"
        "source line and a caret, every error of the file at once. Nothing is\n"
        "written when there is an error.\n"
        "Exit status: 0 written, %d errors in the program or a file error.\n",
        kExitUsage);
    return kExitOk;
  }
  if (options.positional.size() != 1) return usageError("expected one PROGRAM.st file", "build");
  const std::string &sourcePath = options.positional[0];
  std::string output =
      options.value("-o").value_or(options.value("--output").value_or(withExtension(sourcePath, ".sic")));
  std::vector<uint8_t> text;
  if (!readFile(sourcePath, text, error)) return usageError(error, "build");
  std::string symbolPath;
  if (!checkImageOutputs(sourcePath, output, "program", symbolPath, error)) return usageError(error, "build");
  stc::Compilation result =
      stc::compile(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()), sourcePath);
  for (const std::string &d : result.rendered) std::fprintf(stderr, "%s\n", d.c_str());
  if (!result.ok()) {
    std::fprintf(stderr, "sicvm build: %zu error%s, %s not written\n", result.errors, result.errors == 1 ? "" : "s",
                 output.c_str());
    return kExitUsage;
  }
  std::string symbolText = symbols::writeSymbols(result.symbolTable);
  if (!writeFile(output, result.image.data(), result.image.size(), error) ||
      !writeFile(symbolPath, symbolText.data(), symbolText.size(), error))
    return usageError(error, "build");
  return kExitOk;
}

}  // namespace sicvm::tool
