#!/usr/bin/python3
"""Writes the reference tables of distfn's elementary and gamma-family
functions into tests/data/, computed with mpmath at 50 significant digits or
more: where a defining formula cancels (x - ln(1 + x) for tiny x, the
Stirling remainder for huge z), the working precision is raised until two
successive evaluations agree to 30 digits.

Each row is: function, region, first argument, second argument (or empty),
reference value.  Arguments are doubles written in shortest round-trip form,
so the reference is the function of exactly the double the test passes; the
reference is written with 25 significant digits, enough for a long double
comparison to add nothing measurable to the error of a double result.

Run from anywhere:  /usr/bin/python3 tools/gen_special_function_reference.py
"""
import csv
import math
import os
import random

import mpmath
from mpmath import mp, mpf

mp.dps = 50
SEED = 20261209
POINTS = 120  # per region
MAX_DIGITS = 1600
DATA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")


def uniform(rng, lo, hi):
    return rng.uniform(lo, hi)


def log_uniform(rng, lo, hi):
    return math.exp(rng.uniform(math.log(lo), math.log(hi)))


def signed_log_uniform(rng, lo, hi):
    return rng.choice((-1.0, 1.0)) * log_uniform(rng, lo, hi)


def sample(rng, draw, n=POINTS, keep=lambda x: True):
    points = []
    while len(points) < n:
        x = draw(rng)
        if keep(x):
            points.append(x)
    return points


def half_log_2pi():
    return mp.log(2 * mp.pi) / 2


def stirling_remainder(z):
    """del(z) = ln Gamma(z) - ((z - 1/2) ln z - z + ln(2 pi)/2), DLMF 5.11.1."""
    z = mpf(z)
    return mp.loggamma(z) - ((z - mpf(0.5)) * mp.log(z) - z + half_log_2pi())


def log_beta(a, b):
    a, b = mpf(a), mpf(b)
    return mp.loggamma(a) + mp.loggamma(b) - mp.loggamma(a + b)


def digamma(x):
    return mp.digamma(mpf(x))


def gamma(x):
    x = mpf(x)
    if x <= 0 and x == mp.floor(x):
        return mpf(0)
    return mp.gamma(x)


