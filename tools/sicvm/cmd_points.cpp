// SPDX-License-Identifier: MIT
// sicvm points: the point tables of a running program, published with
// `sicvm run --shm NAME`, from outside: list, watch, set, force, unforce.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "hostrt/points.h"
#include "options.h"
#include "runner/image_check.h"

namespace sicvm::tool {
namespace {

std::atomic<bool> g_stop{false};
extern "C" void onPointsSignal(int) { g_stop = true; }

const char *const kTypeNames[] = {"?", "BOOL", "DINT", "LREAL", "INT", "REAL"};

const char *typeName(int32_t type) { return type >= 1 && type <= 5 ? kTypeNames[type] : "LREAL"; }

struct Closer {
  void operator()(PointDb *db) const { PointDbClose(db); }
};
using Tables = std::unique_ptr<PointDb, Closer>;

bool attach(const std::string &name, Tables &tables, std::string &error) {
  char text[512];
  tables.reset(PointDbAttach(shmObjectName(name).c_str(), text, sizeof text));
  if (!tables) error = std::string(text) + " (is 'sicvm run --shm " + name + "' running?)";
  return tables != nullptr;
}

bool exists(const PointDb *db, int32_t index) { return PointDbConfig(db)[index].ownIndex == index && index > 0; }

// The point with this ID; the lowest index when several records carry it,
// as the program's links bind. -1 when there is none.
int32_t indexOf(const PointDb *db, int32_t id) {
  for (int32_t i = 1; i < PointDbCount(db); ++i)
    if (exists(db, i) && PointDbConfig(db)[i].pointId == id) return i;
  return -1;
}

std::string pointName(const PointConfigRecord &c) {
  return runner::escaped(std::string_view(c.name, strnlen(c.name, sizeof c.name)));
}

void printTable(const PointDb *db, const std::vector<int32_t> &ids, const std::string &name) {
  const PointDbHeader *info = PointDbInfo(db);
  std::printf("points of /%s: %d records, published by process %d\n\n", name.c_str() + (name[0] == '/'),
              PointDbCount(db) - 1, info->ownerPid);
  std::printf("%-7s %-10s %-24s %-6s %-16s %-10s %s\n", "index", "id", "name", "type", "value", "status", "forced");
  for (int32_t i = 1; i < PointDbCount(db); ++i) {
    if (!exists(db, i)) continue;
    const PointConfigRecord &c = PointDbConfig(db)[i];
    const int32_t id = c.pointId;
    if (!ids.empty() && std::find(ids.begin(), ids.end(), id) == ids.end()) continue;
    const PointValueRecord &v = PointDbValues(db)[i];
    double value = v.value, forcedValue = 0.0;
    char forced[40] = "-";
    if (PointDbForcedValue(db, i, &forcedValue) == 1) std::snprintf(forced, sizeof forced, "FORCED %.17g", forcedValue);
    std::printf("%-7d %-10d %-24s %-6s %-16.10g 0x%08X %s\n", i, id, pointName(c).c_str(), typeName(c.valueType),
                value, static_cast<uint32_t>(v.status), forced);
  }
  std::fflush(stdout);
}

bool parseId(const std::string &text, int32_t &id) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && id != 0;
}

struct Assignment {
  int32_t index;
  double value;
};

// ID=VALUE arguments, each checked against its point: all of them or none.
bool readAssignments(const PointDb *db, const std::vector<std::string> &args, std::vector<Assignment> &out,
                     std::string &error) {
  for (const std::string &arg : args) {
    size_t eq = arg.find('=');
    int32_t id = 0;
    if (eq == std::string::npos || !parseId(arg.substr(0, eq), id)) {
      error = "expected ID=VALUE, found '" + arg + "'";
      return false;
    }
    int32_t index = indexOf(db, id);
    if (index < 0) {
      error = "no point with ID " + std::to_string(id);
      return false;
    }
    std::string text = arg.substr(eq + 1);
    double value = 0.0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
      error = "point " + std::to_string(id) + ": '" + text + "' is not a number";
      return false;
    }
    char reason[256];
    if (PointDbFitValue(PointDbConfig(db)[index].valueType, &value, reason, sizeof reason) != 0) {
      error = "point " + std::to_string(id) + " (" + typeName(PointDbConfig(db)[index].valueType) + "): " + reason;
      return false;
    }
    out.push_back({index, value});
  }
  return true;
}

