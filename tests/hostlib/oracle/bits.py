# SPDX-License-Identifier: MIT
# The rows of HostBits.EveryBitFunctionOverBitNumbersAndSigns in bits_words_test.cpp (the test
# is its output). Run: python3 bits.py
# Independent oracle for the bit functions: Python integers, bit numbers taken modulo 32 by
# arithmetic (not masking), 16-bit values sign-extended to 32 bits by arithmetic.
def to_signed(v, bits):
    v %= 1 << bits
    return v - (1 << bits) if v >= 1 << (bits - 1) else v
rows = []
for width, values in ((16, [-32768, 0x1234]), (32, [-0x7FFFFFFF - 1 + 0x12345678, 0x12345678])):
    for v in values:
        for bit in (-1, 0, 15, 16, 31, 32, 36):
            wide = v % (1 << 32)  # sign extension: a negative INT has bits 16..31 set
            if bit < 0:
                get, st, cl, tg = 0, v, v, v
            else:
                mask = 2 ** (bit % 32)
                get = 1 if (wide // mask) % 2 else 0
                st = to_signed(wide | mask, width)
                cl = to_signed(wide & ~mask, width)
                tg = to_signed(wide ^ mask, width)
            rows.append("      {%d, %d, %d, %s, %d, %d, %d}," % (width, v, bit, 'true' if get else 'false', st, cl, tg))
print("\n".join(rows))
