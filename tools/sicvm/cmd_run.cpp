// sicvm run IMAGE: sets the program up as a host does and runs it cycle by cycle.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <map>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "cycle_text.h"
#include "image_file.h"
#include "options.h"
#include "pacer.h"
#include "run_config.h"
#include "runner/session.h"
#include "setup_log.h"
#include "sicvm/text.h"
#include "watch.h"

namespace sicvm::tool {
namespace {

std::atomic<bool> g_stop{false};

extern "C" void onSignal(int) { g_stop = true; }

// The --stats file: one CSV line per cycle, flushed as it is written so that
// a run that is killed keeps every cycle it finished.
class StatsFile {
 public:
  StatsFile() = default;
  StatsFile(const StatsFile &) = delete;
  StatsFile &operator=(const StatsFile &) = delete;
  ~StatsFile() {
    if (file_) std::fclose(file_);
  }

  // Refuses a path that is one of the run's own input files.
  bool open(const std::string &path, const RunConfig &config, std::string &error) {
    for (const std::optional<std::string> &input :
         {std::optional<std::string>(config.image), config.host.pointsFile, config.host.nvramFile, config.symbols})
      if (input && !checkNotInput(*input, path, "input file", error)) return false;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
      error = path + ": " + std::strerror(errno);
      return false;
    }
    std::fprintf(file_, "cycle,start_ms,jitter_us,exec_us,commands,status,error,overrun\n");
    return true;
  }

  void write(int64_t cycle, const CycleTiming &t, const runner::CycleResult &r) {
    if (!file_) return;
    std::fprintf(file_, "%lld,%.3f,%.1f,%.1f,%d,%u,%d,%d\n", static_cast<long long>(cycle), double(t.startNs) / 1e6,
                 double(t.jitterNs) / 1e3, double(t.execNs) / 1e3, r.commands, r.runStatus, r.error, t.overrun ? 1 : 0);
    std::fflush(file_);
  }

 private:
  FILE *file_ = nullptr;
};

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
  int64_t cycle = 0, totalCommands = 0, withErrors = 0;
  std::map<int32_t, int64_t> errorCycles;  // cycles that ended with each error code
  bool fatal = false;
  while ((config.cycles < 0 || cycle < config.cycles) && !g_stop) {
    pacer.waitForSlot(g_stop);
    if (g_stop) break;
    pacer.begin();
    runner::CycleResult r =
        session.runCycle(config.step, config.step ? onStep : std::function<void(uint32_t, const VmCommand &)>{},
                         [] { return g_stop.load(); });
    CycleTiming t = pacer.end();
    timing.add(t);
    ++cycle;
    stats.write(cycle, t, r);
    totalCommands += r.commands;
    if (r.error != 0) {
      ++withErrors;
      ++errorCycles[r.error];
    }
    if (watch)
      watch->show(cycle, r, timing.text());
    else
      std::printf("cycle %lld: %d commands, %s, %s\n", static_cast<long long>(cycle), r.commands,
                  statusText(r.runStatus), errorText(r).c_str());
    std::fflush(stdout);
    if (r.fatal()) {
      fatal = true;
      break;
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
  if (cycle > 0) std::printf("cycle time: %s\n", timing.text().c_str());
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return fatal ? kExitRunError : kExitOk;
}

}  // namespace sicvm::tool
