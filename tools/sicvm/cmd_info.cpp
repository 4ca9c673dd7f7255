// SPDX-License-Identifier: MIT
// sicvm info IMAGE: sets the image up and prints its header and the set-up log.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "image_file.h"
#include "runner/image_check.h"
#include "setup_log.h"
#include "sicvm/vm.h"

namespace sicvm::tool {
namespace {

void printHeader(const VmHeader &h, uint32_t size) {
  std::string name = runner::escaped(std::string_view(h.programName, strnlen(h.programName, VM_PROGRAM_NAME_SIZE)));
  std::string label = runner::escaped(std::string_view(reinterpret_cast<const char *>(&h.label), 4));
  std::printf("image              %u bytes\n", size);
  std::printf("program            \"%s\" (%d)\n", name.c_str(), h.programNumber);
  std::printf("label, version     \"%s\", %u\n", label.c_str(), h.version);
  std::printf("%-18s %-10s %s\n", "block", "offset", "count");
  auto row = [](const char *what, uint32_t offset, uint32_t count) {
    std::printf("%-18s %-10u %u\n", what, offset, count);
  };
  row("machine", h.machineOffset, 1);
  row("state", h.stateOffset, 1);
  row("call stack", h.callStackOffset, h.callStackSize);
  row("param stack", h.paramStackOffset, h.paramStackSize);
  row("code", h.codeOffset, h.commandCount);
  row("segment table", h.segmentTableOffset, h.segmentCount);
  row("segments", h.segmentsOffset, h.segmentCount);
  row("segment vars", h.segmentVarsOffset, h.segmentVarCount);
  row("arrays", h.arraysOffset, h.arrayCount);
  row("array vars", h.arrayVarsOffset, h.arrayVarCount);
  row("replication", h.replicationOffset, h.replicationSize);
}

}  // namespace

int infoCommand(const std::vector<std::string> &args) {
  if (args.size() != 1 || args[0] == "--help" || args[0] == "-h") {
    std::printf("usage: sicvm info IMAGE\n\n"
                "Sets the image up (header and block checks) and prints its header fields\n"
                "and the set-up log. Exit status: 0 set up, %d set-up failed, %d usage or file error.\n",
                kExitSetUp, kExitUsage);
    return args.size() == 1 ? kExitOk : kExitUsage;
  }
  std::vector<uint8_t> bytes;
  std::string error;
  if (!readFile(args[0], bytes, error)) {
    std::fprintf(stderr, "sicvm: %s\n", error.c_str());
    return kExitUsage;
  }
  LogCollector log(10);
  VmMachine *machine = nullptr;
  int32_t result = VmInitMachine(bytes.data(), static_cast<uint32_t>(bytes.size()), &machine);
  if (bytes.size() >= sizeof(VmHeader))
    printHeader(*reinterpret_cast<const VmHeader *>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  std::printf("\nset-up log:\n");
  log.print(stdout, "  ");
  std::string problem = runner::imageProblem(bytes);
  if (result == 0)
    std::printf("\nset-up successful\n");
  else
    std::printf("\nset-up FAILED: %s\n", problem.empty() ? "the set-up log above says why" : problem.c_str());
  return result == 0 ? kExitOk : kExitSetUp;
}

}  // namespace sicvm::tool