int usage(FILE *out, int status) {
  std::fprintf(out,
               "usage: sicvm points list NAME\n"
               "       sicvm points watch NAME [ID...] [--interval MS] [--count N]\n"
               "       sicvm points set NAME ID=VALUE...\n"
               "       sicvm points force NAME ID=VALUE...\n"
               "       sicvm points unforce NAME ID...\n\n"
               "Works on the point tables that 'sicvm run --shm NAME' publishes while it runs\n"
               "(NAME and /NAME are the same object).\n\n"
               "  list      every point: index, ID, name, type, value, status and force\n"
               "  watch     the same table (only the given point IDs, when any), redrawn\n"
               "            every --interval MS (default 500) until interrupted or N times\n"
               "  set       writes each value once; the program may overwrite it next cycle\n"
               "  force     holds each point at its value: the runner writes it back after\n"
               "            every cycle, over what the program saved, until 'unforce'\n"
               "  unforce   releases forced points\n\n"
               "A value must suit the point's type (BOOL 0 or 1, DINT and INT whole numbers in\n"
               "range, REAL in single range); nothing is written when any argument is wrong.\n"
               "Exit status: 0 done, %d usage error, no such object or point, or a bad value.\n",
               kExitUsage);
  return status;
}

int fail(const std::string &error) {
  std::fprintf(stderr, "sicvm points: %s\n", error.c_str());
  return kExitUsage;
}

int watchCommand(const PointDb *db, const std::string &name, const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"--interval", true}, {"--count", true}}, options, error)) return fail(error);
  long long interval = 500, count = -1;
  if (!numberOption(options, "--interval", 10, 3600000, interval, error) ||
      !numberOption(options, "--count", 1, INT32_MAX, count, error))
    return fail(error);
  std::vector<int32_t> ids;
  for (const std::string &text : options.positional) {
    int32_t id = 0;
    if (!parseId(text, id) || indexOf(db, id) < 0) return fail("no point with ID '" + text + "'");
    ids.push_back(id);
  }
  bool tty = isatty(STDOUT_FILENO);
  g_stop = false;
  std::signal(SIGINT, onPointsSignal);
  std::signal(SIGTERM, onPointsSignal);
  for (long long shown = 0; !g_stop && (count < 0 || shown < count); ++shown) {
    if (shown > 0) {
      timespec pause{static_cast<time_t>(interval / 1000), static_cast<long>(interval % 1000) * 1000000};
      nanosleep(&pause, nullptr);  // a signal ends it early
      if (g_stop) break;
    }
    if (tty) std::printf("\x1b[H\x1b[2J");
    else if (shown > 0) std::printf("\n");
    printTable(db, ids, name);
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return kExitOk;
}

}  // namespace

int pointsCommand(const std::vector<std::string> &args) {
  if (args.empty()) return usage(stderr, kExitUsage);
  if (args[0] == "--help" || args[0] == "-h") return usage(stdout, kExitOk);
  const std::string &action = args[0];
  if (action != "list" && action != "watch" && action != "set" && action != "force" && action != "unforce")
    return fail("unknown action '" + action + "' (list, watch, set, force, unforce)");
  if (args.size() < 2) return fail("expected the shared memory NAME after '" + action + "'");
  const std::string &name = args[1];
  std::vector<std::string> rest(args.begin() + 2, args.end());
  Tables tables;
  std::string error;
  if (!attach(name, tables, error)) return fail(error);
  PointDb *db = tables.get();

  if (action == "list") {
    if (!rest.empty()) return fail("list takes only NAME");
    printTable(db, {}, name);
    return kExitOk;
  }
  if (action == "watch") return watchCommand(db, name, rest);
  if (rest.empty()) return fail(action + " needs at least one point");
  if (action == "unforce") {
    std::vector<int32_t> indexes;
    for (const std::string &text : rest) {
      int32_t id = 0, index = -1;
      if (!parseId(text, id) || (index = indexOf(db, id)) < 0) return fail("no point with ID '" + text + "'");
      indexes.push_back(index);
    }
    for (int32_t index : indexes) PointDbUnforce(db, index);
    return kExitOk;
  }
  std::vector<Assignment> assignments;
  if (!readAssignments(db, rest, assignments, error)) return fail(error);
  for (const Assignment &a : assignments) {
    if (action == "force") PointDbForce(db, a.index, a.value);
    std::memcpy(reinterpret_cast<char *>(&PointDbValues(db)[a.index]) + offsetof(PointValueRecord, value), &a.value,
                sizeof a.value);
  }
  return kExitOk;
}

}  // namespace sicvm::tool
