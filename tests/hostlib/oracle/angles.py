# SPDX-License-Identifier: MIT
# The rows of HostAngles in angles_random_test.cpp: REAL rows (input, RadToDeg32, DegToRad32), then
# LREAL rows (input, RadToDeg64, DegToRad64), as bit patterns. Run: python3 angles.py
# Independent oracle: exact rational products rounded to float32 by hand (ties to even).
from fractions import Fraction as F
import struct, random

def f32_from_bits(b): return struct.unpack('<f', struct.pack('<I', b))[0]
def bits_of_f32(x): return struct.unpack('<I', struct.pack('<f', x))[0]

def round_f32(q):
    if q == 0: return 0.0
    sign = -1 if q < 0 else 1
    a = abs(q)
    e = a.numerator.bit_length() - a.denominator.bit_length()
    while F(2)**e > a: e -= 1
    while F(2)**(e+1) <= a: e += 1
    quantum = F(2)**(max(e, -126) - 23)
    n = a / quantum
    m = n.numerator // n.denominator
    r = n - m
    if r > F(1,2) or (r == F(1,2) and m % 2 == 1): m += 1
    v = m * quantum
    if v >= F(2)**128 - F(2)**103: return sign * float('inf')  # beyond the largest float after rounding
    return sign * float(v)

c_r2d = F(f32_from_bits(bits_of_f32(57.29578)))
c_d2r = F(f32_from_bits(bits_of_f32(0.017453292)))
assert float(c_r2d) == 57.295780181884766 and float(c_d2r) == 0.01745329238474369
wrong_r2d = F(57.29577951308232); wrong_d2r = F(0.017453292519943295)

inputs = [0x00000000, 0x80000000, 0x3F800000, 0xBF800000, 0x40490FDB, 0x43340000, 0xC2B40000,
          0x43B40000, 0x3A83126F, 0x00010000, 0x7F7FFFFF, 0x7F800000, 0xFF800000, 0x3F000000]
random.seed(61)
found = {'r2d': 0, 'd2r': 0}
while found['r2d'] < 4 or found['d2r'] < 4:
    b = random.getrandbits(32)
    if (b >> 23) & 0xFF == 0xFF: continue
    x = F(f32_from_bits(b))
    for k, c, w in (('r2d', c_r2d, wrong_r2d), ('d2r', c_d2r, wrong_d2r)):
        if found[k] < 4 and round_f32(x * c) != round_f32(x * w):
            found[k] += 1; inputs.append(b)

def out(x, c):
    if x != x or x == 0 or abs(x) == float("inf"): return bits_of_f32(x * float(c))
    return bits_of_f32(round_f32(F(x) * c))

for b in inputs:
    x = f32_from_bits(b)
    print("      {0x%08Xu, 0x%08Xu, 0x%08Xu}," % (b, out(x, c_r2d), out(x, c_d2r)))
# doubles
print("doubles")
for x in [0.0, -0.0, 1.0, -1.0, 3.141592653589793, 180.0, -90.0, 1e-300, 1.7e308, 0.123456789, 1e-320]:
    r = x * 57.29577951308232; d = x * 0.017453292519943295
    q = lambda v: struct.unpack('<Q', struct.pack('<d', v))[0]
    print("      {0x%016Xu, 0x%016Xu, 0x%016Xu}," % (q(x), q(r), q(d)))
