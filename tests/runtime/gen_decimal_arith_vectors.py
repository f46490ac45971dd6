#!/usr/bin/env python3
"""Writes decimal_arith_vectors.inc: expected results of qn::Decimal arithmetic
from Python's decimal module, an independent implementation.

The qn::Decimal range is the decimal context of gen_decimal_vectors.py: 38
digits, ROUND_HALF_UP, coefficient exponents from -128 (Etiny) with the
leading digit at most at 10^164 (Emax). Python rounds a result whose leading
digit falls below 10^Emin to the exponent Etiny, losing digits down to zero,
which is what qn::Decimal does at its smallest exponent; overflow (Infinity)
and invalid operations are not-a-number; zero has no sign.

power() is the product of repeated squares, each product rounded: the same
sequence of context multiplications is replayed here.

Deterministic: a fixed seed, so regenerating gives the same file.
    python3 gen_decimal_arith_vectors.py > decimal_arith_vectors.inc
"""

import decimal
import random
import sys
from decimal import Decimal, ROUND_DOWN, ROUND_HALF_EVEN, ROUND_HALF_UP

from decimal_model import CTX, EXACT, PREC, canonical
MIN_EXP, MAX_EXP = -128, 127
LIMIT = 10**PREC


def value(r):
    """The qn::Decimal value of a context result, or None for not-a-number."""
    if r.is_nan() or r.is_infinite():
        return None
    return Decimal(0) if r.is_zero() else r



def compare(a, b):
    # Not-a-number equals itself and orders before every number.
    if a is None or b is None:
        return 0 if a is b else (-1 if a is None else 1)
    return (a > b) - (a < b)


# --- Operands: text the C++ parser reads to exactly this coefficient and
# exponent ("-123e-5"), so representation as well as value varies. ---------

class Operand:
    def __init__(self, negative, coefficient, exponent):
        assert 0 <= coefficient < LIMIT and MIN_EXP <= exponent <= MAX_EXP
        self.text = "%s%de%d" % ("-" if negative else "", coefficient, exponent)
        self.value = Decimal(self.text)


class NaNOperand:
    text = "NaN"
    value = None


def digits(rng, n):
    return rng.randrange(10**(n - 1), 10**n) if n > 1 else rng.randrange(1, 10)


def operand(rng, kind):
    neg = rng.random() < 0.35
    if kind == "business":     # amounts and prices: 2 to 4 decimals
        return Operand(neg, digits(rng, rng.randint(1, 9)), -rng.choice([0, 2, 2, 2, 3, 4]))
    if kind == "integer":      # up to 19 digits: the 64-bit fast paths
        return Operand(neg, digits(rng, rng.randint(1, 19)), rng.randint(-6, 6))
    if kind == "wide":         # beyond 64 bits
        return Operand(neg, digits(rng, rng.randint(20, 38)), rng.randint(-30, 30))
    if kind == "full":         # exactly 38 digits
        return Operand(neg, digits(rng, 38), rng.randint(-60, 60))
    if kind == "high":         # near the top of the range
        return Operand(neg, digits(rng, rng.randint(1, 38)), rng.randint(90, MAX_EXP))
    if kind == "low":          # near the bottom of the range
        return Operand(neg, digits(rng, rng.randint(1, 38)), rng.randint(MIN_EXP, -90))
    if kind == "any":
        return Operand(neg, digits(rng, rng.randint(1, 38)), rng.randint(MIN_EXP, MAX_EXP))
    if kind == "nines":        # 10^n - 1: carries
        return Operand(neg, 10**rng.randint(1, 38) - 1, rng.randint(-40, 40))
    if kind == "round":        # trailing zeros, unnormalised
        n = rng.randint(1, 20)
        return Operand(neg, digits(rng, n) * 10**rng.randint(1, 38 - n), rng.randint(-60, 20))
    if kind == "zero":
        return Operand(neg, 0, rng.randint(MIN_EXP, MAX_EXP))
    if kind == "nan":
        return NaNOperand()
    raise ValueError(kind)


KINDS = ["business"] * 4 + ["integer"] * 3 + ["wide"] * 3 + ["full"] * 3 + \
    ["high", "low", "any", "any", "nines", "round", "zero"]


