// SPDX-License-Identifier: MIT
// sicvm completion bash: writes a bash completion script for sicvm.
//
// The script is generated from the help texts of this very program, read by
// running it with --help (and SUBCOMMAND --help for each subcommand listed
// there), so the script lists exactly the subcommands and options the tool
// has and never goes stale. What the help texts give:
//   - `sicvm --help`: the subcommands, one per line under "Subcommands:";
//   - "usage: sicvm SUB ARG ...": the first positional argument, either a
//     metavariable (IMAGE, SOURCE) or literal words ("bash", "a|b");
//   - option lines "  --name METAVAR  text" or "  -o, --name METAVAR  text":
//     the options, and by their metavariable whether they take a value.
//   - options in brackets on the usage line ("[--json]") that have no line
//     of their own.
// A metavariable says what to complete: NAME.ext a file with that extension
// (FILE.csv, PROGRAM.st), and by kFileKinds below IMAGE a .sic file, SOURCE
// a .asm file, FILE any file; other values (N, MS, NAME, RULE) are left to
// the user.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"

namespace sicvm::tool {
namespace {

struct FileKind {
  const char *metavar;
  const char *extension;  // "" = any file
};

const FileKind kFileKinds[] = {{"IMAGE", "sic"}, {"SOURCE", "asm"}, {"FILE", ""}};

struct OptionInfo {
  std::vector<std::string> names;  // "-o", "--output"
  std::string metavar;             // "" for a flag
};

struct SubcommandInfo {
  std::string name;
  std::string positional;              // metavariable of the first argument, or ""
  std::vector<std::string> words;      // literal first arguments ("bash")
  std::vector<OptionInfo> options;
};

// Runs this program with `args` and returns its standard output and error;
// false when it cannot be started or fails.
bool runSelf(const std::vector<std::string> &args, std::string &output) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return false;
  }
  if (child == 0) {
    // Both streams: a help text may go to either.
    dup2(pipeFds[1], STDOUT_FILENO);
    dup2(pipeFds[1], STDERR_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char *> argv{const_cast<char *>("sicvm")};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> subcommandNames(const std::string &help) {
  std::vector<std::string> names;
  bool inList = false;
  static const std::regex entry(R"(^  ([a-z][a-z0-9-]*)\s)");
  for (const std::string &line : lines(help)) {
    std::smatch m;
    if (line == "Subcommands:") inList = true;
    else if (inList && std::regex_search(line, m, entry)) names.push_back(m[1]);
    else if (inList && line.empty()) inList = false;
  }
  return names;
}

SubcommandInfo readSubcommand(const std::string &name, const std::string &help) {
  SubcommandInfo info{name, "", {}, {}};
  static const std::regex option(R"(^ {2,}(-[A-Za-z], )?(--[a-z0-9-]+)(?: ([A-Z][A-Za-z0-9.]*))?(\s|$))");
  // The usage line and its continuations ("       sicvm points watch ...").
  const std::regex usage("^(?:usage:)? +sicvm " + name + " ([^ \\[-][^ ]*)(.*)$");
  static const std::regex alternatives(R"(^(?: \| [a-z][a-z0-9-]*)+)");
  std::vector<OptionInfo> usageOptions;
  for (const std::string &line : lines(help)) {
    std::smatch m;
    if (std::regex_search(line, m, usage)) {
      std::string first = m[1], rest = m[2];
      if (first[0] >= 'A' && first[0] <= 'Z') {
        if (info.positional.empty() && info.words.empty()) info.positional = first;
      } else {
        // Literal words: "bash", "a|b", or "a | b | c".
        std::smatch more;
        if (std::regex_search(rest, more, alternatives)) first += more.str();
        std::istringstream words(first);
        for (std::string w; std::getline(words, w, '|');) {
          w.erase(0, w.find_first_not_of(' '));
          w.erase(w.find_last_not_of(' ') + 1);
          if (std::find(info.words.begin(), info.words.end(), w) == info.words.end()) info.words.push_back(w);
        }
      }
      static const std::regex bracketed(R"(\[(--?[A-Za-z][a-z0-9-]*)(?: ([A-Z][A-Za-z0-9.]*))?\])");
      for (std::sregex_iterator it(line.begin(), line.end(), bracketed), end; it != end; ++it)
        usageOptions.push_back({{(*it)[1]}, (*it)[2]});
    } else if (std::regex_search(line, m, option)) {
      OptionInfo o;
      if (m[1].matched) o.names.push_back(m[1].str().substr(0, 2));
      o.names.push_back(m[2]);
      o.metavar = m[3];
      info.options.push_back(o);
    }
  }
  for (const OptionInfo &u : usageOptions) {
    bool known = std::any_of(info.options.begin(), info.options.end(), [&](const OptionInfo &o) {
      return std::find(o.names.begin(), o.names.end(), u.names[0]) != o.names.end();
    });
    if (!known) info.options.push_back(u);
  }
  info.options.push_back({{"--help"}, ""});
  return info;
}

// The extension of the files a metavariable names ("" for any file); none
// for a value that is not a file.
std::optional<std::string> fileExtension(const std::string &metavar) {
  if (size_t dot = metavar.rfind('.'); dot != std::string::npos) return metavar.substr(dot + 1);
  for (const FileKind &k : kFileKinds)
    if (metavar == k.metavar) return std::string(k.extension);
  return std::nullopt;
}

std::string join(const std::vector<std::string> &words, const char *separator) {
  std::string out;
  for (const std::string &w : words) out += (out.empty() ? "" : separator) + w;
  return out;
}

// The completion of an argument whose metavariable is `metavar`.
std::string completeValue(const std::string &metavar) {
  std::optional<std::string> extension = fileExtension(metavar);
  if (!extension) return "return 0";
  return "_sicvm_files '" + *extension + "'; return 0";
}

std::string script(const std::vector<SubcommandInfo> &subcommands) {
  std::vector<std::string> names;
  for (const SubcommandInfo &s : subcommands) names.push_back(s.name);
  std::string out =
      "# bash completion for sicvm, written by 'sicvm completion bash'.\n"
      "# Load it with:  source <(sicvm completion bash)\n"
      "# or install it as /usr/share/bash-completion/completions/sicvm.\n\n"
      "_sicvm_files() {\n"
      "  local IFS=$'\\n'\n"
      "  compopt -o filenames 2>/dev/null\n"
      "  if [[ -n $1 ]]; then\n"
      "    COMPREPLY=($(compgen -d -- \"$cur\") $(compgen -f -X \"!*.$1\" -- \"$cur\"))\n"
      "  else\n"
      "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
      "  fi\n"
      "}\n\n"
      "_sicvm() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      "  COMPREPLY=()\n"
      "  if ((COMP_CWORD == 1)); then\n"
      "    COMPREPLY=($(compgen -W \"" + join(names, " ") + " --help --version\" -- \"$cur\"))\n"
      "    return 0\n"
      "  fi\n"
      "  case ${COMP_WORDS[1]} in\n";
  for (const SubcommandInfo &s : subcommands) {
    out += "    " + s.name + ")\n";
    std::string valueCases;
    std::vector<std::string> optionNames;
    for (const OptionInfo &o : s.options) {
      optionNames.insert(optionNames.end(), o.names.begin(), o.names.end());
      if (!o.metavar.empty()) valueCases += "        " + join(o.names, "|") + ") " + completeValue(o.metavar) + " ;;\n";
    }
    if (!valueCases.empty()) out += "      case $prev in\n" + valueCases + "      esac\n";
    out += "      if [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" + join(optionNames, " ") + "\" -- \"$cur\"))\n";
    if (!s.words.empty())
      out += "      elif ((COMP_CWORD == 2)); then\n"
             "        COMPREPLY=($(compgen -W \"" + join(s.words, " ") + "\" -- \"$cur\"))\n";
    else if (std::optional<std::string> extension = fileExtension(s.positional); extension && !s.positional.empty())
      out += "      else\n"
             "        _sicvm_files '" + *extension + "'\n";
    out += "      fi\n      ;;\n";
  }
  out += "  esac\n"
         "  return 0\n"
         "}\n\n"
         "complete -F _sicvm sicvm\n";
  return out;
}

}  // namespace

int completionCommand(const std::vector<std::string> &args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf("usage: sicvm completion bash\n\n"
                "Writes a bash completion script for sicvm to standard output: subcommands,\n"
                "their options, and file names by kind (.sic images, .asm sources, .csv\n"
                "point files). Load it in a shell with\n"
                "  source <(sicvm completion bash)\n"
                "Exit status: 0 written, %d usage error.\n",
                kExitUsage);
    return kExitOk;
  }
  if (args.size() != 1 || args[0] != "bash") return usageError("expected the shell name 'bash'", "completion");
  std::string help;
  if (!runSelf({"--help"}, help)) {
    std::fprintf(stderr, "sicvm completion: cannot run /proc/self/exe --help\n");
    return kExitUsage;
  }
  std::vector<SubcommandInfo> subcommands;
  for (const std::string &name : subcommandNames(help)) {
    std::string text;
    // A subcommand whose help cannot be read still completes by name.
    if (!runSelf({name, "--help"}, text)) text.clear();
    subcommands.push_back(readSubcommand(name, text));
  }
  std::fputs(script(subcommands).c_str(), stdout);
  return kExitOk;
}

}  // namespace sicvm::tool
