// SPDX-License-Identifier: MIT
#include "run_config.h"

#include <cstdio>

#include "commands.h"
#include "options.h"
#include "time_zone.h"
#include "sicvm/vm.h"

namespace sicvm::tool {
namespace {

void printUsage() {
  std::printf(
      "usage: sicvm run IMAGE [OPTIONS]\n\n"
      "Sets the program up as a host does (VmInitMachine, host fields, no external\n"
      "procedure, VmVerifyCode, VmVerifyVars, VmVerifyArrays, VmInitHostTypes,\n"
      "VmInitTimers, VmInitVarLinks) and runs it: each cycle is VmResetMachine and\n"
      "VmRunProgram, followed by a line with the cycle number, the commands run,\n"
      "the run status and the error record. SIGINT or SIGTERM ends the run after\n"
      "the current cycle. The library's log goes to standard error.\n\n"
      "  --cycles N          run N cycles (default: until interrupted)\n"
      "  --period MS         start a cycle every MS milliseconds (default 100; 0 = no pause);\n"
      "                      cycles start on a fixed grid (CLOCK_MONOTONIC), a late one at\n"
      "                      once; the summary (and the --watch header) gives the\n"
      "                      execution time min/avg/max, the start jitter and the overruns\n"
      "                      (cycles longer than the period)\n"
      "  --stats FILE        write one CSV line per cycle: cycle,start_ms,jitter_us,exec_us,\n"
      "                      commands,status,error,overrun\n"
      "  --points FILE.csv   the host's point database (default: none); columns\n"
      "                      index,id,type,mode,value,status[,name]\n"
      "  --shm NAME          publish the point tables as shared memory /NAME while\n"
      "                      running (needs --points; 'sicvm points' watches and\n"
      "                      forces them); an object left by a run that was killed\n"
      "                      is reclaimed, one whose run still goes on is refused\n"
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
      "                      of the vars and array cells that changed, redrawn each\n"
      "                      cycle on a terminal\n"
      "  --symbols FILE      the names for --watch and --step (default: IMAGE with the\n"
      "                      extension .sym, as 'sicvm asm' writes it)\n\n"
      "Exit status: 0 every cycle completed, %d usage or file error, %d set-up failed,\n"
      "%d verification failed, %d a cycle stopped with a fatal error (above 100).\n",
      runner::kDefaultCommandLimit, kExitUsage, kExitSetUp, kExitVerify, kExitRunError);
}

}  // namespace

int readRunConfig(const std::vector<std::string> &args, RunConfig &config) {
  Options options;
  std::string error;
  if (!parseOptions(args,
                    {{"--cycles", true}, {"--period", true}, {"--points", true}, {"--shm", true}, {"--nvram", true},
                     {"--command-limit", true}, {"--log-level", true}, {"--tz", true}, {"--step", false},
                     {"--watch", false}, {"--symbols", true}, {"--stats", true}},
                    options, error))
    return usageError(error, "run");
  if (options.help) {
    printUsage();
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

  config.image = options.positional[0];
  config.symbols = options.value("--symbols");
  config.statsFile = options.value("--stats");
  config.timeZone = options.value("--tz");
  config.cycles = cycles;
  config.periodMs = period;
  config.step = options.has("--step");
  config.watch = options.has("--watch");
  config.host.pointsFile = options.value("--points");
  if (auto shm = options.value("--shm")) config.host.shmName = shmObjectName(*shm);
  std::string nvram = options.value("--nvram").value_or(withExtension(config.image, ".nvram"));
  if (nvram != "none") config.host.nvramFile = nvram;
  if (options.has("--command-limit")) config.host.commandLimit = static_cast<int32_t>(limit);
  return -1;
}

}  // namespace sicvm::tool