def special_operands():
    out = [NaNOperand()]
    for neg in (False, True):
        for c, e in [(0, 0), (0, -128), (0, 127), (1, 0), (5, -1), (1, -128), (5, -128),
                     (LIMIT - 1, 0), (LIMIT - 1, 127), (LIMIT - 1, -128), (10**37, 0),
                     (10**37, 127), (10**37, -128), (1, 127), (3, 0), (7, -2), (2**64, 0),
                     (2**64 - 1, 0), (2**128 // 10**2, -10), (LIMIT // 2, -38)]:
            out.append(Operand(neg, c, e))
    return out


def pairs(rng, count):
    specials = special_operands()
    out = []
    for a in specials:
        for b in specials:
            if rng.random() < 0.25:
                out.append((a, b))
    for _ in range(count):
        r = rng.random()
        if r < 0.55:
            out.append((operand(rng, rng.choice(KINDS)), operand(rng, rng.choice(KINDS))))
            continue
        a = operand(rng, rng.choice(["integer", "wide", "full", "any", "nines", "business"]))
        if isinstance(a, NaNOperand):
            continue
        _, coef, exp = a.value.as_tuple()
        c = int("".join(map(str, coef)))
        if r < 0.75:
            # Exponent gaps around the 128-bit, 38- and 39-digit boundaries.
            gap = rng.choice([0, 1, 18, 19, 20, 37, 38, 39, 40, 41, 76, 77, 78, 79, 120])
            e = exp - gap if rng.random() < 0.5 else exp + gap
            e = max(MIN_EXP, min(MAX_EXP, e))
            b = Operand(rng.random() < 0.5, digits(rng, rng.randint(1, 38)), e)
        elif r < 0.85:
            # Near-cancellation: the same value give or take a few units.
            d = max(0, c + rng.randint(-3, 3))
            b = Operand(rng.random() < 0.7, min(d, LIMIT - 1), exp)
        elif r < 0.9:
            # A product that lands exactly half-way beyond 38 digits.
            b = Operand(rng.random() < 0.5, 5 * 10**rng.randint(0, 3), rng.randint(-10, 10))
            a = Operand(a.value < 0, digits(rng, 38) | 1, exp)
        elif r < 0.95:
            # Quotients by small powers of two: often exactly half-way.
            b = Operand(rng.random() < 0.5, rng.choice([2, 4, 8, 16, 20, 40]), rng.randint(-3, 3))
            a = Operand(a.value < 0, digits(rng, 38), exp)
        else:
            # Exact quotients: a = b x q.
            q = digits(rng, rng.randint(1, 19))
            bc = digits(rng, rng.randint(1, 19))
            a = Operand(rng.random() < 0.5, q * bc, rng.randint(-40, 40))
            b = Operand(rng.random() < 0.5, bc, rng.randint(-40, 40))
        out.append((a, b))
    return out


def binary(a, b):
    if a is None or b is None:
        return ["NaN"] * 4
    return [canonical(value(CTX.add(a, b))), canonical(value(CTX.subtract(a, b))),
            canonical(value(CTX.multiply(a, b))), canonical(value(CTX.divide(a, b)))]


MODES = [ROUND_HALF_UP, ROUND_HALF_EVEN, ROUND_DOWN]


def round_to(v, decimals, mode):
    if v is None:
        return None
    q = v.quantize(Decimal(1).scaleb(-decimals), rounding=mode, context=EXACT)
    return value(CTX.plus(q))


def power(base, n):
    """The C++ loop: result takes the squares selected by n's bits."""
    if base is None:
        return None
    result, square = Decimal(1), base
    while n:
        if n & 1:
            result = CTX.multiply(result, square)
        n >>= 1
        if not n:
            break
        square = CTX.multiply(square, square)
    return value(result)


def c_string(s):
    return '"' + s + '"'


def main():
    rng = random.Random(20240617)
    w = sys.stdout.write
    w("// Generated by gen_decimal_arith_vectors.py (Python %d.%d decimal module); do not edit.\n"
      % sys.version_info[:2])
    w("// Context: 38 digits, ROUND_HALF_UP, exponents -128..127, overflow as NaN.\n\n")

    w("// {a, b, a + b, a - b, a * b, a / b, compare(a, b)}\n")
    w("constexpr BinaryVector kBinaryVectors[] = {\n")
    count = 0
    for a, b in pairs(rng, 2600):
        results = binary(a.value, b.value)
        w("    {%s, %s, %s, %d},\n" % (c_string(a.text), c_string(b.text),
                                       ", ".join(map(c_string, results)),
                                       compare(a.value, b.value)))
        count += 1
    w("};\n\n")

    w("// {a, decimals, half away from zero, half even, toward zero}\n")
    w("constexpr RoundVector kRoundVectors[] = {\n")
    rounds = []
    for a in special_operands():
        for d in (0, 2, -1, 128, -127, -165):
            rounds.append((a, d))
    for _ in range(900):
        kind = rng.choice(["business", "integer", "wide", "full", "high", "low", "any"])
        a = operand(rng, kind)
        if rng.random() < 0.4 and not isinstance(a, NaNOperand):
            # A tie or near-tie at the rounding position.
            n = rng.randint(0, 30)
            c = digits(rng, rng.randint(1, 37 - n)) * 10 + 5
            c = c * 10**n + rng.choice([0, 0, 1, -1])
            a = Operand(rng.random() < 0.5, c, rng.randint(-60, 60))
            d = -(a.value.as_tuple().exponent + n + 1)
        else:
            d = rng.choice([0, 0, 1, 2, 2, 3, 4, -1, -2, 10, 37, -37, 127, -126, -160,
                            rng.randint(-170, 140)])
        rounds.append((a, d))
    for a, d in rounds:
        results = [canonical(round_to(a.value, d, m)) for m in MODES]
        w("    {%s, %d, %s},\n" % (c_string(a.text), d, ", ".join(map(c_string, results))))
    w("};\n\n")

    w("// {base, exponent, power(base, exponent)}\n")
    w("constexpr PowerVector kPowerVectors[] = {\n")
    powers = []
    for text in ["0e0", "0e-5", "1e0", "-1e0", "2e0", "-2e0", "1e1", "1e-1", "5e-1", "15e-1",
                 "-15e-1", "11e-1", "99999999999999999999999999999999999999e-38",
                 "100000000000000000000000000000000000001e-38", "3e0", "7e-3"]:
        for n in (0, 1, 2, 3, 7, 38, 63, 64, 126, 127, 128, 164, 165, 2**31, 2**63 + 1,
                  2**64 - 1):
            powers.append((text, n))
    for _ in range(250):
        a = operand(rng, rng.choice(["business", "integer", "wide", "any", "nines"]))
        if isinstance(a, NaNOperand):
            continue
        powers.append((a.text, rng.choice([rng.randint(0, 40), rng.randint(0, 2**64 - 1)])))
    powers.append(("NaN", 0))
    powers.append(("NaN", 3))
    for text, n in powers:
        base = None if text == "NaN" else Decimal(text)
        w("    {%s, UINT64_C(%d), %s},\n" % (c_string(text), n, c_string(canonical(power(base, n)))))
    w("};\n")
    sys.stderr.write("%d binary, %d round, %d power vectors\n" % (count, len(rounds), len(powers)))


if __name__ == "__main__":
    main()
