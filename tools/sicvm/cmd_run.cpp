// sicvm run IMAGE: sets the program up as a host does and runs it cycle by
// cycle. sicvm verify IMAGE: the set-up and the verifiers only.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "asm/constants.h"
#include "asm/image_reader.h"
#include "commands.h"
#include "image_file.h"
#include "options.h"
#include "runner/session.h"
#include "setup_log.h"
#include "time_zone.h"
#include "sicvm/points.h"
#include "sicvm/text.h"

namespace sicvm::tool {
namespace {

std::atomic<bool> g_stop{false};

extern "C" void onSignal(int) { g_stop = true; }

const char *statusText(uint32_t status) {
  switch (status) {
    case VM_RUNNING: return "running";
    case VM_CYCLE_COMPLETE: return "cycle complete";
    case VM_END_MARKER: return "end marker";
    case VM_STOPPED: return "stopped by an error";
  }
  return "unknown status";
}

std::string errorText(const runner::CycleResult &r) {
  if (r.error == 0) return "no error";
  char text[96];
  std::snprintf(text, sizeof text, "error %d at %05u (%u, %u)", r.error, r.address, r.arg1, r.arg2);
  return text;
}

// The linked vars and the changed vars of a running program, as a table.
class Watch {
 public:
  Watch(const runner::Session &session) : session_(session) {
    std::string error;
    assembly::readImage(session.image(), view_, error);
    const VmHeader &h = view_.header;
    uint64_t cell = h.segmentVarsOffset;
    for (size_t k = 0; k < view_.segments.size(); ++k)
      for (size_t i = 0; i < view_.segments[k].vars.size(); ++i, cell += VM_CELL_SIZE)
        vars_.push_back({static_cast<uint32_t>(k), static_cast<uint32_t>(i), static_cast<uint32_t>(cell), {}});
    snapshot();
    tty_ = isatty(STDOUT_FILENO);
  }

  void show(int64_t cycle, const runner::CycleResult &r) {
    if (tty_) std::printf("\x1b[H\x1b[2J");
    std::printf("program \"%s\" (%d)  cycle %lld: %d commands, %s, %s\n\n", view_.programName().c_str(),
                view_.header.programNumber, static_cast<long long>(cycle), r.commands, statusText(r.runStatus),
                errorText(r).c_str());
    std::printf("%-9s %-6s %-9s %-10s %-8s %-6s %-24s %s\n", "seg:var", "type", "link", "point id", "index", "field",
                "var value", "point value");
    char text[VM_VALUE_TEXT_SIZE];
    for (const Entry &e : vars_) {
      VmVarRecord record = liveRecord(e);
      if (record.pointId == 0) continue;
      VmCell cell = liveCell(e);
      const char *link = (record.classByte & VM_VAR_LOAD) && (record.classByte & VM_VAR_SAVE) ? "load+save"
                         : (record.classByte & VM_VAR_LOAD)                                  ? "load"
                         : (record.classByte & VM_VAR_SAVE)                                  ? "save"
                                                                                              : "-";
      double point = 0.0;
      std::string pointText = "-";
      if (record.pointIndex > 0 &&
          VmGetPointFieldValue(session_.machine(), record.pointIndex, record.pointField, &point) >= 0) {
        char p[32];
        std::snprintf(p, sizeof p, "%g", point);
        pointText = p;
      }
      std::printf("%3u:%05u %-6s %-9s %-10d %-8d %-6d %-24s %s\n", e.segment, e.var,
                  assembly::typeName(record.type).c_str(), link, record.pointId, record.pointIndex, record.pointField,
                  VmValueToStr(&cell, record.type, text), pointText.c_str());
    }
    std::printf("\nchanged vars (data segment:var):\n");
    int changed = 0;
    for (Entry &e : vars_) {
      VmCell cell = liveCell(e);
      if (std::memcmp(&cell, &e.last, sizeof cell) == 0) continue;
      VmVarRecord record = liveRecord(e);
      std::printf("  %3u:%05u %-24s", e.segment, e.var, VmValueToStr(&e.last, record.type, text));
      std::printf(" -> %s\n", VmValueToStr(&cell, record.type, text));
      ++changed;
    }
    if (changed == 0) std::printf("  none\n");
    snapshot();
    std::fflush(stdout);
  }

 private:
  struct Entry {
    uint32_t segment, var, cellOffset;
    VmCell last;
  };
  VmCell liveCell(const Entry &e) const {
    VmCell cell;
    std::memcpy(&cell, session_.image().data() + e.cellOffset, sizeof cell);
    return cell;
  }
  VmVarRecord liveRecord(const Entry &e) const {
    VmVarRecord record;
    uint64_t at = uint64_t(view_.segments[e.segment].offset) + 4 + uint64_t(e.var) * VM_VAR_RECORD_SIZE;
    std::memcpy(&record, session_.image().data() + at, sizeof record);
    return record;
  }
  void snapshot() {
    for (Entry &e : vars_) e.last = liveCell(e);
  }

