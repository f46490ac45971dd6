"""The qn::Decimal range as a Python decimal context, shared by the vector
generators: 38 digits, rounding half away from zero (ROUND_HALF_UP),
coefficient exponents from -128 (Etiny = Emin - prec + 1) with the leading
digit at most at 10^164 (Emax). Overflow (Infinity) is not-a-number there.
"""

import decimal
from decimal import ROUND_HALF_UP

PREC = 38
CTX = decimal.Context(prec=PREC, rounding=ROUND_HALF_UP, Emin=-91, Emax=164,
                      capitals=1, clamp=0, traps=[])
# Wide enough to hold any exact intermediate result.
EXACT = decimal.Context(prec=10000, rounding=ROUND_HALF_UP, Emin=-10**9,
                        Emax=10**9, traps=[])
assert CTX.Etiny() == -128


def canonical(r):
    """The text qn::Decimal writes for a value (None: not-a-number)."""
    if r is None:
        return "NaN"
    if r.is_zero():
        return "0"
    s = "{:f}".format(r)
    if "." in s:
        s = s.rstrip("0").rstrip(".")
    return s
