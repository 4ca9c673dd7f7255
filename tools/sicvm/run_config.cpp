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
      "  --cycle-lines WHEN  which cycles print their line: all (default), changes (the\n"
      "                      first cycle and each whose command count, run status or\n"
      "                      error record differs from the cycle before), none; the\n"
      "                      summary counts every cycle either way\n"
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
      "                      'none' for no store); a cycle's writes are committed\n"
      "                      together at its end with one disk sync, so after a\n"
      "                      crash the store holds the state after a whole cycle\n"
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
      "  --symbols FILE      the names for --watch, --step and --reload (default: IMAGE\n"
      "                      with the extension .sym, as 'sicvm asm' writes it)\n"
      "  --reload            online change: when IMAGE (or its symbol file) is replaced,\n"
      "                      or on SIGHUP, the new image is set up and verified beside\n"
      "                      the running program and switched to between two cycles;\n"
      "                      vars, arrays and function block cells whose name and type\n"
      "                      are the same in both symbol files keep their values. A\n"
      "                      replacement that fails is logged and the program goes on\n"
      "  --modbus HOST:PORT  serve the points over Modbus TCP on HOST:PORT (127.0.0.1:1502;\n"
      "                      0.0.0.0 for every interface, [::1] for IPv6, port 0 for any\n"
      "                      free port); needs --points and --modbus-map\n"
      "  --modbus-map FILE   the map: point,table,address,type,access[,word_order] lines\n"
      "  --modbus-read-only  refuse every write function (exception 1)\n"
      "  --modbus-idle-timeout S  close a connection idle for S seconds (default 60)\n"
      "  --primary HOST:PORT run as the primary of hot standby: after each cycle send the\n"
      "                      program's state to the standby at HOST:PORT; the run never\n"
      "                      waits for it, and goes on without it when it is lost\n"
      "  --standby HOST:PORT wait as the standby: listen on HOST:PORT (port 0: a free\n"
      "                      one, printed), hold the states the primary sends, run no\n"
      "                      cycle and write no point until it takes over\n"
      "  --takeover-after MS the standby takes over when no state has come for MS\n"
      "                      milliseconds (default 3 periods, 100 with --period 0);\n"
      "                      must be longer than the period\n\n"
      "Exit status: 0 every cycle completed, %d usage or file error, %d set-up failed,\n"
      "%d verification failed, %d a cycle stopped with a fatal error (above 100).\n",
      runner::kDefaultCommandLimit, kExitUsage, kExitSetUp, kExitVerify, kExitRunError);
}

// --modbus HOST:PORT and the options that only go with it.
bool modbusOptions(const Options &options, RunConfig &config, std::string &error) {
  auto where = options.value("--modbus");
  if (!where) {
    for (const char *name : {"--modbus-map", "--modbus-read-only", "--modbus-idle-timeout"})
      if (options.has(name)) {
        error = std::string(name) + " needs --modbus";
        return false;
      }
    return true;
  }
  modbus::ServerOptions server;
  size_t colon = where->rfind(':');
  std::string host = colon == std::string::npos ? "" : where->substr(0, colon);
  std::string port = colon == std::string::npos ? "" : where->substr(colon + 1);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  long long number = -1;
  if (!port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos)
    number = std::stoll(port);
  if (host.empty() || number < 0 || number > 65535) {
    error = "--modbus expects HOST:PORT with a port from 0 to 65535 (127.0.0.1:1502), found '" + *where + "'";
    return false;
  }
  long long idle = 60;
  if (!numberOption(options, "--modbus-idle-timeout", 1, 86400, idle, error)) return false;
  if (!options.has("--modbus-map")) {
    error = "--modbus needs --modbus-map FILE";
    return false;
  }
  if (!config.host.pointsFile) {
    error = "--modbus needs a point database (--points)";
    return false;
  }
  server.host = host;
  server.port = std::to_string(number);
  server.readOnly = options.has("--modbus-read-only");
  server.idleTimeoutS = static_cast<int>(idle);
  config.modbus = server;
  config.modbusMap = *options.value("--modbus-map");
  return true;
}