  const runner::Session &session_;
  assembly::ImageView view_;
  std::vector<Entry> vars_;
  bool tty_ = false;
};


}  // namespace

int runCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args,
                    {{"--cycles", true}, {"--period", true}, {"--points", true}, {"--shm", true}, {"--nvram", true},
                     {"--command-limit", true}, {"--log-level", true}, {"--tz", true}, {"--step", false},
                     {"--watch", false}},
                    options, error))
    return usageError(error, "run");
  if (options.help) {
    std::printf(
        "usage: sicvm run IMAGE [OPTIONS]\n\n"
        "Sets the program up as a host does (VmInitMachine, host fields, no external\n"
        "procedure, VmVerifyCode, VmVerifyVars, VmVerifyArrays, VmInitHostTypes,\n"
        "VmInitTimers, VmInitVarLinks) and runs it: each cycle is VmResetMachine and\n"
        "VmRunProgram, followed by a line with the cycle number, the commands run,\n"
        "the run status and the error record. SIGINT or SIGTERM ends the run after\n"
        "the current cycle. The library's log goes to standard error.\n\n"
        "  --cycles N          run N cycles (default: until interrupted)\n"
        "  --period MS         start a cycle every MS milliseconds (default 100; 0 = no pause)\n"
        "  --points FILE.csv   the host's point database (default: none); columns\n"
        "                      index,id,type,mode,value,status[,name]\n"
        "  --shm NAME          publish the point tables as shared memory /NAME while\n"
        "                      running (needs --points)\n"
        "  --nvram FILE        the non-volatile point store, an SQLite file created when\n"
        "                      missing (default: IMAGE with the extension .nvram;\n"
        "                      'none' for no store)\n"
        "  --command-limit N   most commands per cycle (default: the image's own limit\n"
        "                      when above 0, else %d)\n"
        "  --log-level N       the library's log level (default: SICVM_LOG_LEVEL, else 5)\n"
        "  --tz ZONE           the time zone of the date functions: a POSIX TZ rule such as\n"
        "                      CET-1CEST,M3.5.0,M10.5.0/3 or a zone name such as\n"
        "                      Europe/Berlin (default: the system's zone)\n"
        "  --step              run one command at a time, printing each before it runs\n"
        "  --watch             show a live table of the linked vars with their points and\n"
        "                      of the vars that changed, redrawn each cycle on a terminal\n\n"
        "Exit status: 0 every cycle completed, %d usage or file error, %d set-up failed,\n"
        "%d verification failed, %d a cycle stopped with a fatal error (above 100).\n",
        runner::kDefaultCommandLimit, kExitUsage, kExitSetUp, kExitVerify, kExitRunError);
    return kExitOk;
  }
  if (options.positional.size() != 1) return usageError("expected one IMAGE file", "run");
  long long cycles = -1, period = 100, limit = 0, level = 0;
  if (!numberOption(options, "--cycles", 0, INT64_MAX, cycles, error) ||
      !numberOption(options, "--period", 0, 86400000, period, error) ||
      !numberOption(options, "--command-limit", 0, INT32_MAX, limit, error) ||
      !numberOption(options, "--log-level", 0, 100, level, error))
    return usageError(error, "run");
  if (!applyTimeZoneOption(options.value("--tz"), error)) return usageError(error, "run");
  if (options.has("--log-level")) VmSetLogLevel(static_cast<int32_t>(level));

  const std::string &path = options.positional[0];
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes, error)) return usageError(error, "run");
  runner::SessionOptions host;
  host.pointsFile = options.value("--points");
  host.shmName = options.value("--shm");
  std::string nvram = options.value("--nvram").value_or(withExtension(path, ".nvram"));
  if (nvram != "none") host.nvramFile = nvram;
  if (options.has("--command-limit")) host.commandLimit = static_cast<int32_t>(limit);

  runner::Session session(std::move(bytes));
  switch (session.setUp(host, error)) {
    case runner::SetUpResult::OK: break;
    case runner::SetUpResult::SET_UP_FAILED:
      std::fprintf(stderr, "sicvm run: %s: %s\n", path.c_str(), error.c_str());
      return kExitSetUp;
    case runner::SetUpResult::VERIFY_FAILED:
      std::fprintf(stderr, "sicvm run: %s: %s (the log above has each fault)\n", path.c_str(), error.c_str());
      return kExitVerify;
  }

  std::printf("%s\n", timeZoneLine(options.value("--tz")).c_str());
  g_stop = false;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  bool step = options.has("--step");
  std::unique_ptr<Watch> watch;
  if (options.has("--watch")) watch = std::make_unique<Watch>(session);
  auto printStep = [](uint32_t pc, const VmCommand &command) {
    char address[VM_ADDR_TEXT_SIZE], text[VM_CMD_TEXT_SIZE];
    std::string line = VmCmdToStr(&command, text);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("  %s  %s\n", VmAddrToStr(pc, address), line.c_str());
  };
  auto start = std::chrono::steady_clock::now();
  int64_t cycle = 0, totalCommands = 0, withErrors = 0;
  bool fatal = false;
  while ((cycles < 0 || cycle < cycles) && !g_stop) {
    runner::CycleResult r = session.runCycle(step, step ? printStep : std::function<void(uint32_t, const VmCommand &)>{},
                                             [] { return g_stop.load(); });
    ++cycle;
    totalCommands += r.commands;
    if (r.error != 0) ++withErrors;
    if (watch)
      watch->show(cycle, r);
    else
      std::printf("cycle %lld: %d commands, %s, %s\n", static_cast<long long>(cycle), r.commands,
                  statusText(r.runStatus), errorText(r).c_str());
    std::fflush(stdout);
    if (r.fatal()) {
      fatal = true;
      break;
    }
    if (period > 0 && (cycles < 0 || cycle < cycles)) {
      auto next = start + std::chrono::milliseconds(period * cycle);
      while (!g_stop && std::chrono::steady_clock::now() < next)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            next - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
    }
  }
  std::printf("%lld cycle%s, %lld commands, %lld cycle%s with an error%s%s\n", static_cast<long long>(cycle),
              cycle == 1 ? "" : "s", static_cast<long long>(totalCommands), static_cast<long long>(withErrors),
              withErrors == 1 ? "" : "s", fatal ? "; stopped by a fatal error" : "",
              g_stop ? "; interrupted" : "");
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return fatal ? kExitRunError : kExitOk;
}

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
