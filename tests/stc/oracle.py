#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Random typed Structured Text programs and the values they must compute.

Each program declares input vars of the types BOOL, INT, DINT, REAL and
LREAL with random initial values, then assigns one random expression (or an
IF, CASE or FOR statement built of them) to each of its result vars. This
script evaluates every expression itself by the rules of the language as the
machine implements them, independently of the compiler:

  INT and DINT arithmetic wraps around (16 and 32 bits); division truncates
  toward zero and MOD takes the sign of the dividend; a zero divisor gives 0.
  REAL is IEEE single precision: every REAL operation is rounded to single
  precision (struct 'f'); LREAL is Python's double.
  Implicit conversions widen INT to DINT, REAL and LREAL, DINT and REAL to
  LREAL; mixed operands meet at the smaller type both widen to.
  REAL_TO_INT and friends round half away from zero; *_TRUNC_* truncate;
  DINT_TO_INT keeps the low 16 bits.
  Shifts and rotations take the count modulo 32 on the 16- or 32-bit pattern.
  MUX with a selector out of range gives 0.

Usage: oracle.py --seed N --programs P --statements S --out DIR
Writes DIR/oracle_K.st and DIR/oracle_K.expected (one line per result var:
NAME TYPE VALUE, REAL and LREAL values as the hexadecimal IEEE bits).
"""
import argparse
import math
import os
import random
import struct

INT, DINT, REAL, LREAL, BOOL = 'INT', 'DINT', 'REAL', 'LREAL', 'BOOL'
NUMERIC = [INT, DINT, REAL, LREAL]
WIDENS = {(INT, DINT), (INT, REAL), (INT, LREAL), (DINT, LREAL), (REAL, LREAL)}


def f32(x):
    try:
        return struct.unpack('<f', struct.pack('<f', x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def wrap(x, bits):
    m = 1 << bits
    x &= m - 1
    return x - m if x >= m >> 1 else x


def fix(t, v):
    """A value brought to its type's representation."""
    if t == INT:
        return wrap(v, 16)
    if t == DINT:
        return wrap(v, 32)
    if t == REAL:
        return f32(v)
    if t == BOOL:
        return 1 if v else 0
    return float(v)


def common(a, b):
    if a == b or (a, b) in WIDENS:
        return b
    if (b, a) in WIDENS:
        return a
    return LREAL


def convert(v, frm, to):
    if frm == to:
        return v
    if to in (REAL, LREAL):
        return fix(to, float(v))
    return fix(to, v)


def round_half_away(x):
    a = abs(x)
    f = math.floor(a)
    if a - f >= 0.5:
        f += 1
    return int(math.copysign(f, x)) if f else 0


def trunc(x):
    return int(x)


def real_text(x):
    text = repr(float(x))
    if 'e' not in text and '.' not in text:
        text += '.0'
    return text