// --primary, --standby and --takeover-after; -1 when they fit together.
int readStandbyOptions(const Options &options, RunConfig &config) {
  std::string error;
  if (options.has("--primary") && options.has("--standby"))
    return usageError("--primary and --standby exclude each other", "run");
  if (options.has("--takeover-after") && !options.has("--standby"))
    return usageError("--takeover-after is an option of the standby (--standby)", "run");
  if (options.has("--primary") && config.step)
    return usageError("--step cannot be used with --primary: a stepped cycle holds up the states the standby waits for",
                      "run");
  standby::Endpoint endpoint;
  if (auto primary = options.value("--primary")) {
    if (!standby::parseEndpoint(*primary, false, endpoint, error)) return usageError("--primary: " + error, "run");
    config.primaryOf = endpoint;
  }
  if (auto standby = options.value("--standby")) {
    if (!standby::parseEndpoint(*standby, true, endpoint, error)) return usageError("--standby: " + error, "run");
    config.standbyAt = endpoint;
    long long takeover = config.periodMs > 0 ? 3 * config.periodMs : 100;
    if (options.has("--takeover-after")) {
      numberOption(options, "--takeover-after", 1, 86400000, takeover, error);
      if (takeover <= config.periodMs)
        return usageError("--takeover-after " + std::to_string(takeover) + " must be longer than the period (" +
                              std::to_string(config.periodMs) + " ms): a healthy primary sends one state a period",
                          "run");
    }
    config.takeoverAfterMs = takeover;
  }
  return -1;
}

}  // namespace

int readRunConfig(const std::vector<std::string> &args, RunConfig &config) {
  Options options;
  std::string error;
  if (!parseOptions(args,
                    {{"--cycles", true}, {"--period", true}, {"--points", true}, {"--shm", true}, {"--nvram", true},
                     {"--command-limit", true}, {"--log-level", true}, {"--tz", true}, {"--step", false},
                     {"--watch", false}, {"--symbols", true}, {"--stats", true},
                     {"--cycle-lines", true},
                     {"--reload", false},
                     {"--modbus", true}, {"--modbus-map", true}, {"--modbus-read-only", false},
                     {"--modbus-idle-timeout", true},
                     {"--primary", true}, {"--standby", true}, {"--takeover-after", true}},
                    options, error))
    return usageError(error, "run");
  if (options.help) {
    printUsage();
    return kExitOk;
  }
  if (options.positional.size() != 1) return usageError("expected one IMAGE file", "run");
  long long cycles = -1, period = 100, limit = 0, level = 0, takeover = 0;
  if (!numberOption(options, "--cycles", 0, INT64_MAX, cycles, error) ||
      !numberOption(options, "--takeover-after", 1, 86400000, takeover, error) ||
      !numberOption(options, "--period", 0, 86400000, period, error) ||
      !numberOption(options, "--command-limit", 0, INT32_MAX, limit, error) ||
      !numberOption(options, "--log-level", 0, 100, level, error))
    return usageError(error, "run");
  if (!applyTimeZoneOption(options.value("--tz"), error)) return usageError(error, "run");
  if (options.has("--log-level")) VmSetLogLevel(static_cast<int32_t>(level));

  if (auto when = options.value("--cycle-lines")) {
    auto mode = CycleLines::modeOf(*when);
    if (!mode) return usageError("--cycle-lines takes all, changes or none, not '" + *when + "'", "run");
    config.cycleLines = *mode;
  }

  config.image = options.positional[0];
  config.symbols = options.value("--symbols");
  config.statsFile = options.value("--stats");
  config.timeZone = options.value("--tz");
  config.cycles = cycles;
  config.periodMs = period;
  config.step = options.has("--step");
  config.watch = options.has("--watch");
  config.reload = options.has("--reload");
  config.host.pointsFile = options.value("--points");
  if (auto shm = options.value("--shm")) config.host.shmName = shmObjectName(*shm);
  std::string nvram = options.value("--nvram").value_or(withExtension(config.image, ".nvram"));
  if (nvram != "none") config.host.nvramFile = nvram;
  if (options.has("--command-limit")) config.host.commandLimit = static_cast<int32_t>(limit);
  if (!modbusOptions(options, config, error)) return usageError(error, "run");
  return readStandbyOptions(options, config);
}

}  // namespace sicvm::tool
