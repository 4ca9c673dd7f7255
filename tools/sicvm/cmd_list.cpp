// SPDX-License-Identifier: MIT
// sicvm list IMAGE: the header, every data segment with its vars, every
// array and the code, one line per command as VmCmdToStr renders it.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "asm/constants.h"
#include "asm/image_reader.h"
#include "commands.h"
#include "image_file.h"
#include "names.h"
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

void listImage(const std::string &path, const assembly::ImageView &view, const ProgramNames &names) {
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
    const auto segment = static_cast<uint32_t>(k);
    const std::string *segmentName = names.table().segment(segment);
    std::printf("\ndata segment %zu%s%s: %zu vars\n", k, segmentName ? " " : "", segmentName ? segmentName->c_str() : "",
                vars.size());
    int width = 0;  // of the name column; none without names
    for (size_t i = 0; i < vars.size(); ++i)
      if (const std::string *name = names.table().var(segment, static_cast<uint32_t>(i)))
        width = std::max(width, static_cast<int>(name->size()) + 1);
    std::printf("  %-5s  %-*s%-6s %-15s %-9s %-5s %-28s %s\n", "var", width, width ? "name" : "", "type", "class",
                "points", "cell", "point", "value");
    for (size_t i = 0; i < vars.size(); ++i) {
      const VmVarRecord &r = vars[i].record;
      const std::string *name = names.table().var(segment, static_cast<uint32_t>(i));
      char flags[8];
      std::snprintf(flags, sizeof flags, "%02X", vars[i].cell.flags);
      std::printf("  %05zu  %-*s%-6s %-15s %-9s %-5s %-28s %s\n", i, width, name ? name->c_str() : "",
                  assembly::typeName(r.type).c_str(),
                  classText(r.classByte).c_str(), flagText(r.classByte).c_str(), flags, pointText(r).c_str(),
                  VmValueToStr(&vars[i].cell, r.type, text));
    }
  }

  std::printf("\narrays: %zu\n", view.arrays.size());
  for (size_t j = 0; j < view.arrays.size(); ++j) {
    const auto &a = view.arrays[j];
    const std::string *arrayName = names.table().array(static_cast<uint32_t>(j));
    std::printf("  array %05zu%s%s  %s, %u elements of %u cell%s, %u dimension%s\n", j, arrayName ? " " : "",
                arrayName ? arrayName->c_str() : "", assembly::typeName(static_cast<int>(a.record.type)).c_str(), a.record.elementCount,
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
    std::string comment = names.note(view.code[i]);
    if (static_cast<int32_t>(view.code[i].code) < 0)
      comment += std::string(comment.empty() ? "" : "; ") + "end marker: assemble it as 'end'";
    if (!comment.empty()) line += (line.size() < 40 ? std::string(40 - line.size(), ' ') : " ") + "; " + comment;
    for (auto [at, end] = names.table().labels.equal_range(static_cast<uint32_t>(i)); at != end; ++at)
      std::printf("%s:\n", at->second.c_str());
    std::printf("%s  %s\n", address, line.c_str());
  }
}

}  // namespace

int listCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"--symbols", true}}, options, error) || (!options.help && options.positional.size() != 1)) {
    std::fprintf(stderr, "sicvm list: %s\n(see 'sicvm list --help')\n",
                 error.empty() ? "expected one IMAGE file" : error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::printf(
        "usage: sicvm list IMAGE [--symbols FILE]\n\n"
        "Prints the image as stored: the header, every data segment with its vars\n"
        "(type, class, load/save flags, cell flags in hex, point link, value), every\n"
        "array with its cells, and the code, one line per command: its address and\n"
        "the command as the library renders it (VmCmdToStr). Lines of code assemble\n"
        "with 'sicvm asm'. Set-up is not run ('sicvm info' and 'sicvm verify' do).\n"
        "The names of the source (segments, vars, arrays, labels, and the global\n"
        "vars, arrays and labels a command refers to) come from the symbol file\n"
        "that 'sicvm asm' wrote beside the image.\n\n"
        "  --symbols FILE   the symbol file (default: IMAGE with the extension .sym)\n\n"
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
  listImage(options.positional[0], view,
            ProgramNames::load(options.positional[0], options.value("--symbols"), bytes, "list"));
  return kExitOk;
}

}  // namespace sicvm::tool