class Gen:
    def __init__(self, rng):
        self.r = rng
        self.vars = {t: [] for t in [BOOL] + NUMERIC}

    def declare(self):
        lines = []
        for t in [BOOL] + NUMERIC:
            for k in range(4):
                name = '%s%d' % (t[0].lower() + ('l' if t == LREAL else ''), k)
                if t == BOOL:
                    v = self.r.randint(0, 1)
                    text = 'TRUE' if v else 'FALSE'
                elif t == INT:
                    v = self.r.choice([self.r.randint(-300, 300), self.r.randint(-32768, 32767), 32767, -32768])
                    text = str(v)
                elif t == DINT:
                    v = self.r.choice([self.r.randint(-70000, 70000), self.r.randint(-2**31, 2**31 - 1), 2**31 - 1])
                    text = str(v)
                elif t == REAL:
                    v = f32(self.r.uniform(-1000, 1000))
                    if k == 0:
                        v = 0.0
                    text = real_text(v)
                else:
                    v = self.r.uniform(-1000, 1000)
                    text = real_text(v)
                self.vars[t].append((name, v))
                lines.append('  %s : %s := %s;' % (name, t, text))
        return lines

    def leaf_var(self, t):
        return self.r.choice(self.vars[t])

    def literal(self, t):
        r = self.r
        if t == BOOL:
            v = r.randint(0, 1)
            return ('TRUE' if v else 'FALSE'), v
        if t in (INT, DINT):
            v = r.choice([r.randint(-20, 20), r.randint(-1000, 1000), r.randint(1, 9)])
            form = r.random()
            if form < 0.1 and v >= 0:
                return '16#%X' % v, v
            if form < 0.15 and v >= 0:
                return '2#' + bin(v)[2:], v
            if form < 0.25:
                return '%s#%d' % (t, v), v
            return ('(%d)' % v if v < 0 else str(v)), v
        v = f32(r.choice([r.uniform(-100, 100), r.choice([0.5, 1.5, 2.0, 0.25, 10.0, 3.0])]))
        text = real_text(v)
        if r.random() < 0.1:
            text = '%s#%s' % (t, text)
        return ('(%s)' % text if v < 0 else text), v

    def leaf(self, t, allow_literal=True):
        if allow_literal and self.r.random() < 0.3:
            return self.literal(t)
        return self.leaf_var(t)

    def expr(self, t, depth, allow_literal=True):
        """(text, value) of a random expression of type t."""
        r = self.r
        if depth <= 0 or r.random() < 0.2:
            return self.leaf(t, allow_literal)
        if t == BOOL:
            return self.bool_expr(depth)
        if t in (INT, DINT):
            return self.int_expr(t, depth)
        return self.real_expr(t, depth)

    def operand_types(self, t):
        """Two operand types whose common type is t."""
        r = self.r
        if r.random() < 0.7:
            return t, t
        narrower = [a for a in NUMERIC if (a, t) in WIDENS]
        if t == LREAL and r.random() < 0.3:
            return (DINT, REAL) if r.random() < 0.5 else (REAL, DINT)
        if not narrower:
            return t, t
        n = r.choice(narrower)
        return (n, t) if r.random() < 0.5 else (t, n)

    def binary(self, t, depth, ops):
        r = self.r
        ta, tb = self.operand_types(t)
        # The left operand is never a bare literal, and the right one only
        # when both sides have one type: a literal takes the type of the
        # operand beside it.
        a, va = self.expr(ta, depth - 1, allow_literal=False)
        b, vb = self.expr(tb, depth - 1, allow_literal=(ta == tb))
        op = r.choice(ops)
        va, vb = convert(va, ta, t), convert(vb, tb, t)
        return '(%s %s %s)' % (a, op, b), self.apply(t, op, va, vb)

    def apply(self, t, op, a, b):
        if op == '+':
            return fix(t, a + b)
        if op == '-':
            return fix(t, a - b)
        if op == '*':
            return fix(t, a * b)
        if op == '/':
            if t in (INT, DINT):
                if b == 0:
                    return 0
                q = abs(a) // abs(b)
                return fix(t, q if (a < 0) == (b < 0) else -q)
            if b == 0:
                return 0.0
            return fix(t, a / b)
        if op == 'MOD':
            if b == 0:
                return 0
            q = abs(a) // abs(b)
            q = q if (a < 0) == (b < 0) else -q
            return fix(t, a - q * b)
        if op in ('AND', 'OR', 'XOR'):
            if t == BOOL:
                a, b = bool(a), bool(b)
                return int(a and b if op == 'AND' else a or b if op == 'OR' else a != b)
            return fix(t, a & b if op == 'AND' else a | b if op == 'OR' else a ^ b)
        raise ValueError(op)

    def select(self, t, depth):
        r = self.r
        kind = r.choice(['MAX', 'MIN', 'LIMIT', 'SEL', 'MUX'])
        if kind in ('MAX', 'MIN'):
            args = [self.expr(t, depth - 1, allow_literal=(k > 0)) for k in range(r.randint(2, 4))]
            out = args[0][1]
            for _, v in args[1:]:
                if (v > out) if kind == 'MAX' else (v < out):
                    out = v
            return '%s(%s)' % (kind, ', '.join(a for a, _ in args)), out
        if kind == 'LIMIT':
            args = [self.expr(t, depth - 1, allow_literal=(k == 1)) for k in range(3)]
            mn, x, mx = (v for _, v in args)
            m = x if x > mn else mn
            return 'LIMIT(%s)' % ', '.join(a for a, _ in args), (m if m < mx else mx)
        if kind == 'SEL':
            g, vg = self.expr(BOOL, depth - 1)
            a, va = self.expr(t, depth - 1, allow_literal=False)
            b, vb = self.expr(t, depth - 1)
            return 'SEL(%s, %s, %s)' % (g, a, b), (vb if vg else va)
        k, vk = self.expr(DINT, 1)
        n = r.randint(2, 4)
        args = [self.expr(t, depth - 1, allow_literal=(j > 0)) for j in range(n)]
        out = args[vk][1] if 0 <= vk < n else fix(t, 0)
        return 'MUX(%s, %s)' % (k, ', '.join(a for a, _ in args)), out

    def int_expr(self, t, depth):
        r = self.r
        bits = 16 if t == INT else 32
        choice = r.random()
        if choice < 0.45:
            return self.binary(t, depth, ['+', '-', '*', '/', 'MOD'])
        if choice < 0.55:
            a, va = self.expr(t, depth - 1, allow_literal=False)
            b, vb = self.expr(t, depth - 1)
            op = r.choice(['AND', 'OR', 'XOR'])
            return '(%s %s %s)' % (a, op, b), self.apply(t, op, va, vb)
        if choice < 0.6:
            # Operands of '-' and NOT are never bare literals: -(5) would be
            # an untyped literal that takes the type of its neighbour.
            a, va = self.expr(t, depth - 1, allow_literal=False)
            if r.random() < 0.5:
                return '(-%s)' % a, fix(t, -va)
            return '(NOT %s)' % a, fix(t, ~va)
        if choice < 0.7:
            return self.select(t, depth)
        if choice < 0.75:
            a, va = self.expr(t, depth - 1, allow_literal=False)
            return 'ABS(%s)' % a, fix(t, abs(va))
        if choice < 0.82:
            a, va = self.expr(t, depth - 1, allow_literal=False)
            n = r.randint(0, 40)
            op = r.choice(['SHL', 'SHR', 'ROL', 'ROR'])
            c = n % 32
            mask = (1 << bits) - 1
            p = va & mask
            if op == 'SHL':
                v = (p << c) & mask
            elif op == 'SHR':
                v = p >> c
            else:
                c %= bits
                left = c if op == 'ROL' else (bits - c) % bits
                v = ((p << left) | (p >> (bits - left))) & mask
            return '%s(%s, %d)' % (op, a, n), wrap(v, bits)
        # Conversions.
        kind = r.random()
        if kind < 0.3:
            other = DINT if t == INT else INT
            a, va = self.expr(other, depth - 1)
            return '%s_TO_%s(%s)' % (other, t, a), fix(t, va)
        if kind < 0.5:
            a, va = self.expr(BOOL, depth - 1)
            return 'BOOL_TO_%s(%s)' % (t, a), va
        src = r.choice([REAL, LREAL])
        name, v = self.leaf_var(src)
        if r.random() < 0.5:
            return '%s_TO_%s(%s)' % (src, t, name), fix(t, round_half_away(v))
        return '%s_TRUNC_%s(%s)' % (src, t, name), fix(t, trunc(v))

    def real_expr(self, t, depth):
        r = self.r
        choice = r.random()
        if choice < 0.5:
            return self.binary(t, depth, ['+', '-', '*', '/'])
        if choice < 0.58:
            a, va = self.expr(t, depth - 1, allow_literal=False)
            return '(-%s)' % a, -va
        if choice < 0.68:
            return self.select(t, depth)
        if choice < 0.74:
            a, va = self.expr(t, depth - 1, allow_literal=False)
            if r.random() < 0.5:
                return 'ABS(%s)' % a, abs(va)
            return 'SQRT(ABS(%s))' % a, fix(t, math.sqrt(abs(va)))
        if choice < 0.78:
            name, v = self.leaf_var(t)
            e = r.randint(0, 3)
            return '(ABS(%s) ** %s)' % (name, real_text(e)), fix(t, math.pow(abs(v), float(e)))
        src = r.choice([s for s in [INT, DINT, REAL, LREAL] if s != t])
        a, va = self.expr(src, depth - 1)
        return '%s_TO_%s(%s)' % (src, t, a), fix(t, float(va))

    def bool_expr(self, depth):
        r = self.r
        choice = r.random()
        if choice < 0.45:
            t = r.choice(NUMERIC + [BOOL])
            ta, tb = (t, t) if t == BOOL else self.operand_types(t)
            a, va = self.expr(ta, depth - 1, allow_literal=False)
            b, vb = self.expr(tb, depth - 1, allow_literal=(ta == tb))
            ops = ['=', '<>'] if t == BOOL else ['=', '<>', '<', '<=', '>', '>=']
            op = r.choice(ops)
            va, vb = convert(va, ta, t), convert(vb, tb, t)
            v = {'=': va == vb, '<>': va != vb, '<': va < vb, '<=': va <= vb, '>': va > vb, '>=': va >= vb}[op]
            return '(%s %s %s)' % (a, op, b), int(v)
        if choice < 0.75:
            a, va = self.expr(BOOL, depth - 1, allow_literal=False)
            b, vb = self.expr(BOOL, depth - 1)
            op = r.choice(['AND', 'OR', 'XOR'])
            return '(%s %s %s)' % (a, op, b), self.apply(BOOL, op, va, vb)
        if choice < 0.9:
            a, va = self.expr(BOOL, depth - 1, allow_literal=False)
            return '(NOT %s)' % a, int(not va)
        return self.select(BOOL, depth)


