// Running the sicvm command as a user does, for the tests of the tools.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace tooltest {

struct Result {
  int status;
  std::string out;  // standard output and standard error
};

// Runs `sicvm ARGUMENTS` through the shell and collects both outputs.
inline Result sicvm(const std::string &arguments) {
  std::string command = std::string(SICVM_TOOL) + " " + arguments + " 2>&1";
  Result r{-1, {}};
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

inline std::string temp(const std::string &name) { return testing::TempDir() + "sicvm_cmd_" + name; }

inline void write(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

inline std::string readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string &path) { return std::filesystem::exists(path); }

inline const std::string kExamples = SICVM_EXAMPLES;

}  // namespace tooltest
