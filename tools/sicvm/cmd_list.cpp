// sicvm list IMAGE: the header, every data segment with its vars, every
// array and the code, one line per command as VmCmdToStr renders it.
#include <cstdio>
#include <string>
#include <vector>

#include "asm/constants.h"
#include "asm/image_reader.h"
#include "commands.h"
#include "image_file.h"
#include "options.h"
#include "runner/image_check.h"
#include "sicvm/text.h"

namespace sicvm::tool {
namespace {

std::string classText(uint8_t classByte) {
  std::string text = std::to_string(classByte & VM_CLASS_MASK);
  if ((classByte & VM_CLASS_MASK) == VM_CLASS_ARRAY_REF) text += " (array ref)";
  return text;
}

std::string flagText(uint8_t classByte) {
  bool load = classByte & VM_VAR_LOAD, save = classByte & VM_VAR_SAVE;
  return load && save ? "load+save" : load ? "load" : save ? "save" : "-";
}

std::string pointText(const VmVarRecord &r) {
  if (r.pointId == 0 && r.pointIndex == 0) return "-";
  std::string text = "id " + std::to_string(r.pointId) + " field " + std::to_string(r.pointField);
  if (r.pointIndex != 0) text += " index " + std::to_string(r.pointIndex);
  return text;
}

void listImage(const std::string &path, const assembly::ImageView &view) {
  const VmHeader &h = view.header;
  char text[VM_CMD_TEXT_SIZE];
  std::printf("image      %s, %u bytes\n", path.c_str(), view.size);
  std::printf("program    \"%s\" (%d)\n", runner::escaped(view.programName()).c_str(), h.programNumber);
  std::printf("stacks     call %u entries, param %u entries\n", h.callStackSize, h.paramStackSize);
  std::printf("machine    command limit %d\n", view.machine.commandLimit);
  std::printf("blocks     segments %u, vars %u, arrays %u, array cells %u, commands %u, replication %u bytes\n",
              h.segmentCount, h.segmentVarCount, h.arrayCount, h.arrayVarCount, h.commandCount, h.replicationSize);

  for (size_t k = 0; k < view.segments.size(); ++k) {
    const auto &vars = view.segments[k].vars;
    std::printf("\ndata segment %zu: %zu vars\n", k, vars.size());
    std::printf("  %-5s  %-6s %-15s %-9s %-5s %-28s %s\n", "var", "type", "class", "points", "cell", "point", "value");
    for (size_t i = 0; i < vars.size(); ++i) {
      const VmVarRecord &r = vars[i].record;
      char flags[8];
      std::snprintf(flags, sizeof flags, "%02X", vars[i].cell.flags);
      std::printf("  %05zu  %-6s %-15s %-9s %-5s %-28s %s\n", i, assembly::typeName(r.type).c_str(),
                  classText(r.classByte).c_str(), flagText(r.classByte).c_str(), flags, pointText(r).c_str(),
                  VmValueToStr(&vars[i].cell, r.type, text));
    }
  }

  std::printf("\narrays: %zu\n", view.arrays.size());
  for (size_t j = 0; j < view.arrays.size(); ++j) {
    const auto &a = view.arrays[j];
    std::printf("  array %05zu  %s, %u elements of %u cell%s, %u dimension%s\n", j,
                assembly::typeName(static_cast<int>(a.record.type)).c_str(), a.record.elementCount,
                a.record.elementSize, a.record.elementSize == 1 ? "" : "s", a.record.dimensions,
                a.record.dimensions == 1 ? "" : "s");
    for (size_t x = 0; x < a.cells.size(); ++x) {
      if (x % 6 == 0) std::printf("    [%zu]", x);
      std::printf(" %s", VmValueToStr(&a.cells[x], static_cast<int32_t>(a.record.type), text));
      if (x % 6 == 5 || x + 1 == a.cells.size()) std::printf("\n");
    }
  }

  std::printf("\ncode: %zu commands\n", view.code.size());
  for (size_t i = 0; i < view.code.size(); ++i) {
    char address[VM_ADDR_TEXT_SIZE];
    VmAddrToStr(static_cast<uint32_t>(i), address);
    VmCmdToStr(&view.code[i], text);
    std::string line = text;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (static_cast<int32_t>(view.code[i].code) < 0) line += (line.size() < 40 ? std::string(40 - line.size(), ' ') : " ") + "; end marker: assemble it as 'end'";
    std::printf("%s  %s\n", address, line.c_str());
  }
}

}  // namespace

int listCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {}, options, error) || (!options.help && options.positional.size() != 1)) {
    std::fprintf(stderr, "sicvm list: %s\n(see 'sicvm list --help')\n",
                 error.empty() ? "expected one IMAGE file" : error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::printf(
        "usage: sicvm list IMAGE\n\n"
        "Prints the image as stored: the header, every data segment with its vars\n"
        "(type, class, load/save flags, cell flags in hex, point link, value), every\n"
        "array with its cells, and the code, one line per command: its address and\n"
        "the command as the library renders it (VmCmdToStr). Lines of code assemble\n"
        "with 'sicvm asm'. Set-up is not run ('sicvm info' and 'sicvm verify' do).\n\n"
        "Exit status: 0 listed, %d usage or file error or an unreadable image.\n",
        kExitUsage);
    return kExitOk;
  }
  std::vector<uint8_t> bytes;
  assembly::ImageView view;
  if (!readFile(options.positional[0], bytes, error)) {
    std::fprintf(stderr, "sicvm list: %s\n", error.c_str());
    return kExitUsage;
  }
  if (std::string problem = runner::imageProblem(bytes); !problem.empty()) {
    std::fprintf(stderr, "sicvm list: %s: %s\n", options.positional[0].c_str(), problem.c_str());
    return kExitUsage;
  }
  if (!assembly::readImage(bytes, view, error)) {
    std::fprintf(stderr, "sicvm list: %s: %s\n", options.positional[0].c_str(), error.c_str());
    return kExitUsage;
  }
  listImage(options.positional[0], view);
  return kExitOk;
}

}  // namespace sicvm::tool
