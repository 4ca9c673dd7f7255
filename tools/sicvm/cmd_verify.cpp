// sicvm verify IMAGE: the set-up and the verifiers only.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "image_file.h"
#include "options.h"
#include "runner/session.h"
#include "setup_log.h"

namespace sicvm::tool {

int verifyCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"--points", true}}, options, error)) return usageError(error, "verify");
  if (options.help) {
    std::printf(
        "usage: sicvm verify IMAGE [--points FILE.csv]\n\n"
        "Sets the image up and runs the three verifiers (VmVerifyCode, VmVerifyVars,\n"
        "VmVerifyArrays), then VmInitHostTypes, VmInitTimers and VmInitVarLinks,\n"
        "and prints their log. Nothing is run and no store is opened.\n\n"
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
  switch (result) {
    case runner::SetUpResult::OK: std::printf("verified\n"); return kExitOk;
    case runner::SetUpResult::SET_UP_FAILED: std::printf("%s\n", error.c_str()); return kExitSetUp;
    case runner::SetUpResult::VERIFY_FAILED: std::printf("%s\n", error.c_str()); return kExitVerify;
  }
  return kExitOk;
}

}  // namespace sicvm::tool
