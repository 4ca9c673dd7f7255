// sicvm run IMAGE: sets the program up as a host does and runs it cycle by cycle.
#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "cycle_text.h"
#include "image_file.h"
#include "options.h"
#include "run_config.h"
#include "runner/session.h"
#include "setup_log.h"
#include "sicvm/text.h"
#include "watch.h"

namespace sicvm::tool {
namespace {

std::atomic<bool> g_stop{false};

extern "C" void onSignal(int) { g_stop = true; }

// Each command before it runs, with its labels and the names it refers to.
void printStep(const ProgramNames &names, uint32_t pc, const VmCommand &command) {
  char address[VM_ADDR_TEXT_SIZE], text[VM_CMD_TEXT_SIZE];
  std::string line = VmCmdToStr(&command, text);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (std::string note = names.note(command); !note.empty())
    line += (line.size() < 40 ? std::string(40 - line.size(), ' ') : " ") + "; " + note;
  for (auto [at, end] = names.table().labels.equal_range(pc); at != end; ++at) std::printf("  %s:\n", at->second.c_str());
  std::printf("  %s  %s\n", VmAddrToStr(pc, address), line.c_str());
}

}  // namespace

int runCommand(const std::vector<std::string> &args) {
  RunConfig config;
  if (int status = readRunConfig(args, config); status >= 0) return status;

  logToStandardError();
  std::string error;
  std::vector<uint8_t> bytes;
  if (!readFile(config.image, bytes, error)) return usageError(error, "run");
  ProgramNames names;
  if (config.step || config.watch) names = ProgramNames::load(config.image, config.symbols, bytes, "run");
  runner::Session session(std::move(bytes));
  switch (session.setUp(config.host, error)) {
    case runner::SetUpResult::OK: break;
    case runner::SetUpResult::SET_UP_FAILED:
      std::fprintf(stderr, "sicvm run: %s: %s\n", config.image.c_str(), error.c_str());
      return kExitSetUp;
    case runner::SetUpResult::VERIFY_FAILED:
      std::fprintf(stderr, "sicvm run: %s: %s (the log above has each fault)\n", config.image.c_str(), error.c_str());
      return kExitVerify;
  }

  for (const std::string &notice : session.notices()) std::fprintf(stderr, "sicvm run: %s\n", notice.c_str());
  g_stop = false;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::unique_ptr<Watch> watch;
  if (config.watch) watch = std::make_unique<Watch>(session, names);
  auto onStep = [&names](uint32_t pc, const VmCommand &command) { printStep(names, pc, command); };
  auto start = std::chrono::steady_clock::now();
  int64_t cycle = 0, totalCommands = 0, withErrors = 0;
  std::map<int32_t, int64_t> errorCycles;  // cycles that ended with each error code
  bool fatal = false;
  while ((config.cycles < 0 || cycle < config.cycles) && !g_stop) {
    runner::CycleResult r =
        session.runCycle(config.step, config.step ? onStep : std::function<void(uint32_t, const VmCommand &)>{},
                         [] { return g_stop.load(); });
    ++cycle;
    totalCommands += r.commands;
    if (r.error != 0) {
      ++withErrors;
      ++errorCycles[r.error];
    }
    if (watch)
      watch->show(cycle, r, "");
    else
      std::printf("cycle %lld: %d commands, %s, %s\n", static_cast<long long>(cycle), r.commands,
                  statusText(r.runStatus), errorText(r).c_str());
    std::fflush(stdout);
    if (r.fatal()) {
      fatal = true;
      break;
    }
    if (config.periodMs > 0 && (config.cycles < 0 || cycle < config.cycles)) {
      auto next = start + std::chrono::milliseconds(config.periodMs * cycle);
      while (!g_stop && std::chrono::steady_clock::now() < next)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            next - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
    }
  }
  std::string errors;
  for (const auto &[code, count] : errorCycles)
    errors += (errors.empty() ? " (" : ", ") + std::string("error ") + std::to_string(code) + " " + errorTitle(code) +
              ": " + std::to_string(count);
  if (!errors.empty()) errors += ")";
  std::printf("%lld cycle%s, %lld commands, %lld cycle%s with an error%s%s%s\n", static_cast<long long>(cycle),
              cycle == 1 ? "" : "s", static_cast<long long>(totalCommands), static_cast<long long>(withErrors),
              withErrors == 1 ? "" : "s", errors.c_str(), fatal ? "; stopped by a fatal error" : "",
              g_stop ? "; interrupted" : "");
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return fatal ? kExitRunError : kExitOk;
}

}  // namespace sicvm::tool