# One-argument functions: name -> (reference, [(region, draw, keep)]).
ONE_ARGUMENT = {
    "alnrel": (lambda a: mp.log1p(mpf(a)), [
        ("rational", lambda r: uniform(r, -0.375, 0.375), None),
        ("tiny", lambda r: signed_log_uniform(r, 1e-300, 1e-3), None),
        ("log_below", lambda r: uniform(r, -0.999999, -0.375), lambda x: x < -0.375),
        ("log_above", lambda r: log_uniform(r, 0.3750001, 1e300), None),
    ]),
    "rexp": (lambda x: mp.expm1(mpf(x)), [
        ("rational", lambda r: uniform(r, -0.15, 0.15), None),
        ("tiny", lambda r: signed_log_uniform(r, 1e-300, 1e-3), None),
        ("exp_below", lambda r: -log_uniform(r, 0.1500001, 700.0), None),
        ("exp_above", lambda r: log_uniform(r, 0.1500001, 709.0), None),
    ]),
    "rlog": (lambda x: mpf(x) - 1 - mp.log(mpf(x)), [
        ("log_below", lambda r: log_uniform(r, 1e-300, 0.61), lambda x: x < 0.61),
        ("low", lambda r: uniform(r, 0.61, 0.82), lambda x: x < 0.82),
        ("centre", lambda r: uniform(r, 0.82, 1.18), None),
        ("high", lambda r: uniform(r, 1.18, 1.57), lambda x: x > 1.18),
        ("log_above", lambda r: log_uniform(r, 1.5700001, 1e300), None),
    ]),
    "rlog1": (lambda x: mpf(x) - mp.log1p(mpf(x)), [
        ("log_below", lambda r: uniform(r, -0.999999, -0.39), lambda x: x < -0.39),
        ("low", lambda r: uniform(r, -0.39, -0.18), lambda x: x < -0.18),
        ("centre", lambda r: uniform(r, -0.18, 0.18), None),
        ("tiny", lambda r: signed_log_uniform(r, 1e-150, 1e-3), None),
        ("high", lambda r: uniform(r, 0.18, 0.57), lambda x: x > 0.18),
        ("log_above", lambda r: log_uniform(r, 0.5700001, 1e300), None),
    ]),
    "erf1": (lambda x: mp.erf(mpf(x)), [
        ("series", lambda r: uniform(r, -0.5, 0.5), None),
        ("tiny", lambda r: signed_log_uniform(r, 1e-300, 1e-3), None),
        ("middle", lambda r: rng_sign(r) * uniform(r, 0.5, 4.0), lambda x: abs(x) > 0.5),
        ("tail", lambda r: rng_sign(r) * uniform(r, 4.0, 5.8), lambda x: 4.0 < abs(x) < 5.8),
        ("saturated", lambda r: rng_sign(r) * log_uniform(r, 5.8, 1e300), None),
    ]),
    "erfc1": (lambda x: mp.erfc(mpf(x)), [
        ("series", lambda r: uniform(r, -0.5, 0.5), None),
        ("middle", lambda r: rng_sign(r) * uniform(r, 0.5, 4.0), lambda x: abs(x) > 0.5),
        ("tail_below", lambda r: uniform(r, -5.6, -4.0), lambda x: x < -4.0),
        ("tail_above", lambda r: uniform(r, 4.0, 26.5), lambda x: x > 4.0),
    ]),
    "erfc1_scaled": (lambda x: mp.exp(mpf(x) ** 2) * mp.erfc(mpf(x)), [
        ("series", lambda r: uniform(r, -0.5, 0.5), None),
        ("middle", lambda r: rng_sign(r) * uniform(r, 0.5, 4.0), lambda x: abs(x) > 0.5),
        ("tail_below", lambda r: uniform(r, -26.0, -4.0), lambda x: x < -4.0),
        ("tail_above", lambda r: log_uniform(r, 4.0, 1e150), lambda x: x > 4.0),
    ]),
    "gam1": (lambda a: mp.rgamma(mpf(a) + 1) - 1, [
        ("below_half", lambda r: uniform(r, -0.5, 0.5), None),
        ("tiny", lambda r: signed_log_uniform(r, 1e-300, 1e-3), None),
        ("above_half", lambda r: uniform(r, 0.5, 1.5), lambda x: x > 0.5),
    ]),
    "gamln1": (lambda a: mp.loggamma(1 + mpf(a)), [
        ("low", lambda r: uniform(r, -0.2, 0.6), lambda x: -0.2 < x < 0.6),
        ("high", lambda r: uniform(r, 0.6, 1.25), None),
    ]),
    "gamln": (lambda a: mp.loggamma(mpf(a)), [
        ("small", lambda r: log_uniform(r, 1e-300, 0.8), None),
        ("near_one_two", lambda r: uniform(r, 0.8, 2.25), lambda x: x > 0.8),
        ("reduced", lambda r: uniform(r, 2.25, 10.0), lambda x: 2.25 < x < 10.0),
        ("asymptotic", lambda r: log_uniform(r, 10.0, 1e300), None),
    ]),
    "alngam": (lambda x: mp.loggamma(mpf(x)), [
        ("below_two", lambda r: log_uniform(r, 1e-300, 2.0), lambda x: x < 2.0),
        ("two_three", lambda r: uniform(r, 2.0, 3.0), None),
        ("three_six", lambda r: uniform(r, 3.0, 6.0), lambda x: x > 3.0),
        ("shifted_series", lambda r: uniform(r, 6.0, 12.0), lambda x: 6.0 < x < 12.0),
        ("series", lambda r: log_uniform(r, 12.0, 1e300), None),
    ]),
    "Xgamm": (gamma, [
        ("tiny", lambda r: signed_log_uniform(r, 1e-300, 1e-3), None),
        ("zero_one", lambda r: uniform(r, 0.0, 1.0), lambda x: x > 0.0),
        ("one_fifteen", lambda r: uniform(r, 1.0, 15.0), lambda x: x < 15.0),
        ("negative_small", lambda r: uniform(r, -15.0, 0.0), lambda x: -15.0 < x < 0.0 and x != round(x)),
        ("stirling", lambda r: uniform(r, 15.0, 171.6), None),
        ("reflected", lambda r: uniform(r, -160.0, -15.0), lambda x: x != round(x)),
    ]),
    "psi": (digamma, [
        ("tiny", lambda r: signed_log_uniform(r, 1e-300, 1e-9), None),
        ("reflected_small", lambda r: uniform(r, -1.0, 0.5), lambda x: abs(x) > 1e-9),
        ("reflected", lambda r: -log_uniform(r, 1.0, 1e9), lambda x: x != round(x)),
        ("rational", lambda r: uniform(r, 0.5, 3.0), None),
        ("asymptotic", lambda r: log_uniform(r, 3.0, 2147483647.0), lambda x: x > 3.0),
        ("logarithm_only", lambda r: log_uniform(r, 2147483647.0, 1e20), None),
    ]),
    "dstrem": (stirling_remainder, [
        ("difference", lambda r: log_uniform(r, 1e-300, 6.0), None),
        ("series_near_six", lambda r: uniform(r, 6.0, 10.0), lambda x: x > 6.0),
        ("series", lambda r: log_uniform(r, 10.0, 1e300), None),
    ]),
}


def rng_sign(r):
    return r.choice((-1.0, 1.0))


