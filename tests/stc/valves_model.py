#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A plant and the control of examples/st/valves.st, modelled independently.

Drives the tank for a number of cycles: the operator's fill and drain
commands change at random, the limit switches follow the valve commands
after a two-cycle travel (the inlet's switch sticks now and then, so that
its watchdog trips), the operator resets faults now and then, and the level
follows the valves. For each cycle it prints the points the host sets
before the cycle and the points the program must write in it:

  LEVEL FILL DRAIN INLET_OPEN OUTLET_OPEN RESET  INLET_CMD OUTLET_CMD FAULTS OPENINGS FILLED

FILLED as the hexadecimal bits of the double.

Usage: valves_model.py --seed N --cycles C
"""
import argparse
import random
import struct


class Valve:
    """Open on demand unless interlocked or faulted; a feedback that differs
    from the command for more than `travel` cycles latches a fault."""

    def __init__(self, travel):
        self.travel = travel
        self.command = False
        self.fault = False
        self.opens = 0
        self.moving = 0
        self.previous = False

    def call(self, demand, interlock, feedback, reset):
        if reset:
            self.fault = False
        self.command = demand and not interlock and not self.fault
        self.moving = self.moving + 1 if self.command != feedback else 0
        if self.moving > self.travel:
            self.fault, self.command, self.moving = True, False, 0
        if self.command and not self.previous:
            self.opens += 1
        self.previous = self.command


def percent(x, lo, hi):
    return min(max((x - lo) / (hi - lo) * 100.0, 0.0), 100.0)


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--cycles', type=int, default=300)
    a = p.parse_args()
    r = random.Random(a.seed)
    inlet, outlet = Valve(5), Valve(8)
    level, fill, drain, reset = 2.5, False, False, False
    inlet_pos, outlet_pos = [False, False], [False, False]  # switch states for the next two cycles
    stuck = 0
    for _ in range(a.cycles):
        if r.random() < 0.03:
            fill = not fill
        if r.random() < 0.08:
            drain = not drain
        reset = r.random() < 0.05
        if stuck == 0 and r.random() < 0.02:
            stuck = r.randint(3, 12)
        inlet_open = False if stuck else inlet_pos[0]
        outlet_open = outlet_pos[0]
        inputs = (level, fill, drain, inlet_open, outlet_open, reset)
        pct = percent(level, 0.5, 4.5)
        inlet.call(fill, pct > 90.0, inlet_open, reset)
        outlet.call(drain, pct < 10.0, outlet_open, reset, )
        faults = int(inlet.fault) + 2 * int(outlet.fault)
        print('%r %d %d %d %d %d  %d %d %d %d %s' % (
            inputs[0], *[int(x) for x in inputs[1:]], int(inlet.command), int(outlet.command), faults,
            inlet.opens + outlet.opens, struct.pack('<d', pct).hex()))
        # The plant: switches follow the commands two cycles later; the level
        # rises through an open inlet and falls through an open outlet.
        inlet_pos = [inlet_pos[1], inlet.command]
        outlet_pos = [outlet_pos[1], outlet.command]
        stuck = max(0, stuck - 1)
        level += (0.08 if inlet_open else 0.0) - (0.03 if outlet_open else 0.0) + r.uniform(-0.005, 0.005)
        level = min(max(level, 0.0), 5.0)


if __name__ == '__main__':
    main()
