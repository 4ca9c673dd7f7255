#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Cycle jitter of `sicvm run` while its Modbus server is read flat out.

Runs the tank example twice for the same number of cycles: once with the
server up and no client (the baseline), once with CLIENTS processes, each
with its own connection, reading the example map's registers and inputs back
to back for the whole run. Prints the start jitter and the execution time of
the cycles (from --stats) of both runs, their ratios, and the requests served.

usage: bench/modbus_jitter.py [BUILD_DIR] [--clients N] [--cycles N] [--period MS] [--nice-too]
"""
import argparse
import csv
import multiprocessing
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

from pymodbus.client import ModbusTcpClient

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def reader(port, stop_at, nice):
    os.nice(nice)
    c = ModbusTcpClient("127.0.0.1", port=port, timeout=2, retries=0)
    if not c.connect():
        return
    try:
        while time.monotonic() < stop_at:
            c.read_input_registers(0, 3, slave=1)
            c.read_holding_registers(0, 8, slave=1)
            c.read_discrete_inputs(0, 2, slave=1)
    except Exception:  # the run ended first
        pass
    c.close()


def run(build, clients, cycles, period, work, nice=0):
    stats = os.path.join(work, "stats_%d.csv" % clients)
    args = [os.path.join(build, "tools/sicvm/sicvm"), "run", os.path.join(build, "examples/tank.sic"),
            "--points", os.path.join(ROOT, "examples/tank.csv"), "--nvram", "none",
            "--modbus", "127.0.0.1:0", "--modbus-map", os.path.join(ROOT, "examples/tank_modbus.csv"),
            "--cycles", str(cycles), "--period", str(period), "--stats", stats]
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = None
    for line in proc.stdout:
        m = re.match(r"modbus: serving \d+ mappings on 127\.0\.0\.1:(\d+)", line)
        if m:
            port = int(m.group(1))
            break
    if port is None:
        sys.exit("the run did not start serving")
    stop_at = time.monotonic() + cycles * period / 1000.0 + 1.0
    workers = [multiprocessing.Process(target=reader, args=(port, stop_at, nice)) for _ in range(clients)]
    for w in workers:
        w.start()
    out = proc.stdout.read()
    proc.wait(timeout=cycles * period / 1000.0 + 60)
    for w in workers:
        w.join(timeout=10)
    served = re.search(r"modbus: (\d+) requests on (\d+) connections", out)
    with open(stats) as f:
        rows = list(csv.DictReader(f))[10:]  # the first cycles warm up
    jitter = [float(r["jitter_us"]) for r in rows]
    execs = [float(r["exec_us"]) for r in rows]
    overruns = sum(int(r["overrun"]) for r in rows)
    return {
        "jitter_avg": statistics.mean(jitter), "jitter_p99": sorted(jitter)[int(len(jitter) * 0.99)],
        "jitter_max": max(jitter), "exec_avg": statistics.mean(execs), "exec_max": max(execs),
        "overruns": overruns, "requests": int(served.group(1)), "connections": int(served.group(2)),
        "exit": proc.returncode,
    }


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    p.add_argument("--clients", type=int, default=16)
    p.add_argument("--cycles", type=int, default=1000)
    p.add_argument("--period", type=int, default=10)
    p.add_argument("--nice-too", action="store_true",
                   help="a third run with the clients at nice 19, as clients on other machines would be")
    a = p.parse_args()
    with tempfile.TemporaryDirectory() as work:
        base = run(a.build, 0, a.cycles, a.period, work)
        load = run(a.build, a.clients, a.cycles, a.period, work)
        remote = run(a.build, a.clients, a.cycles, a.period, work, nice=19) if a.nice_too else None
    seconds = a.cycles * a.period / 1000.0
    runs = [("no client", base), ("%d clients" % a.clients, load)]
    if remote:
        runs.append(("%d at nice 19" % a.clients, remote))
    for name, r in runs:
        print("%-11s start jitter avg/p99/max %.0f/%.0f/%.0f us, exec avg/max %.1f/%.1f us, %d overruns of %d ms, "
              "%d requests (%.0f/s) on %d connections, exit %d"
              % (name, r["jitter_avg"], r["jitter_p99"], r["jitter_max"], r["exec_avg"], r["exec_max"],
                 r["overruns"], a.period, r["requests"], r["requests"] / seconds, r["connections"], r["exit"]))
    print("ratio to no client: start jitter avg %.2f x, p99 %.2f x, max %.2f x; exec avg %.2f x; "
          "worst start jitter %.1f %% of the period"
          % (load["jitter_avg"] / base["jitter_avg"], load["jitter_p99"] / base["jitter_p99"],
             load["jitter_max"] / base["jitter_max"], load["exec_avg"] / base["exec_avg"],
             100.0 * load["jitter_max"] / (a.period * 1000.0)))
    if remote:
        print("clients at nice 19 (as if on other machines): start jitter avg %.2f x, p99 %.2f x, max %.2f x"
              % (remote["jitter_avg"] / base["jitter_avg"], remote["jitter_p99"] / base["jitter_p99"],
                 remote["jitter_max"] / base["jitter_max"]))


if __name__ == "__main__":
    main()