# Two-argument functions: name -> (reference, [(region, draw pair, keep)]).
TWO_ARGUMENTS = {
    "esum": (lambda mu, x: mp.exp(mpf(mu) + mpf(x)), [
        ("same_sign", lambda r: (float(r.randint(-400, 400)), uniform(r, -300.0, 300.0)),
         lambda p: p[0] * p[1] > 0),
        ("opposite_sign", lambda r: (float(r.randint(-700, 700)), uniform(r, -800.0, 800.0)),
         lambda p: p[0] * p[1] <= 0 and -700 < p[0] + p[1] < 700),
        ("factor_beyond_range", lambda r: (float(rng_sign(r) * r.randint(746, 2000)), uniform(r, -2700.0, 2700.0)),
         lambda p: p[0] * p[1] < 0 and -700 < p[0] + p[1] < 700),
    ]),
    "gsumln": (lambda a, b: mp.loggamma(mpf(a) + mpf(b)), [
        ("unit_square", lambda r: (uniform(r, 1.0, 2.0), uniform(r, 1.0, 2.0)), None),
    ]),
    "algdiv": (lambda a, b: mp.loggamma(mpf(b)) - mp.loggamma(mpf(a) + mpf(b)), [
        ("a_below_b", lambda r: (log_uniform(r, 1e-8, 1e6), log_uniform(r, 8.0, 1e12)), lambda p: p[0] <= p[1]),
        ("a_above_b", lambda r: (log_uniform(r, 8.0, 1e12), log_uniform(r, 8.0, 1e6)), lambda p: p[0] > p[1]),
    ]),
    "bcorr": (lambda a, b: stirling_remainder(a) + stirling_remainder(b) - stirling_remainder(mpf(a) + mpf(b)), [
        ("large", lambda r: (log_uniform(r, 8.0, 1e12), log_uniform(r, 8.0, 1e12)), None),
    ]),
    "betaln": (log_beta, [
        ("both_large", lambda r: (log_uniform(r, 8.0, 1e12), log_uniform(r, 8.0, 1e12)), None),
        ("small_a", lambda r: (log_uniform(r, 1e-300, 1.0), log_uniform(r, 1e-300, 1e12)),
         lambda p: min(p) < 1.0),
        ("a_one_two", lambda r: (uniform(r, 1.0, 2.0), log_uniform(r, 1.0, 1e12)), None),
        ("a_two_eight", lambda r: (uniform(r, 2.0, 8.0), log_uniform(r, 2.0, 1e12)),
         lambda p: min(p) > 2.0),
        ("a_two_eight_b_huge", lambda r: (uniform(r, 2.0, 8.0), log_uniform(r, 1000.0, 1e12)),
         lambda p: p[0] > 2.0),
    ]),
    "dbetrm": (lambda a, b: (-stirling_remainder(mpf(a) + mpf(b)) + stirling_remainder(max(a, b))
                             + stirling_remainder(min(a, b))), [
        ("small", lambda r: (log_uniform(r, 1e-6, 6.0), log_uniform(r, 1e-6, 1e6)), None),
        ("large", lambda r: (log_uniform(r, 6.0, 1e10), log_uniform(r, 6.0, 1e10)),
         lambda p: min(p) > 6.0),
    ]),
}


def accurate(reference, *args):
    """reference(*args), at a precision high enough that cancellation inside
    the defining formula leaves at least 30 correct digits."""
    previous = None
    digits = mp.dps
    while True:
        with mp.workdps(digits):
            value = reference(*args)
        if previous is not None and value != 0 and abs(value - previous) <= abs(value) * mpf(10) ** -30:
            return value
        if digits >= MAX_DIGITS:
            if value == 0 and previous == 0:
                return value  # a true zero
            raise ArithmeticError("no stable reference for %r%r" % (reference, args))
        previous = value
        digits *= 2


def reference_text(value):
    return mpmath.nstr(value, 25, min_fixed=1, max_fixed=0)


def write_table(path, rows):
    with open(path, "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["function", "region", "x", "y", "reference"])
        writer.writerows(rows)


def one_argument_rows(rng, names):
    rows = []
    for name in names:
        reference, regions = ONE_ARGUMENT[name]
        for region, draw, keep in regions:
            for x in sample(rng, draw, keep=keep or (lambda x: True)):
                rows.append([name, region, repr(x), "", reference_text(accurate(reference, x))])
    return rows


def two_argument_rows(rng, names):
    rows = []
    for name in names:
        reference, regions = TWO_ARGUMENTS[name]
        for region, draw, keep in regions:
            for x, y in sample(rng, draw, keep=keep or (lambda p: True)):
                rows.append([name, region, repr(x), repr(y), reference_text(accurate(reference, x, y))])
    return rows


def main():
    rng = random.Random(SEED)
    elementary = one_argument_rows(rng, ["alnrel", "rexp", "rlog", "rlog1", "erf1", "erfc1", "erfc1_scaled"])
    elementary += two_argument_rows(rng, ["esum"])
    write_table(os.path.join(DATA_DIR, "special_elementary.csv"), elementary)
    gamma_family = one_argument_rows(rng, ["gam1", "gamln1", "gamln", "alngam", "Xgamm", "psi", "dstrem"])
    gamma_family += two_argument_rows(rng, ["gsumln", "algdiv", "bcorr", "betaln", "dbetrm"])
    write_table(os.path.join(DATA_DIR, "special_gamma.csv"), gamma_family)


if __name__ == "__main__":
    main()
