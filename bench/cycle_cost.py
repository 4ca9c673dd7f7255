#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Instructions per host cycle of `sicvm run`, counted with callgrind.

For each example, runs

    sicvm run EXAMPLE.sic --points EXAMPLE.csv --period 0 --nvram none --cycles N [OPTIONS]

under callgrind for N = 2,000 and N = 12,000 (standard output to /dev/null)
and reports the difference divided by 10,000: the cost of one cycle without
the set-up and the exit. The same difference is taken for the inclusive cost
of the run's parts (VmRunProgram, the library dispatchers, the point
commands, the timer update), so the runner's own share is what is left.

usage: cycle_cost.py BUILD_DIR [--example NAME]... [--option OPT]... [--cycles A B]
                     [--baseline DIR]

--baseline DIR measures a second build the same way in the same run (DIR
holds tools/sicvm/sicvm and examples/*.sic; a DIR/lib, when there is one,
is put first on LD_LIBRARY_PATH for it) and prints each figure's ratio to it.
For the tank example the cycle is also compared with plain C++ doing the same
work (bench/cycle_plain.cpp, built as BUILD_DIR/bench/bench_cycle_plain).

The figures are instruction counts, which the machine's load does not change;
README "Performance" quotes them.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

# Parts of a cycle, by a pattern of the demangled function names whose
# inclusive cost counts for them. The first name that matches wins.
PARTS = [
    ("VmRunProgram", r"^VmRunProgram$"),
    ("library calls", r"^sicvm::interp::(call::callLibrary|fast::callLibrary)$"),
    ("load_points (with the timer update)", r"^sicvm::interp::points::(loadPoints|loadLinked)$"),
    ("save_points", r"^sicvm::interp::points::(savePoints|saveLinked)$"),
    ("timer update", r"^sicvm::(UpdateTimers|interp::points::advanceTimers)$"),
]


def callgrind(command, out, env=None):
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out] + command,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, env=env)


def total(out):
    with open(out) as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    raise RuntimeError("no total in " + out)


def inclusive(out):
    """Inclusive instruction counts by function name."""
    text = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", out],
                          capture_output=True, text=True, check=True).stdout
    costs = {}
    for line in text.splitlines():
        m = re.match(r"\s*([\d,]+)\s+\([^)]*\)\s+(?:\*\s+)?(?:[^:]*:)?(.+?)(?:\s+\[.*\])?$", line)
        if not m:
            continue
        name = m.group(2).strip()
        name = re.sub(r"\(.*\)$", "", name)  # drop argument lists
        costs[name] = max(costs.get(name, 0), int(m.group(1).replace(",", "")))
    return costs


def parts(costs):
    result = {}
    for part, pattern in PARTS:
        result[part] = sum(c for name, c in costs.items() if re.search(pattern, name))
    return result


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build")
    ap.add_argument("--example", action="append")
    ap.add_argument("--option", action="append", default=[], help="an extra option of sicvm run")
    ap.add_argument("--cycles", nargs=2, type=int, default=[2000, 12000])
    ap.add_argument("--baseline", help="a second build to measure in the same run")
    args = ap.parse_args()
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    few, many = args.cycles
    if many <= few:
        sys.exit("cycle_cost.py: the second cycle count must be the larger")
    for name in args.example or ["tank", "pumps"]:
        per, shares = measure(args.build, name, examples, few, many, args.option)
        line = "%s: %.0f instructions per cycle; VmRunProgram %.0f" % (name, per, shares["VmRunProgram"])
        for p, _ in PARTS[1:]:
            line += ", %s %.0f" % (p, shares[p])
        line += "; the runner's own work %.0f" % (per - shares["VmRunProgram"])
        if args.baseline:
            lib = os.path.join(args.baseline, "lib")
            env = dict(os.environ)
            if os.path.isdir(lib):
                env["LD_LIBRARY_PATH"] = lib + (":" + env["LD_LIBRARY_PATH"] if env.get("LD_LIBRARY_PATH") else "")
            base, base_shares = measure(args.baseline, name, examples, few, many, [], env)
            line += "\n  baseline %.0f per cycle (VmRunProgram %.0f, runner %.0f): %.2f x per cycle, " \
                    "%.2f x VmRunProgram, %.2f x the runner" % (
                        base, base_shares["VmRunProgram"], base - base_shares["VmRunProgram"], per / base,
                        shares["VmRunProgram"] / base_shares["VmRunProgram"],
                        (per - shares["VmRunProgram"]) / (base - base_shares["VmRunProgram"]))
        plain = os.path.join(args.build, "bench", "bench_cycle_plain")
        if name == "tank" and os.path.exists(plain):
            counts = []
            with tempfile.TemporaryDirectory() as tmp:
                for n in (few, many):
                    out = os.path.join(tmp, "plain.%d" % n)
                    callgrind([plain, str(n)], out)
                    counts.append(total(out))
            c = (counts[1] - counts[0]) / (many - few)
            line += "\n  plain C++ (bench_cycle_plain) %.0f per cycle: %.0f x plain C++" % (c, per / c)
        print(line, flush=True)


def measure(build, name, examples, few, many, options, env=None):
    """Instructions per cycle and per part of a cycle of one example."""
    sicvm = os.path.join(build, "tools", "sicvm", "sicvm")
    image = os.path.join(build, "examples", name + ".sic")
    points = os.path.join(examples, name + ".csv")
    runs = []
    with tempfile.TemporaryDirectory() as tmp:
        for n in (few, many):
            out = os.path.join(tmp, "cg.%d" % n)
            callgrind([sicvm, "run", image, "--points", points, "--period", "0", "--nvram", "none",
                       "--cycles", str(n)] + options, out, env)
            runs.append((total(out), parts(inclusive(out))))
    cycles = many - few
    return (runs[1][0] - runs[0][0]) / cycles, {p: (runs[1][1][p] - runs[0][1][p]) / cycles for p, _ in PARTS}

if __name__ == "__main__":
    main()
