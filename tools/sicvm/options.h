// SPDX-License-Identifier: MIT
// Command-line options of the subcommands: --name VALUE, --name=VALUE, flags
// and positional arguments; --help and -h anywhere ask for the usage text.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sicvm::tool {

struct OptionSpec {
  const char *name;   // "--cycles", or a short form such as "-o"
  bool takesValue;
};

struct Options {
  std::map<std::string, std::string> values;  // by option name, flags hold ""
  std::vector<std::string> positional;
  bool help = false;

  bool has(const std::string &name) const { return values.count(name) != 0; }
  std::optional<std::string> value(const std::string &name) const {
    auto it = values.find(name);
    return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
};

// Parses args; false with a message for an unknown option or a missing value.
bool parseOptions(const std::vector<std::string> &args, std::initializer_list<OptionSpec> specs, Options &options,
                  std::string &error);

// A whole decimal number in [min, max]; false with a message naming the option otherwise.
bool numberOption(const Options &options, const std::string &name, long long min, long long max, long long &out,
                  std::string &error);

// Prints "sicvm SUBCOMMAND: ERROR" and a pointer to its --help; returns the usage exit status.
int usageError(const std::string &error, const char *subcommand);

// A shared-memory object name as given by the user ("plant" or "/plant"),
// as the system names it ("/plant").
std::string shmObjectName(const std::string &name);

// The path with its extension (after the last '.' of the file name) replaced
// by `extension` (".sic"), or with the extension added when it has none.
std::string withExtension(const std::string &path, const std::string &extension);

}  // namespace sicvm::tool
