// SPDX-License-Identifier: MIT
// sicvm run IMAGE: sets the program up as a host does and runs it cycle by cycle.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "cycle_text.h"
#include "image_file.h"
#include "options.h"
#include "pacer.h"
#include "stats_file.h"
#include "run_config.h"
#include "runner/session.h"
#include "setup_log.h"
#include "time_zone.h"
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
  std::printf("%s\n", timeZoneLine(config.timeZone).c_str());
  StatsFile stats;
  if (config.statsFile && !stats.open(*config.statsFile, config, error)) {
    std::fprintf(stderr, "sicvm run: %s\n", error.c_str());
    return kExitUsage;
  }
  g_stop = false;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::unique_ptr<Watch> watch;
  if (config.watch) watch = std::make_unique<Watch>(session, names);
  auto onStep = [&names](uint32_t pc, const VmCommand &command) { printStep(names, pc, command); };
  CyclePacer pacer(config.periodMs);
  CycleStats timing(config.periodMs);
  RunTally tally;
  while ((config.cycles < 0 || tally.cycles < config.cycles) && !g_stop) {
    pacer.waitForSlot(g_stop);
    if (g_stop) break;
    pacer.begin();
    runner::CycleResult r =
        session.runCycle(config.step, config.step ? onStep : std::function<void(uint32_t, const VmCommand &)>{},
                         [] { return g_stop.load(); });
    CycleTiming t = pacer.end();
    timing.add(t);
    tally.add(r);
    stats.write(tally.cycles, t, r);
    if (watch)
      watch->show(tally.cycles, r, timing.text());
    else
      std::printf("cycle %lld: %d commands, %s, %s\n", static_cast<long long>(tally.cycles), r.commands,
                  statusText(r.runStatus), errorText(r).c_str());
    std::fflush(stdout);
    if (tally.fatal) break;
  }
  std::printf("%s\n", tally.summary(g_stop).c_str());
  if (tally.cycles > 0) std::printf("cycle time: %s\n", timing.text().c_str());
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return tally.fatal ? kExitRunError : kExitOk;
}

}  // namespace sicvm::tool