def encode(t, v):
    if t == REAL:
        return struct.pack('<f', v).hex()
    if t == LREAL:
        return struct.pack('<d', v).hex()
    return str(int(v))


def program(rng, index, statements):
    g = Gen(rng)
    decls = g.declare()
    body, results = [], []
    decls.append('  k : DINT;')
    for n in range(statements):
        t = rng.choice([BOOL, INT, DINT, REAL, LREAL])
        name = 'res%d' % n
        depth = rng.randint(1, 4)
        form = rng.random()
        if form < 0.8:
            text, v = g.expr(t, depth)
            body.append('%s := %s;' % (name, text))
        elif form < 0.9:
            c, vc = g.expr(BOOL, 2)
            a, va = g.expr(t, depth)
            b, vb = g.expr(t, depth)
            body.append('IF %s THEN %s := %s; ELSE %s := %s; END_IF;' % (c, name, a, name, b))
            v = va if vc else vb
        elif form < 0.97:
            s, vs = g.expr(rng.choice([INT, DINT]), 2)
            a, va = g.expr(t, depth)
            b, vb = g.expr(t, depth)
            c, vc = g.expr(t, depth)
            lo = rng.randint(-5, 5)
            hi = lo + rng.randint(0, 300)
            one = rng.choice([x for x in range(-10, 11) if not lo <= x <= hi] or [hi + 1])
            body.append('CASE %s OF %d: %s := %s; %d..%d: %s := %s; ELSE %s := %s; END_CASE;' %
                        (s, one, name, a, lo, hi, name, b, name, c))
            v = va if vs == one else vb if lo <= vs <= hi else vc
        else:
            t = DINT
            lo, hi, step = rng.randint(-5, 5), rng.randint(-5, 15), rng.choice([1, 2, 3, -1, -2])
            body.append('%s := 0; FOR k := %d TO %d BY %d DO %s := %s * 3 + k; END_FOR;' %
                        (name, lo, hi, step, name, name))
            v, k = 0, lo
            while (k <= hi) if step > 0 else (k >= hi):
                v = wrap(v * 3 + k, 32)
                k += step
        decls.append('  %s : %s;' % (name, t))
        results.append((name, t, fix(t, v)))
    source = 'PROGRAM ORACLE%d\nVAR\n%s\nEND_VAR\n%s\nEND_PROGRAM\n' % (index, '\n'.join(decls), '\n'.join(body))
    expected = ''.join('%s %s %s\n' % (n, t, encode(t, v)) for n, t, v in results)
    return source, expected


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--programs', type=int, default=50)
    p.add_argument('--statements', type=int, default=2000)
    p.add_argument('--out', required=True)
    a = p.parse_args()
    os.makedirs(a.out, exist_ok=True)
    rng = random.Random(a.seed)
    for k in range(a.programs):
        source, expected = program(rng, k, a.statements)
        with open(os.path.join(a.out, 'oracle_%d.st' % k), 'w') as f:
            f.write(source)
        with open(os.path.join(a.out, 'oracle_%d.expected' % k), 'w') as f:
            f.write(expected)


if __name__ == '__main__':
    main()
