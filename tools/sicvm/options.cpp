// SPDX-License-Identifier: MIT
#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "commands.h"

namespace sicvm::tool {

bool parseOptions(const std::vector<std::string> &args, std::initializer_list<OptionSpec> specs, Options &options,
                  std::string &error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      options.positional.push_back(arg);
      continue;
    }
    std::string name = arg, value;
    bool inlineValue = false;
    if (size_t eq = arg.find('='); eq != std::string::npos && arg.compare(0, 2, "--") == 0) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    const OptionSpec *known = nullptr;
    for (const OptionSpec &s : specs)
      if (name == s.name) known = &s;
    if (!known) {
      error = "unknown option '" + name + "'";
      return false;
    }
    if (known->takesValue && !inlineValue) {
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (!known->takesValue && inlineValue) {
      error = "option " + name + " takes no value";
      return false;
    }
    options.values[name] = value;
  }
  return true;
}

bool numberOption(const Options &options, const std::string &name, long long min, long long max, long long &out,
                  std::string &error) {
  auto text = options.value(name);
  if (!text) return true;
  char *end = nullptr;
  errno = 0;
  long long v = std::strtoll(text->c_str(), &end, 10);
  if (text->empty() || *end != '\0' || errno != 0 || v < min || v > max) {
    error = "option " + name + " needs a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
            ", found '" + *text + "'";
    return false;
  }
  out = v;
  return true;
}

int usageError(const std::string &error, const char *subcommand) {
  std::fprintf(stderr, "sicvm %s: %s\n(see 'sicvm %s --help')\n", subcommand, error.c_str(), subcommand);
  return kExitUsage;
}

std::string shmObjectName(const std::string &name) { return !name.empty() && name[0] == '/' ? name : "/" + name; }

std::string withExtension(const std::string &path, const std::string &extension) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return path.substr(0, dot) + extension;
  return path + extension;
}

}  // namespace sicvm::tool
