// SPDX-License-Identifier: MIT
// Subcommands of the sicvm tool and its exit statuses.
#pragma once

#include <string>
#include <vector>

namespace sicvm::tool {

// Exit statuses shared by the subcommands.
enum ExitStatus {
  kExitOk = 0,
  kExitUsage = 1,      // bad arguments, unreadable file, errors in an assembly source
  kExitSetUp = 2,      // VmInitMachine refused the image
  kExitVerify = 3,     // a verifier found errors
  kExitRunError = 4,   // a run stopped with a fatal error
};

int infoCommand(const std::vector<std::string> &args);
int listCommand(const std::vector<std::string> &args);
int asmCommand(const std::vector<std::string> &args);
int buildCommand(const std::vector<std::string> &args);
int disasmCommand(const std::vector<std::string> &args);
int runCommand(const std::vector<std::string> &args);
int verifyCommand(const std::vector<std::string> &args);
int completionCommand(const std::vector<std::string> &args);
int pointsCommand(const std::vector<std::string> &args);
int helpCommand(const std::vector<std::string> &args);
int gasCommand(const std::vector<std::string> &args);

}  // namespace sicvm::tool
