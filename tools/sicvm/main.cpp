// SPDX-License-Identifier: MIT
// sicvm: command-line front end of the library.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "sicvm/version.h"

namespace {

struct Subcommand {
  const char *name;
  const char *summary;
  int (*run)(const std::vector<std::string> &);
};

const Subcommand kSubcommands[] = {
    {"info", "set an image up and print its header and set-up log", sicvm::tool::infoCommand},
    {"list", "list an image: header, data segments, arrays and code", sicvm::tool::listCommand},
    {"verify", "set an image up and run the verifiers", sicvm::tool::verifyCommand},
    {"run", "set a program up and run it cycle by cycle", sicvm::tool::runCommand},
    {"asm", "assemble a source file into an image", sicvm::tool::asmCommand},
    {"build", "compile a Structured Text program into an image", sicvm::tool::buildCommand},
    {"disasm", "write assembly source that reproduces an image exactly", sicvm::tool::disasmCommand},
    {"points", "list, watch, set and force the points of a running program", sicvm::tool::pointsCommand},
    {"help", "the reference of the commands and the library functions", sicvm::tool::helpCommand},
    {"gas", "evaluate a gas metering function on named inputs", sicvm::tool::gasCommand},
    {"completion", "write a shell completion script: completion bash", sicvm::tool::completionCommand},
};

void usage(FILE *out) {
  std::fprintf(out, "usage: sicvm SUBCOMMAND [OPTIONS] ...\n\nSubcommands:\n");
  for (const Subcommand &s : kSubcommands) std::fprintf(out, "  %-10s %s\n", s.name, s.summary);
  std::fprintf(out, "\n'sicvm SUBCOMMAND --help' describes a subcommand's options;\n"
                   "'sicvm --version' prints the versions of the tool and of the library.\n");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? sicvm::tool::kExitUsage : sicvm::tool::kExitOk;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    // The tool's version is the one it was built with; the library's is that
    // of the libsicvm.so it loaded, which may be another installed build.
    std::printf("sicvm %s\nlibsicvm %s\n", SICVM_VERSION_STRING, VmGetVersion(nullptr, nullptr, nullptr));
    return sicvm::tool::kExitOk;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const Subcommand &s : kSubcommands)
    if (std::strcmp(argv[1], s.name) == 0) return s.run(args);
  std::fprintf(stderr, "sicvm: unknown subcommand '%s'\n", argv[1]);
  usage(stderr);
  return sicvm::tool::kExitUsage;
}
