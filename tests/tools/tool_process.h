// SPDX-License-Identifier: MIT
// Running the sicvm command as a user does, for the tests of the tools.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

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

// A sicvm command running in the background, its output going to a file.
// The destructor kills it if it still runs.
class Background {
 public:
  Background(const std::vector<std::string> &arguments, const std::string &output) : output_(output) {
    write(output, "");  // no output of an earlier run is mistaken for this one's
    pid_ = fork();
    if (pid_ == 0) {
      FILE *out = std::freopen(output.c_str(), "w", stdout);
      if (out == nullptr || dup2(STDOUT_FILENO, STDERR_FILENO) < 0) _exit(126);
      std::vector<char *> argv{const_cast<char *>("sicvm")};
      for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(SICVM_TOOL, argv.data());
      _exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  std::string output() const { return readAll(output_); }
  // Sends `signal` and waits for the end; the exit status, or -1 when killed.
  int stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    finished_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  std::string output_;
  bool finished_ = false;
};

// Waits up to 10 s for `done` to hold, polling every 10 ms.
template <class Condition>
bool eventually(Condition done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace tooltest
