// SPDX-License-Identifier: MIT
// sicvm verify IMAGE: the set-up and the verifiers only.
#include <cstdio>
#include <string>
#include <vector>

#include "asm/image_reader.h"
#include "commands.h"
#include "image_file.h"
#include "options.h"
#include "runner/session.h"
#include "setup_log.h"

namespace sicvm::tool {
namespace {

// Prints each var whose point ID has no point in the database (set-up drops
// such links with a notice; for a check before going live they are faults)
// and returns how many there are.
int unlinkedVars(const runner::Session &session) {
  assembly::ImageView view;
  std::string error;
  if (!assembly::readImage(session.image(), view, error)) return 0;
  int missing = 0;
  for (size_t k = 0; k < view.segments.size(); ++k)
    for (size_t i = 0; i < view.segments[k].vars.size(); ++i) {
      const VmVarRecord &r = view.segments[k].vars[i].record;
      if (r.pointId == 0 || r.pointIndex != 0) continue;
      std::printf("var %zu:%05zu is linked to point ID %d, which the points file does not contain\n", k, i,
                  r.pointId);
      ++missing;
    }
  return missing;
}

}  // namespace

int verifyCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"--points", true}}, options, error)) return usageError(error, "verify");
  if (options.help) {
    std::printf(
        "usage: sicvm verify IMAGE [--points FILE.csv]\n\n"
        "Sets the image up and runs the three verifiers (VmVerifyCode, VmVerifyVars,\n"
        "VmVerifyArrays), then VmInitHostTypes, VmInitTimers and VmInitVarLinks,\n"
        "and prints their log. Nothing is run and no store is opened. With --points,\n"
        "a var linked to a point ID that the database does not contain is a fault.\n\n"
        "  --points FILE.csv   link the vars to this point database (default: none)\n\n"
        "Exit status: 0 verified, %d usage or file error, %d set-up failed,\n"
        "%d verification failed.\n",
        kExitUsage, kExitSetUp, kExitVerify);
    return kExitOk;
  }
  if (options.positional.size() != 1) return usageError("expected one IMAGE file", "verify");
  std::vector<uint8_t> bytes;
  if (!readFile(options.positional[0], bytes, error)) return usageError(error, "verify");
  runner::SessionOptions host;
  host.pointsFile = options.value("--points");
  runner::Session session(std::move(bytes));
  runner::SetUpResult result;
  {
    LogCollector log(10);
    result = session.setUp(host, error);
    log.print(stdout, "");
  }
  if (result == runner::SetUpResult::OK && host.pointsFile) {
    int missing = unlinkedVars(session);
    if (missing > 0) {
      std::printf("verification failed: %d var%s linked to a point that %s does not contain\n", missing,
                  missing == 1 ? "" : "s", host.pointsFile->c_str());
      return kExitVerify;
    }
  }
  switch (result) {
    case runner::SetUpResult::OK: std::printf("verified\n"); return kExitOk;
    case runner::SetUpResult::SET_UP_FAILED: std::printf("%s\n", error.c_str()); return kExitSetUp;
    case runner::SetUpResult::VERIFY_FAILED: std::printf("%s\n", error.c_str()); return kExitVerify;
  }
  return kExitOk;
}

}  // namespace sicvm::tool
