#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The sicvm command's --version and its bash completion, as a shell user
# meets them.   usage: check_tool_shell.sh SICVM VERSION
set -euo pipefail
tool=$1 version=$2
fail=0

want=$'sicvm '"$version"$'\nlibsicvm '"$version"
got=$("$tool" --version)
if [[ $got != "$want" ]]; then
  echo "FAIL: sicvm --version printed '$got', expected '$want'"
  fail=1
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$tool" completion bash > "$dir/sicvm.bash"
bash -n "$dir/sicvm.bash"
cd "$dir"
touch a.sic b.asm c.csv d.st notes.txt
mkdir sub

# The completions of the command line "sicvm WORD...", the last word being
# the one under the cursor, sorted and on one line.
complete_line() {
  bash -c 'source ./sicvm.bash
           COMP_WORDS=(sicvm "$@"); COMP_CWORD=$#
           _sicvm
           if ((${#COMPREPLY[@]})); then printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "; fi' _ "$@"
}
expect() {
  local want=$1
  shift
  local got
  got=$(complete_line "$@")
  if [[ $got != "$want" ]]; then
    echo "FAIL: sicvm $* <TAB> gave '$got', expected '$want'"
    fail=1
  fi
}
contains() {
  local want=$1
  shift
  local got
  got=$(complete_line "$@")
  if [[ " $got " != *" $want "* ]]; then
    echo "FAIL: sicvm $* <TAB> gave '$got', which lacks '$want'"
    fail=1
  fi
}

for word in info list verify run asm build disasm points help gas completion --help --version; do contains "$word" ""; done
expect "run " r
expect "--cycles " run --cy
contains "--watch" run -
expect "a.sic sub " run ""
expect "a.sic sub " run --watch ""
expect "c.csv sub " run --points ""
expect "c.csv sub " verify a.sic --points ""
expect "" run --cycles ""
expect "a.sic b.asm c.csv d.st notes.txt sicvm.bash sub " run --nvram ""
expect "b.asm sub " asm ""
expect "a.sic sub " asm b.asm -o ""
expect "b.asm sub " disasm a.sic --output ""
expect "d.st sub " build ""
expect "a.sic sub " build d.st -o ""
expect "--json " gas --j
expect "force list set unforce watch " points ""
expect "commands functions reference " help ""
expect "bash " completion ""
exit $fail
