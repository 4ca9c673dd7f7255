// SPDX-License-Identifier: MIT
// sicvm asm SOURCE -o IMAGE: assembles a program.
// sicvm disasm IMAGE [-o SOURCE]: writes assembly source that assembles back
// to the very same image.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "asm/assembler.h"
#include "asm/disassembler.h"
#include "commands.h"
#include "image_file.h"
#include "names.h"
#include "options.h"
#include "runner/image_check.h"
#include "setup_log.h"
#include "sicvm/vm.h"

namespace sicvm::tool {
namespace {

// Assembly source is text: an image or any other binary file is refused
// before it could be mistaken for source (and its default output, the same
// name with .sic, be the file itself).
bool checkSourceText(const std::string &path, const std::vector<uint8_t> &text, std::string &error) {
  uint32_t label = 0;
  if (text.size() >= sizeof label) std::memcpy(&label, text.data(), sizeof label);
  if (label == VM_SIC_LABEL) {
    error = path + " is a SIC image, not assembly source ('sicvm disasm " + path + "' writes its source)";
    return false;
  }
  if (std::memchr(text.data(), 0, text.size()) != nullptr) {
    error = path + " is a binary file (it holds NUL bytes), not assembly source";
    return false;
  }
  return true;
}

}  // namespace

int asmCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"-o", true}, {"--output", true}}, options, error)) return usageError(error, "asm");
  if (options.help) {
    std::printf(
        "usage: sicvm asm SOURCE [-o IMAGE]\n\n"
        "Assembles SOURCE (assembly language, see README.md) into a SIC image, and\n"
        "writes the names of the source (segments, vars, arrays, labels) beside it in\n"
        "a symbol file: IMAGE with the extension .sym. list, disasm and run show them.\n\n"
        "  -o, --output IMAGE  the image file to write (default: SOURCE with the\n"
        "                      extension .sic)\n\n"
        "Errors are reported as FILE:LINE:COLUMN: error: TEXT, every error of the\n"
        "source at once (at most %zu). Nothing is written when there is an error.\n"
        "Exit status: 0 written, %d errors in the source or a file error.\n",
        assembly::kMaxErrors, kExitUsage);
    return kExitOk;
  }
  if (options.positional.size() != 1) return usageError("expected one SOURCE file", "asm");
  const std::string &sourcePath = options.positional[0];
  std::string output = options.value("-o").value_or(options.value("--output").value_or(withExtension(sourcePath, ".sic")));
  std::vector<uint8_t> text;
  if (!readFile(sourcePath, text, error)) return usageError(error, "asm");
  std::string symbolPath;
  if (!checkSourceText(sourcePath, text, error) || !checkImageOutputs(sourcePath, output, "source", symbolPath, error)) {
    std::fprintf(stderr, "sicvm asm: %s\n", error.c_str());
    return kExitUsage;
  }
  assembly::Assembly result =
      assembly::assemble(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()), sourcePath);
  if (!result.ok()) {
    for (const assembly::Diagnostic &d : result.errors) std::fprintf(stderr, "%s\n", d.text().c_str());
    std::fprintf(stderr, "sicvm asm: %zu error%s, %s not written\n", result.errors.size(),
                 result.errors.size() == 1 ? "" : "s", output.c_str());
    return kExitUsage;
  }
  for (const assembly::Diagnostic &d : result.warnings) std::fprintf(stderr, "%s\n", d.text().c_str());
  std::string symbolText = symbols::writeSymbols(result.symbols);
  if (!writeFile(output, result.image.data(), result.image.size(), error) ||
      !writeFile(symbolPath, symbolText.data(), symbolText.size(), error))
    return usageError(error, "asm");
  return kExitOk;
}

int disasmCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"-o", true}, {"--output", true}, {"--symbols", true}}, options, error))
    return usageError(error, "disasm");
  if (options.help) {
    std::printf(
        "usage: sicvm disasm IMAGE [-o SOURCE] [--symbols FILE]\n\n"
        "Writes assembly source for IMAGE that 'sicvm asm' turns back into the very\n"
        "same bytes: every declaration, constants at full precision, key=value fields\n"
        "for command bytes a listing does not show, and .patch lines for bytes no\n"
        "declaration sets. The image must pass set-up (VmInitMachine).\n\n"
        "With the image's symbol file, segments, vars, arrays and labels are declared\n"
        "with the names of the source, and code addresses are written as labels.\n\n"
        "  -o, --output SOURCE  the file to write (default: standard output)\n"
        "  --symbols FILE       the symbol file (default: IMAGE with the extension .sym)\n\n"
        "Exit status: 0 written, %d set-up refused the image, %d usage or file error.\n",
        kExitSetUp, kExitUsage);
    return kExitOk;
  }
  if (options.positional.size() != 1) return usageError("expected one IMAGE file", "disasm");
  const std::string &imagePath = options.positional[0];
  std::vector<uint8_t> bytes;
  if (!readFile(imagePath, bytes, error)) return usageError(error, "disasm");
  {
    std::vector<uint8_t> copy = bytes;
    LogCollector log(5);
    VmMachine *machine = nullptr;
    if (VmInitMachine(copy.data(), static_cast<uint32_t>(copy.size()), &machine) != 0) {
      std::string problem = runner::imageProblem(bytes);
      std::fprintf(stderr, "sicvm disasm: set-up refuses %s%s%s\n", imagePath.c_str(), problem.empty() ? ":" : ": ",
                   problem.c_str());
      log.print(stderr, "  ");
      return kExitSetUp;
    }
  }
  std::string source;
  ProgramNames names = ProgramNames::load(imagePath, options.value("--symbols"), bytes, "disasm");
  bool namesUsed = false;
  if (!assembly::disassemble(bytes, imagePath, source, error, &names.table(), &namesUsed)) {
    std::fprintf(stderr, "sicvm disasm: %s: %s\n", imagePath.c_str(), error.c_str());
    return kExitSetUp;
  }
  if (!names.table().empty() && !namesUsed)
    std::fprintf(stderr, "sicvm disasm: warning: the names of the symbol file do not assemble back to this image; "
                         "numbers written instead\n");
  if (auto output = options.value("-o") ? options.value("-o") : options.value("--output")) {
    if (!checkNotInput(imagePath, *output, "image", error)) {
      std::fprintf(stderr, "sicvm disasm: %s\n", error.c_str());
      return kExitUsage;
    }
    if (!writeFile(*output, source.data(), source.size(), error)) return usageError(error, "disasm");
  } else {
    std::fwrite(source.data(), 1, source.size(), stdout);
  }
  return kExitOk;
}

}  // namespace sicvm::tool
